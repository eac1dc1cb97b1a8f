"""Monte Carlo search for shogi on komaban's native random playouts.

Two searches share one interface (`step()` runs one iteration, `summary()`
reports the root):

* `TreeSearch`: UCT, Monte Carlo tree search with the UCB1 rule, over the
  standard rules' legal moves (shogi_rules). Each new leaf is scored by
  `playouts_per_leaf` random games played natively by `Game.random_play()`
  from its position, under komaban's own rules: the side whose King is taken
  loses, and a game that reaches move 500 counts 1/2. Checkmate and
  repetition end a line in the tree; proven wins and losses are propagated
  (MCTS-Solver), which gives mate scores.
* `FlatSearch`: flat Monte Carlo, the same playouts spread evenly over the
  moves of the root, for comparison.

`ParallelSearch` runs either on worker processes (root parallelism: every
worker grows its own tree from the same root, their root statistics are
summed). komaban objects do not pickle, so workers receive the position as
an SFEN line and USI moves and send back plain numbers and USI text.
"""

from __future__ import annotations

import math
import multiprocessing
import multiprocessing.connection
import os
import random
import time
from collections.abc import Callable, Sequence
from dataclasses import asdict, dataclass, field
from typing import Any, Protocol

from notation import komaban_to_usi
from shogi_rules import (
    BLACK,
    COLORS,
    PAWN,
    PROMOTION,
    GameState,
    Outcome,
    analyse,
    checking_moves,
    copy_board,
    is_check,
    legal_moves,
    repetition_outcome,
)

from komaban import Board, ColorType, Game, Move

# Results of a position for its side to move, once proven.
UNKNOWN, WON, LOST = 0, 1, -1


def usi_text(move: Move) -> str:
    """A komaban Move as USI move text."""
    return komaban_to_usi(str(move)[9:-1])


@dataclass
class Settings:
    """What a search does; every field has a USI option in usi_engine.py."""

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
    return f"{str(board)[11:-1]} {turn} {counts}"


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


class MateSearchCut(Exception):
    """The mate search ran out of time or was stopped."""


def _never() -> bool:
    return False


def find_mate(
    board: Board,
    turn: int,
    max_plies: int,
    deadline: float,
    stopped: Callable[[], bool] = _never,
) -> list[Move] | None:
    """A forced mate for the side to move (0 Black, 1 White) in at most
    `max_plies` plies, checking at every move, as its line; None if there is
    none, or if the deadline (time.monotonic()) passes or `stopped()` turns
    true first. Shorter mates first."""
    try:
        for plies in range(1, max_plies + 1, 2):
            line = _mate(board, turn, plies, deadline, stopped)
            if line is not None:
                return line
    except MateSearchCut:
        pass
    return None


def _mate(
    board: Board, turn: int, plies: int, deadline: float, stopped: Callable[[], bool]
) -> list[Move] | None:
    attacker, defender = COLORS[turn], COLORS[1 - turn]
    for check in checking_moves(board, attacker):
        if time.monotonic() > deadline or stopped():
            raise MateSearchCut
        after = copy_board(board)
        after.execute_move(check)
        replies = legal_moves(after, defender)
        if not replies:
            return [check]
        if plies < 3:
            continue
        line: list[Move] | None = None
        for reply in replies:
            position = copy_board(after)
            position.execute_move(reply)
            rest = _mate(position, turn, plies - 2, deadline, stopped)
            if rest is None:
                break
            if line is None or len(rest) + 1 > len(line):  # the longest defence
                line = [reply, *rest]
        else:
            assert line is not None
            return [check, *line]
    return None


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
        if child.terminal is not None:
            score = child.terminal * self.k
            self.playouts += self.k
        else:
            score = self._playouts(child)
        self.depth = 1
        child.visits += self.k
        child.score += score
        root.visits += self.k
        root.score += self.k - score
        if child.result != UNKNOWN:
            self._resolve([root])
        elif len(root.children) == len(root.moves) and all(c.result == WON for c in root.children):
            self._resolve([root])


def make_search(state: GameState, settings: Settings, rng: random.Random | None = None) -> Search:
    if settings.kind == "flat":
        return FlatSearch(state, settings, rng)
    return TreeSearch(state, settings, rng)


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


# ---- root parallelism on worker processes ----------------------------------
def _worker(conn: multiprocessing.connection.Connection, stop: Any) -> None:
    """A worker process: runs searches as the master asks, until told to quit."""
    rng = random.Random()
    conn.send(("ready", None))
    while True:
        try:
            message = conn.recv()
        except (EOFError, KeyboardInterrupt):
            return
        if message[0] != "search":
            return
        _, sfen, moves, settings, limit, interval, mate_seconds = message
        state = GameState.from_sfen(sfen)
        for usi in moves:
            state.push_usi(usi)
        search = make_search(state, Settings(**settings), rng)
        if mate_seconds and search.settings.mate_plies and not search.solved:
            # It watches the stop flag too: a stop (a pondered move not played)
            # may come before the deadline.
            deadline = time.monotonic() + mate_seconds
            line = find_mate(
                state.board,
                state.turn,
                search.settings.mate_plies,
                deadline,
                lambda: bool(stop.value),
            )
            if line is not None and not stop.value:
                search.prove_mate(line)
        next_report = time.monotonic() + interval
        while not stop.value and search.playouts < limit and not search.solved:
            search.step()
            if time.monotonic() >= next_report:
                conn.send(("info", search.summary()))
                next_report = time.monotonic() + interval
        conn.send(("done", search.summary()))


class ParallelSearch:
    """Searches of one position on `workers` processes, started once and reused."""

    REPORT_INTERVAL = 0.25  # seconds between a worker's reports
    START_TIMEOUT = 60.0  # seconds for a worker to start

    def __init__(self, workers: int) -> None:
        # spawn: the engine process has threads, which fork does not copy safely.
        context = multiprocessing.get_context("spawn")
        self.stop_flag = context.RawValue("b", 0)
        self.connections: list[multiprocessing.connection.Connection] = []
        self.processes: list[Any] = []
        for _ in range(workers):
            mine, theirs = context.Pipe()
            process = context.Process(target=_worker, args=(theirs, self.stop_flag), daemon=True)
            process.start()
            theirs.close()
            self.connections.append(mine)
            self.processes.append(process)
        self.latest: list[Summary | None] = []
        self.running: set[int] = set()
        # Started means able to search: each worker says so once it has imported all.
        for i, conn in enumerate(self.connections):
            if not conn.poll(self.START_TIMEOUT) or conn.recv()[0] != "ready":
                self.close()
                raise RuntimeError(f"search worker {i} did not start")

    @property
    def workers(self) -> int:
        return len(self.processes)

    def start(
        self,
        sfen: str,
        moves: Sequence[str],
        settings: Settings,
        playout_limit: int | None,
        mate_seconds: float = 1.0,
    ) -> None:
        """Starts every worker on the position; `playout_limit` is shared out among
        them. The first worker spends up to `mate_seconds` on a mate search first."""
        self.stop_flag.value = 0
        n = self.workers
        self.latest = [None] * n
        self.running = set(range(n))
        for i, conn in enumerate(self.connections):
            limit = (
                (playout_limit * (i + 1)) // n - (playout_limit * i) // n
                if playout_limit is not None
                else 1 << 62
            )
            conn.send(
                (
                    "search",
                    sfen,
                    list(moves),
                    asdict(settings),
                    limit,
                    self.REPORT_INTERVAL,
                    mate_seconds if i == 0 else 0.0,
                )
            )

    def poll(self, timeout: float) -> bool:
        """Reads the workers' reports for up to `timeout` seconds; True once all are done."""
        index = {id(self.connections[i]): i for i in self.running}
        ready = multiprocessing.connection.wait(
            [self.connections[i] for i in self.running], timeout
        )
        for conn in ready:
            i = index[id(conn)]
            try:
                kind, summary = self.connections[i].recv()
            except EOFError as error:
                raise RuntimeError(f"search worker {i} died") from error
            self.latest[i] = summary
            if kind == "done":
                self.running.discard(i)
        return not self.running

    def stop(self) -> None:
        """Asks every worker to finish its current iteration and report."""
        self.stop_flag.value = 1

    def finish(self, timeout: float = 5.0) -> None:
        """Stops the search and waits for every worker's last report."""
        self.stop()
        deadline = time.monotonic() + timeout
        while self.running and time.monotonic() < deadline:
            self.poll(0.05)
        if self.running:
            raise RuntimeError("search workers did not stop")

    def summaries(self) -> list[Summary]:
        return [s for s in self.latest if s is not None]

    def close(self) -> None:
        """Ends the worker processes."""
        self.stop()
        for conn in self.connections:
            try:
                conn.send(("quit",))
            except (BrokenPipeError, OSError):
                pass
        for process in self.processes:
            process.join(timeout=2)
            if process.is_alive():
                process.terminate()
        for conn in self.connections:
            conn.close()
        self.connections, self.processes = [], []


def cpu_count() -> int:
    return len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1
