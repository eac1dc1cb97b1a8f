"""The engine's options and the parameters of `go`: how long to think.

Options (setoption name N value V):

* Workers: worker processes searching the root in parallel (default: the cores)
* PlayoutsPerLeaf: random games that score each new leaf (default 8)
* SearchKind: tree (UCT), flat (flat Monte Carlo) or random (uniformly random
  legal moves, at once)
* TimeMargin: milliseconds kept in hand for the GUI's latency (default 250)
* MaxPlayouts: playouts per move at most, 0 for no limit (default 0)
* Exploration: the UCB1 constant in hundredths (default 100)
* MatePlies: depth of the mate search run before the playouts, 0 for none (default 3)

>>> limits = parse_go("btime 0 wtime 0 byoyomi 1000".split())
>>> think_time(limits, black=True, margin=250)
0.75
"""

from __future__ import annotations

import re
from dataclasses import dataclass

from ..workers import cpu_count

DEFAULT_THINK_MS = 1000  # for a bare "go"


@dataclass
class Option:
    """A USI option: its type line and how a value is read."""

    usi_type: str
    default: int | str
    low: int = 0
    high: int = 0
    choices: tuple[str, ...] = ()

    def declaration(self, name: str) -> str:
        if self.usi_type == "spin":
            return (
                f"option name {name} type spin default {self.default} "
                f"min {self.low} max {self.high}"
            )
        vars_ = " ".join(f"var {c}" for c in self.choices)
        return f"option name {name} type combo default {self.default} {vars_}"

    def parse(self, value: str) -> int | str:
        if self.usi_type == "spin":
            number = int(value)
            if not self.low <= number <= self.high:
                raise ValueError(f"{number} is not within {self.low} to {self.high}")
            return number
        if value not in self.choices:
            raise ValueError(f"{value!r} is not one of {', '.join(self.choices)}")
        return value


OPTIONS = {
    "Workers": Option("spin", cpu_count(), 1, 256),
    "PlayoutsPerLeaf": Option("spin", 8, 1, 1024),
    "SearchKind": Option("combo", "tree", choices=("tree", "flat", "random")),
    "TimeMargin": Option("spin", 250, 0, 60000),
    "MaxPlayouts": Option("spin", 0, 0, (1 << 31) - 1),
    "Exploration": Option("spin", 100, 1, 1000),
    "MatePlies": Option("spin", 3, 0, 7),
}


@dataclass
class Limits:
    """The parameters of a `go` command (times in milliseconds)."""

    btime: int | None = None
    wtime: int | None = None
    binc: int = 0
    winc: int = 0
    byoyomi: int = 0
    movetime: int | None = None
    nodes: int | None = None
    infinite: bool = False
    ponder: bool = False


GO_NUMBERS = ("btime", "wtime", "binc", "winc", "byoyomi", "movetime", "nodes")


def parse_go(words: list[str]) -> Limits:
    """Reads the words after "go"; ValueError for a malformed command."""
    limits = Limits()
    i = 0
    while i < len(words):
        word = words[i]
        if word in GO_NUMBERS:
            if i + 1 >= len(words) or not re.fullmatch(r"-?\d+", words[i + 1]):
                raise ValueError(f"go {word} needs a number")
            setattr(limits, word, max(0, int(words[i + 1])))
            i += 2
            continue
        if word == "infinite":
            limits.infinite = True
        elif word == "ponder":
            limits.ponder = True
        elif word == "mate":
            raise ValueError("go mate is not supported")
        else:
            raise ValueError(f"unknown go parameter {word!r}")
        i += 1
    return limits


def think_time(limits: Limits, black: bool, margin: int) -> float | None:
    """Seconds to search for, or None to search until stopped (or a playout limit).

    Never more than the time left plus the byoyomi, less the margin: the main
    time is spread over about 25 more moves, and the increment and byoyomi
    are used in full.
    """
    if limits.infinite or limits.ponder:
        return None
    if limits.movetime is not None:
        return max(limits.movetime - margin, limits.movetime // 2) / 1000
    left = limits.btime if black else limits.wtime
    if left is None and not limits.byoyomi:
        return None if limits.nodes is not None else DEFAULT_THINK_MS / 1000
    left = left or 0
    increment = limits.binc if black else limits.winc
    available = left + limits.byoyomi + increment
    target = left / 25 + increment + limits.byoyomi
    return max(0.0, min(target, available - margin)) / 1000
