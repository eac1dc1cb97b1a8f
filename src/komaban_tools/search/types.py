"""What the searches share: their settings, proven results, and what they report.

`Settings` holds every lever of the tree search, each a USI option of the
engine; `PLAIN` is the search before the static evaluation came in. A search
(`Search`: `TreeSearch`, `FlatSearch`) reports a `Summary` of `ChildStats`, one
per root move, which `choice.merge` and `choice.choose` read.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Protocol

from komaban import Move

# Results of a position for its side to move, once proven.
UNKNOWN, WON, LOST = 0, 1, -1
# Centipawns to a win probability: p = 1 / (1 + exp(-cp / EVAL_SCALE)).
EVAL_SCALE = 600.0
# Centipawns to a prior in (0, 1) for progressive bias, likewise.
GAIN_SCALE = 300.0


def win_probability(cp: float, scale: float = EVAL_SCALE) -> float:
    """The logistic win probability of a score in centipawns."""
    return 1.0 / (1.0 + math.exp(max(-50.0, min(50.0, -cp / scale))))


def prior(gain: int) -> float:
    """A move's gain in centipawns as a prior in (0, 1): a cheap sigmoid, 1/2 at 0."""
    return 0.5 + gain / (2.0 * (abs(gain) + GAIN_SCALE))


@dataclass
class Settings:
    """What a search does; every field has a USI option of the engine (komaban_tools.usi).

    The defaults are those that won their matches; `PLAIN` is the search before
    the evaluation came in: UCT on playouts alone.
    """

    kind: str = "tree"  # "tree" or "flat"
    playouts_per_leaf: int = 8
    # The UCB1 constant on win rates in [0, 1]; visits count playouts.
    exploration: float = 1.0
    # Plies of the mate search run at the root before the playouts (0: none).
    mate_plies: int = 3
    # That search: "checks" tries every check to the full depth, "dfpn" is the
    # proof-number solver (search.dfpn), which reaches deeper in the same time.
    mate_solver: str = "checks"
    # The share of a leaf's static evaluation in its value (0: playouts alone).
    eval_weight: float = 0.7
    # The share of the minimax of evaluations in a child's value at selection.
    minimax_weight: float = 0.3
    # Progressive bias: the weight of a move's prior, which fades as 1 / (1 + visits).
    prior_weight: float = 1.0
    # Progressive widening: a node considers its best 1 + widening * sqrt(n) moves
    # after n iterations through it; 0 considers all of them from the start.
    widening: float = 2.0
    # The weight of King safety in the evaluation (rules.evaluation.king_danger).
    king_weight: float = 1.0
    # Iterations that score a new leaf (its playouts and evaluation) before it grows
    # children of its own: fewer expansions, each a legal-move list and its order.
    expand_after: int = 3
    # Moves that mate at once are tried first.
    decisive: bool = True
    # Each search goes on from the tree of the one before, where the game went on.
    reuse: bool = False


# The search before the evaluation: UCT on playouts alone, every move tried once
# before any is tried twice, in random order.
PLAIN = Settings(
    eval_weight=0.0,
    minimax_weight=0.0,
    prior_weight=0.0,
    widening=0.0,
    king_weight=0.0,
    expand_after=1,
    decisive=False,
)


@dataclass
class ChildStats:
    """One root move as a search reports it: visits, score and proven result."""

    move: str  # USI text
    visits: int  # playouts (or iterations, without playouts) through this move
    score: float  # total score for the side to move at the root
    result: int = UNKNOWN  # WON/LOST for the side to move at the root, once proven
    plies: int = 0  # plies to the end of a proven line, this move included
    pv: list[str] = field(default_factory=list)  # the line after this move


@dataclass
class Summary:
    """What a search reports: root moves, playouts, depth."""

    children: list[ChildStats]
    playouts: int
    depth: int  # the longest line of the tree
    solved: bool = False  # the root's result is proven


class Search(Protocol):
    playouts: int
    settings: Settings

    def prove_mate(self, line: list[Move]) -> None: ...

    def step(self) -> None: ...

    def summary(self, pv_moves: int = 3) -> Summary: ...

    @property
    def solved(self) -> bool: ...
