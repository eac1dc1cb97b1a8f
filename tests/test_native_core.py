"""Builds the native core checks with AddressSanitizer and UBSan and runs them.

KOMABAN_CORE_TEST_CXXFLAGS adds compiler flags, so that the checks build the
same core as the module under test (`make test-two-word` passes
-DKOMABAN_TWO_WORD_BITBOARD). KOMABAN_CORE_TEST_COMMAND runs a check built
beforehand instead, where no compiler for the platform is at hand
(`make test-arm64` gives its cross-compiled check, run under the emulator).
The check loads no Python, so the runs that repeat the suite on another
interpreter with the same compiler leave it out (it is marked native_core).
"""

import os
import shlex
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
COMPILER = os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++")


PREBUILT = shlex.split(os.environ.get("KOMABAN_CORE_TEST_COMMAND", ""))


def build(binary):
    sources = sorted(str(p) for p in (ROOT / "src/komaban/core").glob("*.cpp"))
    subprocess.run(
        [
            COMPILER,
            "-std=c++20",
            "-O1",
            "-g",
            "-fsanitize=address,undefined",
            "-fno-sanitize-recover=all",
            "-fno-omit-frame-pointer",
            "-Wall",
            "-Wextra",
            "-Werror",
            *shlex.split(os.environ.get("KOMABAN_CORE_TEST_CXXFLAGS", "")),
            f"-I{ROOT / 'src'}",
            str(ROOT / "tests/native/core_test.cpp"),
            *sources,
            "-o",
            str(binary),
        ],
        check=True,
    )


@pytest.mark.native_core
@pytest.mark.skipif(COMPILER is None and not PREBUILT, reason="no C++ compiler")
def test_core_checks_pass_under_sanitizers(tmp_path):
    command = PREBUILT
    if not command:
        build(tmp_path / "core_test")
        command = [str(tmp_path / "core_test")]
    result = subprocess.run(command, capture_output=True, text=True, timeout=900)
    assert result.returncode == 0, result.stderr[-4000:]
    assert "core checks passed" in result.stdout
