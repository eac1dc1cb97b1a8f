"""Compares native benchmark binaries built from the same source, in one run.

Each round runs `BINARY --machine --quick` once for every binary, the order
reversed every other round, so that a busy machine weighs on all alike. A
figure is the median over the rounds; the ratio of a binary to the first one
is the median of the ratios measured in the same round.

Usage: python bench/compare_native.py [--rounds N] BINARY BINARY [...]
"""

import argparse
import subprocess
import sys

from compare_builds import interleaved, report  # beside this file, which runs as a script

FIGURES = {
    "generate_start_ns": "ns per move generation, start position",
    "generate_midgame_ns": "ns per move generation, 256 midgame positions",
    "game_us": "us per random game from the start position",
}


def run(binary: str) -> dict[str, float]:
    out = subprocess.run(
        [binary, "--machine", "--quick"], check=True, capture_output=True, text=True
    ).stdout
    return {key: float(value) for key, value in (line.split() for line in out.splitlines())}


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args(argv)
    if len(args.binaries) < 2:
        parser.error("give at least two binaries")
    print("native core")
    report(interleaved(args.binaries, args.rounds, run), FIGURES, args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
