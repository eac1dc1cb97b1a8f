"""Monte Carlo evaluation of shogi positions with komaban's random playouts.

Reads positions, one standard SFEN line each (board, side to move, hand, move
number), plays --playouts random games from each with Game.random_play(), and
reports Black wins, White wins, games that reached the move limit, Black's
score with a 95 % Wilson interval, and the mean number of moves played.

Black's score is (Black wins + 1/2 x move-limit games) / playouts: a win counts
1, a game stopped at the move limit 1/2, a loss 0.

The work runs on every core by default, in a process pool, or on a Dask
cluster with --scheduler. komaban objects cannot be pickled, so the workers
receive SFEN text and return counts. Each process seeds komaban's random
generator from the operating system and the generator cannot be seeded by
hand, so results are not reproducible from run to run.

Long runs keep what is done. Each position's row reaches --out as soon as its
playouts are all in, and the file always holds whole rows; at the end it is
rewritten in input order. A pool worker that dies has its playouts run again
on a new worker, up to MAX_TRIES times; Dask reruns a lost worker's tasks
itself. Ctrl-C or SIGTERM stops the run within about a second, workers and
all, and --resume then evaluates only the positions missing from --out.

Usage:
    python examples/evaluate_positions.py examples/positions.sfen --playouts 1000
    python examples/evaluate_positions.py - < positions.sfen --out results.parquet
    python examples/evaluate_positions.py positions.sfen --scheduler local --plot scores.png
    python examples/evaluate_positions.py positions.sfen --bench
    python examples/evaluate_positions.py positions.sfen --out results.csv --resume

Blank lines and lines starting with "#" are skipped.
"""

from __future__ import annotations

import argparse
import io
import math
import multiprocessing
import os
import shutil
import signal
import statistics
import sys
import time
from collections import Counter, deque
from collections.abc import Callable, Iterator, Sequence
from contextlib import closing, contextmanager
from dataclasses import dataclass, field
from multiprocessing.connection import Connection, wait
from multiprocessing.process import BaseProcess
from pathlib import Path
from types import FrameType
from typing import IO, Any, Protocol

import notation

NOT_REPRODUCIBLE = (
    "Results are not reproducible from run to run: every worker process seeds komaban's "
    "random generator from the operating system, and it cannot be seeded by hand."
)
Z_95 = statistics.NormalDist().inv_cdf(0.975)
# Playouts of each position timed in this process to size the tasks.
CALIBRATION_PLAYOUTS = 4
# A task takes at least this many times the measured cost of sending an empty task and
# getting its result, so that this cost stays under 5 % of the playing time.
TASK_COST_FACTOR = 25
# A task whose worker process dies is run again on a new worker, this many times in all at
# most; then its positions are reported as not evaluated.
MAX_TRIES = 3
# The Parquet output is rewritten from its part files at most this often (and at the end).
FOLD_SECONDS = 1.0
# Appended CSV rows are flushed to the operating system at once, to the disk this often.
SYNC_SECONDS = 1.0
COLUMNS = (
    "line",
    "sfen",
    "playouts",
    "black_wins",
    "white_wins",
    "move_limit",
    "black_score",
    "ci_low",
    "ci_high",
    "mean_moves",
)

# One piece of work: (position number, SFEN line, number of playouts).
Item = tuple[int, str, int]
# Its result: (position number, Black wins, White wins, move-limit games, moves played,
# error text); the error text is empty unless a playout failed.
Tally = tuple[int, int, int, int, int, str]
# The result of a task: its tallies, and the wall and CPU seconds its playouts took.
TaskResult = tuple[list[Tally], float, float]


class Interrupted(BaseException):
    """SIGINT or SIGTERM asked the program to stop.

    A BaseException, as KeyboardInterrupt is, so that no `except Exception` swallows it.
    """

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


class StopSignals:
    """Turns SIGINT and SIGTERM into Interrupted, raised in the main thread.

    Inside `deferred()` the exception waits for the block to end, so that a result is
    recorded and written whole or not at all. Once raised, further signals are ignored:
    the program is already stopping, and a second Ctrl-C must not cut its cleanup short.
    """

    SIGNALS = (signal.SIGINT, signal.SIGTERM)

    def __init__(self) -> None:
        self.signum = 0
        self.depth = 0
        self.raised = False
        self.previous: list[Any] = []

    def install(self) -> None:
        self.previous = [signal.signal(s, self.handle) for s in self.SIGNALS]

    def restore(self) -> None:
        for s, handler in zip(self.SIGNALS, self.previous, strict=True):
            signal.signal(s, handler)

    def handle(self, signum: int, frame: FrameType | None) -> None:
        self.signum = self.signum or signum
        if self.depth == 0:
            self.stop()

    def stop(self) -> None:
        if not self.raised:
            self.raised = True
            for s in self.SIGNALS:
                signal.signal(s, signal.SIG_IGN)
            raise Interrupted(self.signum)

    @contextmanager
    def deferred(self) -> Iterator[None]:
        self.depth += 1
        try:
            yield
        finally:
            self.depth -= 1
        if self.signum and self.depth == 0:
            self.stop()


# The program's signal handling; a process has one.
STOP = StopSignals()


def start_method() -> str:
    """The way to start worker processes here: forked from a server process if possible.

    The server runs no thread, whereas this process may (a Dask client's, tqdm's), and
    forking a process that runs threads is unsafe. It is started, once, with SIGINT
    ignored, and so is every worker forked from it: a Ctrl-C at the terminal, sent to every
    process of the foreground group, is then for this process alone, which stops the
    workers itself, instead of each worker printing its own KeyboardInterrupt.
    """
    if "forkserver" not in multiprocessing.get_all_start_methods():
        return "spawn"
    from multiprocessing import forkserver

    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        forkserver.ensure_running()
    finally:
        signal.signal(signal.SIGINT, previous)
    return "forkserver"


def wilson_interval(score: float, n: int, z: float = Z_95) -> tuple[float, float]:
    """The Wilson score interval of a proportion `score` observed over n trials."""
    if n <= 0:
        return 0.0, 1.0
    centre = score + z * z / (2 * n)
    spread = z * math.sqrt(score * (1 - score) / n + z * z / (4 * n * n))
    scale = 1 + z * z / n
    # The interval lies within 0 to 1 and holds the score; rounding must not move it out.
    low = max(0.0, min(score, (centre - spread) / scale))
    high = min(1.0, max(score, (centre + spread) / scale))
    return low, high


def play_task(items: list[Item]) -> TaskResult:
    """Plays the playouts of one task; returns the tallies and the seconds spent playing.

    Runs in a worker process. It takes and returns plain data only.
    """
    # Imported here rather than at module level: Dask pickles this function by value, and
    # komaban's classes cannot travel with it.
    from komaban import ColorType, Game

    start, cpu_start = time.perf_counter(), time.process_time()
    tallies: list[Tally] = []
    for number, sfen, playouts in items:
        loaded = notation.load_sfen(sfen)
        board, move_number, turn = loaded.board, loaded.move_number, loaded.turn
        over, decided = loaded.is_finished()
        black = white = limit = moves = 0
        error = ""
        for _ in range(playouts):
            if over:
                # random_play returns a finished game as it is, without writing its winner.
                winner = decided
            else:
                try:
                    # A fresh copy of the position for every playout; Game copies the board in.
                    end = Game(board, move_number, turn).random_play()
                except BaseException as exc:  # PanicException derives from BaseException.
                    if type(exc).__name__ != "PanicException":
                        raise
                    error = f"a playout failed: {exc}"
                    break
                winner = end.winner  # written when the game ended; none at the move limit
                moves += int(end.move_number) - int(move_number)
            if winner == ColorType.Black:
                black += 1
            elif winner == ColorType.White:
                white += 1
            else:
                limit += 1
        tallies.append((number, black, white, limit, moves, error))
    return tallies, time.perf_counter() - start, time.process_time() - cpu_start


@dataclass
class Position:
    line: int
    sfen: str


@dataclass
class Evaluation:
    line: int
    sfen: str
    playouts: int = 0
    black_wins: int = 0
    white_wins: int = 0
    move_limit: int = 0
    moves: int = 0

    @property
    def score(self) -> float:
        return (self.black_wins + 0.5 * self.move_limit) / self.playouts

    @property
    def interval(self) -> tuple[float, float]:
        return wilson_interval(self.score, self.playouts)

    @property
    def mean_length(self) -> float:
        return self.moves / self.playouts


def read_positions(lines: Sequence[str]) -> tuple[list[Position], list[str]]:
    """The well-formed positions, and one message per malformed line naming its number."""
    positions: list[Position] = []
    errors: list[str] = []
    for number, text in enumerate(lines, start=1):
        line = text.strip()
        if not line or line.startswith("#"):
            continue
        try:
            notation.load_sfen(line)
        except ValueError as exc:
            errors.append(f"line {number}: {exc}")
        else:
            positions.append(Position(number, line))
    return positions, errors


def plan_tasks(
    positions: Sequence[Position],
    seconds: Sequence[float],
    playouts: int,
    workers: int,
    min_task: float,
    max_task: float,
) -> list[list[Item]]:
    """Splits the playouts into tasks by their estimated time, largest first.

    Each task gets a share of the time left (as in guided scheduling), kept between min_task,
    which keeps the per-task overhead small against the playing time, and max_task. Small
    tasks at the end keep every worker busy until the job is done. A task may hold playouts
    of several positions.
    """
    left = [playouts] * len(positions)
    time_left = sum(playouts * s for s in seconds)
    tasks: list[list[Item]] = []
    i = 0
    while i < len(positions):
        budget = min(max_task, max(min_task, time_left / (2 * workers)))
        task: list[Item] = []
        spent = 0.0
        while i < len(positions) and spent < budget:
            cost = max(seconds[i], 1e-7)
            n = min(left[i], max(1, math.ceil((budget - spent) / cost)))
            task.append((i, positions[i].sfen, n))
            spent += n * cost
            left[i] -= n
            if left[i] == 0:
                i += 1
        time_left -= spent
        tasks.append(task)
    return tasks


class Runner(Protocol):
    label: str
    workers: int
    min_task: float  # seconds of playing time a task should hold at least
    max_task: float  # and at most

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]: ...

    def close(self) -> None: ...


def shortest_task(runner: Runner) -> float:
    """The shortest task worth sending: TASK_COST_FACTOR times the cost of an empty task.

    The cost is measured as worker time per task over a batch of empty tasks.
    """
    n = 10 * runner.workers
    for _ in range(2):  # the first batch warms the workers up
        start = time.perf_counter()
        for _ in runner.run([[] for _ in range(n)]):
            pass
        cost = (time.perf_counter() - start) * runner.workers / n
    return max(0.001, TASK_COST_FACTOR * cost)


def failed_task(task: list[Item], reason: str) -> TaskResult:
    """The result of a task given up: each of its positions carries the reason."""
    return [(number, 0, 0, 0, 0, reason) for number, _, _ in task], 0.0, 0.0


def death(exitcode: int | None) -> str:
    """How a worker process ended, from its exit code."""
    if exitcode is None or exitcode >= 0:
        return f"exit status {exitcode}"
    try:
        name = signal.Signals(-exitcode).name
    except ValueError:
        name = f"signal {-exitcode}"
    # The kernel's out-of-memory killer sends SIGKILL.
    return f"killed by {name}" + (", as the out-of-memory killer does" if exitcode == -9 else "")


def serve(connection: Connection) -> None:
    """A worker process of the pool: plays the tasks it receives, in turn, until its pipe
    closes. An error is sent back as text."""
    while True:
        try:
            task = connection.recv()
        except EOFError:
            return
        try:
            answer: tuple[bool, TaskResult | str] = True, play_task(task)
        except Exception as exc:
            answer = False, f"{type(exc).__name__}: {exc}"
        try:
            connection.send(answer)
        except OSError:  # the program is gone (killed): nobody is left to answer
            return


@dataclass
class Worker:
    process: BaseProcess
    connection: Connection  # this end of its pipe
    # The tasks sent to it and not answered yet, with their tries: it plays the first.
    tasks: deque[tuple[list[Item], int]] = field(default_factory=deque)
    alive: bool = True


class PoolRunner:
    """A pool of worker processes on this machine that replaces a worker that dies.

    Each worker has a pipe of its own, so the program knows which task a worker was
    playing when it died, and a worker killed at any moment leaves nothing behind that
    the others wait for. (The standard ProcessPoolExecutor fails every pending task when
    one worker dies; pools whose workers share one queue can be left waiting on a lock
    that a killed worker held.)
    """

    max_task = 0.5

    def __init__(self, workers: int) -> None:
        self.workers = workers
        self.label = f"process pool, {workers} worker{'s' if workers > 1 else ''}"
        self.context = multiprocessing.get_context(start_method())
        self.pool = [self.start_worker() for _ in range(workers)]
        self.min_task = shortest_task(self)  # also starts the workers before any timing

    def start_worker(self) -> Worker:
        ours, theirs = self.context.Pipe()
        # Each start method's context has its own Process class, which BaseContext lacks.
        process = self.context.Process(target=serve, args=(theirs,), daemon=True)  # type: ignore[attr-defined]
        process.start()
        theirs.close()
        return Worker(process, ours)

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]:
        """Runs the tasks, two per worker at a time, and yields their results.

        The items of a task whose worker died run again on a new worker, each as a task of
        its own, so that only one that kills its worker is given up, after MAX_TRIES.
        """
        waiting = deque((task, 1) for task in tasks)
        while True:
            for worker in self.pool:
                # Two tasks per worker keep it busy while a result travels back.
                while worker.alive and waiting and len(worker.tasks) < 2:
                    try:
                        worker.connection.send(waiting[0][0])
                    except OSError:  # it died: its sentinel tells
                        worker.alive = False
                    else:
                        worker.tasks.append(waiting.popleft())
            if not waiting and not any(worker.tasks for worker in self.pool):
                return
            pipes = [w.connection for w in self.pool if w.alive and w.tasks]
            ready = set(wait(pipes + [w.process.sentinel for w in self.pool]))
            for n, worker in enumerate(self.pool):
                dead = worker.process.sentinel in ready
                if not dead and worker.connection not in ready:
                    continue
                # Every answer that came, those a worker sent just before it died included.
                while worker.alive and worker.tasks and worker.connection.poll():
                    try:
                        ok, answer = worker.connection.recv()
                    except (EOFError, OSError):  # it died sending: its sentinel tells
                        worker.alive = False
                        break
                    task, _ = worker.tasks.popleft()
                    yield answer if ok else failed_task(task, f"not evaluated: {answer}")
                if dead:
                    self.pool[n] = self.start_worker()
                    yield from self.rerun(worker, waiting)

    def rerun(self, dead: Worker, waiting: deque[tuple[list[Item], int]]) -> Iterator[TaskResult]:
        """Puts the tasks of a worker that died back in line; gives up on the one it played
        once it has had MAX_TRIES."""
        from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

        dead.process.join()
        dead.connection.close()
        how = death(dead.process.exitcode)
        if not dead.tasks:
            tqdm.write(f"a worker died ({how}) while idle; a new one replaces it", file=sys.stderr)
            return
        (task, tries), *unplayed = dead.tasks
        waiting.extendleft(reversed(unplayed))
        if tries < MAX_TRIES:
            tqdm.write(
                f"a worker died ({how}); its playouts run again on a new worker "
                f"(try {tries + 1} of {MAX_TRIES})",
                file=sys.stderr,
            )
            waiting.extendleft(([item], tries + 1) for item in reversed(task))
        else:
            yield failed_task(task, f"not evaluated: {tries} workers died running it ({how})")

    def close(self) -> None:
        # Stops the workers at once, in the middle of their tasks if the run was interrupted.
        for worker in self.pool:
            worker.connection.close()
            worker.process.terminate()
        for worker in self.pool:
            worker.process.join(1)
            if worker.process.is_alive():
                worker.process.kill()
                worker.process.join()


class DaskRunner:
    """A Dask distributed cluster: at an address, or a LocalCluster started here.

    Dask reruns the tasks of a worker that dies. The scheduler gives up on a task whose
    workers keep dying (KilledWorker, after its allowed-failures): its positions are then
    sent again one by one, and a position given up on its own is reported.
    """

    max_task = 1.0
    poll = 0.02  # seconds between two looks at the finished tasks

    def __init__(self, address: str, workers: int) -> None:
        import logging

        import dask
        from dask.distributed import Client, LocalCluster

        self.cluster: LocalCluster | None = None
        if address == "local":
            # Its workers, restarted ones included, forked as the process pool's are.
            method = start_method()
            dask.config.set({"distributed.worker.multiprocessing-method": method})
            # komaban holds the interpreter lock while it plays: one thread per process.
            self.cluster = LocalCluster(  # type: ignore[no-untyped-call, unused-ignore]
                n_workers=workers,
                threads_per_worker=1,
                processes=True,
                dashboard_address=None,
                silence_logs=logging.CRITICAL,
            )
            self.client = Client(self.cluster)  # type: ignore[no-untyped-call, unused-ignore]
        else:
            self.client = Client(address)  # type: ignore[no-untyped-call, unused-ignore]
        # The workers import the SFEN loader from the file this program uses.
        self.client.upload_file(notation.__file__)
        threads: dict[str, int] = self.client.nthreads()  # type: ignore[no-untyped-call, unused-ignore]
        self.workers = sum(threads.values())
        where = "LocalCluster" if self.cluster else address
        self.label = f"dask ({where}), {self.workers} workers"
        self.min_task = shortest_task(self)

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]:
        from dask.distributed import as_completed as dask_as_completed

        # Dask's calls take locks that its event-loop thread takes too: a stop raised in
        # the middle of one could leave such a lock held, and the loop (and so closing
        # the client) waiting on it for ever. They run with signals deferred, and the
        # finished futures are polled: a stop is raised in the sleep between two looks.
        with STOP.deferred():
            futures = self.client.map(play_task, tasks, pure=False)
            task_of = {future.key: task for future, task in zip(futures, tasks, strict=True)}
            done = dask_as_completed(futures)  # type: ignore[no-untyped-call, unused-ignore]
        while True:
            with STOP.deferred():
                if done.is_empty():  # type: ignore[no-untyped-call, unused-ignore]
                    return
                batch = done.next_batch(block=False)  # type: ignore[no-untyped-call, unused-ignore]
            if not batch:
                time.sleep(self.poll)
            for future in batch:
                with STOP.deferred():
                    result = self.outcome(future, task_of, done)
                if result is not None:
                    yield result

    def outcome(self, future: Any, task_of: dict[Any, list[Item]], done: Any) -> TaskResult | None:
        """The result of a finished task; None when its positions were sent again."""
        from dask.distributed import KilledWorker

        try:
            result: TaskResult = future.result()
        except KilledWorker:
            task = task_of[future.key]
            if len(task) > 1:
                # Each position of the task again on its own: only one that kills its
                # workers is given up.
                for item in task:
                    single = self.client.submit(play_task, [item], pure=False)
                    task_of[single.key] = [item]
                    done.add(single)
                return None
            reason = "not evaluated: every Dask worker that ran it died (KilledWorker)"
            result = failed_task(task, reason)
        return result

    def close(self) -> None:
        self.client.close(timeout=5)  # type: ignore[no-untyped-call, unused-ignore]
        if self.cluster is not None:
            # A worker asked to close waits for its task; when the run is interrupted that
            # can take a second. Each gets a quarter of a second before it is killed.
            nannies = list(self.cluster.workers.values())
            self.cluster.sync(close_nannies, nannies)  # type: ignore[no-untyped-call, unused-ignore]
            self.cluster.close(timeout=5)  # type: ignore[no-untyped-call, unused-ignore]


async def close_nannies(nannies: list[Any]) -> None:
    """Closes the workers of a LocalCluster at once, killing those still busy after 0.25 s."""
    import asyncio

    await asyncio.gather(*(n.close(timeout=0.25, reason="interrupted") for n in nannies))


@dataclass
class Run:
    evaluations: list[Evaluation]
    errors: list[str]
    seconds: float  # wall time of the playouts, from the first task sent to the last result
    playing: float  # time the workers spent in the playouts, summed over the workers
    cpu: float  # processor time the workers got for those playouts

    @property
    def playouts(self) -> int:
        return sum(e.playouts for e in self.evaluations)

    @property
    def rate(self) -> float:
        return self.playouts / self.seconds if self.seconds > 0 else 0.0

    def overhead(self, workers: int) -> float:
        """Worker time not spent playing, as a share of the playing time."""
        return (workers * self.seconds - self.playing) / self.playing

    def cpu_share(self) -> float:
        """The share of their playing time for which the workers had a processor."""
        return self.cpu / self.playing


def calibrate(positions: Sequence[Position]) -> tuple[list[Position], list[float], list[str]]:
    """Times a few playouts of each position here, to size the tasks.

    Returns the positions whose playouts ran, the seconds per playout of each, and one
    message per position whose playouts failed.
    """
    kept: list[Position] = []
    seconds: list[float] = []
    errors: list[str] = []
    for position in positions:
        tallies, spent, _ = play_task([(0, position.sfen, CALIBRATION_PLAYOUTS)])
        if tallies[0][5]:
            errors.append(f"line {position.line}: {tallies[0][5]}")
        else:
            kept.append(position)
            seconds.append(spent / CALIBRATION_PLAYOUTS)
    return kept, seconds, errors


def evaluate(
    positions: Sequence[Position],
    seconds: Sequence[float],
    playouts: int,
    runner: Runner,
    progress: bool = True,
    finished: Callable[[list[Evaluation]], None] | None = None,
) -> Run:
    """Plays `playouts` random games from each position on the runner and counts them.

    `finished` receives the positions whose playouts are all in, as they come, in the
    order they finish. A signal that stops the program waits while a result is recorded.
    """
    from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

    tasks = plan_tasks(
        positions, seconds, playouts, runner.workers, runner.min_task, runner.max_task
    )
    evaluations = [Evaluation(p.line, p.sfen) for p in positions]
    # The pieces of each position still out: it is finished when none is left.
    pieces = Counter(number for task in tasks for number, _, _ in task)
    failed: dict[int, str] = {}
    playing = cpu = 0.0
    start = time.perf_counter()
    results = runner.run(tasks)
    bar = tqdm(
        total=playouts * len(positions),
        unit="playout",
        unit_scale=True,
        disable=None if progress else True,
        desc="playing",
    )
    with bar:
        for tallies, spent, processor in results:
            with STOP.deferred():
                playing += spent
                cpu += processor
                done: list[Evaluation] = []
                for number, black, white, limit, moves, error in tallies:
                    if error:
                        failed.setdefault(number, error)
                    e = evaluations[number]
                    e.black_wins += black
                    e.white_wins += white
                    e.move_limit += limit
                    e.moves += moves
                    e.playouts += black + white + limit
                    bar.update(black + white + limit)
                    pieces[number] -= 1
                    if pieces[number] == 0 and number not in failed:
                        done.append(e)
                if done and finished is not None:
                    finished(done)
    elapsed = time.perf_counter() - start
    errors = [f"line {positions[n].line}: {message}" for n, message in sorted(failed.items())]
    kept = [e for n, e in enumerate(evaluations) if n not in failed]
    return Run(kept, errors, elapsed, playing, cpu)


def table(evaluations: Sequence[Evaluation]) -> str:
    """The results as a text table, one row per position."""
    header = (
        f"{'line':>5} {'playouts':>8} {'Black':>7} {'White':>7} {'limit':>6} "
        f"{'score':>6}  {'95% interval':<13} {'mean moves':>10}  position"
    )
    rows = [header]
    for e in evaluations:
        low, high = e.interval
        rows.append(
            f"{e.line:>5} {e.playouts:>8} {e.black_wins:>7} {e.white_wins:>7} {e.move_limit:>6} "
            f"{e.score:>6.3f}  {low:.3f} - {high:.3f} {e.mean_length:>10.1f}  {e.sfen}"
        )
    return "\n".join(rows)


def results_table(evaluations: Sequence[Evaluation]) -> Any:
    """The results as a pyarrow Table, one row per position, columns COLUMNS."""
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]

    intervals = [e.interval for e in evaluations]
    columns = {
        "line": pa.array([e.line for e in evaluations], pa.int32()),
        "sfen": pa.array([e.sfen for e in evaluations], pa.string()),
        "playouts": pa.array([e.playouts for e in evaluations], pa.int64()),
        "black_wins": pa.array([e.black_wins for e in evaluations], pa.int64()),
        "white_wins": pa.array([e.white_wins for e in evaluations], pa.int64()),
        "move_limit": pa.array([e.move_limit for e in evaluations], pa.int64()),
        "black_score": pa.array([e.score for e in evaluations], pa.float64()),
        "ci_low": pa.array([low for low, _ in intervals], pa.float64()),
        "ci_high": pa.array([high for _, high in intervals], pa.float64()),
        "mean_moves": pa.array([e.mean_length for e in evaluations], pa.float64()),
    }
    return pa.table(columns)


def is_parquet(path: Path) -> bool:
    return path.suffix.lower() == ".parquet"


def write_csv(evaluations: Sequence[Evaluation], file: IO[bytes], header: bool = True) -> None:
    import pyarrow.csv as pcsv  # type: ignore[import-untyped, unused-ignore]

    options = pcsv.WriteOptions(include_header=header, quoting_style="needed")
    pcsv.write_csv(results_table(evaluations), file, options)


def write_atomically(path: Path, write: Callable[[IO[bytes]], None], sync: bool = True) -> None:
    """Writes a file under a temporary name beside it, then renames it to path.

    A reader finds the old file or the new one, whole; never a part of either.
    """
    temporary = path.with_name(f".{path.name}.tmp")
    try:
        with open(temporary, "wb") as file:
            write(file)
            file.flush()
            if sync:
                os.fsync(file.fileno())
        os.replace(temporary, path)
    finally:
        temporary.unlink(missing_ok=True)


def write_results(evaluations: Sequence[Evaluation], path: Path) -> None:
    """Writes the results as CSV or Parquet, chosen by the file's extension."""
    if is_parquet(path):
        import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

        write_atomically(path, lambda file: pq.write_table(results_table(evaluations), file))
    else:
        write_atomically(path, lambda file: write_csv(evaluations, file))


class ResumeError(Exception):
    """An existing output file that --resume cannot go on from."""


def parts_folder(path: Path) -> Path:
    """Where the rows of a Parquet output wait, each batch in a file, to be folded in."""
    return path.with_name(path.name + ".parts")


def read_rows(path: Path) -> list[dict[str, Any]]:
    """The rows of an output file; with Parquet, those of its part files too.

    A CSV file's last line is left out unless whole (ending with a newline).
    """
    import pyarrow as pa  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.csv as pcsv  # type: ignore[import-untyped, unused-ignore]
    import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

    schema = results_table([]).schema
    tables = []
    try:
        if is_parquet(path):
            files = [path] if path.exists() else []
            if parts_folder(path).is_dir():
                files += sorted(parts_folder(path).glob("part-*.parquet"))
            tables = [pq.read_table(f) for f in files]
        elif path.exists():
            data = path.read_bytes()
            data = data[: data.rfind(b"\n") + 1]
            if data:
                types = {name: schema.field(name).type for name in COLUMNS}
                options = pcsv.ConvertOptions(column_types=types)
                tables = [pcsv.read_csv(io.BytesIO(data), convert_options=options)]
    except (pa.ArrowException, OSError) as exc:
        raise ResumeError(f"cannot read {path}: {exc}") from None
    rows = []
    for table in tables:
        if tuple(table.column_names) != COLUMNS:
            raise ResumeError(f"{path} is not a file of results: its columns are not {COLUMNS}")
        rows += table.to_pylist()
    return rows


def read_kept(path: Path, positions: Sequence[Position], playouts: int) -> list[Evaluation]:
    """The positions already evaluated in an output file, matched by line number and SFEN.

    Every row must be a position of the input with the same number of playouts: otherwise
    the file is another run's, and going on would mix the two.
    """
    sfen_of = {p.line: p.sfen for p in positions}
    kept: dict[int, Evaluation] = {}
    for row in read_rows(path):
        line = row["line"]
        if None in row.values():
            raise ResumeError(f"{path}: the row of line {line} has an empty field")
        if sfen_of.get(line) != row["sfen"]:
            raise ResumeError(
                f"{path} holds a position the input does not have at line {line}: "
                f"{row['sfen']}; not resuming"
            )
        if row["playouts"] != playouts:
            raise ResumeError(
                f"{path} holds {row['playouts']:,} playouts for line {line}, not {playouts:,}:"
                f" run with --playouts {row['playouts']} to finish it"
            )
        e = Evaluation(
            line,
            row["sfen"],
            playouts,
            row["black_wins"],
            row["white_wins"],
            row["move_limit"],
            # The mean is the exact quotient of two integers: the sum comes back exactly.
            round(row["mean_moves"] * playouts),
        )
        if e.black_wins + e.white_wins + e.move_limit != playouts:
            raise ResumeError(f"{path}: the counts of line {line} do not add up to its playouts")
        kept.setdefault(line, e)
    return sorted(kept.values(), key=lambda e: e.line)


class ResultFile:
    """The output file, readable and holding whole rows at every moment of a run.

    It starts with the positions kept from an earlier run (none without --resume); the rows
    of positions that finish are added as they come; finish() rewrites it in input order.
    """

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        self.path = path
        self.rows = {e.line: e for e in kept}

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        self.rows.update((e.line, e) for e in evaluations)

    def finish(self) -> None:
        self.close()
        write_results(sorted(self.rows.values(), key=lambda e: e.line), self.path)

    def close(self) -> None:
        pass


class CsvResults(ResultFile):
    """A CSV file: rows are appended and flushed, each batch in one write."""

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        super().__init__(path, kept)
        write_results(kept, path)  # the header, and the rows kept
        self.file = open(path, "ab", buffering=0)  # noqa: SIM115 (closed by close())
        self.synced = time.monotonic()

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        super().add(evaluations)
        buffer = io.BytesIO()
        write_csv(evaluations, buffer, header=False)
        data = memoryview(buffer.getvalue())
        while data:
            data = data[self.file.write(data) or 0 :]
        if time.monotonic() - self.synced >= SYNC_SECONDS:
            os.fsync(self.file.fileno())
            self.synced = time.monotonic()

    def close(self) -> None:
        self.file.close()


class ParquetResults(ResultFile):
    """A Parquet file, which cannot be appended to: each batch of rows goes at once to a
    part file beside it, and the file is rewritten with them at most every FOLD_SECONDS
    (or 20 times as long as a rewrite takes), then the parts are removed."""

    def __init__(self, path: Path, kept: Sequence[Evaluation]) -> None:
        super().__init__(path, kept)
        write_results(kept, path)
        self.parts = parts_folder(path)
        shutil.rmtree(self.parts, ignore_errors=True)  # read by --resume, or another run's
        self.parts.mkdir()
        self.unfolded: list[Path] = []
        self.written = 0  # part files written
        self.folded = -math.inf
        self.fold_cost = 0.0

    def add(self, evaluations: Sequence[Evaluation]) -> None:
        import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

        super().add(evaluations)
        self.written += 1
        part = self.parts / f"part-{self.written:06d}.parquet"
        write_atomically(part, lambda f: pq.write_table(results_table(evaluations), f), False)
        self.unfolded.append(part)
        if time.monotonic() - self.folded >= max(FOLD_SECONDS, 20 * self.fold_cost):
            start = time.monotonic()
            write_results(sorted(self.rows.values(), key=lambda e: e.line), self.path)
            for part in self.unfolded:
                part.unlink()
            self.unfolded.clear()
            self.folded = time.monotonic()
            self.fold_cost = self.folded - start

    def finish(self) -> None:
        super().finish()
        shutil.rmtree(self.parts, ignore_errors=True)


def open_results(
    path: Path, positions: Sequence[Position], playouts: int, resume: bool
) -> ResultFile:
    """Starts the output file, with the positions it already holds when resuming.

    Raises OSError when the file cannot be written, ResumeError when it cannot be resumed.
    """
    kept = read_kept(path, positions, playouts) if resume else []
    kind = ParquetResults if is_parquet(path) else CsvResults
    return kind(path, kept)


def check_writable(path: Path) -> None:
    """Raises OSError if a file cannot be written at path; an existing file is kept."""
    existed = path.exists()
    with open(path, "ab"):
        pass
    if not existed:
        path.unlink()


def plot(evaluations: Sequence[Evaluation], playouts: int, path: Path) -> None:
    """A chart of each position's score with its 95 % interval."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = list(range(len(evaluations)))
    scores = [e.score for e in evaluations]
    below = [e.score - e.interval[0] for e in evaluations]
    above = [e.interval[1] - e.score for e in evaluations]
    fig, ax = plt.subplots(figsize=(7, 1.2 + 0.35 * len(evaluations)))
    ax.axvline(0.5, color="0.6", linestyle=":", linewidth=1)
    ax.errorbar(scores, rows, xerr=[below, above], fmt="o", capsize=3, color="tab:blue")
    labels = [f"line {e.line}, {e.sfen.split()[1]} to move" for e in evaluations]
    ax.set_yticks(rows, labels=labels)
    ax.invert_yaxis()
    ax.set_xlim(0, 1)
    ax.set_xlabel("Black's score (win 1, move limit 1/2, loss 0) with 95 % Wilson interval")
    ax.set_title(f"Monte Carlo evaluation: {playouts:,} random playouts per position")
    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def bench(
    positions: Sequence[Position], playouts: int, workers: int, scheduler: str | None, rounds: int
) -> None:
    """Playouts per second with 1 worker and with all workers, run in turns; medians."""
    positions, seconds, errors = calibrate(positions)
    if errors:
        raise SystemExit("\n".join(errors))
    with STOP.deferred():
        runners: list[Runner] = [PoolRunner(1)]
        if workers > 1:
            runners.append(PoolRunner(workers))
        if scheduler:
            runners.append(DaskRunner(scheduler, workers))
    load_before = os.getloadavg()[0]
    runs: list[list[Run]] = [[] for _ in runners]
    try:
        for runner in runners:  # starts the workers before anything is timed
            evaluate(positions, seconds, 1, runner, progress=False)
        for _ in range(rounds):
            for k, runner in enumerate(runners):
                runs[k].append(evaluate(positions, seconds, playouts, runner, progress=False))
    finally:
        for runner in runners:
            runner.close()
    print(
        f"benchmark: {len(positions)} positions x {playouts:,} playouts, {rounds} rounds in "
        f"turns, medians (load average {load_before:.2f} before, {os.getloadavg()[0]:.2f} after)"
    )
    print(f"  {'':<34} {'playouts/s':>10} {'overhead':>9} {'CPU share':>10} {'min task':>9}")
    rates = []
    cpu_rates = []  # playouts per second of processor time the workers got
    for runner, results in zip(runners, runs, strict=True):
        rates.append(statistics.median(r.rate for r in results))
        cpu_rates.append(statistics.median(r.playouts / r.cpu for r in results))
        overhead = statistics.median(r.overhead(runner.workers) for r in results)
        cpu_share = statistics.median(r.cpu_share() for r in results)
        print(
            f"  {runner.label:<34} {rates[-1]:>10,.0f} {100 * overhead:>7.1f} % "
            f"{100 * cpu_share:>8.0f} % {1000 * runner.min_task:>6.1f} ms"
        )
    if workers > 1:
        print(
            f"scaling with {workers} workers: {rates[1] / rates[0]:.2f} x 1 worker, "
            f"efficiency {100 * rates[1] / (workers * rates[0]):.0f} %; "
            f"per second of processor time {cpu_rates[1] / cpu_rates[0]:.2f} x"
        )
    if scheduler:
        print(f"dask against the process pool: {rates[-1] / rates[min(1, workers - 1)]:.2f} x")
    print(
        "overhead: worker time outside the playouts, as a share of the playing time.\n"
        "CPU share: the share of the playing time for which the workers had a processor;\n"
        "below 100 % other programs were competing for the cores.\n"
        f"min task: the shortest task sent, {TASK_COST_FACTOR} times the measured cost of a task."
    )


def parse_args(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="Monte Carlo evaluation of shogi positions with komaban's random playouts. "
        "Black's score counts a win 1, a game stopped at the move limit 1/2, a loss 0; its "
        "interval is the 95 % Wilson interval. " + NOT_REPRODUCIBLE,
        epilog="Blank lines and lines starting with '#' in the input are skipped.",
    )
    parser.add_argument(
        "positions", help="file of standard SFEN lines, one per position; - for stdin"
    )
    parser.add_argument(
        "--playouts", type=int, default=1000, help="random games per position (default 1000)"
    )
    parser.add_argument(
        "--workers",
        type=int,
        default=os.cpu_count() or 1,
        help="worker processes (default: the number of CPUs)",
    )
    parser.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="run on the Dask distributed scheduler at ADDRESS; 'local' starts a LocalCluster "
        "of --workers processes here",
    )
    parser.add_argument(
        "--out", type=Path, metavar="FILE", help="write the results to FILE.csv or FILE.parquet"
    )
    parser.add_argument(
        "--resume",
        action="store_true",
        help="keep the positions already in --out (same line and SFEN) and evaluate the others",
    )
    parser.add_argument(
        "--plot", type=Path, metavar="FILE", help="draw each position's score to FILE.png"
    )
    parser.add_argument(
        "--bench",
        action="store_true",
        help="print playouts per second for 1 worker and for all workers, and the scaling",
    )
    parser.add_argument("--rounds", type=int, default=3, help="rounds of --bench (default 3)")
    args = parser.parse_args(argv)
    if args.playouts < 1 or args.workers < 1 or args.rounds < 1:
        parser.error("--playouts, --workers and --rounds must be at least 1")
    if args.out and args.out.suffix.lower() not in (".csv", ".parquet"):
        parser.error("--out must name a .csv or a .parquet file")
    if args.resume and not args.out:
        parser.error("--resume needs --out: the file to go on with")
    return args


@dataclass
class Job:
    """What a run has to do and what it has done so far, for the report of an interrupted run."""

    total: int = 0  # positions to evaluate
    done: list[Evaluation] = field(default_factory=list)
    results: ResultFile | None = None


def run_job(args: argparse.Namespace, job: Job) -> int:
    if args.positions == "-":
        lines = sys.stdin.read().splitlines()
    else:
        lines = Path(args.positions).read_text(encoding="utf-8").splitlines()
    positions, errors = read_positions(lines)
    for message in errors:
        print(message, file=sys.stderr)
    if not positions:
        print("no position to evaluate", file=sys.stderr)
        return 1
    if args.bench:
        bench(positions, args.playouts, args.workers, args.scheduler, args.rounds)
        return 0

    job.total = len(positions)
    # Before any work: an output that cannot be written, or resumed, is said at once.
    try:
        if args.plot:
            check_writable(args.plot)
    except OSError as exc:
        print(f"cannot write {args.plot}: {exc.strerror or exc}", file=sys.stderr)
        return 2
    try:
        if args.out:
            job.results = open_results(args.out, positions, args.playouts, args.resume)
    except OSError as exc:
        print(f"cannot write {args.out}: {exc.strerror or exc}", file=sys.stderr)
        return 2
    except ResumeError as exc:
        print(exc, file=sys.stderr)
        return 2
    results = job.results
    kept = list(results.rows.values()) if results else []
    job.done += kept

    def finished(evaluations: list[Evaluation]) -> None:
        job.done += evaluations
        if results:
            results.add(evaluations)

    todo = [p for p in positions if results is None or p.line not in results.rows]
    todo, seconds, failures = calibrate(todo)
    run = None
    if todo:
        with STOP.deferred():
            runner: Runner = (
                DaskRunner(args.scheduler, args.workers)
                if args.scheduler
                else PoolRunner(args.workers)
            )
        with closing(runner):
            run = evaluate(todo, seconds, args.playouts, runner, finished=finished)
    if results:
        with STOP.deferred():
            results.finish()
    for message in failures + (run.errors if run else []):
        print(message, file=sys.stderr)

    if run:
        print(
            f"{len(run.evaluations)} positions x {args.playouts:,} playouts on {runner.label}: "
            f"{run.seconds:.2f} s, {run.rate:,.0f} playouts/s"
        )
    if kept:
        print(f"{len(kept)} positions kept from {args.out}, evaluated by an earlier run")
    evaluations = sorted(job.done, key=lambda e: e.line)
    if not evaluations:
        print("no position to evaluate", file=sys.stderr)
        return 1
    print(NOT_REPRODUCIBLE)
    print(table(evaluations))
    if args.out:
        print(f"results written to {args.out}")
    if args.plot:
        plot(evaluations, args.playouts, args.plot)
        print(f"chart written to {args.plot}")
    return 1 if errors or failures or (run and run.errors) else 0


def main(argv: Sequence[str]) -> int:
    args = parse_args(argv)
    job = Job()
    STOP.install()
    try:
        return run_job(args, job)
    except Interrupted as interrupt:
        # The workers are stopped already (closing the runner); the rows are in the file.
        if job.results and not args.bench:
            job.results.finish()  # in input order
            where = f"written to {args.out}; run again with --resume to finish"
        elif job.done:
            print(table(sorted(job.done, key=lambda e: e.line)))
            where = "printed above; with --out FILE they are kept, and --resume finishes a run"
        else:
            where = "with --out FILE they are kept, and --resume finishes a run"
        name = signal.Signals(interrupt.signum).name
        if args.bench:
            print(f"interrupted by {name}", file=sys.stderr)
            return 128 + interrupt.signum
        print(
            f"interrupted by {name}: {len(job.done)} of {job.total} positions done, {where}",
            file=sys.stderr,
        )
        return 128 + interrupt.signum
    finally:
        STOP.restore()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
