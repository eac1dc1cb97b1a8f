"""Runs the libFuzzer targets of the native core (tests/fuzz/).

  fuzz_native.py BUILD_DIR [--seconds N] [--jobs J]
      explores every target for N seconds (two at a time on two cores),
      starting from the committed corpus, and prints each target's executions
      per second and the total; stops at the first finding and prints the
      input that shows it and the command that replays it.
  fuzz_native.py BUILD_DIR --replay
      runs every input of the committed corpus once through its target.
  fuzz_native.py BUILD_DIR --merge
      minimises the committed corpus: seeds made from the test suite's own
      strings, the committed inputs and what exploring found are merged into
      the smallest set that keeps their coverage (libFuzzer's -merge=1).

The committed corpus is tests/fuzz/corpus/<target>/, the dictionary of all
targets tests/fuzz/shogi.dict; what exploring finds goes to BUILD_DIR/corpus/,
findings to BUILD_DIR/findings/.
"""

import argparse
import ast
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FUZZ = ROOT / "tests" / "fuzz"
TARGETS = ["board_text", "game_fields", "move_text", "execute", "generate", "playout"]
# Targets whose input is a text, then a NUL and bytes that edit and steer.
POSITION_TARGETS = {"game_fields", "execute", "generate", "playout"}
MAX_LEN = {"board_text": 512, "game_fields": 512, "move_text": 64}
DEFAULT_MAX_LEN = 256


@dataclass
class Result:
    target: str
    runs: int = 0
    seconds: float = 0.0
    finding: Path | None = None
    failed: bool = False
    log: str = ""


def binary(build: Path, target: str) -> Path:
    return build / f"fuzz_{target}"


def options(target: str) -> list[str]:
    opts = [f"-max_len={MAX_LEN.get(target, DEFAULT_MAX_LEN)}", "-timeout=20", "-rss_limit_mb=4096"]
    return [*opts, f"-dict={FUZZ / 'shogi.dict'}"]


def committed(target: str) -> Path:
    return FUZZ / "corpus" / target


def test_strings() -> list[str]:
    """Every short string literal of the test suite."""
    found: set[str] = set()
    for path in sorted((ROOT / "tests").glob("*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Constant) and isinstance(node.value, str):
                if 0 < len(node.value) <= 200:
                    found.add(node.value)
    return sorted(found)


def seeds(target: str) -> list[bytes]:
    """Seed inputs from the test suite's strings: every string for the text
    targets; the position texts, each with a few steering tails, for the
    others."""
    strings = [s.encode("utf-8", "surrogatepass") for s in test_strings()]
    if target not in POSITION_TARGETS:
        return strings
    positions = [s for s in strings if b"/" in s or s.startswith(b"startpos")]
    tails = {
        "game_fields": [b"\0\0\0", b"\0\x10" + bytes(range(16)) + b"\0"],
        # edits, turn, move number, then (how, move) steps: listed moves.
        "execute": [
            b"\0\0\0\x01\0" + b"\x01\x05\x00" * 12,
            b"\0\0\x01\x01\0" + b"\x01\x11\x00\x00\x34\x12" * 6,
        ],
        "generate": [b"\0\0\0\x01\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", b"\0\0\x01"],
        # edits, turn, number, winner, plies, seed.
        "playout": [b"\0\0\x01\x02\x3f" + b"\x07" * 16, b"\0\0\x01\x02\x3f" + b"\x03" * 16],
    }[target]
    return [p + b"\0" + tail for p in positions for tail in tails]


def write_inputs(directory: Path, inputs: list[bytes]) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    for data in inputs:
        (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


def run(command: list[str], log: Path) -> subprocess.Popen[bytes]:
    with log.open("wb") as out:
        return subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)


def explore(build: Path, target: str, seconds: int, stop: list[bool]) -> Result:
    if stop[0]:  # another target has a finding
        return Result(target)
    work = build / "corpus" / target
    work.mkdir(parents=True, exist_ok=True)
    findings = build / "findings"
    findings.mkdir(parents=True, exist_ok=True)
    log = build / f"fuzz-{target}.log"
    command = [
        str(binary(build, target)),
        str(work),
        str(committed(target)),
        f"-max_total_time={seconds}",
        "-print_final_stats=1",
        f"-artifact_prefix={findings}/{target}-",
        *options(target),
    ]
    start = time.monotonic()
    process = run(command, log)
    while process.poll() is None:
        if stop[0]:
            process.send_signal(signal.SIGINT)
            process.wait()
            break
        time.sleep(0.2)
    result = Result(target, seconds=time.monotonic() - start)
    result.log = log.read_text(errors="replace")
    runs = re.search(r"stat::number_of_executed_units: (\d+)", result.log)
    result.runs = int(runs.group(1)) if runs else 0
    artifact = re.search(r"Test unit written to (\S+)", result.log)
    if artifact:
        result.finding = Path(artifact.group(1))
    result.failed = process.returncode != 0 and not stop[0]
    if result.failed:
        stop[0] = True
    return result


def replay(build: Path, target: str) -> Result:
    log = build / f"replay-{target}.log"
    inputs = sorted(committed(target).iterdir())
    command = [str(binary(build, target)), *options(target), "-runs=1", *map(str, inputs)]
    process = run(command, log)
    process.wait()
    result = Result(target, runs=len(inputs))
    result.log = log.read_text(errors="replace")
    result.failed = process.returncode != 0
    return result


def merge(build: Path, target: str) -> int:
    seed_dir = build / "seeds" / target
    shutil.rmtree(seed_dir, ignore_errors=True)
    write_inputs(seed_dir, seeds(target))
    merged = build / "merged" / target
    shutil.rmtree(merged, ignore_errors=True)
    merged.mkdir(parents=True)
    sources = [committed(target), build / "corpus" / target, seed_dir]
    command = [str(binary(build, target)), "-merge=1", *options(target), str(merged)]
    command += [str(s) for s in sources if s.exists()]
    subprocess.run(command, check=True, capture_output=True)
    shutil.rmtree(committed(target), ignore_errors=True)
    shutil.copytree(merged, committed(target))
    return len(list(committed(target).iterdir()))


def report_finding(build: Path, result: Result) -> None:
    print(result.log[-6000:], file=sys.stderr)
    print(f"\n*** {result.target}: finding", file=sys.stderr)
    if result.finding:
        print(f"input:  {result.finding}", file=sys.stderr)
        print(f"replay: {binary(build, result.target)} {result.finding}", file=sys.stderr)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--seconds", type=int, default=120, help="per target")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--targets", nargs="+", default=TARGETS, choices=TARGETS)
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--replay", action="store_true")
    mode.add_argument("--merge", action="store_true")
    args = parser.parse_args(argv)
    build = args.build.resolve()

    if args.merge:
        for target in args.targets:
            print(f"{target:12} {merge(build, target):5} inputs")
        return 0

    if args.replay:
        with ThreadPoolExecutor(args.jobs) as pool:
            results = list(pool.map(lambda t: replay(build, t), args.targets))
        for result in results:
            print(
                f"{result.target:12} {result.runs:5} inputs  {'FAILED' if result.failed else 'ok'}"
            )
        failed = [r for r in results if r.failed]
        for result in failed:
            print(result.log[-6000:], file=sys.stderr)
        return 1 if failed else 0

    stop = [False]
    with ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda t: explore(build, t, args.seconds, stop), args.targets))
    total = 0
    print(f"{'target':12} {'inputs':>12} {'per second':>12}")
    for result in results:
        total += result.runs
        rate = result.runs / result.seconds if result.seconds else 0.0
        print(f"{result.target:12} {result.runs:12,} {rate:12,.0f}")
    print(f"{'total':12} {total:12,}")
    failed = [r for r in results if r.failed]
    for result in failed:
        report_finding(build, result)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
