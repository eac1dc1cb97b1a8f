"""Root parallelism: searches of one position on worker processes, their statistics summed.

Every worker grows its own tree from the same root; the engine merges their
root statistics (`choice.merge`). komaban objects do not pickle, so workers
receive the position as an SFEN line and USI moves and send back plain
numbers and USI text. The workers are a `WorkerPool`: a worker that dies is
replaced, and the search goes on with the others.
"""

from __future__ import annotations

import random
import time
from collections.abc import Sequence
from dataclasses import asdict, dataclass
from typing import Any

from komaban import Move

from ..notation import usi_to_komaban
from ..rules import COLORS, GameState
from ..workers import WorkerContext, WorkerPool
from .dfpn import solve_state
from .flat import make_search
from .mate import find_mate
from .tree import TreeSearch
from .types import Search, Settings, Summary


@dataclass(frozen=True)
class SearchRequest:
    """What one worker is to search."""

    index: int  # the worker's share of the search, 0 to workers - 1
    sfen: str
    moves: tuple[str, ...]
    settings: dict[str, Any]
    limit: int  # playouts at most
    interval: float  # seconds between reports
    mate_seconds: float  # for the mate search before the playouts; 0 for none


# The tree search this worker ran last, for the next to go on from (Settings.reuse):
# its start, its moves, its settings.
_kept: tuple[str, tuple[str, ...], dict[str, Any], TreeSearch] | None = None


def _search_for(request: SearchRequest, state: GameState) -> Search:
    """The search of the request's position: the last one's tree advanced to it, where
    it may be reused and holds the position, else a new one."""
    global _kept
    settings = Settings(**request.settings)
    reuse = settings.reuse and settings.kind == "tree"
    if reuse and _kept is not None:
        sfen, moves, kept_settings, search = _kept
        n = len(moves)
        if (sfen, kept_settings, request.moves[:n]) == (request.sfen, request.settings, moves):
            turn = search.root.turn
            extra = [
                Move(csa=usi_to_komaban(usi, COLORS[(turn + i) % 2]))
                for i, usi in enumerate(request.moves[n:])
            ]
            if search.advance(extra):
                _kept = (request.sfen, request.moves, request.settings, search)
                return search
    # Seeded here, not at import: workers forked from one server would share a state.
    new = make_search(state, settings, random.Random())
    _kept = None
    if reuse and isinstance(new, TreeSearch):
        _kept = (request.sfen, request.moves, request.settings, new)
    return new


def serve_search(request: SearchRequest, worker: WorkerContext) -> Summary:
    """Runs one search in a worker process, reporting its summary as it goes, until its
    playouts are done, its result is proven or the pool's stop flag is raised."""
    state = GameState.from_sfen(request.sfen)
    for usi in request.moves:
        state.push_usi(usi)
    search = _search_for(request, state)
    if request.mate_seconds and search.settings.mate_plies and not search.solved:
        # It watches the stop flag too: a stop (a pondered move not played) may
        # come before the deadline.
        deadline = time.monotonic() + request.mate_seconds
        plies = search.settings.mate_plies
        line: list[Move] | None
        if search.settings.mate_solver == "dfpn":
            found = solve_state(state, plies, deadline, worker.stopped)
            line = found.line if found.status == "mate" else None
        else:
            line = find_mate(state.board, state.turn, plies, deadline, worker.stopped)
        if line is not None and not worker.stopped():
            search.prove_mate(line)
    next_report = time.monotonic() + request.interval
    while not worker.stopped() and search.playouts < request.limit and not search.solved:
        search.step()
        if time.monotonic() >= next_report:
            worker.report(search.summary())
            next_report = time.monotonic() + request.interval
    return search.summary()


class ParallelSearch:
    """Searches of one position on `workers` processes, started once and reused."""

    REPORT_INTERVAL = 0.25  # seconds between a worker's reports

    def __init__(self, workers: int) -> None:
        self.pool: WorkerPool[SearchRequest] = WorkerPool(workers, serve_search)
        self.latest: dict[int, Summary] = {}
        self.running: set[int] = set()
        self.errors: list[str] = []  # what went wrong in the workers since the last start

    @property
    def workers(self) -> int:
        return self.pool.workers

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
        self.pool.resume()
        n = self.workers
        self.latest, self.running, self.errors = {}, set(range(n)), []
        requests = []
        for i in range(n):
            limit = (
                (playout_limit * (i + 1)) // n - (playout_limit * i) // n
                if playout_limit is not None
                else 1 << 62
            )
            requests.append(
                SearchRequest(
                    i,
                    sfen,
                    tuple(moves),
                    asdict(settings),
                    limit,
                    self.REPORT_INTERVAL,
                    mate_seconds if i == 0 else 0.0,
                )
            )
        self.pool.submit(requests)

    def poll(self, timeout: float) -> bool:
        """Reads the workers' reports for up to `timeout` seconds; True once all are done."""
        for event in self.pool.poll(timeout):
            request = event.request
            if request is None:
                continue
            if event.kind in ("report", "done"):
                self.latest[request.index] = event.value
            else:
                self.errors.append(f"search worker {request.index}: {event.kind}: {event.value}")
            if event.kind != "report":
                self.running.discard(request.index)
        return not self.running

    def stop(self) -> None:
        """Asks every worker to finish its current iteration and report."""
        self.pool.stop()

    def finish(self, timeout: float = 5.0) -> None:
        """Stops the search and waits for every worker's last report."""
        self.stop()
        deadline = time.monotonic() + timeout
        while self.running and time.monotonic() < deadline:
            self.poll(0.05)
        if self.running:
            raise RuntimeError("search workers did not stop")

    def summaries(self) -> list[Summary]:
        return list(self.latest.values())

    def close(self) -> None:
        """Ends the worker processes."""
        self.pool.close()
