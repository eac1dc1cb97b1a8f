"""Benchmarks the df-pn mate solver on the positions of tests/data/mates.txt.

For each mate length (1, 3, 5, 7 and 9 plies) the solver runs on every
position of that length with the length as its ply limit (as cshogi's
`mate_move(plies)` is asked), and on the positions with no mate within 9
plies with a limit of 9; prints per length the median and the largest wall
time, the median of positions generated, and positions per second over the
whole class. A round takes a few minutes; each position's time is its median
over the rounds.

Usage:
    python bench/mate_bench.py [--rounds 1] [--every 1] [--max-nodes 400000]
"""

from __future__ import annotations

import argparse
import statistics
import time
from pathlib import Path

from komaban_tools.rules import GameState
from komaban_tools.search import solve_state

FIXTURE = Path(__file__).resolve().parent.parent / "tests" / "data" / "mates.txt"
CLASSES = ("1", "3", "5", "7", "9", "none")


def load(every: int) -> dict[str, list[str]]:
    """The SFEN lines of the fixture by class, every `every`-th of each."""
    positions: dict[str, list[str]] = {kind: [] for kind in CLASSES}
    for line in FIXTURE.read_text().splitlines():
        if line and not line.startswith("#"):
            kind, _, sfen = line.split(maxsplit=2)
            positions[kind].append(sfen)
    return {kind: sfens[::every] for kind, sfens in positions.items()}


def run(sfen: str, plies: int, max_nodes: int) -> tuple[float, int, str]:
    """Seconds, positions generated and the status of one solve."""
    state = GameState.from_sfen(sfen)
    start = time.perf_counter()
    result = solve_state(state, max_plies=plies, max_nodes=max_nodes)
    return time.perf_counter() - start, result.nodes, result.status


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=1)
    parser.add_argument("--every", type=int, default=1, help="take every n-th position")
    parser.add_argument("--max-nodes", type=int, default=400_000)
    args = parser.parse_args()
    print(
        f"{'mate':>6} {'positions':>9} {'median':>9} {'max':>8} {'nodes':>8} {'nodes/s':>8}  status"
    )
    for kind, sfens in load(args.every).items():
        plies = 9 if kind == "none" else int(kind)
        times, nodes, statuses = [], [], []
        for sfen in sfens:
            rounds = [run(sfen, plies, args.max_nodes) for _ in range(args.rounds)]
            times.append(statistics.median(r[0] for r in rounds))
            nodes.append(rounds[0][1])
            statuses.append(rounds[0][2])
        counts = ", ".join(f"{s} {statuses.count(s)}" for s in sorted(set(statuses)))
        print(
            f"{kind:>6} {len(sfens):>9} {statistics.median(times) * 1000:>7.1f}ms "
            f"{max(times):>7.2f}s {statistics.median(nodes):>8.0f} "
            f"{sum(nodes) / sum(times):>8.0f}  {counts}"
        )


if __name__ == "__main__":
    main()
