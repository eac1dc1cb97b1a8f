"""Shared test helpers."""

import pytest


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
