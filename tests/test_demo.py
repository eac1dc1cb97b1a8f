"""The demo plays its games and prints a consistent report."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("matplotlib", reason="the examples extra is not installed")

DEMO = Path(__file__).resolve().parent.parent / "examples" / "random_games.py"


def test_demo_report_adds_up(tmp_path):
    out = subprocess.run(
        [sys.executable, str(DEMO), "40"],
        capture_output=True,
        text=True,
        check=True,
        timeout=60,
        cwd=tmp_path,
    ).stdout
    figures = dict(re.findall(r"^(\w[\w ]*?)\s{2,}([\d.,]+)", out, flags=re.M))
    assert figures["games played"] == "40"
    counts = [int(figures[k]) for k in ("Black wins", "White wins", "move limit reached")]
    assert sum(counts) == 40
    assert 0 < float(figures["mean length"]) <= 499
    rows = re.findall(r"^\s+(\d) \|(.{27})\| ([a-i])$", out, flags=re.M)
    assert [int(r[0]) for r in rows] == list(range(9, 0, -1))
    assert [r[2] for r in rows] == list("ihgfedcba")
    assert all(re.fullmatch(r"( \+[RBSNLPrbsnlp]|  [KGRBSNLPkgrbsnlp.])*", r[1]) for r in rows)
    chart = tmp_path / "random_games.png"
    assert f"written to {chart}" in out
    assert chart.read_bytes().startswith(b"\x89PNG")


def test_demo_rejects_a_bad_game_count():
    result = subprocess.run([sys.executable, str(DEMO), "0"], capture_output=True, text=True)
    assert result.returncode != 0 and "at least 1" in result.stderr
