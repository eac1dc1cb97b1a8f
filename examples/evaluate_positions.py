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

Usage:
    python examples/evaluate_positions.py examples/positions.sfen --playouts 1000
    python examples/evaluate_positions.py - < positions.sfen --out results.parquet
    python examples/evaluate_positions.py positions.sfen --scheduler local --plot scores.png
    python examples/evaluate_positions.py positions.sfen --bench

Blank lines and lines starting with "#" are skipped.
"""

from __future__ import annotations

import argparse
import math
import multiprocessing
import os
import statistics
import sys
import time
from collections.abc import Iterator, Sequence
from concurrent.futures import ProcessPoolExecutor, as_completed
from contextlib import closing
from dataclasses import dataclass
from pathlib import Path
from typing import Protocol

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

# One piece of work: (position number, SFEN line, number of playouts).
Item = tuple[int, str, int]
# Its result: (position number, Black wins, White wins, move-limit games, moves played,
# error text); the error text is empty unless a playout failed.
Tally = tuple[int, int, int, int, int, str]
# The result of a task: its tallies, and the wall and CPU seconds its playouts took.
TaskResult = tuple[list[Tally], float, float]


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


class PoolRunner:
    """A process pool on this machine."""

    max_task = 0.5

    def __init__(self, workers: int) -> None:
        self.workers = workers
        self.label = f"process pool, {workers} worker{'s' if workers > 1 else ''}"
        # Workers forked from a server process that runs no thread: this process may run
        # threads (another pool's, a Dask client's), and forking it would be unsafe.
        methods = multiprocessing.get_all_start_methods()
        method = "forkserver" if "forkserver" in methods else "spawn"
        self.pool = ProcessPoolExecutor(workers, multiprocessing.get_context(method))
        self.min_task = shortest_task(self)  # also starts the workers before any timing

    def run(self, tasks: list[list[Item]]) -> Iterator[TaskResult]:
        futures = [self.pool.submit(play_task, task) for task in tasks]
        return (future.result() for future in as_completed(futures))

    def close(self) -> None:
        self.pool.shutdown(cancel_futures=True)


class DaskRunner:
    """A Dask distributed cluster: at an address, or a LocalCluster started here."""

    max_task = 1.0

    def __init__(self, address: str, workers: int) -> None:
        import logging

        from dask.distributed import Client, LocalCluster

        self.cluster: LocalCluster | None = None
        if address == "local":
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

        futures = self.client.map(play_task, tasks, pure=False)
        done = dask_as_completed(futures, with_results=True)  # type: ignore[no-untyped-call, unused-ignore]
        return (result for _, result in done)

    def close(self) -> None:
        self.client.close()  # type: ignore[no-untyped-call, unused-ignore]
        if self.cluster is not None:
            self.cluster.close()


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
        return self.playouts / self.seconds

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
) -> Run:
    """Plays `playouts` random games from each position on the runner and counts them."""
    from tqdm import tqdm  # type: ignore[import-untyped, unused-ignore]

    tasks = plan_tasks(
        positions, seconds, playouts, runner.workers, runner.min_task, runner.max_task
    )
    evaluations = [Evaluation(p.line, p.sfen) for p in positions]
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


def write_results(evaluations: Sequence[Evaluation], path: Path) -> None:
    """Writes the results as CSV or Parquet, chosen by the file's extension."""
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
    data = pa.table(columns)
    if path.suffix.lower() == ".parquet":
        import pyarrow.parquet as pq  # type: ignore[import-untyped, unused-ignore]

        pq.write_table(data, path)
    else:
        import pyarrow.csv as pcsv  # type: ignore[import-untyped, unused-ignore]

        pcsv.write_csv(data, path, pcsv.WriteOptions(quoting_style="needed"))


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
    return args


def main(argv: Sequence[str]) -> int:
    args = parse_args(argv)
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

    positions, seconds, failures = calibrate(positions)
    if not positions:
        print("\n".join(failures + ["no position to evaluate"]), file=sys.stderr)
        return 1
    runner: Runner = (
        DaskRunner(args.scheduler, args.workers) if args.scheduler else PoolRunner(args.workers)
    )
    with closing(runner):
        run = evaluate(positions, seconds, args.playouts, runner)
    for message in failures + run.errors:
        print(message, file=sys.stderr)
    evaluations = run.evaluations

    print(
        f"{len(evaluations)} positions x {args.playouts:,} playouts on {runner.label}: "
        f"{run.seconds:.2f} s, {run.rate:,.0f} playouts/s"
    )
    print(NOT_REPRODUCIBLE)
    print(table(evaluations))
    if args.out:
        write_results(evaluations, args.out)
        print(f"results written to {args.out}")
    if args.plot:
        plot(evaluations, args.playouts, args.plot)
        print(f"chart written to {args.plot}")
    return 1 if errors or failures or run.errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
