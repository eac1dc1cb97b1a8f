"""Hypothesis profiles, the time box of `make fuzz`, and the markers that select tests.

The suite runs the fuzz targets (tests marked `fuzz`) with the small default
profile. `make fuzz` selects the "fuzz" profile and sets FUZZ_SECONDS: each fuzz
target is then run over and over, with fresh random examples each round, until
its share of the time is used, and the number of inputs tried is reported.

Runs that repeat the suite for another Python or build leave out, with
`-m "not end_to_end and not native_core"`, the tests that run programs end to
end for seconds (`end_to_end`) and the native core check, which loads no Python
(`native_core`). Tests marked `slow` run only when `-m` names them (`make perft`).
"""

import os
import time

import pytest
from hypothesis import HealthCheck, settings
from strategies import TRIED

settings.register_profile(
    "komaban",
    deadline=None,  # sanitizer builds are slow; speed is measured elsewhere
    suppress_health_check=[HealthCheck.too_slow],
)
settings.register_profile(
    "fuzz",
    parent=settings.get_profile("komaban"),
    max_examples=200,  # per round: rounds repeat until the time is up
    print_blob=True,
    suppress_health_check=list(HealthCheck),
)
settings.load_profile("komaban")  # --hypothesis-profile loads another one later

FUZZ_SECONDS = float(os.environ.get("FUZZ_SECONDS") or 0)


def pytest_configure(config):
    config.addinivalue_line("markers", "fuzz: a fuzz target, run at length by `make fuzz`")
    config.addinivalue_line(
        "markers", "end_to_end: runs a program end to end, for seconds (an engine, a GUI)"
    )
    config.addinivalue_line("markers", "native_core: builds and runs the native core check")
    config.addinivalue_line("markers", "slow: runs only when -m names it (make perft)")
    config.fuzz_end = None


def pytest_collection_modifyitems(config, items):
    if "slow" not in (config.getoption("markexpr") or ""):
        skip = pytest.mark.skip(reason="slow: runs when -m names it (make perft)")
        for item in items:
            if item.get_closest_marker("slow"):
                item.add_marker(skip)
    if FUZZ_SECONDS:
        config.fuzz_left = sum(1 for item in items if item.get_closest_marker("fuzz"))
        config.fuzz_end = time.monotonic() + FUZZ_SECONDS


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    config = pyfuncitem.config
    if config.fuzz_end is None or not pyfuncitem.get_closest_marker("fuzz"):
        return None
    # An equal share of the time that is left, for this target and the rest.
    start = time.monotonic()
    stop = start + max(config.fuzz_end - start, 0) / max(config.fuzz_left, 1)
    config.fuzz_left -= 1
    args = {name: pyfuncitem.funcargs[name] for name in pyfuncitem._fixtureinfo.argnames}
    while True:
        pyfuncitem.obj(**args)
        if time.monotonic() >= stop:
            return True


def pytest_terminal_summary(terminalreporter, config):
    if config.fuzz_end is None:
        return
    write = terminalreporter.write_line
    write(f"fuzz: {sum(TRIED.values()):,} inputs tried")
    for name, count in sorted(TRIED.items()):
        write(f"  {name}: {count:,}")
