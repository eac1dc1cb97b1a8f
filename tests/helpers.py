"""Shared test helpers."""

import errno
import subprocess
import sys
from pathlib import Path

import pytest


def _interpreter_binary_refused():
    """Whether the kernel refuses to execute this interpreter's own binary.

    So it is when the interpreter runs under user-mode emulation (`make
    test-arm64` runs the arm64 one under qemu-aarch64-static): the emulator
    covers this process alone, and a child started from sys.executable fails
    with "exec format error". Any other failure is left to the tests.
    """
    try:
        subprocess.run([sys.executable, "-c", ""], capture_output=True, timeout=120)
    except OSError as error:
        return error.errno == errno.ENOEXEC
    return False


EMULATED = _interpreter_binary_refused()

# For tests that start a second interpreter.
needs_second_interpreter = pytest.mark.skipif(
    EMULATED,
    reason="starts a second interpreter, which the kernel cannot execute here: "
    "this one runs under user-mode emulation (qemu)",
)

# For tests that drive a browser: under emulation it would be the host's own, not
# one of the emulated system, and every step would go through the emulated interpreter.
needs_native_run = pytest.mark.skipif(
    EMULATED, reason="drives a browser: this interpreter runs under user-mode emulation (qemu)"
)


def command(name):
    """The path of a console script installed beside this interpreter (komaban-usi, ...)."""
    return str(Path(sys.executable).parent / name)


def panic_of(func):
    """Runs func and returns the PanicException it raises.

    The exception class is not a module attribute and derives from BaseException,
    so it is recognised by name.
    """
    try:
        func()
    except BaseException as exc:
        if type(exc).__name__ == "PanicException":
            return exc
        raise
    pytest.fail("no PanicException raised")


def panic_message(func):
    """The message of the PanicException that func raises."""
    return panic_of(func).args[0]
