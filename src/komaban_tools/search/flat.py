"""Flat Monte Carlo: the playouts spread evenly over the root's moves, no tree below.

It shares the tree search's interface and statistics, for comparison.
"""

from __future__ import annotations

import random

from ..rules import GameState
from .tree import TreeSearch
from .types import UNKNOWN, WON, Search, Settings


class FlatSearch(TreeSearch):
    """Flat Monte Carlo: playouts spread evenly over the root's moves, no tree below."""

    def step(self) -> None:
        root = self.root
        if root.result != UNKNOWN:
            return
        assert root.moves is not None
        if len(root.children) < len(root.moves):
            child = self._new_child(root, root.moves[len(root.children)], [root])
            root.children.append(child)
        else:
            open_children = [c for c in root.children if c.result == UNKNOWN]
            if not open_children:
                self._resolve([root])
                return
            child = min(open_children, key=lambda c: c.visits)
        score = self._leaf_score(child)
        self.depth = 1
        child.visits += self.unit
        child.score += score
        root.visits += self.unit
        root.score += self.unit - score
        if child.result != UNKNOWN:
            self._resolve([root])
        elif len(root.children) == len(root.moves) and all(c.result == WON for c in root.children):
            self._resolve([root])


def make_search(state: GameState, settings: Settings, rng: random.Random | None = None) -> Search:
    if settings.kind == "flat":
        return FlatSearch(state, settings, rng)
    return TreeSearch(state, settings, rng)
