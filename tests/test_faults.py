"""Long runs of the examples keep what is done: real runs, faulted in the middle.

Each program runs as a subprocess in a session of its own, as from a terminal; it is
faulted once results are written: a worker killed with SIGKILL (as the out-of-memory
killer does), SIGINT to the whole process group (Ctrl-C), SIGTERM to the program. The
files are then compared with an uninterrupted run of the same positions: the same lines,
SFEN text and playout counts (the scores are random).
"""

import csv
import os
import re
import select
import signal
import struct
import subprocess
import sys
import time
from pathlib import Path

import pytest
from helpers import command, needs_second_interpreter

pytest.importorskip("distributed", reason="the evaluate extra is not installed")
pq = pytest.importorskip("pyarrow.parquet")
psutil = pytest.importorskip("psutil")  # comes with dask.distributed
pytestmark = [
    pytest.mark.end_to_end,
    needs_second_interpreter,
    pytest.mark.skipif(sys.platform == "win32", reason="POSIX signals and process groups"),
]

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
EVALUATE = command("komaban-evaluate")
COLUMNS = ("line", "sfen", "playouts", "black_wins", "white_wins", "move_limit")
COLUMNS += ("black_score", "ci_low", "ci_high", "mean_moves")
SAMPLES = [
    line
    for line in (EXAMPLES / "positions.sfen").read_text().splitlines()
    if line and not line.startswith("#")
]
MIDDLE_GAME = "8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124"
# Seconds of playing the job takes on 2 workers: long enough to be stopped in the middle.
JOB_SECONDS = 1.5
TIMEOUT = 180
INTERRUPTED = re.compile(
    r"^interrupted by (SIG\w+): (\d+) of (\d+) positions done, written to (.+); "
    r"run again with --resume to finish$"
)


def playouts_per_second():
    """This machine's rate of playouts from the start position, in this interpreter."""
    from komaban import Game

    count, start = 0, time.perf_counter()
    while time.perf_counter() - start < 0.2:
        Game().random_play()
        count += 1
    return count / (time.perf_counter() - start)


@pytest.fixture(scope="module")
def job(tmp_path_factory):
    """24 positions after a comment line, playouts sized to the machine, and the file of
    an uninterrupted run."""
    folder = tmp_path_factory.mktemp("job")
    positions = folder / "positions.sfen"
    lines = [(SAMPLES * 3)[n] for n in range(24)]
    positions.write_text("# sample positions\n" + "\n".join(lines) + "\n")
    playouts = max(100, int(2 * JOB_SECONDS * playouts_per_second() / len(lines)) // 100 * 100)
    reference = folder / "reference.csv"
    result = subprocess.run(
        [EVALUATE, positions, "--playouts", str(playouts), "--workers", "2", "--out", reference],
        capture_output=True,
        text=True,
        timeout=TIMEOUT,
    )
    assert result.returncode == 0, result.stderr
    return positions, playouts, reference


def evaluate_args(job, out, *more):
    positions, playouts, _ = job
    args = [EVALUATE, positions, "--playouts", str(playouts), "--workers", "2", "--out", out]
    return [*map(str, args + list(more))]


def start(args, **options):
    return subprocess.Popen(
        args,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        start_new_session=True,  # its own process group, as a terminal would make
        **options,
    )


def rows_of(path, running=False):
    """The rows of a results file, CSV or Parquet, as dictionaries of text.

    While the program runs, a line it is appending may be seen in part: it is left out.
    """
    if path.suffix == ".parquet":
        return [{k: str(v) for k, v in r.items()} for r in pq.read_table(path).to_pylist()]
    text = path.read_text()
    if running:
        text = text[: text.rfind("\n") + 1]
    assert text.endswith("\n"), "a row is cut short"
    rows = list(csv.DictReader(text.splitlines()))
    assert all(None not in row and None not in row.values() for row in rows), rows
    return rows


def wait_for_rows(process, path):
    """Waits until the running program's file holds a row."""
    deadline = time.monotonic() + TIMEOUT
    while time.monotonic() < deadline:
        assert process.poll() is None, process.communicate()
        if path.exists() and rows_of(path, running=True):
            return
        time.sleep(0.05)
    pytest.fail(f"no row in {path} after {TIMEOUT} s")


def workers_of(process):
    """The worker processes of a run: forked by its fork server, whose parent it is."""
    return [
        p for p in psutil.Process(process.pid).children(recursive=True) if p.ppid() != process.pid
    ]


def check_complete(path, job, kept=()):
    """The file of a finished run matches the uninterrupted one, and keeps `kept` as is."""
    reference = rows_of(job[2])
    rows = rows_of(path)
    assert [(r["line"], r["sfen"], r["playouts"]) for r in rows] == [
        (r["line"], r["sfen"], r["playouts"]) for r in reference
    ]
    for row in rows:
        counts = (int(row[k]) for k in ("black_wins", "white_wins", "move_limit"))
        assert sum(counts) == int(row["playouts"])
    by_line = {row["line"]: row for row in rows}
    assert all(by_line[row["line"]] == row for row in kept)
    if path.suffix == ".csv":
        header = job[2].read_text().splitlines()[0]
        assert path.read_text().splitlines()[0] == header
        assert not path.with_name(f".{path.name}.tmp").exists()
    else:
        assert not path.with_name(path.name + ".parts").exists()


@pytest.mark.parametrize(
    "scheduler, signum, suffix",
    [
        (None, signal.SIGINT, ".csv"),
        (None, signal.SIGTERM, ".parquet"),
        ("local", signal.SIGINT, ".csv"),
    ],
    ids=["pool-SIGINT-csv", "pool-SIGTERM-parquet", "dask-SIGINT-csv"],
)
def test_interrupted_run_keeps_what_is_done_and_resumes(job, tmp_path, scheduler, signum, suffix):
    out = tmp_path / f"results{suffix}"
    more = ["--scheduler", scheduler] if scheduler else []
    process = start(evaluate_args(job, out, *more))
    wait_for_rows(process, out)
    children = psutil.Process(process.pid).children(recursive=True)
    if signum == signal.SIGINT:
        os.killpg(process.pid, signum)  # as Ctrl-C does: every process of the group
    else:
        process.send_signal(signum)
    stdout, stderr = process.communicate(timeout=TIMEOUT)

    assert process.returncode == 128 + signum, stderr
    assert "Traceback" not in stderr, stderr
    message = INTERRUPTED.match(stderr.splitlines()[-1])
    assert message, stderr
    name, done, total, where = message.groups()
    assert (name, int(total), where) == (signum.name, 24, str(out))
    _, alive = psutil.wait_procs(children, timeout=10)
    assert not alive, "worker processes left behind"
    # What is done is there, whole, in input order: stopped in the middle of the run.
    kept = rows_of(out)
    assert 1 <= len(kept) == int(done) < 24
    assert [int(r["line"]) for r in kept] == sorted(int(r["line"]) for r in kept)
    assert {r["playouts"] for r in kept} == {str(job[1])}

    # Finished on the process pool: what is kept does not depend on where it was played.
    resumed = subprocess.run(
        evaluate_args(job, out, "--resume"), capture_output=True, text=True, timeout=TIMEOUT
    )
    assert resumed.returncode == 0, resumed.stderr
    assert f"{done} positions kept from {out}" in resumed.stdout
    check_complete(out, job, kept)


@pytest.mark.parametrize("scheduler", [None, "local"], ids=["pool", "dask"])
def test_killed_worker_loses_nothing(job, tmp_path, scheduler):
    out = tmp_path / "results.csv"
    more = ["--scheduler", scheduler] if scheduler else []
    process = start(evaluate_args(job, out, *more))
    wait_for_rows(process, out)
    workers = workers_of(process)
    assert len(workers) == 2, [w.cmdline() for w in workers]
    workers[0].send_signal(signal.SIGKILL)
    stdout, stderr = process.communicate(timeout=TIMEOUT)

    assert process.returncode == 0, stderr
    assert "Traceback" not in stderr, stderr
    if not scheduler:  # Dask reruns the task itself, silently
        assert "a worker died (killed by SIGKILL" in stderr
        assert "run again on a new worker (try 2 of 3)" in stderr
    check_complete(out, job)


# Runs the program with its playouts replaced: a worker that plays the middle game kills
# itself, each time, as the out-of-memory killer would.
DYING_WORKER = """
import os, signal, sys
from komaban_tools.evaluate import cli, tasks

play_task = tasks.play_task
IN_WORKER = __name__ != "__main__"  # the workers import this file as __mp_main__


def dying_play_task(items):
    if IN_WORKER and any(sfen == {sfen!r} for _, sfen, _ in items):
        os.kill(os.getpid(), signal.SIGKILL)
    return play_task(items)


tasks.play_task = dying_play_task
if __name__ == "__main__":
    sys.exit(cli.main())
"""


def test_position_whose_worker_always_dies_is_reported_after_three_tries(tmp_path):
    script = tmp_path / "dying.py"
    script.write_text(DYING_WORKER.format(sfen=MIDDLE_GAME))
    positions = tmp_path / "positions.sfen"
    positions.write_text("\n".join(SAMPLES[:4] + [MIDDLE_GAME] + SAMPLES[:3]) + "\n")
    out = tmp_path / "results.parquet"
    result = subprocess.run(
        [sys.executable, script, positions, "--playouts", "200", "--workers", "2"] + ["--out", out],
        capture_output=True,
        text=True,
        timeout=TIMEOUT,
    )
    assert result.returncode == 1, result.stderr
    assert "Traceback" not in result.stderr
    assert result.stderr.count("a worker died (killed by SIGKILL") >= 2
    assert re.search(
        r"^line 5: not evaluated: 3 workers died running it \(killed by SIGKILL",
        result.stderr,
        flags=re.M,
    )
    rows = rows_of(out)
    assert [int(r["line"]) for r in rows] == [1, 2, 3, 4, 6, 7, 8]
    assert {r["playouts"] for r in rows} == {"200"}


@pytest.mark.parametrize(
    "case, message",
    [
        ("no folder", r"^cannot write .*missing/results\.csv: No such file or directory$"),
        ("other position", r"^.*results\.csv holds a position the input does not have at line 2"),
        ("other playouts", r"^.*results\.csv holds 500 playouts for line 2, not 300: run with"),
    ],
)
def test_output_refused_before_any_work(tmp_path, case, message):
    positions = tmp_path / "positions.sfen"
    positions.write_text("\n".join(SAMPLES[:3]) + "\n")
    out = tmp_path / "results.csv"
    sfen = SAMPLES[5] if case == "other position" else SAMPLES[1]
    playouts = 500 if case == "other playouts" else 300
    header = ",".join(f'"{name}"' for name in COLUMNS)
    earlier = f'{header}\n2,"{sfen}",{playouts},{playouts},0,0,1,0.99,1,3\n'
    out.write_text(earlier)
    if case == "no folder":
        out = tmp_path / "missing" / "results.csv"
    result = subprocess.run(
        [EVALUATE, positions, "--playouts", "300", "--out", out, "--resume"],
        capture_output=True,
        text=True,
        timeout=TIMEOUT,
    )
    assert result.returncode == 2
    assert re.match(message, result.stderr) and result.stderr.count("\n") == 1, result.stderr
    assert (tmp_path / "results.csv").read_text() == earlier


def interrupt_at_progress(args, cwd):
    """Runs a program with its standard error on a terminal, sends Ctrl-C to its group once
    its progress bar counts a game, and returns its exit status, output and terminal text."""
    import fcntl  # POSIX only, as the whole file
    import pty
    import termios

    controller, terminal = pty.openpty()
    # A terminal of 24 rows of 100 columns: tqdm draws nothing on one of no width.
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    process = subprocess.Popen(
        args, stdout=subprocess.PIPE, stderr=terminal, text=True, cwd=cwd, start_new_session=True
    )
    os.close(terminal)
    screen = b""
    deadline = time.monotonic() + TIMEOUT
    while not re.search(rb"\b[1-9]\d*/\d+ \[", screen):
        assert time.monotonic() < deadline and process.poll() is None, screen
        if select.select([controller], [], [], 0.1)[0]:
            screen += os.read(controller, 4096)
    children = psutil.Process(process.pid).children(recursive=True)
    os.killpg(process.pid, signal.SIGINT)
    stdout, _ = process.communicate(timeout=TIMEOUT)
    while True:
        try:
            data = os.read(controller, 4096)
        except OSError:  # the terminal closed with the program
            break
        if not data:
            break
        screen += data
    os.close(controller)
    _, alive = psutil.wait_procs(children, timeout=10)
    assert not alive, "worker processes left behind"
    return process.returncode, stdout, screen.decode(errors="replace")


def test_ctrl_c_of_the_demo_reports_the_games_played(tmp_path):
    pytest.importorskip("matplotlib")
    status, stdout, screen = interrupt_at_progress(
        [sys.executable, EXAMPLES / "random_games.py", "100000000"], tmp_path
    )
    assert status == 130 and "Traceback" not in screen, screen
    played = int(re.search(r"^games played +(\d+)$", stdout, flags=re.M)[1])
    counts = [
        int(re.search(rf"^{name} +(\d+)$", stdout, flags=re.M)[1])
        for name in ("Black wins", "White wins", "move limit reached")
    ]
    assert 1 <= played == sum(counts) < 100000000
    assert f"interrupted after {played} of 100000000 games" in screen
    assert (tmp_path / "random_games.png").read_bytes().startswith(b"\x89PNG")


def test_ctrl_c_of_the_monte_carlo_player_reports_the_games_finished(tmp_path):
    pytest.importorskip("matplotlib")
    chart = tmp_path / "match.png"
    status, stdout, screen = interrupt_at_progress(
        [sys.executable, EXAMPLES / "monte_carlo_player.py", "--games", "1000"]
        + ["--playouts", "1", "--workers", "2", "--plot", chart],
        tmp_path,
    )
    assert status == 130 and "Traceback" not in screen, screen
    won, lost, limit = map(int, re.search(r"won (\d+), lost (\d+), (\d+) at the", stdout).groups())
    assert 1 <= won + lost + limit < 1000
    assert f"interrupted after {won + lost + limit} of 1000 games" in screen
    assert chart.read_bytes().startswith(b"\x89PNG")
