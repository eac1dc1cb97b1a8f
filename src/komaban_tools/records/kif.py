"""KIF records (Kakinoki format), as ShogiHome, ShogiGUI, Shogidokoro, Kifu for Windows
and cshogi write them.

    手合割：平手
    先手：Sente
    後手：Gote
    手数----指手---------消費時間--
       1 ７六歩(77)   ( 0:01/00:00:01)
       2 ３四歩(33)   ( 0:02/00:00:02)
       3 ２二角成(88)
       4 同　銀(31)
       5 投了
    まで4手で後手の勝ち

Read: the header (``key：value``; 先手 or 下手 names Black, 後手 or 上手 White,
棋戦 gives the title), the start (手合割 with 平手 or a handicap, or a board
diagram), the main line's moves with their source squares, the end line (投了,
詰み, ...) and comment lines (``*``, ``**`` engine lines too, kept with their
second ``*``). Times, bookmarks (``&``, which name a position and have no place
in a Record), ``#`` lines and the summary line (``まで…``) are skipped; a
``変化：`` line ends the main line, as variations are not read. KI2-style moves,
without a source square, are not read either.
"""

from __future__ import annotations

import re

from komaban import ColorType, Game, Move

from ..notation import (
    LETTERS,
    START_SFEN,
    address,
    hand_field,
    hand_items,
    move_text,
    side_name,
    turn_square,
    usi_text,
)
from .record import Record, RecordError, check_move, play, start_of

FILES = "１２３４５６７８９"
KANJI = "一二三四五六七八九"
RANKS = "abcdefghi"
# Piece names by int(PieceType), as move lines write them and as a diagram does.
MOVE_NAMES = ("", *"玉金飛角銀桂香歩龍馬", "成銀", "成桂", "成香", "と")
BOARD_NAMES = ("", *"玉金飛角銀桂香歩龍馬全圭杏と")
KINDS = {name: kind for names in (MOVE_NAMES, BOARD_NAMES) for kind, name in enumerate(names)}
KINDS |= {"王": 1, "竜": 9}
del KINDS[""]
HAND_ORDER = (3, 4, 2, 5, 6, 7, 8)  # 飛 角 金 銀 桂 香 歩: the order hands are written in

# The handicaps: 上手 (White) gives them and moves first.
_REST = "/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"
HANDICAPS = {
    "平手": START_SFEN,
    "香落ち": "lnsgkgsn1/1r5b1" + _REST,
    "右香落ち": "1nsgkgsnl/1r5b1" + _REST,
    "角落ち": "lnsgkgsnl/1r7" + _REST,
    "飛車落ち": "lnsgkgsnl/7b1" + _REST,
    "飛香落ち": "lnsgkgsn1/7b1" + _REST,
    "二枚落ち": "lnsgkgsnl/9" + _REST,
    "三枚落ち": "lnsgkgsn1/9" + _REST,
    "四枚落ち": "1nsgkgsn1/9" + _REST,
    "五枚落ち": "2sgkgsn1/9" + _REST,
    "左五枚落ち": "1nsgkgs2/9" + _REST,
    "六枚落ち": "2sgkgs2/9" + _REST,
    "左七枚落ち": "2sgkg3/9" + _REST,
    "右七枚落ち": "3gkgs2/9" + _REST,
    "八枚落ち": "3gkg3/9" + _REST,
    "十枚落ち": "4k4/9" + _REST,
}

# End lines and the endings they give. 反則勝ち: the side to move wins, its
# opponent lost by an illegal action (the sign is found after the moves).
# 入玉宣言 is what cshogi writes for a declared win, 引き分け ShogiHome's draw.
END_WORDS = {
    "投了": "%TORYO",
    "中断": "%CHUDAN",
    "千日手": "%SENNICHITE",
    "詰み": "%TSUMI",
    "持将棋": "%JISHOGI",
    "切れ負け": "%TIME_UP",
    "時間切れ": "%TIME_UP",
    "反則勝ち": "%ILLEGAL_ACTION",
    "反則負け": "%ILLEGAL_MOVE",
    "入玉勝ち": "%KACHI",
    "入玉宣言": "%KACHI",
    "不詰": "%FUZUMI",
    "引き分け": "%HIKIWAKE",
}

_PIECE = "成香|成桂|成銀|[歩香桂銀金角飛玉王と杏圭全馬龍竜]"
MOVE = re.compile(
    r"(?:(?P<file>[1-9１-９])(?P<rank>[一二三四五六七八九])|(?P<same>同)[ 　]*)"
    rf"(?P<piece>{_PIECE})(?P<action>不成|成|打)?(?:\((?P<source>[1-9]{{2}}|00)\))?"
)
END = re.compile("|".join(sorted(END_WORDS, key=len, reverse=True)))
NUMBERED = re.compile(r"([0-9]+)\s+(.*)")
# What may follow a move on its line: its times, and "+" where variations branch off.
AFTER_MOVE = re.compile(r"(?:\([ 0-9:/]*\))?\s*\+?")
HEADER = re.compile(r"([^：]+)：(.*)")
ROW = re.compile(r"\|(.{18})\|.*")
HAND_ITEM = re.compile(r"([飛角金銀桂香歩])(十?[一二三四五六七八九]?)")
SIDE_LINES = {"先手番": "b", "下手番": "b", "後手番": "w", "上手番": "w"}
HANDS = tuple(f"{side}の持駒：" for side in ("先手", "後手", "下手", "上手"))
MARKERS = ("#KIF", "手合割：", "先手：", "後手：", "下手：", "上手：", "手数----", *HANDS)


def _lines(text: str) -> list[str]:
    """The lines of a text, split on line ends only (numbered as an editor numbers them)."""
    return text.lstrip("\ufeff").replace("\r\n", "\n").replace("\r", "\n").split("\n")


def _move_line(line: str) -> tuple[int, str, re.Match[str] | None] | None:
    """A numbered line's number, its text and its move or end word, if it is one."""
    numbered = NUMBERED.fullmatch(line)
    if not numbered:
        return None
    body = numbered[2]
    for pattern in (END, MOVE):
        found = pattern.match(body)
        if found and AFTER_MOVE.fullmatch(body[found.end() :].strip()):
            return int(numbered[1]), body, found
    return int(numbered[1]), body, None


def is_kif(text: str) -> bool:
    """Whether text is a KIF record: it has a KIF header line (手合割：, 先手：, ...,
    #KIF, 手数----) or a board diagram, or its first line that is not a comment is a
    KIF move."""
    first = True
    for line in _lines(text):
        line = line.strip()
        if line.startswith(MARKERS) or ROW.fullmatch(line):
            return True
        if first and line and line[0] not in "#*&":
            first = False
            move = _move_line(line)
            if move and move[2]:
                return True
    return False


def _count(text: str) -> int:
    """A count in kanji, "" (one) to 十八."""
    if not text:
        return 1
    tens = 10 if text[0] == "十" else 0
    return tens + (KANJI.index(text[-1]) + 1 if text[-1] != "十" else 0)


def _kanji_count(n: int) -> str:
    """The kanji that follow a piece in hand: none for one, 二 to 九, 十 to 十八."""
    if n == 1:
        return ""
    return ("十" if n >= 10 else "") + (KANJI[n % 10 - 1] if n % 10 else "")


def _hand(where: str, value: str, black: bool) -> dict[str, int]:
    """SFEN letters and counts of a diagram's hand ("歩三　角", "なし")."""
    counts: dict[str, int] = {}
    for item in re.split(r"\s+", value):
        if item in ("", "なし"):
            continue
        found = HAND_ITEM.fullmatch(item)
        if not found:
            raise RecordError(f"{where}: {item!r} is not a piece in hand")
        letter = LETTERS[KINDS[found[1]]]
        letter = letter if black else letter.lower()
        counts[letter] = counts.get(letter, 0) + _count(found[2])
    return counts


def _row(where: str, line: str) -> str:
    """One rank of an SFEN board field from a diagram's row ("|v香v桂 ・…|一")."""
    found = ROW.fullmatch(line)
    if not found:
        raise RecordError(f"{where}: {line!r} is not a row of 9 squares of a board diagram")
    field, empty = "", 0
    for i in range(0, 18, 2):
        mark, name = found[1][i], found[1][i + 1]
        if mark == " " and name == "・":
            empty += 1
            continue
        if mark not in " v" or name not in BOARD_NAMES[1:] + ("王", "竜"):
            raise RecordError(
                f"{where}: {found[1][i : i + 2]!r} is not a square of a board diagram"
            )
        letter = LETTERS[KINDS[name]]
        field += (str(empty) if empty else "") + (letter.lower() if mark == "v" else letter)
        empty = 0
    return field + (str(empty) if empty else "")


def _kif_move(game: Game, where: str, text: str, previous: Move | None) -> str:
    """komaban move text for a KIF move ("７六歩(77)", "同　銀(31)") in the game's position."""
    found = MOVE.match(text)
    if not found:
        raise RecordError(f"{where}: {text!r} is not a KIF move")
    black = game.turn == ColorType.Black
    if found["same"]:
        if previous is None:
            raise RecordError(
                f"{where}: {text} moves to 同 (the last move's square) as the first move"
            )
        to = move_text(previous)[2:4]
    else:
        file = FILES.index(found["file"]) + 1 if found["file"] in FILES else int(found["file"])
        to = turn_square(f"{file}{RANKS[KANJI.index(found['rank'])]}")
    name, kind = found["piece"], KINDS[found["piece"]]
    if found["action"] == "打" or found["source"] == "00":
        if not 2 <= kind <= 8:
            raise RecordError(f"{where}: {text} drops a {name}, which cannot be dropped")
        letter = LETTERS[kind]
        return f"{letter if black else letter.lower()}*{to}"
    source = found["source"]
    origin = turn_square(f"{source[0]}{RANKS[int(source[1]) - 1]}")
    piece = game.board.get_piece(address(origin))
    # The name is the piece's before the move: 角成 moves a Bishop, 馬 a Horse.
    if piece.owner != game.turn or int(piece.piece_type) != kind:
        raise RecordError(
            f"{where}: {text} moves a {name} from {source}, "
            f"where no {side_name(game.turn)} {name} stands"
        )
    if found["action"] == "成" and not 3 <= kind <= 8:
        raise RecordError(f"{where}: {text} promotes a {name}, which cannot promote")
    return f"{origin}{to}{'+' if found['action'] == '成' else ''}"


def read_kif(text: str, title: str = "") -> Record:
    """A record from KIF text: its main line, from its start to its end line.

    The title is the 棋戦 line's, else the players' names when there are any,
    else `title`. Raises RecordError, naming the line, for text it cannot read
    and for a move that is not one komaban lists in its position.
    """
    names, event = ["", ""], ""
    handicap: tuple[int, str] | None = None
    rows: list[tuple[int, str]] = []
    hands: dict[str, int] = {}
    side = ""
    texts: list[tuple[str, str]] = []
    comments: dict[int, list[str]] = {}
    ending, end_line, first_number = "", 0, 0
    for number, line in enumerate(_lines(text), 1):
        where = f"line {number}"
        line = line.strip()
        if not line or line[0] in "#&":
            continue  # file comments, and bookmarks: a Record has no place for them
        if line[0] == "*":
            comments.setdefault(len(texts), []).append(line[1:])
            continue
        if line.startswith("変化："):
            break
        move = _move_line(line)
        position = (
            line.startswith("|") or line in SIDE_LINES or line.startswith(("手合割：", *HANDS))
        )
        if position and (texts or ending):
            raise RecordError(f"{where}: position lines must come before the moves")
        if move:
            ply_number, body, found = move
            if ending:
                raise RecordError(
                    f"{where}: {body!r} follows the end of the game (line {end_line})"
                )
            first_number = first_number or ply_number
            if ply_number != first_number + len(texts):
                raise RecordError(
                    f"{where}: move number {ply_number} where {first_number + len(texts)} belongs"
                )
            if found is None:
                raise RecordError(f"{where}: {body!r} is not a KIF move")
            if found.re is END:
                ending, end_line = END_WORDS[found[0]], number
            elif not found["source"] and found["action"] != "打":
                raise RecordError(
                    f"{where}: {found[0]} has no source square (KI2-style moves are not read)"
                )
            else:
                texts.append((where, found[0]))
        elif line.startswith("|"):
            rows.append((number, _row(where, line)))
        elif line in SIDE_LINES:
            side = SIDE_LINES[line]
        elif (
            line.startswith(("まで", "手数"))
            or re.fullmatch(r"\+-+\+", line)
            or line.replace(" ", "") in ("９８７６５４３２１", "987654321")
        ):
            continue  # the summary, the moves' heading, 手数＝N, a diagram's frame
        elif header := HEADER.fullmatch(line):
            key, value = header[1].strip(), header[2].strip()
            if key in ("先手", "下手"):
                names[0] = value
            elif key in ("後手", "上手"):
                names[1] = value
            elif key in ("先手の持駒", "下手の持駒", "後手の持駒", "上手の持駒"):
                hands |= _hand(where, value, key[0] in "先下")
            elif key == "手合割":
                handicap = (number, value)
            elif key == "棋戦":
                event = value
        else:
            raise RecordError(f"{where}: {line!r} is not KIF")
    if rows:
        where = f"line {rows[0][0]}"
        if len(rows) != 9:
            raise RecordError(f"{where}: a board diagram has 9 rows, not {len(rows)}")
        # A handicap's diagram without a side line is the handicap giver's (White's) to move.
        given = handicap is not None and handicap[1] in HANDICAPS and handicap[1] != "平手"
        side = side or ("w" if given else "b")
        sfen = f"{'/'.join(row for _, row in rows)} {side} {hand_field(hands)} 1"
        start_of(sfen, where)
    elif handicap:
        if handicap[1] not in HANDICAPS:
            raise RecordError(
                f"line {handicap[0]}: {handicap[1]!r} is not a handicap (and no diagram follows)"
            )
        sfen = HANDICAPS[handicap[1]]
    else:
        sfen = START_SFEN
    moves = play(sfen, texts, _kif_move)
    if ending == "%ILLEGAL_ACTION":
        black_to_move = (sfen.split()[1] == "b") == (len(moves) % 2 == 0)
        ending = f"%{'-' if black_to_move else '+'}ILLEGAL_ACTION"
    if event:
        title = event
    elif names[0] or names[1]:
        title = f"☗ {names[0] or '?'} – ☖ {names[1] or '?'}"
    return Record(sfen, moves, (names[0], names[1]), ending, title, comments)


def _diagram(sfen: str) -> list[str]:
    """A board diagram (BOD) of a standard SFEN line: hands, the 9 rows, the side to move."""
    board, side, hand, _ = sfen.split()
    held = dict(hand_items(hand))

    def hand_text(black: bool) -> str:
        items = []
        for kind in HAND_ORDER:
            n = held.get(LETTERS[kind] if black else LETTERS[kind].lower(), 0)
            if n:
                items.append(BOARD_NAMES[kind] + _kanji_count(n))
        return "　".join(items) or "なし"

    lines = [f"後手の持駒：{hand_text(False)}", "  ９ ８ ７ ６ ５ ４ ３ ２ １"]
    lines.append("+---------------------------+")
    for rank, field in enumerate(board.split("/")):
        cells, promoted = "", ""
        for ch in field:
            if ch == "+":
                promoted = "+"
            elif ch.isdigit():
                cells += " ・" * int(ch)
            else:
                kind = LETTERS.index(promoted + ch.upper())
                cells += (" " if ch.isupper() else "v") + BOARD_NAMES[kind]
                promoted = ""
        lines.append(f"|{cells}|{KANJI[rank]}")
    lines += ["+---------------------------+", f"先手の持駒：{hand_text(True)}"]
    if side == "w":
        lines.append("後手番")
    return lines


def _move_body(game: Game, move: Move, previous: Move | None) -> str:
    """A move as a KIF move line writes it ("７六歩(77)", "同　角成(88)", "５五角打")."""
    text = move_text(move)
    if previous is not None and move_text(previous)[2:4] == text[2:4]:
        to = "同　"
    else:
        square = turn_square(text[2:4])
        to = FILES[int(square[0]) - 1] + KANJI[RANKS.index(square[1])]
    if move.is_drop():
        return f"{to}{MOVE_NAMES[int(move.get_piece().piece_type)]}打"
    origin = turn_square(text[0:2])
    name = MOVE_NAMES[int(game.board.get_piece(move.get_from()).piece_type)]
    # No 不成: cshogi's reader, among others, does not read it.
    promotes = "成" if move.is_promote() else ""
    return f"{to}{name}{promotes}({origin[0]}{RANKS.index(origin[1]) + 1})"


# The end line's word and the summary after まで…手で for each ending. KIF has no
# word for a move limit (the game stopped: 中断) and names no foul (see write_kif).
WRITTEN_ENDS = {
    "%TORYO": ("投了", "{winner}の勝ち"),
    "%TSUMI": ("詰み", "{winner}の勝ち"),
    "%TIME_UP": ("切れ負け", "時間切れにより{winner}の勝ち"),
    "%CHUDAN": ("中断", "中断"),
    "%MAX_MOVES": ("中断", "中断"),
    "%SENNICHITE": ("千日手", "千日手"),
    "%JISHOGI": ("持将棋", "持将棋"),
    "%KACHI": ("入玉勝ち", "{mover}の入玉勝ち"),
    "%ILLEGAL_MOVE": ("反則負け", "{mover}の反則負け"),
    "%ILLEGAL_ACTION": ("反則勝ち", "{mover}の反則勝ち"),
    "%FUZUMI": ("不詰", ""),
    "%HIKIWAKE": ("引き分け", ""),
}


def write_kif(record: Record) -> str:
    """The record as KIF text: 手合割 (or a board diagram for a start that is no
    handicap's), the players, the moves without times, comments as ``*`` lines
    after their move, and the end line and summary for the record's ending.

    Raises RecordError for a move that is not one komaban lists in its position.
    """
    handicap = next((name for name, sfen in HANDICAPS.items() if sfen == record.sfen), "")
    sides = ("下手", "上手") if handicap not in ("", "平手") else ("先手", "後手")
    lines = [f"手合割：{handicap}"] if handicap else _diagram(record.sfen)
    lines += [f"{side}：{name}" for side, name in zip(sides, record.names, strict=True)]
    lines.append("手数----指手---------消費時間--")

    def comment_lines(ply: int) -> list[str]:
        return ["*" + part for text in record.comments.get(ply, []) for part in text.split("\n")]

    lines += comment_lines(0)
    game = start_of(record.sfen)
    previous: Move | None = None
    for ply, move in enumerate(record.moves, 1):
        check_move(game, f"move {ply}", move, usi_text(move))
        lines.append(f"{ply:>4} {_move_body(game, move, previous)}")
        game.execute_move(move)
        previous = move
        lines += comment_lines(ply)
    black_to_move = (record.sfen.split()[1] == "b") == (len(record.moves) % 2 == 0)
    mover, winner = (sides[0], sides[1]) if black_to_move else (sides[1], sides[0])
    ending = record.ending
    if ending in ("%+ILLEGAL_ACTION", "%-ILLEGAL_ACTION"):
        # KIF says only which side lost by a foul: the side to move (反則負け) or the other.
        ending = "%ILLEGAL_MOVE" if (ending[1] == "+") == black_to_move else "%ILLEGAL_ACTION"
    word, summary = WRITTEN_ENDS.get(ending, ("", ""))
    if word:
        lines.append(f"{len(record.moves) + 1:>4} {word}")
    if summary:
        lines.append(f"まで{len(record.moves)}手で{summary.format(mover=mover, winner=winner)}")
    return "\n".join(lines) + "\n"
