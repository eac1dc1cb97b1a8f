"""Where the playouts run: a process pool on this machine, or a Dask cluster.

Both play tasks of `plan_tasks` and yield their results as they come; a
request to stop (`workers.STOP`) is acted on between two looks at the
results, never inside the pool's or Dask's code.
"""

from __future__ import annotations

import sys
import time
from collections import Counter
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from typing import Any, Protocol

from ..workers import STOP, WorkerPool, process_context
from .tasks import (
    MAX_TRIES,
    TASK_COST_FACTOR,
    Evaluation,
    Item,
    Position,
    Task,
    TaskResult,
    failed_task,
    plan_tasks,
    play_task,
    serve_task,
)


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


class PoolRunner:
    """A pool of worker processes on this machine (`workers.WorkerPool`).

    A worker that dies is replaced; the items of the task it was playing run
    again on a new worker, each as a task of its own, so that only one that
    kills its worker is given up, after MAX_TRIES.
    """

    max_task = 0.5
    poll = 0.1  # seconds between two looks at a request to stop

    def __init__(self, workers: int) -> None:
        self.workers = workers
        self.label = f"process pool, {workers} worker{'s' if workers > 1 else ''}"
        # Two tasks per worker keep it busy while a result travels back.
        self.pool: WorkerPool[Task] = WorkerPool(workers, serve_task, depth=2)
        self.min_task = shortest_task(self)  # also warms the workers up before any timing

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]:
        """Runs the tasks and yields their results as they come."""
        self.pool.submit(Task(items) for items in tasks)
        while self.pool.busy:
            STOP.check()
            for event in self.pool.poll(self.poll):
                if event.kind == "done":
                    yield event.value
                elif event.kind == "error" and event.request is not None:
                    yield failed_task(event.request.items, f"not evaluated: {event.value}")
                elif event.kind == "died":
                    yield from self.rerun(event.request, event.value)

    def rerun(self, task: Task | None, how: str) -> Iterator[TaskResult]:
        """Puts the items of the task of a worker that died back in line, first; gives up
        on the task once it has had MAX_TRIES."""
        from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

        if task is None:
            tqdm.write(f"a worker died ({how}) while idle; a new one replaces it", file=sys.stderr)
        elif task.tries < MAX_TRIES:
            tqdm.write(
                f"a worker died ({how}); its playouts run again on a new worker "
                f"(try {task.tries + 1} of {MAX_TRIES})",
                file=sys.stderr,
            )
            self.pool.submit((Task([item], task.tries + 1) for item in task.items), first=True)
        else:
            yield failed_task(
                task.items, f"not evaluated: {task.tries} workers died running it ({how})"
            )

    def close(self) -> None:
        # Stops the workers at once, in the middle of their tasks if the run was interrupted.
        self.pool.close(grace=0)


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
            method = process_context().get_start_method()
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
        threads: dict[str, int] = self.client.nthreads()  # type: ignore[no-untyped-call, unused-ignore]
        self.workers = sum(threads.values())
        where = "LocalCluster" if self.cluster else address
        self.label = f"dask ({where}), {self.workers} workers"
        self.min_task = shortest_task(self)

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]:
        from dask.distributed import as_completed as dask_as_completed

        # Dask's calls take locks that its event-loop thread takes too: a stop raised in
        # the middle of one could leave such a lock held, and the loop (and so closing
        # the client) waiting on it for ever. The finished futures are polled instead of
        # waited for, and a request to stop is acted on between two looks.
        futures = self.client.map(play_task, tasks, pure=False)
        task_of = {future.key: task for future, task in zip(futures, tasks, strict=True)}
        done = dask_as_completed(futures)  # type: ignore[no-untyped-call, unused-ignore]
        while not done.is_empty():  # type: ignore[no-untyped-call, unused-ignore]
            STOP.check()
            batch = done.next_batch(block=False)  # type: ignore[no-untyped-call, unused-ignore]
            if not batch:
                time.sleep(self.poll)
            for future in batch:
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
    order they finish. A request to stop is acted on between two results, never while
    one is recorded.
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
