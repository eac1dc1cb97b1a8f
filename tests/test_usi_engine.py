"""The installed `komaban-usi` driven by cshogi's USI client and match runner."""

import re
import subprocess
import sys
import time
from pathlib import Path

import pytest
from helpers import command, needs_second_interpreter

from komaban_tools.usi import Limits, parse_go, think_time

cshogi = pytest.importorskip("cshogi", reason="cshogi drives the engine")
from cshogi import CSA  # noqa: E402
from cshogi.usi import Engine  # noqa: E402

pytestmark = needs_second_interpreter
end_to_end = pytest.mark.end_to_end
MATE_IN_ONE = "4k4/9/4G4/9/9/9/9/9/4K4 b G 1"  # G*5b


ENGINE = command("komaban-usi")  # the console script, as a GUI registers it
MATCH = Path(__file__).resolve().parent.parent / "tools" / "usi_match.py"


@pytest.fixture()
def engine():
    engine = Engine(ENGINE)
    engine.setoption("USI_Hash", 256)  # GUIs send it to every engine
    engine.setoption("Workers", 1)
    engine.isready()
    yield engine
    if engine.proc is not None:
        engine.quit()


def send(engine, line):
    engine.proc.stdin.write(line.encode() + b"\n")
    engine.proc.stdin.flush()


def read_until(engine, prefix):
    lines = []
    while True:
        line = engine.proc.stdout.readline().decode().strip()
        assert line, "the engine closed its output"
        lines.append(line)
        if line.startswith(prefix):
            return lines


def legal_usi(sfen, moves):
    board = cshogi.Board(sfen) if sfen != "startpos" else cshogi.Board()
    for move in moves:
        board.push_usi(move)
    return board


@end_to_end
def test_handshake_declares_the_options():
    engine = Engine(ENGINE)
    assert engine.name == "komaban MCTS"
    lines = engine.usi()
    names = {m[1] for line in lines if (m := re.match(r"option name (\S+) type", line))}
    assert {"Workers", "PlayoutsPerLeaf", "SearchKind", "TimeMargin", "MaxPlayouts"} <= names
    engine.quit()


@end_to_end
def test_plays_legal_moves_from_moves_and_from_sfen(engine):
    game = ["7g7f", "3c3d", "8h2b+", "3a2b"]
    for sfen, moves in [("startpos", game), ("sfen " + legal_usi("startpos", game).sfen(), [])]:
        info = []
        engine.position(moves, sfen=sfen)
        best, _ = engine.go(btime=0, wtime=0, byoyomi=600, listener=info.append)
        board = legal_usi("startpos", game)
        assert board.is_legal(board.move_from_usi(best)), best
        last = [line for line in info if line.startswith("info depth")][-1]
        assert re.fullmatch(
            r"info depth \d+ seldepth \d+ time \d+ nodes \d+ nps \d+ score cp -?\d+ pv( \S+)+",
            last,
        )
        assert last.split(" pv ")[1].split()[0] == best


@end_to_end
def test_finds_mate_in_one_and_reports_it(engine):
    engine.position(sfen="sfen " + MATE_IN_ONE)
    info = []
    best, _ = engine.go(btime=0, wtime=0, byoyomi=500, listener=info.append)
    assert best == "G*5b"
    assert any(" score mate 1 " in line for line in info)


@end_to_end
def test_the_proof_number_solver_finds_a_mate_in_seven_at_the_root(engine):
    sfen = "2G1n4/3+B2n2/+P5ks+R/1p7/7p1/2p5P/1P1K5/3SgS2L/6S2 b RB2G3L2P2n10p 247"
    engine.setoption("MateSolver", "dfpn")
    engine.setoption("MatePlies", 7)
    engine.position(sfen="sfen " + sfen)
    info = []
    best, _ = engine.go(btime=0, wtime=0, byoyomi=1500, listener=info.append)
    board = legal_usi(sfen, [])
    assert board.is_legal(board.move_from_usi(best)), best
    assert any(" score mate 7 " in line for line in info), info[-1:]


@end_to_end
def test_infinite_search_answers_stop(engine):
    engine.position(["2g2f"])
    send(engine, "go infinite")
    time.sleep(0.5)
    start = time.monotonic()
    engine.stop()
    lines = read_until(engine, "bestmove")
    elapsed = time.monotonic() - start
    best = lines[-1].split()[1]
    board = legal_usi("startpos", ["2g2f"])
    assert board.is_legal(board.move_from_usi(best))
    assert elapsed < 1.0  # a hang shows here; the latency itself is measured in bench/
    # A stop before any playout is answered too, and the engine goes on working.
    send(engine, "go infinite")
    engine.stop()
    assert read_until(engine, "bestmove")[-1] != "bestmove resign"


@end_to_end
def test_bad_input_is_reported_and_the_engine_goes_on(engine):
    for line, message in [
        ("hello there", "unknown command"),
        ("position startpos moves 7g7f 7g7f", "move 2: illegal move"),
        ("position startpos moves 7g7x", "malformed move"),
        ("position sfen lnsgkgsnl/9 b - 1", "error in position"),
        ("setoption name Workers value many", "error in setoption"),
        ("go wtime", "needs a number"),
    ]:
        send(engine, line)
        send(engine, "isready")
        replies = read_until(engine, "readyok")
        assert any(r.startswith("info string") and message in r for r in replies), replies
    send(engine, "go byoyomi 100")  # the last position was refused
    assert read_until(engine, "bestmove")[-1] == "bestmove resign"
    engine.position(["7g7f"])
    best, _ = engine.go(byoyomi=400)
    board = legal_usi("startpos", ["7g7f"])
    assert board.is_legal(board.move_from_usi(best))


@end_to_end
def test_resigns_without_a_legal_move_and_plays_a_new_game(engine):
    # White's King on 5a is mated by a Gold on 5b that a Pawn protects.
    engine.position(sfen="sfen 4k4/4G4/4P4/9/9/9/9/9/4K4 w - 1")
    best, _ = engine.go(byoyomi=200)
    assert best == "resign"
    engine.gameover("lose")
    engine.usinewgame()
    engine.position([])
    best, _ = engine.go(byoyomi=300)
    assert cshogi.Board().is_legal(cshogi.Board().move_from_usi(best))


@end_to_end
def test_quit_ends_the_process():
    engine = Engine(ENGINE)
    engine.isready()  # starts the worker processes
    process = engine.proc
    engine.quit()
    assert process.returncode == 0


@pytest.mark.parametrize(
    "words, black, expected",
    [
        ("btime 0 wtime 0 byoyomi 1000", True, 0.75),  # the byoyomi less the margin
        ("btime 50000 wtime 1000 byoyomi 0", False, 0.04),  # a 25th of White's 1 s
        ("btime 50000 wtime 1000 byoyomi 0", True, 2.0),  # a 25th of Black's 50 s
        ("btime 100 wtime 100 binc 100 winc 100", True, 0.0),  # less than the margin left
        ("movetime 2000", True, 1.75),
        ("infinite", True, None),
        ("ponder btime 1000 wtime 1000", True, None),
    ],
)
def test_think_time_keeps_the_margin(words, black, expected):
    assert think_time(parse_go(words.split()), black, margin=250) == pytest.approx(expected)


def test_think_time_never_exceeds_the_clock():
    for left in (0, 10, 300, 5_000, 600_000):
        for byoyomi in (0, 100, 1_000, 10_000):
            for increment in (0, 500):
                limits = Limits(btime=left, wtime=left, binc=increment, byoyomi=byoyomi)
                seconds = think_time(limits, True, margin=250)
                assert seconds is not None
                assert seconds * 1000 <= max(0, left + byoyomi + increment - 250)


@end_to_end
def test_short_match_against_the_random_mover(tmp_path):
    """A cshogi.cli match of two fast games against the random mover (SearchKind random)."""
    result = subprocess.run(
        [
            sys.executable,
            str(MATCH),
            "komaban",
            "random",
            "--games",
            "2",
            "--options1",
            "Workers:1,MaxPlayouts:600,MatePlies:1",
            "--time",
            "30000",
            "--inc",
            "200",
            "--draw",
            "100",
            "--game-timeout",
            "120",
            "--out",
            str(tmp_path),
        ],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr
    out = result.stdout
    assert "komaban against random: 2 games" in out
    for fault in ("illegal moves", "time losses", "crashes"):
        assert re.search(rf"{fault}: komaban 0, random 0$", out, flags=re.M), out
    endings = re.search(r"endings: (.*)", out)[1]
    assert re.fullmatch(r"((mate or resignation|repetition|move limit) \d+(, )?)+", endings)
    records = sorted(tmp_path.glob("game-*.csa"))
    assert len(records) == 2
    for record in records:
        game = CSA.Parser.parse_file(str(record))[0]
        board = cshogi.Board(game.sfen)
        for move in game.moves:  # every move of the record is legal
            assert board.is_legal(move)
            board.push(move)
