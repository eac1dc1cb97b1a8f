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
* MateSolver: that search: checks (every check to the full depth) or dfpn (the
  proof-number solver of go mate)
* EvalWeight: the share of a leaf's static evaluation in its value, in percent
  (0: playouts alone; with PlayoutsPerLeaf 0, the evaluation alone)
* MinimaxWeight: the share of the minimax of evaluations at selection, in percent
* PriorWeight: progressive bias by what a move wins at a glance, in hundredths
* Widening: progressive widening, in hundredths (0: every move from the start)
* KingSafety: the weight of King safety in the evaluation, in percent
* ExpandAfter: iterations that score a new leaf before it grows children (default 3)
* DecisiveMoves: a move that mates at once is tried first wherever a node is expanded
* ReuseTree: each search goes on from the tree of the one before

>>> limits = parse_go("btime 0 wtime 0 byoyomi 1000".split())
>>> think_time(limits, black=True, margin=250)
0.75
"""

from __future__ import annotations

import re
from dataclasses import dataclass

from ..search.types import Settings
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
        if self.usi_type == "check":
            return f"option name {name} type check default {self.default}"
        vars_ = " ".join(f"var {c}" for c in self.choices)
        return f"option name {name} type combo default {self.default} {vars_}"

    def parse(self, value: str) -> int | str:
        if self.usi_type == "spin":
            number = int(value)
            if not self.low <= number <= self.high:
                raise ValueError(f"{number} is not within {self.low} to {self.high}")
            return number
        if self.usi_type == "check":
            choices: tuple[str, ...] = ("true", "false")
            if value not in choices:
                raise ValueError(f"{value!r} is not true or false")
            return value
        if value not in self.choices:
            raise ValueError(f"{value!r} is not one of {', '.join(self.choices)}")
        return value


# The defaults of the search's options are those of Settings.
_DEFAULT = Settings()


def _percent(value: float) -> int:
    return round(100 * value)


def _check(value: bool) -> str:
    return "true" if value else "false"


OPTIONS = {
    "Workers": Option("spin", cpu_count(), 1, 256),
    "PlayoutsPerLeaf": Option("spin", _DEFAULT.playouts_per_leaf, 0, 1024),
    "SearchKind": Option("combo", _DEFAULT.kind, choices=("tree", "flat", "random")),
    "TimeMargin": Option("spin", 250, 0, 60000),
    "MaxPlayouts": Option("spin", 0, 0, (1 << 31) - 1),
    "Exploration": Option("spin", _percent(_DEFAULT.exploration), 1, 1000),
    "MatePlies": Option("spin", _DEFAULT.mate_plies, 0, 15),
    "MateSolver": Option("combo", _DEFAULT.mate_solver, choices=("checks", "dfpn")),
    "EvalWeight": Option("spin", _percent(_DEFAULT.eval_weight), 0, 100),
    "MinimaxWeight": Option("spin", _percent(_DEFAULT.minimax_weight), 0, 100),
    "PriorWeight": Option("spin", _percent(_DEFAULT.prior_weight), 0, 1000),
    "Widening": Option("spin", _percent(_DEFAULT.widening), 0, 1000),
    "KingSafety": Option("spin", _percent(_DEFAULT.king_weight), 0, 1000),
    "ExpandAfter": Option("spin", _DEFAULT.expand_after, 1, 64),
    "DecisiveMoves": Option("check", _check(_DEFAULT.decisive)),
    "ReuseTree": Option("check", _check(_DEFAULT.reuse)),
}
# The option values of the search before the evaluation (search.PLAIN).
PLAIN_OPTIONS = {
    "EvalWeight": 0,
    "MinimaxWeight": 0,
    "PriorWeight": 0,
    "Widening": 0,
    "KingSafety": 0,
    "ExpandAfter": 1,
    "DecisiveMoves": "false",
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
    mate: bool = False  # go mate: a mate search, answered by a checkmate line
    mate_time: int | None = None  # its milliseconds; None until stop ("infinite", or none)


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
            limits.mate = True
            following = words[i + 1] if i + 1 < len(words) else ""
            if re.fullmatch(r"-?\d+", following):
                limits.mate_time = max(0, int(following))
                i += 1
            elif following == "infinite":
                i += 1
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
