"""Random streams of USI commands, good and bad, sent to the installed `komaban-usi`.

Whatever comes, the engine must not crash or hang; it answers every `isready` with
`readyok` and every `go` with exactly one answer, in order: `bestmove` with a move
that is legal where the `go` was sent (cshogi judges), or `resign` where there is no
valid position or no legal move, or one `checkmate` line for `go mate`.
"""

import os
import random
import select
import subprocess
import time

import pytest
from helpers import command, needs_second_interpreter
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

cshogi = pytest.importorskip("cshogi", reason="cshogi judges the moves")
pytestmark = [pytest.mark.end_to_end, needs_second_interpreter]

TIMEOUT = 30.0  # seconds for any answer: longer is a hang
# Positions to set, with the USI moves that reach them from their start.
MIDDLE = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124"
MATED = "4k4/4G4/4P4/9/9/9/9/9/4K4 w - 1"  # White is checkmated: no legal move
MATE_IN_THREE = "7nl/7k1/9/7P1/9/9/9/9/4K4 b GS 1"
STARTS = ["startpos", f"sfen {MIDDLE}", f"sfen {MATED}", f"sfen {MATE_IN_THREE}"]


def random_moves(start, seed, plies):
    """Legal USI moves from a start, drawn by cshogi."""
    board = cshogi.Board() if start == "startpos" else cshogi.Board(start[5:])
    rng, moves = random.Random(seed), []
    for _ in range(plies):
        legal = list(board.legal_moves)
        if not legal:
            break
        move = rng.choice(legal)
        moves.append(cshogi.move_to_usi(move))
        board.push(move)
    return moves


@st.composite
def position(draw):
    start = draw(st.sampled_from(STARTS))
    moves = random_moves(start, draw(st.integers(0, 10**6)), draw(st.integers(0, 12)))
    text = f"position {start}" + (f" moves {' '.join(moves)}" if moves else "")
    return text, (start, moves)


GO = st.sampled_from(
    [
        "go byoyomi 100",
        "go btime 0 wtime 0 byoyomi 200",
        "go btime 300 wtime 300 binc 50 winc 50",
        "go movetime 150",
        "go nodes 300",
        "go infinite",
        "go ponder btime 0 wtime 0 byoyomi 100",
        "go mate 300",
        "go mate infinite",
        "go",
    ]
)
OTHER = st.sampled_from(
    [
        "isready",
        "stop",
        "ponderhit",
        "usinewgame",
        "gameover win",
        "gameover draw",
        "setoption name USI_Ponder value true",
        "setoption name USI_Hash value 256",
        "setoption name PlayoutsPerLeaf value 2",
        "setoption name MaxPlayouts value 400",
        "setoption name SearchKind value flat",
        "setoption name SearchKind value tree",
        "setoption name Workers value many",
        "setoption name Nonsense value 1",
        "setoption",
        "position",
        "position sfen lnsgkgsnl/9 b - 1",
        "position startpos moves 7g7f 7g7f",
        "position startpos moves 7g7x",
        "go wtime",
        "go mate soon",
        "",
        "   ",
        "将棋 ☗☖ é",
        "x" * 20000,
        "quit_not",
    ]
)
JUNK = st.text(
    st.characters(blacklist_categories=("Cs",), blacklist_characters="\n\r"), max_size=40
)
COMMAND = st.one_of(position(), GO, OTHER, JUNK, st.binary(min_size=1, max_size=20))


def one_line(item):
    """The bytes of a command as one line (line ends inside it become spaces)."""
    data = item if isinstance(item, bytes) else item.encode()
    return data.replace(b"\r", b" ").replace(b"\n", b" ")


class Engine:
    """The engine process, its output read line by line with a deadline."""

    def __init__(self):
        self.process = subprocess.Popen(
            [command("komaban-usi")], stdin=subprocess.PIPE, stdout=subprocess.PIPE
        )
        self.buffer = b""
        self.position = None  # the position set, kept from one stream to the next
        self.send("usi")
        self.read_until("usiok")
        for line in ("setoption name Workers value 1", "setoption name MaxPlayouts value 400"):
            self.send(line)

    def send(self, line):
        self.process.stdin.write(one_line(line) + b"\n")
        self.process.stdin.flush()

    def line(self, deadline):
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            assert left > 0, "the engine hangs"
            if select.select([self.process.stdout], [], [], left)[0]:
                chunk = os.read(self.process.stdout.fileno(), 65536)
                assert chunk, f"the engine exited with status {self.process.wait()}"
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def read_until(self, word):
        lines, deadline = [], time.monotonic() + TIMEOUT
        while True:
            lines.append(self.line(deadline))
            if lines[-1].split()[:1] == [word]:
                return lines


@pytest.fixture(scope="module")
def engine():
    engine = Engine()
    yield engine
    engine.send("quit")
    assert engine.process.wait(timeout=TIMEOUT) == 0


def board_of(position):
    if position is None:
        return None
    start, moves = position
    board = cshogi.Board() if start == "startpos" else cshogi.Board(start[5:])
    for move in moves:
        board.push_usi(move)
    return board


def check_answer(answer, go, board):
    words = answer.split()
    if go.startswith("go mate"):
        assert words[0] == "checkmate" and len(words) >= 2, answer
        if words[1] not in ("nomate", "timeout", "notimplemented"):
            assert board is not None
            for move in words[1:]:  # a mating line: legal throughout, mate at its end
                assert board.is_legal(board.move_from_usi(move)), answer
                board.push_usi(move)
            assert board.is_game_over(), answer
        return
    assert words[0] == "bestmove", answer
    if board is None or board.is_game_over():
        assert words[1] == "resign", answer
        return
    assert board.is_legal(board.move_from_usi(words[1])), (answer, board.sfen())
    if len(words) == 4:  # bestmove X ponder Y: Y legal after X
        assert words[2] == "ponder"
        board.push_usi(words[1])
        assert board.is_legal(board.move_from_usi(words[3])), answer


@settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(COMMAND, min_size=1, max_size=12))
def test_any_stream_gets_its_answers(engine, stream):
    position, gos, readies = engine.position, [], 0
    for item in stream:
        if isinstance(item, tuple):
            text, position = item
            engine.send(text)
            continue
        # The words the engine reads: bytes that are not UTF-8 come as U+FFFD.
        words = one_line(item).decode("utf-8", errors="replace").split()
        if words[:1] == ["quit"]:
            continue
        engine.send(item)
        if words[:1] == ["isready"]:
            readies += 1
        elif words[:1] == ["go"]:
            gos.append((" ".join(words), board_of(position)))
        elif words[:1] == ["position"]:
            position = None  # every other position line here is malformed: none is set
    engine.position = position
    engine.send("stop")
    engine.send("isready")
    lines = engine.read_until("readyok")
    while sum(line == "readyok" for line in lines) < readies + 1:
        lines += engine.read_until("readyok")
    answers = [line for line in lines if line.split()[:1] in (["bestmove"], ["checkmate"])]
    assert len(answers) == len(gos), (stream, lines)
    for answer, (go, board) in zip(answers, gos, strict=True):
        check_answer(answer, go, board)
    assert engine.process.poll() is None
