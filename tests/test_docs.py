"""The code in README.md and docs/ runs, and the notation recipes agree with standard notation.

Each page's ```python and ```pycon blocks run in order in one namespace: python
blocks are executed, pycon blocks are doctests whose output must match. A line
`--8<-- "path"` in a python block stands for that file, as in the built docs.
"""

import doctest
import importlib
import pkgutil
import re
from pathlib import Path

import pytest

import komaban_tools
from komaban import ColorType, Game, Move
from komaban_tools import notation

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCE = re.compile(r"^```(\w*)[^\n]*\n(.*?)^```[ \t]*$", re.M | re.S)
SNIPPET = re.compile(r'^--8<-- "([^"]+)"$', re.M)


def code_blocks(page):
    """(language, code, line number of the first code line) of every fenced block."""
    text = page.read_text()
    for match in FENCE.finditer(text):
        yield match[1], match[2], text.count("\n", 0, match.start(2)) + 1


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.relative_to(ROOT).as_posix())
def test_code_blocks_run(page):
    namespace = {"__name__": "__docs__"}
    parser = doctest.DocTestParser()
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
    report = []
    ran = 0
    for language, code, line in code_blocks(page):
        where = f"{page.relative_to(ROOT)}:{line}"
        if language == "python":
            code = SNIPPET.sub(lambda m: (ROOT / m[1]).read_text(), code)
            exec(compile("\n" * (line - 1) + code, str(page), "exec"), namespace)
        elif language == "pycon":
            test = parser.get_doctest(code, namespace, where, str(page), line - 1)
            runner.run(test, out=report.append, clear_globs=False)
            namespace.update(test.globs)
        else:
            continue
        ran += 1
    assert runner.failures == 0, "".join(report)
    assert ran > 0 or page.name in ("api.md", "tools-api.md", "performance.md")


MODULES = sorted(
    m.name for m in pkgutil.walk_packages(komaban_tools.__path__, "komaban_tools.")
    if not m.name.endswith("__main__")
)  # fmt: skip


@pytest.mark.parametrize("name", MODULES)
def test_package_docstring_examples(name):
    module = importlib.import_module(name)
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert result.failed == 0


# Expected positions in standard SFEN, from shogi notation (not produced by komaban).
OPENINGS = [
    ("7g7f 3c3d 8h2b+", "lnsgkgsnl/1r5+B1/pppppp1pp/6p2/9/2P6/PP1PPPPPP/7R1/LNSGKGSNL w B 4"),
    (
        "7g7f 3c3d 8h2b+ 3a2b B*4e B*6e",
        "lnsgkg1nl/1r5s1/pppppp1pp/6p2/3b1B3/2P6/PP1PPPPPP/7R1/LNSGKGSNL b - 7",
    ),
]


@pytest.mark.parametrize("usi, sfen", OPENINGS)
def test_usi_opening_through_the_notation_recipes(usi, sfen):
    game = Game()
    for text in usi.split():
        side = game.turn
        move = notation.usi_to_komaban(text, side)
        assert move in [notation.move_text(m) for m in game.board.search_moves(side)]
        assert notation.komaban_to_usi(move) == text
        game.execute_move(Move(csa=move))
    expected = notation.load_sfen(sfen)
    assert str(game.board) == f"Board(sfen={sfen.split()[0]})"
    assert game.board == expected.board  # the hands too
    assert (game.turn, game.move_number) == (expected.turn, expected.move_number)
    assert expected.turn == (ColorType.Black if sfen.split()[1] == "b" else ColorType.White)
