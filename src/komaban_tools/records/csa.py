"""CSA records, as cshogi.cli, shogi servers and most programs write them.

The players' names (N+, N-) are read, the start position (PI with the pieces
it removes, or the rows P1 to P9 with P+ and P- for the pieces in hand, 00AL
too), the moves (+7776FU, a move and its time may share a line) and the
special move that ends the game (%TORYO). Comments (') are kept; times and
other information are skipped. A file of several games separated by "/"
lines is read one game at a time.
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
)
from .record import Record, RecordError, play, start_of

CSA_MOVE = re.compile(r"([+-])([0-9])([0-9])([1-9])([1-9])([A-Z]{2})")
# CSA's piece codes by int(PieceType): King, Gold, Rook, Bishop, Silver, Knight,
# Lance, Pawn, then the promoted Rook (Dragon) to the promoted Pawn.
CSA_PIECES = (
    "",
    "OU",
    "KI",
    "HI",
    "KA",
    "GI",
    "KE",
    "KY",
    "FU",
    "RY",
    "UM",
    "NG",
    "NK",
    "NY",
    "TO",
)
PROMOTION = 6  # a kind that promotes (Rook to Pawn) becomes this many numbers higher
# All the pieces of a game but the Kings, by SFEN letter: what "00AL" hands out.
PIECE_SET = {"R": 2, "B": 2, "G": 4, "S": 4, "N": 4, "L": 4, "P": 18}
RANKS = "abcdefghi"


def _csa_move(game: Game, where: str, text: str, previous: Move | None) -> str:
    """komaban move text for a CSA move ("+7776FU"), read in the game's position."""
    match = CSA_MOVE.fullmatch(text)
    if not match or match[6] not in CSA_PIECES[1:]:
        raise RecordError(f"{where}: {text!r} is not a CSA move")
    sign, from_file, from_rank, to_file, to_rank, code = match.groups()
    if (sign == "+") != (game.turn == ColorType.Black):
        raise RecordError(f"{where}: {text} is not {side_name(game.turn)}'s move")
    kind = CSA_PIECES.index(code)
    to = turn_square(f"{to_file}{RANKS[int(to_rank) - 1]}")
    if from_file == from_rank == "0":
        if not 2 <= kind <= 8:
            raise RecordError(f"{where}: {text} drops a piece that cannot be dropped")
        letter = LETTERS[kind] if sign == "+" else LETTERS[kind].lower()
        return f"{letter}*{to}"
    if from_file == "0" or from_rank == "0":
        raise RecordError(f"{where}: {text!r} is not a CSA move")
    origin = turn_square(f"{from_file}{RANKS[int(from_rank) - 1]}")
    piece = game.board.get_piece(address(origin))
    # CSA names the piece after the move: the piece there, or its promoted kind.
    there = int(piece.piece_type)
    promoted = there + PROMOTION if 3 <= there <= 8 else there
    if piece.owner != game.turn or kind not in (there, promoted):
        raise RecordError(
            f"{where}: {text} moves a {code} from {from_file}{from_rank}, "
            f"where no {side_name(game.turn)} piece of that kind stands"
        )
    return f"{origin}{to}{'+' if kind != there else ''}"


def _sfen_rank(field: str) -> list[str]:
    """One rank of an SFEN board field (no promoted pieces) as 9 cells."""
    return [cell for ch in field for cell in ([""] * int(ch) if ch.isdigit() else [ch])]


def _csa_piece(where: str, text: str) -> str:
    """The SFEN letter of a CSA piece ("+FU" is "P", "-TO" is "+p"), "" for " * "."""
    if text.strip() in ("*", ""):
        return ""
    if text[0] not in "+-" or text[1:] not in CSA_PIECES[1:]:
        raise RecordError(f"{where}: {text!r} is not a CSA piece")
    letter = LETTERS[CSA_PIECES.index(text[1:])]
    return letter if text[0] == "+" else letter.lower()


def _position(lines: list[tuple[int, str]]) -> str:
    """A standard SFEN line from CSA's position lines (PI, P1 to P9, P+ and P-, + or -)."""
    board: list[list[str]] = [[""] * 9 for _ in range(9)]  # [rank - 1][9 - file]
    hands = {"+": dict.fromkeys(PIECE_SET, 0), "-": dict.fromkeys(PIECE_SET, 0)}
    side, rest_to = "+", ""
    for number, line in lines:
        where = f"line {number}"
        if line.startswith("PI"):
            # The start position, less the pieces named after it ("82HI": 8b's Rook).
            board = [_sfen_rank(rank) for rank in START_SFEN.split()[0].split("/")]
            if not re.fullmatch(r"([1-9]{2}[A-Z]{2})*", line[2:]):
                raise RecordError(f"{where}: {line!r} is not a CSA position line")
            for square in re.findall(r"([1-9]{2})[A-Z]{2}", line[2:]):
                board[int(square[1]) - 1][9 - int(square[0])] = ""
        elif re.fullmatch(r"P[1-9].*", line):
            # Nine squares of three characters; the blanks that end a row may be cut.
            squares = line[2:].ljust(27)
            if len(squares) > 27:
                raise RecordError(f"{where}: a board row of CSA has 9 squares")
            cells = [squares[i : i + 3] for i in range(0, 27, 3)]
            for column, text in enumerate(cells):
                board[int(line[1]) - 1][column] = _csa_piece(where, text)
        elif line[:2] in ("P+", "P-"):
            if not re.fullmatch(r"((00|[1-9]{2})[A-Z]{2})+", line[2:]):
                raise RecordError(f"{where}: {line!r} is not a CSA position line")
            for square, code in re.findall(r"(\d\d)([A-Z]{2})", line[2:]):
                if square == "00" and code == "AL":
                    rest_to = line[1]
                    continue
                letter = _csa_piece(where, line[1] + code)
                if square == "00":
                    if letter.upper() not in PIECE_SET:
                        raise RecordError(f"{where}: {code} cannot be in hand")
                    hands[line[1]][letter.upper()] += 1
                else:
                    board[int(square[1]) - 1][9 - int(square[0])] = letter
        elif line in ("+", "-"):
            side = line
    if rest_to:
        for letter, count in PIECE_SET.items():
            on_board = sum(cell.lstrip("+").upper() == letter for row in board for cell in row)
            held = hands["+"][letter] + hands["-"][letter]
            hands[rest_to][letter] += max(count - on_board - held, 0)
    ranks = []
    for row in board:
        field, empty = "", 0
        for cell in row:
            if cell:
                field += (str(empty) if empty else "") + cell
                empty = 0
            else:
                empty += 1
        ranks.append(field + (str(empty) if empty else ""))
    counts = {letter: n for letter, n in hands["+"].items()}
    counts |= {letter.lower(): n for letter, n in hands["-"].items()}
    return f"{'/'.join(ranks)} {'b' if side == '+' else 'w'} {hand_field(counts)} 1"


def games_in(text: str) -> int:
    """How many games a CSA file holds (separated by "/" lines)."""
    return 1 + sum(line.strip() == "/" for line in text.splitlines())


def read_csa(text: str, game: int = 1, title: str = "") -> Record:
    """A record from CSA text: the `game`-th of its games (separated by "/" lines).

    Names (N+, N-) make the title when there are any.
    """
    statements: list[list[tuple[int, str]]] = [[]]
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if line == "/":
            statements.append([])
        elif line:
            # A move and its time may share a line ("+7776FU,T12"); a name may hold commas.
            parts = line.split(",") if line[0] in "+-%" else [line]
            statements[-1].extend((number, part) for part in parts)
    if not 1 <= game <= len(statements):
        raise RecordError(f"the record holds {len(statements)} games, not {game}")
    position: list[tuple[int, str]] = []
    names = {"+": "", "-": ""}
    texts: list[tuple[str, str]] = []
    ending = ""
    comments: dict[int, list[str]] = {}
    for number, statement in statements[game - 1]:
        if statement.startswith("'"):
            comments.setdefault(len(texts), []).append(statement[1:])
        elif statement.startswith("$") or re.fullmatch(r"V[\d.]+|T[\d.]*", statement):
            continue  # the version, information, a move's time
        elif statement[:2] in ("N+", "N-"):
            names[statement[1]] = statement[2:].strip()
        elif ending:
            raise RecordError(f"line {number}: {statement!r} follows the end of the game")
        elif statement.startswith("P") or (statement in ("+", "-") and not texts):
            if texts:
                raise RecordError(f"line {number}: position lines must come before the moves")
            position.append((number, statement))
        elif CSA_MOVE.fullmatch(statement):
            texts.append((f"line {number}", statement))
        elif re.fullmatch(r"%?[A-Z_+-]+", statement):
            ending = statement if statement.startswith("%") else "%" + statement
        else:
            raise RecordError(f"line {number}: {statement!r} is not CSA")
    if not position:
        raise RecordError("no start position: a CSA record has PI or P1 to P9 lines")
    sfen = _position(position)
    moves = play(sfen, texts, _csa_move)
    if names["+"] or names["-"]:
        title = f"☗ {names['+'] or '?'} – ☖ {names['-'] or '?'}"
    return Record(sfen, moves, (names["+"], names["-"]), ending, title, comments)


def is_csa(text: str) -> bool:
    """Whether text is a CSA record: its first statement is one of CSA's."""
    for line in text.splitlines():
        line = line.strip()
        if line and not line.startswith("'"):
            return bool(re.match(r"V\d|N[+-]|\$|P[I1-9+-]|[+-]$|[+-]\d{4}[A-Z]{2}", line))
    return False


def _rows(sfen: str) -> list[str]:
    """CSA's position lines of a standard SFEN line: P1 to P9, P+ and P-, the side."""
    fields = sfen.split()
    lines: list[str] = []
    for rank in fields[0].split("/"):
        cells, promoted = [], False
        for ch in rank:
            if ch == "+":
                promoted = True
            elif ch.isdigit():
                cells += [" * "] * int(ch)
            else:
                kind = LETTERS.index(("+" if promoted else "") + ch.upper())
                cells.append(("+" if ch.isupper() else "-") + CSA_PIECES[kind])
                promoted = False
        lines.append(f"P{len(lines) + 1}{''.join(cells)}")
    for sign, upper in (("+", True), ("-", False)):
        held = ""
        for letter, count in hand_items(fields[2]):
            if letter.isupper() == upper:
                held += f"00{CSA_PIECES[LETTERS.index(letter.upper())]}" * count
        if held:
            lines.append(f"P{sign}{held}")
    lines.append("+" if fields[1] == "b" else "-")
    return lines


def csa_move(game: Game, move: Move) -> str:
    """A komaban Move as CSA move text in the game's position ("+7776FU")."""
    sign = "+" if game.turn == ColorType.Black else "-"
    text = move_text(move)
    to = turn_square(text[2:4])
    to_csa = f"{to[0]}{RANKS.index(to[1]) + 1}"
    if move.is_drop():
        return f"{sign}00{to_csa}{CSA_PIECES[int(move.get_piece().piece_type)]}"
    origin = turn_square(text[0:2])
    kind = int(game.board.get_piece(move.get_from()).piece_type)
    if move.is_promote():
        kind += PROMOTION
    return f"{sign}{origin[0]}{RANKS.index(origin[1]) + 1}{to_csa}{CSA_PIECES[kind]}"


def write_csa(record: Record) -> str:
    """The record as CSA text (version 2.2)."""
    lines = ["V2.2"]
    for sign, name in zip("+-", record.names, strict=True):
        if name:
            lines.append(f"N{sign}{name}")
    lines += [f"'{comment}" for comment in record.comments.get(0, [])]
    if record.sfen == START_SFEN:
        lines += ["PI", "+"]
    else:
        lines += _rows(record.sfen)
    game = start_of(record.sfen)
    for ply, move in enumerate(record.moves, 1):
        lines.append(csa_move(game, move))
        game.execute_move(move)
        lines += [f"'{comment}" for comment in record.comments.get(ply, [])]
    if record.ending:
        lines.append(record.ending)
    return "\n".join(lines) + "\n"
