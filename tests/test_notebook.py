"""komaban_tools.svg.register() makes Boards and Games show their diagrams in IPython, and the
notebook of the docs (docs/diagrams.ipynb) shows them when a Jupyter kernel runs it."""

import re
from pathlib import Path
from types import SimpleNamespace

import pytest
from helpers import needs_second_interpreter

from komaban import Board, ColorType, Game, Move
from komaban_tools.svg import board_svg, register

ROOT = Path(__file__).resolve().parent.parent
NOTEBOOK = ROOT / "docs" / "diagrams.ipynb"

SVG = "image/svg+xml"


def test_register_installs_the_svg_formatter_for_boards_and_games(monkeypatch):
    formatters = pytest.importorskip("IPython.core.formatters")
    shell = SimpleNamespace(display_formatter=formatters.DisplayFormatter())
    board = Board()
    board.execute_move(Move(csa="3c3d"))
    game = Game(board, 2, ColorType.White)
    register(shell)
    shown = {
        kind: shell.display_formatter.format(value)[0]
        for kind, value in (("board", board), ("game", game), ("text", "7g7f"))
    }
    assert shown["board"][SVG] == board_svg(board)
    assert shown["game"][SVG] == board_svg(game)
    assert SVG not in shown["text"]
    # Again with options: they replace the first ones.
    register(shell, coordinates="usi", letters=True, size=300)
    assert shell.display_formatter.format(game)[0][SVG] == board_svg(
        game, coordinates="usi", letters=True, size=300
    )
    with pytest.raises(ValueError, match="coordinates must be one of"):
        register(shell, coordinates="kanji")
    # Outside IPython there is nothing to register with.
    ipython = pytest.importorskip("IPython")
    monkeypatch.setattr(ipython, "get_ipython", lambda: None)
    with pytest.raises(RuntimeError, match="needs IPython"):
        register()


def recipe_blocks():
    """The ```py blocks of the notebook recipe on docs/examples.md."""
    text = (ROOT / "docs" / "examples.md").read_text()
    return re.findall(r"^```py\n(.*?)^```$", text, flags=re.M | re.S)


@needs_second_interpreter
def test_docs_notebook_shows_the_diagrams(tmp_path, monkeypatch):
    nbformat = pytest.importorskip("nbformat")
    nbclient = pytest.importorskip("nbclient")
    pytest.importorskip("ipykernel")
    # The kernel is this interpreter (jupyter_client runs "python3" with it); its
    # files and IPython's go to a temporary folder.
    for variable in ("JUPYTER_DATA_DIR", "JUPYTER_RUNTIME_DIR", "IPYTHONDIR"):
        monkeypatch.setenv(variable, str(tmp_path / variable.lower()))
    notebook = nbformat.read(NOTEBOOK, as_version=4)
    code = [cell.source for cell in notebook.cells if cell.cell_type == "code"]
    # The recipe on the examples page is the notebook's code.
    assert recipe_blocks() and all(block.strip() in code for block in recipe_blocks())
    client = nbclient.NotebookClient(
        notebook,
        timeout=120,
        kernel_name="python3",
        resources={"metadata": {"path": NOTEBOOK.parent}},
    )
    client.execute()
    shown = [
        output["data"][SVG]
        for cell in notebook.cells
        for output in cell.get("outputs", [])
        if SVG in output.get("data", {})
    ]
    board = Board()
    board.execute_move(Move(csa="3c3d"))
    assert shown == [board_svg(Game(), coordinates="both"), board_svg(board, coordinates="both")]
