"""UCT on native random playouts, with proven results propagated (MCTS-Solver).

`TreeSearch` is Monte Carlo tree search with the UCB1 rule over the standard
rules' legal moves. Each new leaf is scored by `playouts_per_leaf` random
games played natively by `Game.random_play()` from its position, under
komaban's own rules: the side whose King is taken loses, and a game that
reaches move 500 counts 1/2. Checkmate and repetition end a line in the tree;
proven wins and losses are propagated, which gives mate scores. `step()` runs
one iteration, `summary()` reports the root.
"""

from __future__ import annotations

import math
import random
from dataclasses import dataclass, field
from typing import Protocol

from komaban import Board, ColorType, Game, Move

from ..notation import board_text, usi_text
from ..rules import COLORS, GameState, Outcome, analyse, copy_board, is_check, repetition_outcome
from ..rules.board import BLACK, PAWN, PROMOTION

# Results of a position for its side to move, once proven.
UNKNOWN, WON, LOST = 0, 1, -1


@dataclass
class Settings:
    """What a search does; every field has a USI option of the engine (komaban_tools.usi)."""

    kind: str = "tree"  # "tree" or "flat"
    playouts_per_leaf: int = 8
    # The UCB1 constant on win rates in [0, 1]; visits count playouts.
    exploration: float = 1.0
    # Plies of the mate search run at the root before the playouts (0: none).
    mate_plies: int = 3


@dataclass
class ChildStats:
    """One root move as a search reports it: playouts, score and proven result."""

    move: str  # USI text
    visits: int  # playouts (and terminal visits) through this move
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


class Node:
    """A position of the tree. `score` is the total for the side that moved into it."""

    __slots__ = (
        "board",
        "turn",
        "hands",
        "key",
        "in_check",
        "move",
        "moves",
        "children",
        "visits",
        "score",
        "result",
        "plies",
        "terminal",
    )

    def __init__(
        self,
        board: Board,
        turn: int,
        hands: tuple[tuple[int, ...], tuple[int, ...]],
        key: str,
        in_check: bool,
        move: Move | None,
    ) -> None:
        self.board = board
        self.turn = turn
        self.hands = hands
        self.key = key
        self.in_check = in_check
        self.move = move
        self.moves: list[Move] | None = None  # legal moves, found on the first expansion
        self.children: list[Node] = []
        self.visits = 0
        self.score = 0.0
        self.result = UNKNOWN  # for the side to move here
        self.plies = 0
        self.terminal: float | None = None  # the exact score of a finished position


def position_key(board: Board, turn: int, hands: tuple[tuple[int, ...], ...]) -> str:
    """The same repetition key as GameState.key: board text, side to move, hands."""
    counts = ",".join(map(str, hands[0][1:] + hands[1][1:]))
    return f"{board_text(board)} {turn} {counts}"


def _child_hands(
    node: Node, move: Move, hands: tuple[tuple[int, ...], tuple[int, ...]]
) -> tuple[tuple[int, ...], tuple[int, ...]]:
    """The hands after `move` in node's position."""
    us = node.turn
    if move.is_drop():
        kind = int(move.get_piece().piece_type)
    else:
        taken = node.board.get_piece(move.get_to())
        if taken.owner != COLORS[1 - us]:
            return hands
        kind = int(taken.piece_type)
        kind = kind - PROMOTION if kind > PAWN else kind
    hand = list(hands[us])
    hand[kind] += -1 if move.is_drop() else 1
    return (tuple(hand), hands[1]) if us == BLACK else (hands[0], tuple(hand))


class Search(Protocol):
    playouts: int
    settings: Settings

    def prove_mate(self, line: list[Move]) -> None: ...

    def step(self) -> None: ...

    def summary(self, pv_moves: int = 3) -> Summary: ...

    @property
    def solved(self) -> bool: ...


class TreeSearch:
    """UCT with leaves scored by native random playouts, and proven results propagated."""

    def __init__(self, state: GameState, settings: Settings, rng: random.Random | None = None):
        self.settings = settings
        self.rng = rng or random.Random()
        self.k = settings.playouts_per_leaf
        hands = (tuple(state.hands[0]), tuple(state.hands[1]))
        self.root = Node(
            copy_board(state.board), state.turn, hands, state.key(), state.in_check(), None
        )
        # Positions of the game so far: a position met again in the tree ends
        # its line as a repetition.
        self.history_keys = list(state.keys[:-1])
        self.history_checks = list(state.checks[:-1])
        self.seen = set(self.history_keys)
        self.playouts = 0  # random games played, plus k for every visit to a finished position
        self.depth = 0
        self.mate_line: list[str] = []
        self._expand_moves(self.root)
        if self.root.terminal is None and not self.root.moves:
            self.root.result, self.root.terminal = LOST, 1.0

    @property
    def solved(self) -> bool:
        return self.root.result != UNKNOWN

    def prove_mate(self, line: list[Move]) -> None:
        """Records a forced mate found for the root: its first move wins."""
        root = self.root
        assert root.moves is not None
        first = line[0]
        if first not in root.moves[len(root.children) :]:
            child = next(c for c in root.children if c.move == first)
        else:
            i = root.moves.index(first, len(root.children))
            n = len(root.children)
            root.moves[n], root.moves[i] = root.moves[i], root.moves[n]
            child = self._new_child(root, first, [root])
            root.children.append(child)
        child.result, child.plies = LOST, len(line) - 1
        self.mate_line = [usi_text(m) for m in line[1:]]
        self._resolve([root])

    def _expand_moves(self, node: Node) -> None:
        moves, _ = analyse(node.board, COLORS[node.turn])
        self.rng.shuffle(moves)  # expansion order: no bias towards komaban's order
        node.moves = moves

    def _playouts(self, node: Node) -> float:
        """Total score of k random games from node, for the side that moved into it."""
        board, color = node.board, COLORS[node.turn]
        mover = COLORS[1 - node.turn]
        none = ColorType(255)
        total = 0.0
        for _ in range(self.k):
            winner = Game(board, 1, color).random_play().winner
            if winner == mover:
                total += 1.0
            elif winner == none:
                total += 0.5
        self.playouts += self.k
        return total

    def _new_child(self, node: Node, move: Move, path: list[Node]) -> Node:
        board = copy_board(node.board)
        hands = _child_hands(node, move, node.hands)
        board.execute_move(move)
        turn = 1 - node.turn
        key = position_key(board, turn, hands)
        in_check = is_check(board, COLORS[turn])
        child = Node(board, turn, hands, key, in_check, move)
        if in_check:  # the only positions that can be checkmate
            self._expand_moves(child)
            if not child.moves:
                child.result, child.terminal = LOST, 1.0
                return child
        if key in self.seen or any(p.key == key for p in path):
            self._repetition(child, path)
        return child

    def _repetition(self, child: Node, path: list[Node]) -> None:
        """Ends child's line: it repeats a position of the game or of its path.

        A draw, unless one side gave check with every move since the earlier
        occurrence: that side loses.
        """
        keys = self.history_keys + [p.key for p in path] + [child.key]
        checks = self.history_checks + [p.in_check for p in path] + [child.in_check]
        outcome = repetition_outcome(keys, checks, occurrences=2)
        if outcome is Outcome.PERPETUAL_CHECK_WIN:
            child.result, child.terminal = WON, 0.0
        elif outcome is Outcome.PERPETUAL_CHECK_LOSS:
            child.result, child.terminal = LOST, 1.0
        else:
            child.terminal = 0.5

    def _select(self, node: Node) -> Node | None:
        """The child with the best UCB1 bound, passing over children proven won for
        their side to move; None when every child is."""
        c = self.settings.exploration * math.sqrt(math.log(node.visits))
        sqrt = math.sqrt
        best, best_bound = None, -1.0
        for child in node.children:
            if child.result == WON:
                continue
            bound = child.score / child.visits + c / sqrt(child.visits)
            if bound > best_bound:
                best, best_bound = child, bound
        return best

    def step(self) -> None:
        """One iteration: select a path, add a leaf, score it, back the score up."""
        node = self.root
        if node.result != UNKNOWN:
            return
        path = [node]
        while True:
            moves = node.moves
            if moves is None:
                self._expand_moves(node)
                moves = node.moves
                assert moves is not None
                if not moves:  # no legal move, without check: lost all the same
                    node.result, node.terminal = LOST, 1.0
                    break
            if len(node.children) < len(moves):
                child = self._new_child(node, moves[len(node.children)], path)
                node.children.append(child)
                path.append(child)
                break
            chosen = self._select(node)
            if chosen is None:  # every move loses: node is lost
                self._resolve(path)
                return
            node = chosen
            path.append(node)
            if node.terminal is not None:
                break
        leaf = path[-1]
        if leaf.terminal is not None:
            score = leaf.terminal * self.k
            self.playouts += self.k
        else:
            score = self._playouts(leaf)
        self.depth = max(self.depth, len(path) - 1)
        k = self.k
        for p in reversed(path):
            p.visits += k
            p.score += score
            score = k - score
        if leaf.result != UNKNOWN:
            self._resolve(path[:-1])

    def _resolve(self, path: list[Node]) -> None:
        """Proves what can be proven on the path, from its end upwards."""
        for node in reversed(path):
            assert node.moves is not None
            lost = [c for c in node.children if c.result == LOST]
            if lost:
                node.result, node.plies = WON, 1 + min(c.plies for c in lost)
            elif len(node.children) == len(node.moves) and all(
                c.result == WON for c in node.children
            ):
                node.result, node.plies = LOST, 1 + max(c.plies for c in node.children)
            else:
                return

    def _pv(self, node: Node, limit: int = 16) -> list[str]:
        line: list[str] = []
        while node.children and len(line) < limit:
            node = max(node.children, key=lambda c: (c.result == LOST, c.visits))
            assert node.move is not None
            line.append(usi_text(node.move))
        return line

    def summary(self, pv_moves: int = 3) -> Summary:
        """The root's moves with their statistics; lines after the pv_moves most visited."""
        children = sorted(self.root.children, key=lambda c: c.visits, reverse=True)
        stats = []
        for i, child in enumerate(children):
            assert child.move is not None
            stats.append(
                ChildStats(
                    usi_text(child.move),
                    child.visits,
                    child.score,
                    -child.result,
                    child.plies + 1 if child.result else 0,
                    self.mate_line
                    if child.result == LOST and self.mate_line
                    else self._pv(child)
                    if i < pv_moves
                    else [],
                )
            )
        return Summary(stats, self.playouts, self.depth, self.solved)
