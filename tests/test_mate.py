"""The df-pn mate solver and `go mate`, judged by cshogi and by composed problems.

tests/data/mates.txt (tools/make_mate_positions.py) holds positions of cshogi's
random games with the length of their shortest mate, or none within 9 plies:
every mate the solver announces is replayed with cshogi, and it must find a
mate within the length and prove there is none within 2 plies less. `make
test` runs every fourth position (but for the proofs of no mate in 7, which
take seconds each); `-m slow` runs them all.
"""

import re
import subprocess
import time
from pathlib import Path

import pytest
from helpers import command, needs_second_interpreter

from komaban_tools.notation import usi_text
from komaban_tools.rules import GameState
from komaban_tools.search import solve_mate, solve_state
from komaban_tools.usi import parse_go

cshogi = pytest.importorskip("cshogi", reason="cshogi judges the mates")

ROOT = Path(__file__).resolve().parent.parent
NODES = 1_000_000  # a budget no position of the fixture needs (the most: about 580,000)


def fixture(kinds):
    rows = [line.split(maxsplit=2) for line in (ROOT / "tests/data/mates.txt").open()]
    return [(k, sfen.strip()) for k, _, sfen in rows if k in kinds and not k.startswith("#")]


def every_fourth(rows, slow=()):
    """The rows as parameters, all but every fourth (and those of the kinds `slow`) slow."""
    return [
        pytest.param(
            *row,
            marks=() if i % 4 == 0 and row[0] not in slow else pytest.mark.slow,
            id=f"{row[0]}-{i}",
        )
        for i, row in enumerate(rows)
    ]


MATES = fixture({"1", "3", "5", "7", "9"})
NO_MATES = fixture({"none"})


def assert_mates(sfen, line, max_plies):
    """The line is legal, checks and evades by turns, and ends in checkmate (cshogi)."""
    assert line and len(line) % 2 == 1 and len(line) <= max_plies, line
    board = cshogi.Board(sfen)
    for ply, usi in enumerate(line):
        move = board.move_from_usi(usi)
        assert board.is_legal(move), (ply, usi, line)
        board.push(move)
        # Every attacker move checks, so every defender move is an evasion (it may
        # check back: then the attacker's next move evades and checks).
        assert ply % 2 or board.is_check(), (ply, usi, line)
    assert board.is_check() and not list(board.legal_moves), line


def test_the_fixture_covers_each_length():
    counts = {
        k: sum(1 for kind, _ in MATES + NO_MATES if kind == k) for k in "1 3 5 7 9 none".split()
    }
    assert counts["3"] >= 50 and counts["5"] >= 50 and counts["7"] >= 30 and counts["9"] >= 30
    assert sum(counts.values()) >= 200 and counts["none"] >= 30


@pytest.mark.parametrize("length, sfen", every_fourth(MATES))
def test_finds_every_mate(length, sfen):
    result = solve_state(GameState.from_sfen(sfen), max_plies=int(length), max_nodes=NODES)
    assert result.status == "mate", sfen
    assert_mates(sfen, [usi_text(move) for move in result.line], int(length))


@pytest.mark.parametrize(
    "length, sfen", every_fourth([r for r in MATES if r[0] != "1"], slow={"9"})
)
def test_proves_there_is_no_shorter_mate(length, sfen):
    state = GameState.from_sfen(sfen)
    assert solve_state(state, max_plies=int(length) - 2, max_nodes=NODES).status == "nomate"


@pytest.mark.parametrize("length, sfen", every_fourth(NO_MATES))
def test_proves_there_is_no_mate_within_nine(length, sfen):
    assert solve_state(GameState.from_sfen(sfen), max_plies=9, max_nodes=NODES).status == "nomate"


def docs_problems():
    """The rows of the table in the "Mate search" section of docs/engine.md."""
    text = (ROOT / "docs/engine.md").read_text()
    section = text.split("## Mate search", 1)[1].split("\n## ", 1)[0]
    rows = re.findall(r"^\| ([^|]+) \| `([^`]+)` \| ([^|]+) \| (\d+) \|$", section, re.M)
    return [
        pytest.param(sfen, solution.split(), int(n), id=theme.strip())
        for theme, sfen, solution, n in rows
    ]


PROBLEMS = docs_problems()


def test_the_docs_show_problems_of_each_length():
    assert {p.values[2] for p in PROBLEMS} == {1, 3, 5, 7, 9, 11} and len(PROBLEMS) >= 10


@pytest.mark.parametrize("sfen, solution, plies", PROBLEMS)
def test_solves_the_docs_problems(sfen, solution, plies):
    assert len(solution) == plies
    assert_mates(sfen, solution, plies)  # the stated solution is a mate
    board = cshogi.Board(sfen)  # and cshogi finds none shorter
    if plies == 1:
        assert board.mate_move_in_1ply()
    else:
        assert board.mate_move(plies) and not board.mate_move_in_1ply()
        assert plies == 3 or not board.mate_move(plies - 2)
    result = solve_state(GameState.from_sfen(sfen), max_plies=plies)
    assert result.status == "mate"
    assert [usi_text(m) for m in result.line][:1] == solution[:1] and len(result.line) == plies


@pytest.mark.parametrize(
    "sfen, status",
    [
        ("8k/9/9/9/9/9/9/9/K6R1 b - 1", "nomate"),  # a lone Rook checks for ever: no mate
        ("4k4/4G4/4P4/9/9/9/9/9/4K4 w - 1", "nomate"),  # White is mated already
        ("startpos", "nomate"),  # no check at all
        ("4k4/9/9/9/9/9/9/9/4K4 b RBGSNLPrbgsnlp 1", "timeout"),  # too wide for the budget
    ],
)
def test_no_mate_without_a_limit(sfen, status):
    assert solve_state(GameState.from_sfen(sfen), max_nodes=3000).status == status


def test_without_a_limit_a_mate_is_found_and_shortened():
    # Mate in three (cshogi: 3h4g first), from test_search.
    sfen = "1n5n1/l3g1s1l/2sp1g1p1/prp1p+BpNp/1p7/P3k1PPP/2N2p1G1/L4KS1R/2S3G1L b B5p 79"
    result = solve_state(GameState.from_sfen(sfen))
    assert result.status == "mate" and result.nodes > 0
    assert_mates(sfen, [usi_text(m) for m in result.line], 3)


def test_keeps_its_limits():
    state = GameState.from_sfen("4k4/9/9/9/9/9/9/9/4K4 b RBGSNLPrbgsnlp 1")
    looks = 0

    def stopped():
        nonlocal looks
        looks += 1
        return looks >= 10

    assert solve_state(state, stopped=stopped).status == "timeout" and looks == 10
    assert solve_state(state, deadline=time.monotonic()).status == "timeout"
    result = solve_state(state, max_nodes=50)
    assert result.status == "timeout" and result.nodes == 50
    with pytest.raises(ValueError):
        solve_mate(state.board, state.turn, state.hands, max_plies=-1)


@pytest.mark.parametrize(
    "words, time_ms",
    [("mate 5000", 5000), ("mate infinite", None), ("mate", None), ("mate -3", 0)],
)
def test_parse_go_mate(words, time_ms):
    limits = parse_go(words.split())
    assert limits.mate and limits.mate_time == time_ms and not limits.infinite


# ---- go mate through the installed engine ------------------------------------
MATE_IN_THREE = "1n5n1/l3g1s1l/2sp1g1p1/prp1p+BpNp/1p7/P3k1PPP/2N2p1G1/L4KS1R/2S3G1L b B5p 79"
HARD = "4k4/9/9/9/9/9/9/9/4K4 b RBGSNLPrbgsnlp 1"  # decided in no reasonable time


@pytest.fixture()
def engine():
    process = subprocess.Popen(
        [command("komaban-usi")], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
    )

    def talk(*lines, until=None):
        for line in lines:
            process.stdin.write(line + "\n")
        process.stdin.flush()
        replies = []
        while until is not None:
            reply = process.stdout.readline().strip()
            assert reply, "the engine closed its output"
            replies.append(reply)
            if reply.startswith(until):
                return replies
        return replies

    talk("usi", "isready", until="readyok")
    yield talk
    process.stdin.write("quit\n")
    process.stdin.close()
    assert process.wait(timeout=30) == 0


@needs_second_interpreter
@pytest.mark.end_to_end
@pytest.mark.parametrize(
    "sfen, plies",
    [
        (MATE_IN_THREE, 3),
        ("4k4/9/9/9/9/9/9/9/4K4 b P 1", 0),
        ("4k4/4G4/4P4/9/9/9/9/9/4K4 w - 1", 0),
    ],
)
def test_go_mate_answers_one_checkmate_line(engine, sfen, plies):
    replies = engine(f"position sfen {sfen}", "go mate 5000", "isready", until="readyok")
    assert len(replies) == 2 and replies[0].startswith("checkmate "), replies  # no bestmove
    answer = replies[0].split()[1:]
    if plies:
        assert len(answer) == plies
        assert_mates(sfen, answer, plies)
    else:
        assert answer == ["nomate"]


@needs_second_interpreter
@pytest.mark.end_to_end
def test_go_mate_infinite_answers_stop_at_once(engine):
    engine(f"position sfen {HARD}", "go mate infinite")
    time.sleep(0.5)
    start = time.monotonic()
    assert engine("stop", until="checkmate") == ["checkmate timeout"]
    assert time.monotonic() - start < 0.3
    start = time.monotonic()
    assert engine("go mate 300", until="checkmate") == ["checkmate timeout"]
    assert 0.3 <= time.monotonic() - start < 1.0
