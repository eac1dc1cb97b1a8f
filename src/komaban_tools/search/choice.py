"""The move to play from the root statistics of one or more searches.

>>> children = [ChildStats("7g7f", 80, 44.0), ChildStats("2g2f", 40, 30.0)]
>>> choose(children).move
'7g7f'
>>> centipawns(0.5)
0
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass

from .types import LOST, UNKNOWN, WON, ChildStats, Summary


# ---- choosing the move --------------------------------------------------------
@dataclass
class Choice:
    """The move to play and what to report about it."""

    move: str  # USI text; "resign" when there is no legal move
    win_rate: float  # for the side to move, from the move's playouts
    mate: int | None  # plies to a proven mate: > 0 the side to move mates, < 0 it is mated
    pv: list[str]
    visits: int


def merge(summaries: Sequence[Summary]) -> list[ChildStats]:
    """The root moves of several searches of one position, their statistics summed.

    A proven result is exact, so one search's proof holds for the sum; the
    line reported is that of the search that visited the move most.
    """
    merged: dict[str, ChildStats] = {}
    best_visits: dict[str, int] = {}
    for summary in summaries:
        for child in summary.children:
            m = merged.get(child.move)
            if m is None:
                m = merged[child.move] = ChildStats(child.move, 0, 0.0)
                best_visits[child.move] = -1
            m.visits += child.visits
            m.score += child.score
            if child.result != UNKNOWN and (m.result == UNKNOWN or child.plies < m.plies):
                m.result, m.plies = child.result, child.plies
            if child.pv and child.visits > best_visits[child.move]:
                m.pv, best_visits[child.move] = child.pv, child.visits
    return list(merged.values())


def choose(children: Sequence[ChildStats]) -> Choice:
    """The move to play: the fastest proven win, else the most visited move that is
    not proven lost, else the slowest proven loss."""
    if not children:
        return Choice("resign", 0.0, None, [], 0)
    wins = [c for c in children if c.result == WON]
    if wins:
        best = min(wins, key=lambda c: c.plies)
        return Choice(best.move, 1.0, best.plies, [best.move, *best.pv], best.visits)
    open_children = [c for c in children if c.result != LOST]
    if open_children:
        best = max(open_children, key=lambda c: (c.visits, c.score / max(c.visits, 1)))
        rate = best.score / best.visits if best.visits else 0.5
        return Choice(best.move, rate, None, [best.move, *best.pv], best.visits)
    best = max(children, key=lambda c: c.plies)
    return Choice(best.move, 0.0, -best.plies, [best.move, *best.pv], best.visits)


def centipawns(win_rate: float) -> int:
    """A win rate as a score in centipawns, by the logistic curve of 600 cp per unit."""
    p = min(max(win_rate, 1e-4), 1 - 1e-4)
    return round(-600 * math.log(1 / p - 1))
