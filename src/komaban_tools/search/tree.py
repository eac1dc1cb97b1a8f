"""UCT on native random playouts, with proven results propagated (MCTS-Solver).

`TreeSearch` is Monte Carlo tree search over the standard rules' legal moves.
Each new leaf is scored by `playouts_per_leaf` random games played natively
by `Game.random_play()` from its position, under komaban's own rules: the side
whose King is taken loses, and a game that reaches move 500 counts 1/2.
Checkmate and repetition end a line in the tree; proven wins and losses are
propagated, which gives mate scores. `step()` runs one iteration, `summary()`
reports the root.

Random playouts say little about material, so the search can lean on the
static evaluation of `rules.evaluation`, each lever a setting (all off is
plain UCT on playouts):

* `eval_weight`: a leaf's value mixes its evaluation, as a win probability,
  into its playouts' result;
* `minimax_weight`: implicit minimax backups: every node also keeps the
  minimax of its subtree's evaluations, and selection mixes it into the mean;
* `prior_weight` and `widening`: each node's moves are ordered by what they
  win at a glance (`rules.evaluation.move_gains`); progressive bias adds a
  term for it that fades with visits, and progressive widening lets a node
  consider only its best `1 + widening * sqrt(iterations)` moves;
* `decisive`: a move that mates at once is tried first wherever a node is
  expanded, so that the solver proves the node at its first visit;
* `expand_after`: a new leaf is scored that many times before it grows
  children of its own.
"""

from __future__ import annotations

import math
import random

from komaban import Board, ColorType, Game, Move

from ..notation import board_text, usi_text
from ..rules import (
    COLORS,
    GameState,
    Outcome,
    checking_moves,
    copy_board,
    is_check,
    legal_moves,
    mailbox,
    repetition_outcome,
)
from ..rules.board import BLACK, PAWN, PROMOTION
from ..rules.evaluation import evaluate, move_gains
from ..rules.moves import analyse_mailbox
from .types import (
    LOST,
    UNKNOWN,
    WON,
    ChildStats,
    Settings,
    Summary,
    prior,
    win_probability,
)


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
        "ready",
        "sq",
        "priors",
        "children",
        "visits",
        "score",
        "result",
        "plies",
        "terminal",
        "evaluation",
        "mm",
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
        self.moves: list[Move] | None = None  # legal moves, once analysed
        self.ready = False  # moves analysed and put in the order children are made in
        self.sq: list[int] | None = None  # the mailbox, kept from analysis to ordering
        self.priors: list[float] = []  # by move, in (0, 1), when moves are ordered by gain
        self.children: list[Node] = []
        self.visits = 0
        self.score = 0.0
        self.result = UNKNOWN  # for the side to move here
        self.plies = 0
        self.terminal: float | None = None  # the exact score of a finished position
        # The static evaluation as a win probability for the side that moved into
        # the node, and the minimax of the evaluations below it (likewise).
        self.evaluation = 0.5
        self.mm = 0.5


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


class TreeSearch:
    """UCT with leaves scored by native random playouts (and, as set, the static
    evaluation), and proven results propagated."""

    def __init__(self, state: GameState, settings: Settings, rng: random.Random | None = None):
        self.settings = settings
        self.rng = rng or random.Random()
        self.k = settings.playouts_per_leaf
        # A visit counts k playouts, or one iteration when there are none.
        self.unit = max(1, self.k)
        # Without playouts, a leaf is its evaluation alone.
        self.w = 1.0 if self.k == 0 else settings.eval_weight
        self.evaluating = self.w > 0 or settings.minimax_weight > 0
        self.ordering = settings.prior_weight > 0 or settings.widening > 0
        self.expansion = settings.expand_after * self.unit  # in visits
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
        self._prepare(self.root)
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
            if root.priors:
                root.priors[n], root.priors[i] = root.priors[i], root.priors[n]
            child = self._new_child(root, first, [root])
            root.children.append(child)
        child.result, child.plies = LOST, len(line) - 1
        self.mate_line = [usi_text(m) for m in line[1:]]
        self._resolve([root])

    def advance(self, moves: list[Move]) -> bool:
        """Makes the node after `moves` from the root the new root, keeping its subtree;
        False (and nothing changed) when the tree does not hold it."""
        node, path = self.root, [self.root]
        for move in moves:
            found = next((c for c in node.children if c.move == move), None)
            if found is None or found.terminal is not None:
                return False
            node = found
            path.append(node)
        for p in path[:-1]:
            self.history_keys.append(p.key)
            self.history_checks.append(p.in_check)
            self.seen.add(p.key)
        self.root = node
        self.playouts = self.depth = 0
        self.mate_line = []
        self._prepare(node)
        return True

    def _prepare(self, node: Node) -> None:
        """Analyses a node's moves if it has not been, and puts them in the order its
        children are made in: at random, or by gain with moves that mate first."""
        if node.ready:
            return
        node.ready = True
        if node.moves is None:
            node.moves, _, node.sq = analyse_mailbox(node.board, COLORS[node.turn])
        moves = node.moves
        self.rng.shuffle(moves)  # no bias towards komaban's order among equals
        if self.ordering and moves:
            sq = node.sq if node.sq is not None else mailbox(node.board)
            gains = move_gains(sq, node.turn, moves)
            order = sorted(range(len(moves)), key=gains.__getitem__, reverse=True)
            node.moves = moves = [moves[i] for i in order]
            node.priors = [prior(gains[i]) for i in order]
        node.sq = None
        if self.settings.decisive and moves:
            self._mates_first(node)

    def _mates_first(self, node: Node) -> None:
        """Puts a move that mates at once, if there is one, first."""
        assert node.moves is not None
        color, defender = COLORS[node.turn], COLORS[1 - node.turn]
        for check in checking_moves(node.board, color, node.moves):
            after = copy_board(node.board)
            after.execute_move(check)
            if not legal_moves(after, defender):
                i = node.moves.index(check)
                node.moves.insert(0, node.moves.pop(i))
                if node.priors:
                    node.priors.insert(0, node.priors.pop(i))
                return

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

    def _leaf_score(self, leaf: Node) -> float:
        """A leaf's score over one visit (of `unit` weight), for the side that moved into it."""
        if leaf.terminal is not None:
            self.playouts += self.k
            return leaf.terminal * self.unit
        if self.w >= 1.0:
            return leaf.evaluation
        score = self._playouts(leaf)
        if self.w > 0:
            score = self.w * leaf.evaluation * self.k + (1 - self.w) * score
        return score

    def _new_child(self, node: Node, move: Move, path: list[Node]) -> Node:
        board = copy_board(node.board)
        hands = _child_hands(node, move, node.hands)
        board.execute_move(move)
        turn = 1 - node.turn
        key = position_key(board, turn, hands)
        color = COLORS[turn]
        in_check = is_check(board, color)
        child = Node(board, turn, hands, key, in_check, move)
        if in_check:  # the only positions that can be checkmate
            child.moves, _, child.sq = analyse_mailbox(board, color)
            if not child.moves:
                child.result, child.terminal, child.mm = LOST, 1.0, 1.0
                return child
        if self.evaluating:
            # The captures of the evaluation are read from komaban's list: legality
            # is judged only where the node is expanded.
            sq = child.sq if child.sq is not None else mailbox(board)
            listed = child.moves if child.moves is not None else board.search_moves(color)
            cp = evaluate(sq, hands, turn, listed, self.settings.king_weight)
            child.evaluation = child.mm = 1.0 - win_probability(cp)
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
            child.result, child.terminal, child.mm = WON, 0.0, 0.0
        elif outcome is Outcome.PERPETUAL_CHECK_LOSS:
            child.result, child.terminal, child.mm = LOST, 1.0, 1.0
        else:
            child.terminal, child.mm = 0.5, 0.5

    def _allowed(self, node: Node) -> int:
        """How many of a node's moves it considers, by progressive widening."""
        assert node.moves is not None
        widening = self.settings.widening
        if widening <= 0:
            return len(node.moves)
        return min(len(node.moves), 1 + int(widening * math.sqrt(node.visits / self.unit)))

    def _select(self, node: Node) -> Node | None:
        """The child with the best bound (UCB1, with the minimax mix and the prior's
        bias as set), passing over children proven won for their side to move; None
        when every child is."""
        settings, unit = self.settings, self.unit
        c = settings.exploration * math.sqrt(math.log(node.visits))
        alpha, bias = settings.minimax_weight, settings.prior_weight
        priors = node.priors if bias > 0 else ()
        sqrt = math.sqrt
        best, best_bound = None, -1.0
        for i, child in enumerate(node.children):
            if child.result == WON:
                continue
            mean = child.score / child.visits
            if alpha:
                mean = (1 - alpha) * mean + alpha * child.mm
            bound = mean + c / sqrt(child.visits)
            if priors:
                bound += bias * priors[i] * unit / (unit + child.visits)
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
            if not node.ready:
                self._prepare(node)
            moves = node.moves
            assert moves is not None
            if not moves:  # no legal move, without check: lost all the same
                node.result, node.terminal, node.mm = LOST, 1.0, 1.0
                break
            chosen = None
            if len(node.children) >= self._allowed(node):
                chosen = self._select(node)
                if chosen is None and len(node.children) == len(moves):
                    self._resolve(path)  # every move loses: node is lost
                    return
            if chosen is None:  # a move not tried yet (beyond the widening, if all lose)
                child = self._new_child(node, moves[len(node.children)], path)
                node.children.append(child)
                path.append(child)
                break
            node = chosen
            path.append(node)
            if node.terminal is not None or node.visits < self.expansion:
                break  # a leaf is scored `expansion` times before it grows children
        leaf = path[-1]
        score = self._leaf_score(leaf)
        self.depth = max(self.depth, len(path) - 1)
        unit = self.unit
        for p in reversed(path):
            p.visits += unit
            p.score += score
            score = unit - score
        if self.settings.minimax_weight:
            for p in reversed(path[:-1]):
                p.mm = 1.0 - max(c.mm for c in p.children)
        if leaf.result != UNKNOWN:
            self._resolve(path[:-1])

    def _resolve(self, path: list[Node]) -> None:
        """Proves what can be proven on the path, from its end upwards."""
        for node in reversed(path):
            assert node.moves is not None
            lost = [c for c in node.children if c.result == LOST]
            if lost:
                node.result, node.plies, node.mm = WON, 1 + min(c.plies for c in lost), 0.0
            elif len(node.children) == len(node.moves) and all(
                c.result == WON for c in node.children
            ):
                node.result, node.mm = LOST, 1.0
                node.plies = 1 + max(c.plies for c in node.children)
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
