"""A mate solver by checks: depth-first proof-number search (df-pn).

`solve_mate` proves or disproves a forced mate of the side to move, checking
at every move, under the standard rules: the attacker's moves (OR nodes) are
its checks, the defender's (AND nodes) all its legal moves. It is Nagai's
df-pn with the 1 + epsilon trick for thresholds, proof and
disproof numbers that start from the number of moves (the more evasions, the
harder the proof; the more checks, the harder the disproof), and a
transposition table of positions (board, side to move, both hands) whose
entries keep their moves and children, so moves are generated once per
position. A disproof also holds for the same board with less in the
attacker's hand (hand dominance), and is shared so.

Repetition: a position met again on the current line is a loss for the
attacker (perpetual check). Such a result depends on the line, not on the
position alone; a disproof that rests on one is handed back up with the
positions it rests on and becomes a table entry only at the first of them
(where the cycle closes it is sound: a mate never needs to repeat a
position). Proofs never rest on the line, so the table holds only facts that
any line may reuse.

With a ply limit an entry remembers the longest limit it was disproved
within and the shortest mate it was proved with, and its proof numbers per
limit left. After a first mate the search looks for shorter ones, for as
many positions again, so the line it reports is the shortest it could prove.

>>> from komaban_tools.notation import usi_text
>>> state = GameState.from_sfen("4k4/9/4P4/9/9/9/9/9/4K4 b G 1")  # head gold
>>> result = solve_state(state, max_plies=3)
>>> result.status, [usi_text(move) for move in result.line]
('mate', ['G*5b'])
>>> solve_state(GameState.from_sfen("4k4/9/9/9/9/9/9/9/4K4 b P 1")).status
'nomate'
"""

from __future__ import annotations

import time
from bisect import bisect_left
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from itertools import compress
from typing import Literal

from komaban import Address, Board, Move

from ..notation import board_text
from ..rules import COLORS, GameState, checking_moves, copy_board, legal_moves, mailbox
from ..rules.board import KING_CODE

__all__ = ["MateResult", "solve_mate", "solve_state"]

INF = 1 << 40  # a proof or disproof number this large means solved
_UNLIMITED = 1 << 30  # the plies left in a search without a limit (never counted down)
_MAX_DEPTH = 400  # lines are cut this deep (Python's stack): a cut proves nothing
_SHORTEN_NODES = 1_000  # the least budget for looking for a shorter mate
_REPEATED = 1 << 20  # how far from solved a line-dependent result is left in the table
# Memory: about 1 kB a position. Every _COLLECT_NODES positions the unsolved
# entries off the line give back their moves, children and numbers; a table of
# _TABLE_LIMIT entries ends the search.
_COLLECT_NODES = 250_000
_TABLE_LIMIT = 2_000_000

Status = Literal["mate", "nomate", "timeout"]
Hands = tuple[tuple[int, ...], tuple[int, ...]]
# A disproof that rests on the current line: the positions of the line it
# assumes lost for the attacker, and the ply limit it holds within.
_Dependent = tuple[frozenset["_Node"], int]


@dataclass
class MateResult:
    """What `solve_mate` found.

    status is "mate" (line is a forced mate: the attacker's shortest proven
    mate, the defender's longest defence in the proof, ending in checkmate),
    "nomate" (proved: no mate, or none within the ply limit) or "timeout"
    (stopped, out of time or nodes, or undecided). nodes counts the
    positions whose moves the search generated.
    """

    status: Status
    line: list[Move] = field(default_factory=list)
    nodes: int = 0


class _Cut(Exception):
    """The search was stopped, or ran out of time or nodes."""


class _Node:
    """A position of the table: its moves (checks, or evasions), children and results."""

    __slots__ = (
        "attacker", "hands", "group", "moves", "children", "mate", "nomate", "values", "init"
    )  # fmt: skip

    def __init__(self, attacker: bool, hands: Hands, group: list[_Node]) -> None:
        self.attacker = attacker  # the attacker is to move: an OR node
        self.hands = hands
        self.group = group  # the entries of the same board and side to move
        self.moves: list[Move] | None = None  # until the search first needs them
        self.children: list[_Node] | None = None
        # The shortest mate proved (plies, INF: none) and the longest limit no
        # mate fits in (no mate fits in 0 plies).
        self.mate = INF
        self.nomate = 0 if attacker else -1
        # (phi, delta) by plies left: proof and disproof numbers as seen by the
        # side to move (phi: it wins, delta: it loses), OR (pn, dn), AND (dn, pn).
        self.values: dict[int, tuple[int, int]] = {}
        self.init = (1, 1)


_CUT_NODE = _Node(True, ((), ()), [])  # stands for a line cut at _MAX_DEPTH


def _never() -> bool:
    return False


_LINES = (1, -1, 11, -11, 10, -10, 12, -12)  # mailbox steps: ranks, files, diagonals
_JUMPS = (21, 23, -21, -23)
_FEW_MOVES = 24  # below this many moves, narrowing them costs more than it saves


def _checks(board: Board, us: int) -> list[Move]:
    """The checks of side `us`: `checking_moves` on the legal moves that may check.

    A move can only check by landing on a line out of the enemy King up to its
    first piece, or a Knight's jump from it, or by moving that first piece
    away (a discovery): the drops and moves of hands and boards rich in
    pieces are mostly neither, and `checking_moves` costs more per move.
    """
    color = COLORS[us]
    moves = legal_moves(board, color)
    if len(moves) < _FEW_MOVES:
        return checking_moves(board, color, moves)
    sq = mailbox(board)
    try:
        king = sq.index(KING_CODE[1 - us])
    except ValueError:
        return []
    near, first = set(), set()
    for d in _LINES:
        t = king + d
        while not sq[t]:  # stops at a piece or the wall around the board
            near.add(t)
            t += d
        near.add(t)
        first.add(t)
    near.update(king + j for j in _JUMPS)
    n = bisect_left(moves, True, key=Move.is_drop)  # drops come last
    board_moves = moves[:n]
    targets = map(Address.to_int, map(Move.get_to, board_moves))
    sources = map(Address.to_int, map(Move.get_from, board_moves))
    chosen = [
        m for m, t, f in zip(board_moves, targets, sources, strict=True) if t in near or f in first
    ]
    drops = moves[n:]
    chosen += compress(drops, map(near.__contains__, map(Address.to_int, map(Move.get_to, drops))))
    return checking_moves(board, color, chosen)


class _Solver:
    def __init__(
        self,
        turn: int,
        deadline: float | None,
        stopped: Callable[[], bool] | None,
        max_nodes: int | None,
    ) -> None:
        self.turn = turn
        self.deadline = deadline if deadline is not None else float("inf")
        self.stopped = stopped or _never
        self.max_nodes = max_nodes if max_nodes is not None else INF
        self.table: dict[tuple[str, int], list[_Node]] = {}
        self.path: set[_Node] = set()
        self.nodes = self.entries = 0
        self.collect_at = _COLLECT_NODES

    def check(self) -> None:
        if self.nodes >= self.max_nodes or time.monotonic() > self.deadline or self.stopped():
            raise _Cut

    def collect(self) -> None:
        """Frees what the unsolved entries off the line can generate again; the
        table keeps what was proved, and the line its moves."""
        if self.entries >= _TABLE_LIMIT:
            raise _Cut
        self.collect_at = self.nodes + _COLLECT_NODES
        for group in self.table.values():
            for node in group:
                if node.mate == INF and node not in self.path:
                    node.moves = node.children = None
                    node.values = {}

    def entry(self, board: Board, turn: int, hands: Hands) -> _Node:
        """The table's entry for a position, made when new.

        Entries of one board and side to move differ in their hands; the
        attacker is no worse off with more in hand (the defender then has
        less), so a disproof holds for every entry whose attacker holds no
        more, and a new entry starts from the disproofs of those holding more.
        """
        key = (board_text(board), turn)
        group = self.table.get(key)
        if group is None:
            group = self.table[key] = []
        for node in group:
            if node.hands == hands:
                return node
        node = _Node(turn == self.turn, hands, group)
        self.entries += 1
        mine = hands[self.turn]
        for other in group:
            if other.nomate > node.nomate and all(map(int.__ge__, other.hands[self.turn], mine)):
                node.nomate = other.nomate
        group.append(node)
        return node

    def disproved(self, node: _Node, within: int) -> None:
        node.nomate = within
        mine = node.hands[self.turn]
        for other in node.group:
            if other.nomate < within and all(map(int.__le__, other.hands[self.turn], mine)):
                other.nomate = within

    def generate(self, node: _Node, board: Board) -> None:
        """Gives a node its moves: the attacker's checks, or the defender's moves."""
        self.check()
        self.nodes += 1
        if node.attacker:
            node.moves = moves = _checks(board, self.turn)
            if not moves:
                self.disproved(node, INF)
        else:
            node.moves = moves = legal_moves(board, COLORS[1 - self.turn])
            if not moves:
                node.mate = 0
            elif node.nomate < 1:
                node.nomate = 1  # the defender moves and no ply is left
        node.init = (1, max(len(moves), 1))

    def expand(self, node: _Node, board: Board, child_left: int) -> list[_Node]:
        """A node's children, with their moves unless they are disproved already: a
        check's evasions tell a mate at once and how hard it is to prove, an
        evasion's checks how hard it is to disprove."""
        assert node.moves is not None
        us = self.turn if node.attacker else 1 - self.turn
        them = COLORS[1 - us]
        children = []
        for move in node.moves:
            hands = node.hands
            if move.is_drop():
                kind, gain = int(move.get_piece().piece_type), -1
            else:
                taken = board.get_piece(move.get_to())
                kind, gain = int(taken.piece_type), 1
                if taken.owner != them:
                    kind = 0
                elif kind > 8:  # a promoted piece goes to hand as its kind
                    kind -= 6
            if kind:
                hand = list(hands[us])
                hand[kind] += gain
                hands = (tuple(hand), hands[1]) if us == 0 else (hands[0], tuple(hand))
            after = copy_board(board)
            after.execute_move(move)
            child = self.entry(after, 1 - us, hands)
            if child.moves is None and child.nomate < child_left:
                self.generate(child, after)
            children.append(child)
        node.children = children
        return children

    def run(self, root: _Node, board: Board, limit: int) -> bool | None:
        """Solves the root within `limit` plies: True mate, False none, None undecided."""
        if root.mate > limit and root.nomate < limit:
            self.path.clear()
            self.mid(root, board, limit, INF, INF)
        if root.mate <= limit:
            return True
        return False if root.nomate >= limit else None

    def mid(
        self, node: _Node, board: Board, left: int, th_phi: int, th_delta: int
    ) -> _Dependent | None:
        """Searches below `node` until its (phi, delta) reach the thresholds or it is
        solved; a disproof that rests on the current line is returned, not stored."""
        self.check()
        if self.nodes >= self.collect_at:
            self.collect()
        path = self.path
        if len(path) >= _MAX_DEPTH:
            return frozenset((_CUT_NODE,)), INF
        if node.moves is None:
            self.generate(node, board)
            if node.mate <= left or node.nomate >= left:
                return None
        child_left = left - 1 if left < _UNLIMITED else left
        attacker = node.attacker
        overrides: dict[int, _Dependent] = {}  # children lost to the attacker on this line
        path.add(node)  # first: a collection keeps the moves of the line
        try:
            children = node.children
            if children is None:
                children = self.expand(node, board, child_left)
            assert node.moves is not None
            while True:
                phi, delta, delta2, best, best_phi = INF, 0, INF, 0, 0
                for i, child in enumerate(children):
                    if child.mate <= child_left:
                        won = attacker  # the mover here wins through this child
                    elif child.nomate >= child_left or child in path or i in overrides:
                        won = not attacker
                    else:
                        c_phi, c_delta = child.values.get(child_left) or child.init
                        if c_delta < phi:
                            phi, delta2, best, best_phi = c_delta, phi, i, c_phi
                        elif c_delta < delta2:
                            delta2 = c_delta
                        delta += c_phi
                        continue
                    if won:
                        phi = 0
                        break
                    # A child won by its mover (phi 0, delta INF) adds nothing.
                if phi == 0 or delta == 0:
                    return self.solved(node, left, child_left, overrides)
                delta = min(delta, INF - 1)
                if phi >= th_phi or delta >= th_delta:
                    node.values[left] = (phi, delta)
                    return None
                child = children[best]
                after = copy_board(board)
                after.execute_move(node.moves[best])
                # 1 + epsilon: the child may go a quarter past the second best.
                limit_delta = min(th_phi, delta2 + 1 + (delta2 >> 2))
                result = self.mid(
                    child, after, child_left, th_delta - delta + best_phi, limit_delta
                )
                if result is not None:
                    overrides[best] = result
        finally:
            path.discard(node)

    def solved(
        self, node: _Node, left: int, child_left: int, overrides: dict[int, _Dependent]
    ) -> _Dependent | None:
        """Records a node whose children decide it; returns a line-dependent disproof."""
        assert node.children is not None
        children = node.children
        proved = [c.mate for c in children if c.mate <= child_left]
        if node.attacker and proved:
            node.mate = min(node.mate, 1 + min(proved))
            return None
        if not node.attacker and len(proved) == len(children):
            node.mate = min(node.mate, 1 + max(proved))
            return None
        # A disproof: for the attacker every child fails, for the defender one suffices.
        lost: list[_Dependent] = []
        for i, child in enumerate(children):
            if child.mate <= child_left:
                continue
            if child.nomate >= child_left:
                lost.append((frozenset(), child.nomate))
            elif child in self.path:
                lost.append((frozenset((child,)), INF))
            elif i in overrides:
                lost.append(overrides[i])
        if node.attacker:
            rests = frozenset().union(*(r for r, _ in lost))
            within = min(d for _, d in lost)
        else:
            rests, within = min(lost, key=lambda x: (len(x[0]), -x[1]))
        rests = rests - {node}  # the cycle through this node closes here
        within = min(within + 1, INF)
        if not rests:
            self.disproved(node, max(node.nomate, within))
            return None
        # Left near solved for this line's sake: searched again only for want of better.
        node.values[left] = (_REPEATED, 1) if node.attacker else (1, _REPEATED)
        return rests, within

    def line(self, node: _Node) -> list[Move]:
        """The proved line from a proved node: shortest mates, longest defences."""
        moves: list[Move] = []
        while node.mate > 0:
            assert node.children is not None and node.moves is not None
            mates = [c.mate for c in node.children]
            i = mates.index(min(mates) if node.attacker else max(mates))
            moves.append(node.moves[i])
            node = node.children[i]
        return moves


def solve_mate(
    board: Board,
    turn: int,
    hands: Sequence[Sequence[int]],
    max_plies: int | None = None,
    deadline: float | None = None,
    stopped: Callable[[], bool] | None = None,
    max_nodes: int | None = None,
) -> MateResult:
    """Looks for a forced mate by checks of the side `turn` (0 Black, 1 White), to move.

    hands: the pieces in hand, counts by kind 0 to 8 for Black, then White (as
    GameState.hands). max_plies: a mate of at most this many plies, or any
    mate (None). The search ends as "timeout" when time.monotonic() passes
    `deadline`, `stopped()` turns true (it is looked at for every position) or
    it has generated the moves of `max_nodes` positions; a mate already found
    is reported all the same.
    """
    if max_plies is not None and max_plies < 0:
        raise ValueError(f"max_plies must not be negative, not {max_plies}")
    solver = _Solver(turn, deadline, stopped, max_nodes)
    board = copy_board(board)
    start: Hands = (tuple(hands[0]), tuple(hands[1]))
    limit = _UNLIMITED if max_plies is None else max_plies
    best: list[Move] | None = None
    try:
        root = solver.entry(board, turn, start)
        outcome = solver.run(root, board, limit)
        if outcome:
            best = solver.line(root)
            # A shorter mate, for as many nodes again as the first one took.
            solver.max_nodes = min(solver.max_nodes, max(2 * solver.nodes, _SHORTEN_NODES))
            while len(best) > 1 and solver.run(root, board, len(best) - 2):
                best = solver.line(root)
    except _Cut:
        outcome = None
    if best is not None:
        return MateResult("mate", best, solver.nodes)
    return MateResult("nomate" if outcome is False else "timeout", [], solver.nodes)


def solve_state(
    state: GameState,
    max_plies: int | None = None,
    deadline: float | None = None,
    stopped: Callable[[], bool] | None = None,
    max_nodes: int | None = None,
) -> MateResult:
    """`solve_mate` for the side to move of a game (its earlier positions aside)."""
    return solve_mate(state.board, state.turn, state.hands, max_plies, deadline, stopped, max_nodes)
