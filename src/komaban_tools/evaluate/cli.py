"""The `komaban-evaluate` command: Monte Carlo evaluation of shogi positions.

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

    komaban-evaluate examples/positions.sfen --playouts 1000
    komaban-evaluate - < positions.sfen --out results.parquet
    komaban-evaluate positions.sfen --scheduler local --plot scores.png
    komaban-evaluate positions.sfen --bench
    komaban-evaluate positions.sfen --out results.csv --resume

Blank lines and lines starting with "#" are skipped.
"""

from __future__ import annotations

import argparse
import importlib.util
import os
import statistics
import sys
from collections.abc import Sequence
from contextlib import closing
from dataclasses import dataclass, field
from pathlib import Path

from ..workers import STOP, Interrupted, cpu_count
from .results import ResultFile, ResumeError, open_results
from .runners import DaskRunner, PoolRunner, Run, Runner, evaluate
from .tasks import TASK_COST_FACTOR, Evaluation, Position, calibrate, read_positions

NOT_REPRODUCIBLE = (
    "Results are not reproducible from run to run: every worker process seeds komaban's "
    "random generator from the operating system, and it cannot be seeded by hand."
)


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


def parse_args(argv: Sequence[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog="komaban-evaluate",
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
        default=cpu_count(),
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


def missing_libraries(args: argparse.Namespace) -> list[str]:
    """The libraries of the `evaluate` extra that this run needs and cannot import."""
    needed = ["tqdm"]
    needed += ["pyarrow"] if args.out else []
    needed += ["matplotlib"] if args.plot else []
    needed += ["distributed"] if args.scheduler else []
    return [name for name in needed if importlib.util.find_spec(name) is None]


def run_job(args: argparse.Namespace, job: Job) -> int:
    missing = missing_libraries(args)
    if missing:
        print(
            f'komaban-evaluate needs {", ".join(missing)}: pip install "komaban[evaluate]"',
            file=sys.stderr,
        )
        return 2
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
        runner: Runner = (
            DaskRunner(args.scheduler, args.workers) if args.scheduler else PoolRunner(args.workers)
        )
        with closing(runner):
            run = evaluate(todo, seconds, args.playouts, runner, finished=finished)
    if results:
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


def main(argv: Sequence[str] | None = None) -> int:
    """The `komaban-evaluate` command."""
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
        if args.bench:
            print(f"interrupted by {interrupt.name}", file=sys.stderr)
            return interrupt.exit_status
        print(
            f"interrupted by {interrupt.name}: {len(job.done)} of {job.total} positions done, "
            f"{where}",
            file=sys.stderr,
        )
        return interrupt.exit_status
    finally:
        STOP.restore()
