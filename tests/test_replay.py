"""komaban_tools.records reads game records as standard notation means them, and the replay
page holds every position of the game. The page in a real browser: tests/test_replay_browser.py;
KIF and round trips through cshogi: tests/test_records.py."""

import json
import random
import re
import subprocess
import xml.etree.ElementTree as ET
from html.parser import HTMLParser

import pytest
from helpers import command, needs_second_interpreter

from komaban import Game
from komaban_tools.notation import load_sfen, usi_text
from komaban_tools.records import RecordError, read_csa, read_record
from komaban_tools.replay import replay_html

# An opening and the position after it in standard SFEN, from shogi notation.
OPENING_USI = "7g7f 3c3d 8h2b+ 3a2b B*4e B*6e"
OPENING_KOMABAN = "3c3d 7g7f 2b8h+ 7i8h B*6e b*4e"
AFTER_OPENING = "lnsgkg1nl/1r5s1/pppppp1pp/6p2/3b1B3/2P6/PP1PPPPPP/7R1/LNSGKGSNL b - 7"
# The same opening as a CSA record, with the lines cshogi.cli writes around moves.
OPENING_CSA = """V2
N+Sente engine
N-Gote, engine
$START_TIME:2024/05/01 10:00:00
PI
+
+7776FU
T1
'** 30 -3334FU
-3334FU,T2
+8822UM
-3122GI
+0045KA
-0065KA
%TORYO
"""
# A middle game with promoted pieces and both hands, as cshogi's csa_pos() writes
# it, then moves with a promotion, captures of promoted pieces and a drop; the
# final position is cshogi's.
MIDDLE_CSA = """P1 *  *  *  *  *  *  *  * -KY
P2 * -KY+RY *  * +FU *  *  * 
P3-FU *  * -FU+KA+KI * -FU-FU
P4-OU-FU-GI * -FU *  *  *  * 
P5+KE-KE * +FU *  * +KI *  * 
P6+FU * +FU * +FU *  * +FU+FU
P7 * +FU+GI *  *  *  *  *  * 
P8 * +OU+GI+KI *  *  * -RY * 
P9+KY+KE *  * -TO *  *  * +KY
P+00GI
P-00FU00FU00FU
P-00KE
P-00KI
P-00KA
-
-8577NK
+7877GI
-7465GI
+7282RY
-2826RY
+8284RY
-9484OU
+0069FU
"""  # noqa: W291 (a CSA row ends in the blanks of its empty squares)
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 1"
AFTER_MIDDLE = "8l/5P3/p2pBG1pp/1k2p4/N2s2G2/P1P1P2+rP/1PS6/1K1G5/LN1P+p3L w SNLrbgsn5p 9"


def final(record):
    game = Game(record.start.board, record.start.move_number, record.start.turn)
    for move in record.moves:
        game.execute_move(move)
    return game


def sfen_shown(pieces, hands, turn, move_number):
    """A standard SFEN line of what a drawing shows: pieces {square: letter} by komaban's
    squares, hands {"Black" or "White": {letter: count}}, the side to move, the move number."""
    ranks = []
    for row in range(9, 0, -1):  # SFEN's first rank is komaban's row 9, file 9 its column 1
        field = ""
        for column in range(1, 10):
            letter = pieces.get(f"{column}{'abcdefghi'[row - 1]}", "1")
            if letter == "1" and field[-1:].isdigit():
                field = field[:-1] + str(int(field[-1]) + 1)
            else:
                field += letter
        ranks.append(field)
    hand = "".join(
        f"{count if count > 1 else ''}{letter}"
        for side in ("Black", "White")
        for letter, count in hands.get(side, {}).items()
    )
    return f"{'/'.join(ranks)} {'b' if turn == 'Black' else 'w'} {hand or '-'} {move_number}"


def svg_position(svg):
    """The SFEN line of a diagram, read from its data attributes."""
    root, ns = ET.fromstring(svg), "{http://www.w3.org/2000/svg}"
    pieces = {g.get("data-square"): g.get("data-piece") for g in root.iter(f"{ns}g")}
    pieces.pop(None, None)
    hands = {
        hand.get("data-hand"): {
            item.get("data-piece"): int(item.get("data-count"))
            for item in hand.iter(f"{ns}g")
            if item.get("data-count")
        }
        for hand in root.iter(f"{ns}g")
        if hand.get("data-hand")
    }
    caption = root.find(f"{ns}text[@class='caption']")
    return sfen_shown(pieces, hands, caption.get("data-turn"), caption.get("data-move-number"))


def same_position(game, sfen):
    """Whether the game has the position, side to move and move number of an SFEN line.

    The hand may hold a King (a random game ends when one is taken), which
    standard SFEN does not write: it is added to the position after reading.
    """
    board, side, hand, number = sfen.split()
    kings = re.findall(r"\d*[Kk]", hand)
    expected = load_sfen(f"{board} {side} {re.sub(r'[0-9]*[Kk]', '', hand) or '-'} {number}")
    for king in kings:
        expected.input_hand(king)
    return (game.board, game.turn, game.move_number) == (
        expected.board,
        expected.turn,
        expected.move_number,
    )


@pytest.mark.parametrize(
    "text, notation",
    [
        (f"startpos moves {OPENING_USI}", "usi"),
        (f"position startpos moves {OPENING_USI}", "usi"),
        (OPENING_USI.replace(" ", "\n"), "usi"),  # no start: the start position
        (f"startpos {OPENING_KOMABAN}", "komaban"),
        (
            "position sfen lnsgkgsnl/1r5b1/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL b - 1 "
            f"moves {OPENING_USI}",
            "usi",
        ),
        (OPENING_CSA, "usi"),
    ],
    ids=["usi", "usi command", "moves alone", "komaban", "sfen", "csa"],
)
def test_records_reach_the_position_notation_gives(text, notation):
    record = read_record(text, notation)
    assert [usi_text(m) for m in record.moves] == OPENING_USI.split()
    assert same_position(final(record), AFTER_OPENING)


def test_csa_record_names_players_and_result():
    record = read_csa(OPENING_CSA)
    assert record.title == "☗ Sente engine – ☖ Gote, engine"
    assert record.result == "Black resigned"  # %TORYO: the side to move resigns


def test_csa_position_with_promoted_pieces_and_hands():
    record = read_csa(MIDDLE_CSA, title="middle")
    assert (record.title, record.result) == ("middle", "")
    assert same_position(record.start, MIDDLE_GAME)
    assert same_position(final(record), AFTER_MIDDLE)


@pytest.mark.parametrize(
    "csa, sfen",
    [
        # Two-piece handicap: White's Rook and Bishop taken off, White moves first.
        ("PI82HI22KA\n-\n", "lnsgkgsnl/9/ppppppppp/9/9/9/PPPPPPPPP/1B5R1/LNSGKGSNL w - 1"),
        # Two Kings, a Black Pawn in hand and every other piece in White's (00AL); rows
        # cut after their last piece, or empty.
        (
            "P1 *  *  *  * -OU\n"
            + "".join(f"P{n}\n" for n in range(2, 9))
            + "P9 *  *  *  * +OU\nP+00FU\nP-00AL\n+\n",
            "4k4/9/9/9/9/9/9/9/4K4 b P2r2b4g4s4n4l17p 1",
        ),
    ],
    ids=["handicap", "all the rest in hand"],
)
def test_csa_start_positions(csa, sfen):
    assert same_position(read_csa(csa).start, sfen)


def cshogi_games(cshogi, tmp_path, count):
    """Random legal games exported as cshogi.cli does, in one file: [(start, moves, end)]."""
    from cshogi import CSA

    rng, games = random.Random(11), []
    exporter = CSA.Exporter(str(tmp_path / "games.csa"))
    starts = [cshogi.STARTING_SFEN, MIDDLE_GAME]
    for n in range(count):
        board = cshogi.Board(starts[n % 2])
        exporter.info(board.copy(), ["a", "b"], version="V2")
        start, moves = board.sfen(), []
        while not board.is_game_over() and len(moves) < 160:
            move = rng.choice(list(board.legal_moves))
            exporter.move(move, time=1, comment="** 1")
            moves.append(cshogi.move_to_usi(move))
            board.push(move)
        exporter.endgame("%TORYO")
        games.append((start, moves, board.sfen()))
    exporter.close()
    return games


def test_csa_records_written_by_cshogi_read_as_cshogi_reads_them(tmp_path):
    cshogi = pytest.importorskip("cshogi")
    from cshogi import CSA

    games = cshogi_games(cshogi, tmp_path, 4)
    text = (tmp_path / "games.csa").read_text()
    parsed = CSA.Parser.parse_file(str(tmp_path / "games.csa"))
    for number, ((_, moves, end), theirs) in enumerate(zip(games, parsed, strict=True), 1):
        record = read_csa(text, game=number)
        assert same_position(record.start, theirs.sfen)
        usi = [usi_text(m) for m in record.moves]
        assert usi == moves == [cshogi.move_to_usi(m) for m in theirs.moves]
        # cshogi counts moves from the record's start position's number, CSA from 1.
        reached = final(record)
        fields = end.split()
        assert same_position(reached, " ".join([*fields[:3], str(reached.move_number)]))


@pytest.mark.parametrize(
    "text, notation, message",
    [
        (f"startpos moves {OPENING_USI} B*4e", "usi", "move 7: B*4e is not a move komaban lists"),
        (f"startpos moves {OPENING_USI}", "komaban", "move 1: 7g7f is not a move komaban lists"),
        ("startpos moves 7g7f 3c3x", "usi", "move 2: '3c3x' is not USI move text"),
        ("startpos moves 7g7f 3c3d 8h2b 2b1a+", "usi", "move 4: 2b1a+ is not a move"),
        ("4k4/9/9/9/9/9/9/4R4/4K4 b - 1 moves 5h5a 5i5h", "usi", "move 2: 5i5h follows the end"),
        ("4k4/9/9 b - 1 moves 7g7f", "usi", "start position: board field has 3 ranks"),
        (OPENING_CSA.replace("-3122GI", "+3122GI"), "usi", "line 12: +3122GI is not White's move"),
        (OPENING_CSA.replace("+8822UM", "+8822HI"), "usi", "line 11: +8822HI moves a HI from 88"),
        (OPENING_CSA.replace("-3122GI", "-4132FU"), "usi", "line 12: -4132FU moves a FU from 41"),
        (OPENING_CSA.replace("+0045KA", "+0045UM"), "usi", "line 13: +0045UM drops a piece"),
        (OPENING_CSA.replace("T1", "T1 seconds"), "usi", "line 8: 'T1 seconds' is not CSA"),
        (OPENING_CSA.replace("+8822UM", "%TORYO\n+8822UM"), "usi", "line 12: '+8822UM' follows"),
        (MIDDLE_CSA.replace("P1 * ", "P1 *  * "), "usi", "line 1: a board row of CSA has 9"),
        (MIDDLE_CSA.replace("P-00KE", "P-00OU"), "usi", "line 12: OU cannot be in hand"),
        (MIDDLE_CSA.replace("P-00KE", "P-05KE"), "usi", "line 12: 'P-05KE' is not a CSA position"),
        ("N+a\n+7776FU\n", "usi", "no start position"),
    ],
)
def test_bad_records_name_the_move_or_line(text, notation, message):
    with pytest.raises(RecordError, match=re.escape(message)):
        read_record(text, notation)


def test_csa_file_of_several_games_reads_the_one_asked_for():
    text = f"{OPENING_CSA}/\n{MIDDLE_CSA}"
    assert len(read_csa(text, game=1).moves) == 6
    assert same_position(final(read_csa(text, game=2)), AFTER_MIDDLE)
    with pytest.raises(RecordError, match="holds 2 games, not 3"):
        read_csa(text, game=3)


class Page(HTMLParser):
    """The replay data, the move list, and every URL the page names."""

    def __init__(self, text):
        super().__init__()
        self.data, self.moves, self.urls, self._in = None, [], [], None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        self.urls += [attrs[k] for k in ("src", "href", "action") if k in attrs]
        if tag == "script" and attrs.get("id") == "replay-data":
            self._in = "data"
        elif tag == "button" and "data-ply" in attrs:
            self._in = "move"

    def handle_data(self, data):
        if self._in == "data":
            self.data = json.loads(data)
        elif self._in == "move":
            self.moves.append(data)
        self._in = None


def seeded_game(seed, plies):
    """A random game of komaban's moves (up to plies moves): its positions and moves."""
    rng, game, games, moves = random.Random(seed), Game(), [], []
    while len(moves) < plies and not game.board.is_finished()[0]:
        games.append(Game(game.board, game.move_number, game.turn))
        moves.append(rng.choice(game.board.search_moves(game.turn)))
        game.execute_move(moves[-1])
    return [*games, game], moves


def test_page_of_300_moves_holds_every_position_in_under_2_mb():
    games, moves = seeded_game(5, 300)
    assert len(moves) == 300
    page = replay_html(games[0], moves, title="<a & b>")
    assert len(page.encode()) < 2_000_000
    parsed = Page(page)
    assert parsed.urls == ["data:,"]  # the empty icon: nothing is fetched
    assert "<title>&lt;a &amp; b&gt;</title>" in page
    assert parsed.moves[0] == "start"
    assert [m[1:] for m in parsed.moves[1:]] == [usi_text(m) for m in moves]
    lines, plies = parsed.data["lines"], parsed.data["plies"]
    assert len(plies) == 301
    for ply in range(301):
        assert same_position(games[ply], svg_position("\n".join(lines[i] for i in plies[ply])))


def run(*args, cwd, stdin=None):
    return subprocess.run(
        [command("komaban-replay"), *args],
        capture_output=True,
        text=True,
        timeout=60,
        cwd=cwd,
        input=stdin,
    )


@needs_second_interpreter
def test_command_line_writes_a_page(tmp_path):
    (tmp_path / "game.csa").write_text(OPENING_CSA)
    result = run("game.csa", "-o", "game.html", cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    page = Page((tmp_path / "game.html").read_text(encoding="utf-8"))
    assert [m[1:] for m in page.moves[1:]] == OPENING_USI.split()


@needs_second_interpreter
@pytest.mark.parametrize(
    "args, stdin, message",
    [
        (["-"], f"startpos moves {OPENING_USI} 3d3e", "move 7: 3d3e is not a move komaban lists"),
        (["-", "--notation", "komaban"], "7g7f", "move 1: 7g7f is not a move"),
        (["missing.csa"], None, "No such file"),
        (["bytes.csa"], None, "neither UTF-8 nor Shift-JIS"),
        (["-", "--game", "2"], OPENING_CSA, "holds 1 games, not 2"),
    ],
)
def test_command_line_rejects_bad_input_in_one_line(tmp_path, args, stdin, message):
    (tmp_path / "bytes.csa").write_bytes(b"PI\n+\n+7776FU\n'\x81 \n")  # neither UTF-8 nor cp932
    result = run(*args, "-o", "game.html", cwd=tmp_path, stdin=stdin)
    assert result.returncode == 2
    assert re.fullmatch(r"komaban-replay: error: [^\n]+\n", result.stderr), result.stderr
    assert message in result.stderr
    assert not (tmp_path / "game.html").exists()
