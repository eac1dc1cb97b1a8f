"""Worker processes and stopping, for every program of the package that runs long.

Two things, used together by the evaluator, the Monte Carlo player, the demo
and the engine's search:

* `STOP` turns SIGINT (Ctrl-C) and SIGTERM into a request to stop. The signal
  handler only records the signal and raises the shared stop flag of every
  `WorkerPool`; the program acts on it where it chooses, by calling
  `STOP.check()`, which raises `Interrupted`. No exception is ever raised by
  the handler itself in the middle of the program's code, or of a library's
  (a pool's or Dask's locks, tqdm's), except inside `STOP.interruptible()`,
  around a blocking call that holds no lock of Python code, such as a read of
  standard input.
* `WorkerPool` runs a handler function on requests in worker processes, each
  worker with a pipe of its own: the pool knows which request a worker was
  serving when it died, starts a new worker in its place and says so, and a
  worker killed at any moment leaves nothing behind that the others wait for.
  (Pools whose workers share one queue can be left waiting on a lock that a
  killed worker held; `multiprocessing.Pool.terminate` has that hang.) A
  handler reads the pool's stop flag between steps of its work and may send
  reports before its answer.

komaban objects do not pickle, so requests and answers are plain data.
"""

from __future__ import annotations

import multiprocessing
import os
import signal
import threading
import time
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass, field
from multiprocessing.connection import Connection, wait
from multiprocessing.context import BaseContext
from multiprocessing.process import BaseProcess
from types import FrameType
from typing import Any, Generic, Literal, TypeVar

Request = TypeVar("Request")


class Interrupted(BaseException):
    """SIGINT or SIGTERM asked the program to stop.

    A BaseException, as KeyboardInterrupt is, so that no `except Exception` swallows it.
    """

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum

    @property
    def exit_status(self) -> int:
        """128 plus the signal's number, as a shell reports a program stopped by it."""
        return 128 + self.signum

    @property
    def name(self) -> str:
        return signal.Signals(self.signum).name


class StopSignals:
    """SIGINT and SIGTERM as a request to stop, acted on where the program checks for it.

    Once `Interrupted` has been raised, it is not raised again: the program is
    stopping, and a second Ctrl-C must not cut its cleanup short.
    """

    SIGNALS = (signal.SIGINT, signal.SIGTERM)

    def __init__(self) -> None:
        self.signum = 0
        self.raised = False
        self.flags: list[Any] = []  # the stop flags of the worker pools
        self._previous: list[Any] = []
        self._interruptible = 0

    def install(self) -> None:
        """Installs the handlers (from the main thread), forgetting any earlier request."""
        self.signum, self.raised = 0, False
        self._previous = [signal.signal(s, self._handle) for s in self.SIGNALS]

    def restore(self) -> None:
        for s, handler in zip(self.SIGNALS, self._previous, strict=True):
            signal.signal(s, handler)
        self._previous = []

    @contextmanager
    def installed(self) -> Iterator[StopSignals]:
        self.install()
        try:
            yield self
        finally:
            self.restore()

    @property
    def requested(self) -> bool:
        """Whether a signal asked the program to stop."""
        return self.signum != 0

    def _handle(self, signum: int, frame: FrameType | None) -> None:
        self.signum = self.signum or signum
        for flag in self.flags:
            flag.value = 1
        if self._interruptible:
            self.check()

    def check(self) -> None:
        """Raises Interrupted if a signal asked the program to stop (the first time only)."""
        if self.signum and not self.raised:
            self.raised = True
            raise Interrupted(self.signum)

    @contextmanager
    def interruptible(self) -> Iterator[None]:
        """A block in which a signal raises Interrupted at once: only around a blocking
        call that holds no lock of Python code (a read of standard input, a sleep)."""
        self.check()
        self._interruptible += 1
        try:
            yield
        finally:
            self._interruptible -= 1

    def sleep(self, seconds: float) -> None:
        """Sleeps, cut short by a request to stop (which it raises)."""
        with self.interruptible():
            time.sleep(seconds)


# The program's signal handling; a process has one.
STOP = StopSignals()


def process_context() -> BaseContext:
    """The way to start worker processes here: forked from a server process if possible.

    The server runs no thread, whereas this process may (a Dask client's, tqdm's,
    the engine's), and forking a process that runs threads is unsafe. It is
    started, once, with SIGINT ignored, and so is every worker forked from it: a
    Ctrl-C at the terminal, sent to every process of the foreground group, is then
    for this process alone, which stops the workers itself, instead of each worker
    printing its own KeyboardInterrupt.
    """
    if "forkserver" not in multiprocessing.get_all_start_methods():
        return multiprocessing.get_context("spawn")
    from multiprocessing import forkserver

    if threading.current_thread() is threading.main_thread():
        previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            forkserver.ensure_running()
        finally:
            signal.signal(signal.SIGINT, previous)
    return multiprocessing.get_context("forkserver")


def cpu_count() -> int:
    """The processors this process may run on (its affinity where the system has one)."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


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


class WorkerContext:
    """What a handler running in a worker process can do beyond answering."""

    def __init__(self, connection: Connection, stop_flag: Any) -> None:
        self._connection = connection
        self._stop = stop_flag

    def stopped(self) -> bool:
        """Whether the pool asks its workers to stop (the work in hand ends early)."""
        return bool(self._stop.value)

    def report(self, value: Any) -> None:
        """Sends a report on the request being served, before its answer."""
        self._connection.send(("report", value))


Handler = Callable[[Any, WorkerContext], Any]


def _serve(connection: Connection, handler: Handler, stop_flag: Any) -> None:
    """A worker process: answers the requests of its pipe in turn until the pipe closes.

    An exception of the handler is sent back as text; the worker goes on.
    """
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is for the program, which stops us
    worker = WorkerContext(connection, stop_flag)
    try:
        connection.send(("ready", None))
        while True:
            try:
                request = connection.recv()
            except EOFError:
                return
            try:
                answer: tuple[str, Any] = "done", handler(request, worker)
            except Exception as exc:
                answer = "error", f"{type(exc).__name__}: {exc}"
            connection.send(answer)
    except OSError:  # the program is gone (killed): nobody is left to answer
        return


@dataclass
class Event(Generic[Request]):
    """What happened to a request: a report, its answer, its handler's error, or the
    death of the worker serving it (`request` is None for an idle worker)."""

    kind: Literal["report", "done", "error", "died"]
    request: Request | None
    value: Any  # the report, the answer, the error's text, how the worker died


@dataclass
class _Worker:
    process: BaseProcess
    connection: Connection  # this end of its pipe
    # The requests sent to it and not answered yet: it serves the first.
    jobs: deque[Any] = field(default_factory=deque)
    alive: bool = True


class WorkerPool(Generic[Request]):
    """`workers` processes that serve requests with `handler(request, context)`.

    Each worker is sent up to `depth` requests at a time (more than one keeps it
    busy while an answer travels back). A worker that dies is replaced at once;
    the request it was serving is reported as an Event of kind "died" and the
    requests it had not begun go back in line. The handler must be a function of
    a module (it travels to the workers by name), its requests and answers
    picklable.
    """

    START_TIMEOUT = 60.0  # seconds for a worker to start

    def __init__(self, workers: int, handler: Handler, depth: int = 1) -> None:
        if workers < 1:
            raise ValueError("a pool needs at least one worker")
        self.handler = handler
        self.depth = depth
        self.context = process_context()
        self.stop_flag = self.context.RawValue("b", 0)
        STOP.flags.append(self.stop_flag)
        self.waiting: deque[Request] = deque()
        self.pool: list[_Worker] = []
        try:
            self.pool = [self._start() for _ in range(workers)]
            # Started means able to work: each worker says so once it has imported all.
            for i, worker in enumerate(self.pool):
                connection = worker.connection
                if not connection.poll(self.START_TIMEOUT) or connection.recv()[0] != "ready":
                    raise RuntimeError(f"worker {i} did not start")
        except BaseException:
            self.close(0)
            raise

    def _start(self) -> _Worker:
        ours, theirs = self.context.Pipe()
        # Each start method's context has its own Process class, which BaseContext lacks.
        process = self.context.Process(  # type: ignore[attr-defined]
            target=_serve, args=(theirs, self.handler, self.stop_flag), daemon=True
        )
        process.start()
        theirs.close()
        return _Worker(process, ours)

    @property
    def workers(self) -> int:
        return len(self.pool)

    @property
    def busy(self) -> bool:
        """Whether any request is waiting or being served."""
        return bool(self.waiting) or any(worker.jobs for worker in self.pool)

    def submit(self, requests: Iterable[Request], first: bool = False) -> None:
        """Puts requests in line (before those waiting, with `first`)."""
        if first:
            self.waiting.extendleft(reversed(list(requests)))
        else:
            self.waiting.extend(requests)

    def stop(self) -> None:
        """Raises the stop flag that the handlers read."""
        self.stop_flag.value = 1

    def resume(self) -> None:
        """Lowers the stop flag, for the requests to come."""
        self.stop_flag.value = 0

    def _dispatch(self) -> None:
        for worker in self.pool:
            while worker.alive and self.waiting and len(worker.jobs) < self.depth:
                try:
                    worker.connection.send(self.waiting[0])
                except OSError:  # it died: its sentinel tells
                    worker.alive = False
                else:
                    worker.jobs.append(self.waiting.popleft())

    def poll(self, timeout: float | None) -> list[Event[Request]]:
        """Sends waiting requests to free workers, then waits up to `timeout` seconds
        for something to happen and returns what did (nothing, when idle)."""
        self._dispatch()
        if not self.busy:
            return []
        pipes = [w.connection for w in self.pool if w.alive and w.jobs]
        ready = set(wait(pipes + [w.process.sentinel for w in self.pool], timeout))
        events: list[Event[Request]] = []
        for n, worker in enumerate(self.pool):
            dead = worker.process.sentinel in ready
            if not dead and worker.connection not in ready:
                continue
            # Every message that came, those a worker sent just before it died included.
            while worker.alive and worker.jobs and worker.connection.poll():
                try:
                    kind, value = worker.connection.recv()
                except (EOFError, OSError):  # it died sending: its sentinel tells
                    worker.alive = False
                    break
                if kind == "report":
                    events.append(Event("report", worker.jobs[0], value))
                elif kind != "ready":  # a new worker's greeting
                    events.append(Event(kind, worker.jobs.popleft(), value))
            if dead:
                worker.process.join()
                worker.connection.close()
                self.pool[n] = self._start()
                how = death(worker.process.exitcode)
                if worker.jobs:
                    lost, *unserved = worker.jobs
                    self.waiting.extendleft(reversed(unserved))
                    events.append(Event("died", lost, how))
                else:
                    events.append(Event("died", None, how))
        self._dispatch()
        return events

    def close(self, grace: float = 1.0) -> None:
        """Ends the workers: they stop their work and leave as their pipes close;
        those still there after `grace` seconds are terminated."""
        self.stop()
        for worker in self.pool:
            worker.connection.close()
        deadline = time.monotonic() + grace
        for worker in self.pool:
            worker.process.join(max(0.0, deadline - time.monotonic()))
            if worker.process.is_alive():
                worker.process.terminate()
                worker.process.join(1)
            if worker.process.is_alive():
                worker.process.kill()
                worker.process.join()
        self.pool = []
        if self.stop_flag in STOP.flags:
            STOP.flags.remove(self.stop_flag)

    def __enter__(self) -> WorkerPool[Request]:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()
