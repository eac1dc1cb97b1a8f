"""Line and branch coverage of the native core from the native check and the
committed fuzz corpus, measured by clang's source-based coverage.

  coverage.py BUILD_DIR [--llvm-suffix -19]

BUILD_DIR holds the core_test and fuzz_* programs of a KOMABAN_COVERAGE
build. Prints each file of src/komaban/core/ with its line and branch
coverage, the totals, the lines never run and the branches taken only one
way.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

from fuzz_native import TARGETS, committed  # beside this file, which runs as a script

ROOT = Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "komaban" / "core"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--llvm-suffix", default="-19")
    args = parser.parse_args(argv)
    build = args.build.resolve()
    profiles = build / "profiles"
    shutil.rmtree(profiles, ignore_errors=True)
    profiles.mkdir()
    env = dict(os.environ)

    programs = [build / "core_test"]
    # One file per process: the native check forks a child.
    env["LLVM_PROFILE_FILE"] = str(profiles / "core_test-%p.profraw")
    subprocess.run([str(build / "core_test")], check=True, env=env, stdout=subprocess.DEVNULL)
    for target in TARGETS:
        program = build / f"fuzz_{target}"
        programs.append(program)
        env["LLVM_PROFILE_FILE"] = str(profiles / f"{target}.profraw")
        inputs = sorted(str(p) for p in committed(target).iterdir())
        subprocess.run(
            [str(program), "-runs=1", *inputs],
            check=True,
            env=env,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )

    merged = build / "coverage.profdata"
    subprocess.run(
        [f"llvm-profdata{args.llvm_suffix}", "merge", "-sparse", "-o", str(merged)]
        + [str(p) for p in profiles.glob("*.profraw")],
        check=True,
    )
    objects = [str(programs[0])] + [arg for p in programs[1:] for arg in ("-object", str(p))]
    cov = f"llvm-cov{args.llvm_suffix}"
    export = subprocess.run(
        [cov, "export", "-summary-only", f"-instr-profile={merged}", *objects, str(CORE)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    data = json.loads(export)["data"][0]

    print(f"{'file':28} {'lines':>16} {'branches':>16}")

    def row(name: str, summary: dict[str, dict[str, float]]) -> None:
        lines, branches = summary["lines"], summary["branches"]
        print(
            f"{name:28} {lines['covered']:5}/{lines['count']:<5} {lines['percent']:5.1f}%"
            f" {branches['covered']:5}/{branches['count']:<5} {branches['percent']:5.1f}%"
        )

    for entry in sorted(data["files"], key=lambda f: f["filename"]):
        row(Path(entry["filename"]).name, entry["summary"])
    row("total", data["totals"])

    details = subprocess.run(
        [cov, "export", f"-instr-profile={merged}", *objects, str(CORE)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    print("\nlines never run, and branches taken only one way (line: true/false counts):")
    for entry in sorted(json.loads(details)["data"][0]["files"], key=lambda f: f["filename"]):
        name = Path(entry["filename"]).name
        source = Path(entry["filename"]).read_text().splitlines()
        # Segments: line, column, count, has count, region entry, gap region.
        counts: dict[int, int] = {}
        for line, _, count, has_count, entry_point, gap in entry["segments"]:
            if has_count and not gap and (entry_point or line not in counts):
                counts[line] = max(counts.get(line, 0), count) if line in counts else count
        for line in sorted(n for n, count in counts.items() if count == 0):
            print(f"  {name}:{line}: {source[line - 1].strip()}")
        for branch in entry["branches"]:
            line, true_count, false_count = branch[0], branch[4], branch[5]
            if (true_count == 0) != (false_count == 0):
                print(f"  {name}:{line}: {true_count}/{false_count} {source[line - 1].strip()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
