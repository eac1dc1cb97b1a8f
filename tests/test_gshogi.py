"""gshogi, a GTK shogi GUI, plays the installed USI engine under Xvfb.

The engine (the console script komaban-usi next to this interpreter) plays Black
with one worker at a second a move against gshogi's built-in engine. gshogi's own
log of the USI lines it sent and read then shows that each bestmove was legal in
the position gshogi had just sent, and that gshogi played it. gshogi 0.5.1 runs
from build/gshogi-venv (tools/gshogi-venv) on Debian's Python and GTK bindings
(tools/system-packages); skipped where they, Xvfb or xdotool are missing.

KOMABAN_GSHOGI_SCREENSHOT=docs/img/gshogi.png saves the docs' picture of the
window mid-game.
"""

import contextlib
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest
from helpers import EMULATED

GSHOGI_VENV = Path(__file__).resolve().parent.parent / "build" / "gshogi-venv"
ENGINE = Path(sys.executable).parent / "komaban-usi"
NAME = "komaban MCTS"  # its `id name`, under which gshogi lists and logs it
BESTMOVES = 4
SCREENSHOT = os.environ.get("KOMABAN_GSHOGI_SCREENSHOT")

# gshogi's settings file is a pickle of its own class: Debian's Python writes it.
WRITE_SETTINGS = """
import ast, pickle, sys
from gshogi.gshogi import Settings
settings = Settings()
settings.__dict__.update(ast.literal_eval(sys.argv[1]))
sys.stdout.buffer.write(pickle.dumps(settings))
"""
SETTINGS = {
    "engine_list": [["gshogi", "", {}], [NAME, str(ENGINE), {"Workers": "1"}]],
    "player_black": NAME,
    "player_white": "gshogi",
    "ponder": False,
    # Kind 3 is a fixed time per move (the ninth item, in seconds): `go movetime 1000`.
    "clock_settings": (3, 0, 45, 10, 0, 45, 6, [], 1, 4, 50000),
    # Both are read without a fallback; these are gshogi's defaults.
    "custom_pieceset_path": None,
    "colour_settings": ("#645452", "#c5b358", "#ebdfb0", "#fffdd0", "#ffffd7", "#000000")
    + ("#000001", "#ebdfb0", "#000000", True, 0),
}


def missing():
    """What this machine lacks to run the game, or "" when it has it all."""
    for tool in ("Xvfb", "xdotool"):
        if not shutil.which(tool):
            return f"{tool} is not installed (tools/system-packages)"
    if not (GSHOGI_VENV / "bin" / "gshogi").exists():
        return "gshogi is not installed: run tools/gshogi-venv"
    if not ENGINE.exists():
        return f"the engine's console script {ENGINE} is missing"
    probe = "import gi; gi.require_version('Gtk', '3.0'); gi.require_version('Rsvg', '2.0')"
    probe = [GSHOGI_VENV / "bin" / "python", "-c", probe + "; gi.require_foreign('cairo')"]
    if subprocess.run(probe, capture_output=True, timeout=60).returncode:
        return "Debian's GTK 3 bindings are not installed (tools/system-packages)"
    try:  # pictures of the screen show where the Go button is
        from PIL import features
    except ImportError:
        return "Pillow is not installed"
    return "" if features.check("xcb") else "this Pillow cannot read an X display"


MISSING = "drives a GUI: this interpreter runs under user-mode emulation" if EMULATED else missing()
pytestmark = [pytest.mark.end_to_end, pytest.mark.skipif(bool(MISSING), reason=MISSING or "-")]


def run(*command):
    """Runs xdotool (or another quick command) and returns what it printed."""
    return subprocess.run(command, capture_output=True, text=True, timeout=10).stdout


def tail(log):
    """The last lines of gshogi's log (its path or text), for a failure's message."""
    text = log if isinstance(log, str) else log.read_text(errors="replace")
    return "gshogi's log ends:\n" + "\n".join(text.splitlines()[-40:])


def wait_for(what, found, timeout, log, gshogi=None):
    """Polls found() until it returns something true and returns that; fails
    after timeout seconds, or once gshogi, if given, has exited."""
    end = time.monotonic() + timeout
    while time.monotonic() < end and (gshogi is None or gshogi.poll() is None):
        if result := found():
            return result
        time.sleep(0.1)
    exited = gshogi is not None and gshogi.poll() is not None
    pytest.fail(f"{what}: not within {timeout} s{' (gshogi exited)' * exited}; {tail(log)}")


def session(sid):
    """The live processes of session sid: gshogi, the engine and its workers."""
    members = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        with contextlib.suppress(OSError):  # one that has just exited
            fields = stat.read_text().rsplit(")", 1)[1].split()
            if fields[0] != "Z" and int(fields[3]) == sid:
                members.append(int(stat.parent.name))
    return members


def start_gshogi(home):
    """Writes gshogi's settings into home, starts gshogi with home as its HOME,
    its USI log going to home/gshogi.log, and returns it."""
    env = os.environ | {"HOME": str(home), "GDK_BACKEND": "x11"}
    command = [GSHOGI_VENV / "bin" / "python", "-c", WRITE_SETTINGS, repr(SETTINGS)]
    settings = subprocess.run(command, env=env, capture_output=True, timeout=10)
    assert settings.returncode == 0, settings.stderr.decode(errors="replace")
    (home / ".gshogi").mkdir()
    (home / ".gshogi" / "settings").write_bytes(settings.stdout)
    # GTK's GL set-up loads a library whose symbol `history` takes the place of a
    # variable of gshogi's engine: a crash at start. Unbuffered, or the log stays
    # empty. There is no accessibility bus to look for.
    env |= {"GDK_GL": "disable", "PYTHONUNBUFFERED": "1", "NO_AT_BRIDGE": "1"}
    with (home / "gshogi.log").open("wb") as log:
        # A session of its own, so that the engine and its workers can be found.
        command = [GSHOGI_VENV / "bin" / "gshogi", "-vusi"]
        return subprocess.Popen(
            command,
            env=env,
            cwd=home,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=log,
            start_new_session=True,
        )


def grab(display, window, height=None):
    """A picture of the window (of its top height pixels), with its left and top."""
    from PIL import ImageGrab

    shell = run("xdotool", "getwindowgeometry", "--shell", window).split()
    box = {key: int(value) for key, value in (line.split("=") for line in shell)}
    left, top, bottom = box["X"], box["Y"], box["Y"] + (height or box["HEIGHT"])
    return ImageGrab.grab((left, top, left + box["WIDTH"], bottom), xdisplay=display), left, top


def go_button(display, window):
    """Where the Go button is on the screen, or None while it is not drawn: the
    centre of its green icon in the menu and tool bars, above the board."""
    band, left, top = grab(display, window, height=120)
    pixels = band.tobytes()
    rgb = zip(pixels[0::3], pixels[1::3], pixels[2::3], strict=True)
    green = [i for i, (r, g, b) in enumerate(rgb) if g > 150 and r < 120 and b < 120]
    xs, ys = [i % band.width for i in green], [i // band.width for i in green]
    if len(green) < 20 or max(xs) - min(xs) > 40 or max(ys) - min(ys) > 40:
        return None  # not drawn yet, or something else is green too
    return left + sum(xs) // len(xs), top + sum(ys) // len(ys)


def click_go(display, window, log, gshogi):
    """Clicks the Go button until gshogi starts the engine. The tool bar is laid
    out anew just after it first shows, moving the button: it is clicked once it
    has stayed put, and looked for again after a click that started nothing."""
    for _ in range(3):
        place = wait_for("the Go button", lambda: go_button(display, window), 5, log, gshogi)
        time.sleep(0.3)
        if go_button(display, window) != place:
            continue
        run("xdotool", "mousemove", "--sync", str(place[0]), str(place[1]), "click", "1")
        end = time.monotonic() + 3
        while time.monotonic() < end:
            if f"->b({NAME}):usi" in log.read_text(errors="replace"):
                return
            time.sleep(0.1)
    pytest.fail(f"clicks on the Go button started no engine; {tail(log)}")


def exchanges(text):
    """[moves, bestmove] for each position gshogi sent our engine, as its log text
    shows: the moves from the start, the answer (None while there is none)."""
    result = []
    for direction, line in re.findall(rf"^(->|<-)b\({re.escape(NAME)}\):(.*)$", text, re.M):
        if direction == "->" and line.startswith("position"):
            assert line.startswith("position startpos"), f"{line}\n{tail(text)}"
            result.append([line.split()[3:], None])  # after "position startpos moves"
        elif direction == "<-" and line.startswith("bestmove"):
            assert result and result[-1][1] is None, f"unasked: {line}\n{tail(text)}"
            result[-1][1] = line.split()[1]
    return result


def check_game(text, cshogi):
    """Every bestmove in the log text is legal after the moves gshogi had sent,
    and gshogi played it: its next position adds it and one move of its own."""
    played = exchanges(text)
    assert sum(bestmove is not None for _, bestmove in played) >= BESTMOVES, tail(text)
    for n, (moves, bestmove) in enumerate(played):  # the last one may be unanswered
        board = cshogi.Board()
        for move in moves + [bestmove] * (bestmove is not None):
            assert board.is_legal(board.move_from_usi(move)), f"{move} after {moves}\n{tail(text)}"
            board.push_usi(move)
        if bestmove and n + 1 < len(played):
            following = played[n + 1][0]
            assert following[:-1] == [*moves, bestmove], f"{following}\n{tail(text)}"


@pytest.fixture
def display(monkeypatch):
    """An Xvfb server on a display that was free, set as DISPLAY; yields its name."""
    read, write = os.pipe()
    command = ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"]
    server = subprocess.Popen(command, pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    try:
        ready = select.select([read], [], [], 5)[0]  # it writes the number once it listens
        number = os.read(read, 16).decode().strip() if ready else ""
        assert number.isdigit(), "Xvfb did not start"
        monkeypatch.setenv("DISPLAY", f":{number}")
        yield f":{number}"
    finally:
        os.close(read)
        server.terminate()
        server.wait(10)


def test_gshogi_plays_the_engine(display, tmp_path):
    cshogi = pytest.importorskip("cshogi")
    log = tmp_path / "gshogi.log"
    gshogi = start_gshogi(tmp_path)
    try:
        search = ("xdotool", "search", "--onlyvisible", "--name", r"^gshogi [0-9]")
        window = wait_for("gshogi's window", lambda: run(*search).split()[:1], 10, log, gshogi)[0]
        click_go(display, window, log, gshogi)

        def answered():  # BESTMOVES moves of ours, and the position after the last
            return len(exchanges(log.read_text(errors="replace"))) > BESTMOVES

        wait_for(f"{BESTMOVES} moves of the engine", answered, 30, log, gshogi)
        assert len(session(gshogi.pid)) > 1, f"no engine beside gshogi; {tail(log)}"
        if SCREENSHOT:
            time.sleep(0.5)  # gshogi draws its own move as it sends the position
            grab(display, window)[0].save(SCREENSHOT)
        # Keys reach the window only once focused: there is no window manager.
        run("xdotool", "windowfocus", "--sync", window, "key", "--clearmodifiers", "ctrl+q")
        wait_for("gshogi's exit after Ctrl+Q", lambda: gshogi.poll() is not None, 10, log)
        assert gshogi.returncode == 0, f"gshogi exited with {gshogi.returncode}; {tail(log)}"
        wait_for("the exit of the engine and its workers", lambda: not session(gshogi.pid), 5, log)
    finally:
        for pid in session(gshogi.pid):  # gshogi, and whatever it started
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        gshogi.wait(10)
    text = log.read_text(errors="replace")
    assert f"->b({NAME}):setoption name Workers value 1" in text, tail(text)
    assert f"->b({NAME}):go movetime 1000" in text, tail(text)
    check_game(text, cshogi)
