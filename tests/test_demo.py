"""The demo plays its games and prints a consistent report."""

import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest
from helpers import needs_second_interpreter

pytest.importorskip("matplotlib", reason="the examples extra is not installed")
pytestmark = needs_second_interpreter

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
    svg = tmp_path / "random_game.svg"
    assert f"written to {svg}" in out
    highlights = ET.parse(svg).findall("{http://www.w3.org/2000/svg}rect[@class='highlight']")
    assert len(highlights) in (1, 2)  # a drop's square, or a move's two
    page = tmp_path / "random_game.html"
    assert f"replay of the last game written to {page}" in out
    # The replay's slider runs from the start to the last game's final position.
    length = re.search(r"^final position of game 40 \((\d+) moves", out, flags=re.M)[1]
    assert f'<input type="range" id="slider" min="0" max="{length}"' in page.read_text("utf-8")


def test_demo_rejects_a_bad_game_count():
    result = subprocess.run([sys.executable, str(DEMO), "0"], capture_output=True, text=True)
    assert result.returncode != 0 and "at least 1" in result.stderr
