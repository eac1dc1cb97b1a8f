"""Benchmarks komaban through Python beside the native core.

Move generation: nanoseconds per search_moves call on positions with few to
many moves, split by a least-squares fit over typical positions into a fixed
cost per call and a cost per returned Move (native generation included).
Board text: nanoseconds per str(board) and per Board(text) on the start
position. Random play: games per second of Game().random_play() against the
native loop (bench/native_bench.cpp), as a ratio measured in the same run.
Every figure is the median of several runs.

Usage: python bench/python_bench.py [path to komaban_bench]
"""

import random
import statistics
import subprocess
import sys
import time
from collections.abc import Callable
from pathlib import Path

from komaban import Board, ColorType, Game

RUNS = 7
DEFAULT_NATIVE = Path(__file__).resolve().parent.parent / "build/bench/komaban_bench"


def median_ns(ops: int, body: Callable[[], object]) -> float:
    samples = []
    for _ in range(RUNS):
        start = time.perf_counter_ns()
        body()
        samples.append((time.perf_counter_ns() - start) / ops)
    return statistics.median(samples)


def midgame_boards(count: int, seed: int = 7) -> list[tuple[Board, ColorType]]:
    """Positions 20 to 80 plies into seeded random games, with the side to move."""
    rng = random.Random(seed)
    boards: list[tuple[Board, ColorType]] = []
    while len(boards) < count:
        board, turn = Board(), ColorType.Black
        for _ in range(rng.randrange(20, 80)):
            moves = board.search_moves(turn)
            if not moves or board.is_finished()[0]:
                break
            board.execute_move(rng.choice(moves))
            turn = ColorType.White if turn == ColorType.Black else ColorType.Black
        if not board.is_finished()[0]:
            boards.append((board, turn))
    return boards


def generation_cost() -> tuple[list[tuple[int, float]], float, float]:
    positions = [(Board("4k4/9/9/9/9/9/9/9/4K4"), ColorType.Black), (Board(), ColorType.Black)]
    positions += midgame_boards(6)
    positions += [(Board("4k4/9/9/9/9/9/9/9/4K4 RBGSNLP"), ColorType.Black)]
    points = []
    for board, turn in positions:
        n = len(board.search_moves(turn))
        calls = max(2000, 400_000 // max(n, 1))
        search = board.search_moves

        def body(
            search: Callable[[ColorType], object] = search,
            turn: ColorType = turn,
            calls: int = calls,
        ) -> None:
            for _ in range(calls):
                search(turn)

        points.append((n, median_ns(calls, body)))
    # Fit over typical positions; very long lists cost less per move.
    typical = [(n, ns) for n, ns in points if n <= 100]
    slope, intercept = statistics.linear_regression(*zip(*typical, strict=True))
    return points, intercept, slope


def board_text_cost(calls: int = 100_000) -> tuple[float, float]:
    board, text = Board(), str(Board())[len("Board(sfen=") : -1]

    def write() -> None:
        for _ in range(calls):
            str(board)

    def read() -> None:
        for _ in range(calls):
            Board(text)

    return median_ns(calls, write), median_ns(calls, read)


def python_random_play(games: int = 5000) -> tuple[float, float]:
    plies: list[int] = []

    def body() -> None:
        plies.clear()
        for _ in range(games):
            plies.append(Game().random_play().move_number - 1)

    ns = median_ns(games, body)
    return 1e9 / ns, statistics.mean(plies)


def native_figures(binary: Path) -> dict[str, float]:
    output = subprocess.run([str(binary), "--machine"], check=True, capture_output=True, text=True)
    return {
        key: float(value) for key, value in (line.split() for line in output.stdout.splitlines())
    }


def main(argv: list[str]) -> int:
    native_binary = Path(argv[1]) if len(argv) > 1 else DEFAULT_NATIVE
    native = native_figures(native_binary) if native_binary.exists() else None

    points, fixed, per_move = generation_cost()
    print(f"search_moves through Python (median of {RUNS} runs)")
    for n, ns in points:
        print(f"  {n:5d} moves  {ns:10.1f} ns per call")
    print(f"  fit up to 100 moves: {fixed:.1f} ns per call + {per_move:.1f} ns per returned Move")
    n, ns = points[-1]
    print(f"  at {n} moves: {ns / n:.1f} ns per returned Move, all costs included")

    write_ns, read_ns = board_text_cost()
    print("board text, start position")
    print(f"  {'str(board)':24s} {write_ns:10.1f} ns")
    print(f"  {'Board(text)':24s} {read_ns:10.1f} ns")

    python_rate, python_plies = python_random_play()
    print("random games from the start position")
    print(f"  {'Game().random_play()':24s} {python_rate:10,.0f} games/s  {python_plies:6.1f} plies")
    if native:
        native_rate = native["games_per_second"]
        plies = native["mean_plies"]
        print(f"  {'native core':24s} {native_rate:10,.0f} games/s  {plies:6.1f} plies")
        print(f"  ratio Python / native: {python_rate / native_rate:.3f}")
    else:
        print(f"  (native benchmark not found at {native_binary}; run `make bench`)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
