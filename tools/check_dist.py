"""Checks the distributions in a directory as a user would meet them.

The wheel must hold the extension module, the licence, its dist-info (with
the console scripts), the type stubs and the komaban_tools package, and
nothing else; it must carry a manylinux tag; its classifiers must name
exactly the supported Python versions, and its Requires-Python admit those and
the ones after them (no upper bound: a new CPython is tested when it comes
out) but none before. Then the sdist is installed into one fresh venv and the
wheel into another, with no extras, and in each, from a directory outside the
source tree, the module is used, `import komaban_tools.rules` works,
`komaban-usi` answers usi, isready and `go byoyomi 500` with a legal bestmove
(checked by cshogi where this interpreter has it), and `komaban-replay` writes
the page of a CSA and of a KIF record. With --suite, the whole test suite then
runs against the installed wheel.

Usage: python tools/check_dist.py [--python PYTHON] [--versions "3.11 3.12"] [--suite] DIST
"""

import argparse
import re
import subprocess
import sys
import tempfile
import time
import zipfile
from email.parser import Parser
from pathlib import Path

from packaging.specifiers import SpecifierSet
from packaging.utils import parse_sdist_filename, parse_wheel_filename

ROOT = Path(__file__).resolve().parent.parent

# Run by each installed package, from a temporary directory.
USE = """
import importlib.metadata, sys
from pathlib import Path
import komaban
from komaban import Board, ColorType, Game, Move

assert Path(komaban.__file__).is_relative_to(sys.prefix), komaban.__file__
assert importlib.metadata.version("komaban") == sys.argv[1]
board = Board()
assert len(board.search_moves(ColorType.Black)) == 30
board.execute_move(Move(csa="7c7d"))
assert Board(str(board).removeprefix("Board(sfen=").removesuffix(")")) == board
result = Game().random_play()
assert result.is_finished()[0] and result.move_number > 1
print("used", komaban.__file__)
"""


def wheel_problems(wheel, version):
    """What is wrong with the wheel's file list and tag."""
    name, _, _, tags = parse_wheel_filename(wheel.name)
    info = f"{name}-{version}.dist-info"
    # Each expected file or group of files, with how many of them there must be.
    expected = {
        r"komaban\.(cpython-\d+-[\w-]+|abi3)\.so": (1, 1),
        rf"{re.escape(info)}/(METADATA|WHEEL|RECORD)": (3, 3),
        rf"{re.escape(info)}/licenses/LICENSE": (1, 1),
        rf"{re.escape(info)}/entry_points\.txt": (1, 1),
        r"komaban-stubs/__init__\.pyi": (1, 1),
        r"komaban_tools/(\w+/)?\w+\.py": (30, 80),
        r"komaban_tools/py\.typed": (1, 1),
        r"komaban_tools/replay/page\.(html|css|js)": (3, 3),
    }
    files = [f for f in zipfile.ZipFile(wheel).namelist() if not f.endswith("/")]  # no dirs
    problems = [f"unexpected {f}" for f in files if not any(re.fullmatch(p, f) for p in expected)]
    for pattern, (least, most) in expected.items():
        count = sum(1 for f in files if re.fullmatch(pattern, f))
        if not least <= count <= most:
            problems.append(f"{count} files like {pattern}, expected {least} to {most}")
    if not all(t.platform.startswith("manylinux_") for t in tags):
        problems.append(f"not a manylinux wheel: {wheel.name}")
    return problems


def metadata_problems(wheel, versions):
    """Requires-Python and the classifiers against the tested versions: the
    lowest and every later version admitted, the earlier ones refused."""
    with zipfile.ZipFile(wheel) as archive:
        (path,) = [f for f in archive.namelist() if f.endswith(".dist-info/METADATA")]
        meta = Parser().parsestr(archive.read(path).decode())
    problems = []
    spec = SpecifierSet(meta["Requires-Python"])
    major, lowest = map(int, versions[0].split("."))
    highest = int(versions[-1].split(".")[1])
    for minor in range(lowest - 1, highest + 2):
        wanted = minor >= lowest
        if (f"{major}.{minor}.0" in spec) != wanted:
            problems.append(
                f"Requires-Python {spec} {'excludes' if wanted else 'admits'} {major}.{minor}"
            )
    prefix = "Programming Language :: Python :: "
    listed = sorted(
        c[len(prefix) :]
        for c in meta.get_all("Classifier")
        if re.fullmatch(r"3\.\d+", c[len(prefix) :])
    )
    if listed != sorted(versions):
        problems.append(f"Python classifiers {listed}, tested {versions}")
    return problems


# Records for komaban-replay: the same opening as CSA and as KIF.
OPENING_CSA = "V2.2\nPI\n+\n+7776FU\n-3334FU\n+8822UM\n-3122GI\n%TORYO\n"
OPENING_KIF = """手合割：平手
先手：a
後手：b
手数----指手---------消費時間--
   1 ７六歩(77)
   2 ３四歩(33)
   3 ２二角成(88)
   4 同　銀(31)
   5 投了
"""
OPENING_USI = ["7g7f", "3c3d", "8h2b+", "3a2b"]


def bestmove(engine, position):
    """Drives a USI engine through usi, isready and go byoyomi 500; its bestmove."""
    process = subprocess.Popen(
        [engine], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1
    )
    try:
        process.stdin.write(f"usi\nisready\nposition {position}\ngo byoyomi 500\n")
        process.stdin.flush()
        deadline, lines = time.monotonic() + 60, []
        while time.monotonic() < deadline:
            line = process.stdout.readline().strip()
            if not line:
                break
            lines.append(line)
            if line.startswith("bestmove"):
                process.stdin.write("quit\n")
                process.stdin.flush()
                if process.wait(timeout=30) != 0:
                    raise SystemExit(f"{engine} exited with status {process.returncode}")
                assert {"usiok", "readyok"} <= set(lines), lines
                return line.split()[1]
        raise SystemExit(f"{engine} gave no bestmove: {lines}")
    finally:
        if process.poll() is None:
            process.kill()


def check_legal(move, moves):
    """Raises SystemExit unless move is legal after the USI moves from the start."""
    try:
        import cshogi
    except ImportError:
        print("cshogi is not installed here: the bestmove's legality is not checked")
        return
    board = cshogi.Board()
    for played in moves:
        board.push_usi(played)
    if not board.is_legal(board.move_from_usi(move)):
        raise SystemExit(f"komaban-usi played {move}, an illegal move")


def use_commands(bin_dir, workdir):
    """Runs the installed commands as a user and a GUI would."""
    subprocess.run([bin_dir / "python", "-c", "import komaban_tools.rules"], check=True)
    moves = OPENING_USI[:2]
    move = bestmove(str(bin_dir / "komaban-usi"), f"startpos moves {' '.join(moves)}")
    check_legal(move, moves)
    print(f"komaban-usi: bestmove {move}")
    for name, text in (("game.csa", OPENING_CSA), ("game.kif", OPENING_KIF)):
        record = Path(workdir, name)
        record.write_bytes(text.encode("utf-8" if name.endswith(".csa") else "cp932"))
        page = record.with_suffix(".html")
        subprocess.run([bin_dir / "komaban-replay", record, "-o", page], check=True)
        text = page.read_text(encoding="utf-8")
        shown = re.findall(r'class="move" data-ply="\d+">[☗☖](\S+?)<', text)
        if shown != OPENING_USI:
            raise SystemExit(f"komaban-replay {name}: the page shows {shown}")
    print("komaban-replay: the pages of a CSA and a KIF record")


def install_and_use(python, target, version, workdir, extra=""):
    """A fresh venv of python with target installed, used from workdir.

    The venv is made without pip (the slow part of making one); this
    interpreter's pip installs into it.
    """
    venv = Path(tempfile.mkdtemp(prefix="venv-", dir=workdir))
    subprocess.run([python, "-m", "venv", "--without-pip", str(venv)], check=True)
    vpy = str(venv / "bin" / "python")
    pip = [sys.executable, "-m", "pip", "--python", vpy, "install", "--quiet"]
    subprocess.run([*pip, f"{target}{extra}"], check=True)
    subprocess.run([vpy, "-c", USE, version], check=True, cwd=workdir)
    use_commands(venv / "bin", workdir)
    return vpy


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--python", default=sys.executable)
    parser.add_argument("--versions", default="", help="the supported versions, space separated")
    parser.add_argument("--suite", action="store_true", help="run the suite on the wheel")
    parser.add_argument("dist", type=Path)
    args = parser.parse_args(argv)

    (sdist,) = args.dist.glob("*.tar.gz")
    (wheel,) = args.dist.glob("*.whl")
    version = str(parse_sdist_filename(sdist.name)[1])
    problems = wheel_problems(wheel, version)
    if args.versions:
        problems += metadata_problems(wheel, args.versions.split())
    for problem in problems:
        print(f"{wheel.name}: {problem}", file=sys.stderr)
    if problems:
        return 1
    print(f"{wheel.name}: contents and metadata as expected")

    with tempfile.TemporaryDirectory() as workdir:
        install_and_use(args.python, sdist.resolve(), version, workdir)
        extra = "[test]" if args.suite else ""
        vpy = install_and_use(args.python, wheel.resolve(), version, workdir, extra)
        if args.suite:
            subprocess.run(
                [vpy, "-m", "pytest", "-q", "-p", "no:cacheprovider"], check=True, cwd=ROOT
            )
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
