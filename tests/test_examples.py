"""The Monte Carlo evaluator and the examples run end to end and report consistent figures."""

import csv
import re
import subprocess
import sys
from pathlib import Path

import pytest
from helpers import command, needs_second_interpreter

from komaban_tools.notation import START_SFEN as START
from komaban_tools.stats import wilson_interval

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
EVALUATE = command("komaban-evaluate")
PLAYER = EXAMPLES / "monte_carlo_player.py"
OWN_SEARCH = EXAMPLES / "own_search.py"

pytest.importorskip("tqdm", reason="the evaluate extra is not installed")


def run(*args, stdin=None, cwd=None):
    program = [sys.executable] if str(args[0]).endswith(".py") else []
    return subprocess.run(
        [*program, *map(str, args)],
        input=stdin,
        capture_output=True,
        text=True,
        timeout=120,
        cwd=cwd,
    )


# Newcombe (1998), "Two-sided confidence intervals for the single proportion", Table I.
@pytest.mark.parametrize(
    "wins, n, low, high",
    [
        (81, 263, 0.2553, 0.3662),
        (15, 148, 0.0624, 0.1605),
        (0, 20, 0.0, 0.1611),
        (1, 29, 0.0061, 0.1718),
    ],
)
def test_wilson_interval_matches_published_values(wins, n, low, high):
    assert wilson_interval(wins / n, n) == pytest.approx((low, high), abs=6e-5)


def check_rows(rows, playouts):
    for row in rows:
        black, white, limit = (int(row[k]) for k in ("black_wins", "white_wins", "move_limit"))
        assert black + white + limit == int(row["playouts"]) == playouts
        score = float(row["black_score"])
        assert score == pytest.approx((black + limit / 2) / playouts)
        assert float(row["ci_low"]) <= score <= float(row["ci_high"])


@needs_second_interpreter
def test_evaluate_on_a_process_pool_with_a_malformed_line(tmp_path):
    positions = tmp_path / "positions.sfen"
    lines = [
        "# decided positions, then a broken line, then the start position",
        "9/9/9/9/9/9/9/9/4K4 b - 1",  # only Black's King is left
        "4k4/9/9/9/9/9/9/9/4K4 w - 500",  # at the move limit
        "PP2k4/PP7/PP7/PP7/PP7/PP7/PP7/PP7/KP7 b - 1",  # Black has no move
        "lnsgkgsnl/1r5b1 b - 1",
        START,
    ]
    positions.write_text("\n".join(lines) + "\n")
    out, chart = tmp_path / "results.csv", tmp_path / "scores.png"
    result = run(
        EVALUATE, positions, "--playouts", 40, "--workers", 2, "--out", out, "--plot", chart
    )
    assert result.returncode == 1, result.stderr
    assert re.search(r"^line 5: .*ranks", result.stderr, flags=re.M)
    assert re.findall(r"^\s+(\d+)\s+40\s", result.stdout, flags=re.M) == ["2", "3", "4", "6"]
    assert "not reproducible" in result.stdout

    with out.open(newline="") as f:
        rows = {int(row["line"]): row for row in csv.DictReader(f)}
    assert sorted(rows) == [2, 3, 4, 6]
    check_rows(rows.values(), 40)
    assert [rows[n]["black_score"] for n in (2, 3, 4)] == ["1", "0.5", "0"]
    assert rows[6]["sfen"] == START
    assert 1 <= float(rows[6]["mean_moves"]) <= 499
    assert chart.read_bytes().startswith(b"\x89PNG")


@needs_second_interpreter
def test_evaluate_on_a_local_dask_cluster_to_parquet(tmp_path):
    pq = pytest.importorskip("pyarrow.parquet")
    out = tmp_path / "results.parquet"
    stdin = (
        f"{START}\n8l/1l+R2P3/p2pBG1pp/kps1p4/Nn1P2G2/P1P1P2PP/1PS6/1KSG3+r1/LN2+p3L w Sbgn3p 124\n"
    )
    result = run(
        EVALUATE,
        "-",
        "--playouts",
        30,
        "--scheduler",
        "local",
        "--workers",
        2,
        "--out",
        out,
        stdin=stdin,
    )
    assert result.returncode == 0, result.stderr
    assert "dask (LocalCluster), 2 workers" in result.stdout
    rows = pq.read_table(out).to_pylist()
    assert [row["line"] for row in rows] == [1, 2]
    check_rows(rows, 30)


@needs_second_interpreter
def test_evaluate_bench_reports_scaling(tmp_path):
    positions = tmp_path / "positions.sfen"
    positions.write_text(START + "\n")
    result = run(EVALUATE, positions, "--bench", "--playouts", 50, "--rounds", 1, "--workers", 2)
    assert result.returncode == 0, result.stderr
    assert re.search(r"1 worker +[\d,]+ ", result.stdout)
    assert re.search(r"2 workers +[\d,]+ ", result.stdout)
    assert re.search(r"scaling with 2 workers: [\d.]+ x 1 worker, efficiency \d+ %", result.stdout)


@needs_second_interpreter
def test_monte_carlo_player_match(tmp_path):
    chart = tmp_path / "match.png"
    result = run(PLAYER, "--games", 2, "--playouts", 1, "--workers", 2, "--plot", chart)
    assert result.returncode == 0, result.stderr
    wins, losses, limit = map(
        int, re.search(r"won (\d+), lost (\d+), (\d+) at the move limit", result.stdout).groups()
    )
    assert wins + losses + limit == 2
    score, low, high = map(
        float, re.search(r"score ([\d.]+) .* ([\d.]+) - ([\d.]+)", result.stdout).groups()
    )
    assert score == (wins + limit / 2) / 2 and low <= score <= high
    assert re.search(r"as Black: [\d.]+ of 1\n  as White: [\d.]+ of 1", result.stdout)
    assert chart.read_bytes().startswith(b"\x89PNG")


@needs_second_interpreter
def test_own_search_takes_a_hanging_rook_over_usi():
    # Black's Bishop on 9i sees White's lone Rook on 5e.
    commands = "usi\nisready\nposition sfen 4k4/9/9/9/4r4/9/9/9/B7K b - 1\ngo byoyomi 1000\nquit\n"
    result = run(OWN_SEARCH, stdin=commands)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == "id name material alpha-beta, depth 2" and "readyok" in lines
    assert lines[-1] == "bestmove 9i5e"
