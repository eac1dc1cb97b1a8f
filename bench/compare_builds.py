"""Compares komaban's speed between builds installed in different environments.

Each round runs one short measurement in every environment in turn, the order
reversed every other round, so that a busy machine weighs on all alike; time is
the thread's CPU time, so waiting for a core does not count. A
figure is the median over the rounds; the ratio of a build to the first one is
the median of the ratios measured in the same round.

Usage: python bench/compare_builds.py [--rounds N] PYTHON_A PYTHON_B [...]
       (each PYTHON an interpreter whose environment has komaban installed)
"""

import argparse
import json
import statistics
import subprocess
import sys
import time
from collections.abc import Callable

FIGURES = {
    "search_moves": "ns per call, start and midgame positions",
    "random_play": "ns per ply of Game().random_play()",
    "Board(text)": "ns per call",
    "str(board)": "ns per call",
}


def best_of(repeats: int, ops: int, body: Callable[[], None]) -> float:
    """The median over a few repeats, in nanoseconds per operation."""
    samples: list[float] = []
    for _ in range(repeats):
        start = time.thread_time_ns()
        body()
        samples.append((time.thread_time_ns() - start) / ops)
    return statistics.median(samples)


def measure() -> dict[str, float]:
    from python_bench import midgame_boards  # beside this file, which runs as a script

    from komaban import Board, ColorType, Game
    from komaban_tools.notation import board_text

    positions = [(Board(), ColorType.Black), *midgame_boards(6)]
    texts = [board_text(board) for board, _ in positions]
    boards = [board for board, _ in positions]
    figures: dict[str, float] = {}

    def search(calls: int = 5000) -> None:
        for board, turn in positions:
            search_moves = board.search_moves
            for _ in range(calls):
                search_moves(turn)

    figures["search_moves"] = best_of(3, 5000 * len(positions), search)

    plies: list[int] = []

    def play(games: int = 1000) -> None:
        plies.append(sum(Game().random_play().move_number - 1 for _ in range(games)))

    start = time.thread_time_ns()
    for _ in range(3):
        play()
    figures["random_play"] = (time.thread_time_ns() - start) / sum(plies)

    def read(calls: int = 5000) -> None:
        for text in texts:
            for _ in range(calls):
                Board(text)

    figures["Board(text)"] = best_of(3, 5000 * len(texts), read)

    def write(calls: int = 5000) -> None:
        for board in boards:
            for _ in range(calls):
                str(board)

    figures["str(board)"] = best_of(3, 5000 * len(boards), write)
    return figures


def run_worker(python: str) -> dict[str, float]:
    out = subprocess.run(
        [python, __file__, "--worker"], check=True, capture_output=True, text=True
    ).stdout
    figures: dict[str, float] = json.loads(out)
    return figures


def interleaved(
    contenders: list[str], rounds: int, run: Callable[[str], dict[str, float]]
) -> dict[str, list[dict[str, float]]]:
    """Runs every contender once per round, the order reversed every other round."""
    runs: dict[str, list[dict[str, float]]] = {contender: [] for contender in contenders}
    for round_number in range(rounds):
        order = contenders if round_number % 2 == 0 else contenders[::-1]
        for contender in order:
            runs[contender].append(run(contender))
    return runs


def report(runs: dict[str, list[dict[str, float]]], figures: dict[str, str], rounds: int) -> None:
    """Medians over the rounds, and ratios to the first contender paired by round."""
    first = next(iter(runs))
    print(f"median of {rounds} interleaved rounds; ratio to {first}, paired by round")
    for name, unit in figures.items():
        print(f"{name} ({unit})")
        for contender, values in runs.items():
            ratio = statistics.median(
                r[name] / base[name] for r, base in zip(values, runs[first], strict=True)
            )
            print(
                f"  {statistics.median(r[name] for r in values):10.2f}  x{ratio:.3f}  {contender}"
            )


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("pythons", nargs="*")
    args = parser.parse_args(argv)
    if args.worker:
        print(json.dumps(measure()))
        return 0
    if len(args.pythons) < 2:
        parser.error("give at least two interpreters")

    runs = interleaved(args.pythons, args.rounds, run_worker)
    report(runs, FIGURES, args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
