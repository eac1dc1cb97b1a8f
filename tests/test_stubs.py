"""The installed type stubs match the module, and mypy finds and applies them."""

import ast
import re
import subprocess
import sys
from pathlib import Path

import pytest
from helpers import needs_second_interpreter

import komaban

ROOT = Path(__file__).resolve().parent.parent
CACHE = ROOT / "build" / "mypy-cache"
STUB = ROOT / "src" / "komaban-stubs" / "__init__.pyi"


def mypy(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--cache-dir", str(CACHE), *args],
        cwd=cwd,
        capture_output=True,
        text=True,
        timeout=300,
    )


@needs_second_interpreter
def test_stubtest_passes(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "komaban", "--allowlist",
         str(ROOT / "tests" / "stubtest_allowlist.txt")],
        cwd=tmp_path, capture_output=True, text=True, timeout=300,
    )  # fmt: skip
    assert result.returncode == 0, result.stdout + result.stderr


USER_SCRIPT = """\
import komaban
from komaban import Address, Board, ColorType, Game, Move

game = Game()
finished, winner = game.is_finished()
flag: bool = finished
side: ColorType = winner
moves: list[Move] = Board().search_moves(ColorType.Black)
copy: Game = game.random_play()
game.move_number = 3
x: str = game.move_number  # E assignment
Address(1, 1) < Address(2, 2)  # E operator
ColorType.Black.value = 3  # E misc
Board(None)  # E arg-type
Board().execute_move("7c7d")  # E arg-type
komaban.PanicException  # E attr-defined
"""


@needs_second_interpreter
def test_user_script_is_checked_against_the_installed_stubs(tmp_path):
    (tmp_path / "user.py").write_text(USER_SCRIPT)
    out = mypy("--strict", "--no-pretty", "user.py", cwd=tmp_path).stdout
    found = set(re.findall(r"^user\.py:(\d+): error: .*\[([\w-]+)\]$", out, flags=re.M))
    expected = {
        (str(number), line.rsplit("# E ", 1)[1])
        for number, line in enumerate(USER_SCRIPT.splitlines(), 1)
        if "# E " in line
    }
    assert found == expected, out


def stub_properties():
    """(class, attribute, has a setter) for every property the stub declares."""
    tree = ast.parse(STUB.read_text())
    for cls in tree.body:
        if not isinstance(cls, ast.ClassDef):
            continue
        names = {}
        for item in cls.body:
            if isinstance(item, ast.FunctionDef):
                for deco in item.decorator_list:
                    if isinstance(deco, ast.Name) and deco.id == "property":
                        names.setdefault(item.name, False)
                    elif isinstance(deco, ast.Attribute) and deco.attr == "setter":
                        names[item.name] = True
        for name, settable in names.items():
            yield cls.name, name, settable


INSTANCES = {
    "Address": lambda: komaban.Address(1, 1),
    "ColorType": lambda: komaban.ColorType.Black,
    "PieceType": lambda: komaban.PieceType.King,
    "Piece": lambda: komaban.Piece(komaban.ColorType.Black, komaban.PieceType.King),
    "Hand": komaban.Hand,
    "Game": komaban.Game,
}


@pytest.mark.parametrize("cls, name, settable", list(stub_properties()))
def test_stub_properties_are_writable_exactly_when_the_attributes_are(cls, name, settable):
    obj = INSTANCES[cls]()
    try:
        setattr(obj, name, getattr(obj, name))
        writable = True
    except AttributeError:
        writable = False
    assert writable == settable
