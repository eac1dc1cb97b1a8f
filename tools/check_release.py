"""Checks which wheels the release workflow builds, without building them.

cibuildwheel, with the configuration in pyproject.toml, must list exactly one
wheel per supported CPython version for each intended platform and
architecture: no free-threaded or 32-bit builds, none missing. The runners of
the workflow, each building its own architecture, must together build exactly
that list, each wheel once, with the cibuildwheel version installed here.

Usage: python tools/check_release.py --versions "3.11 3.12" WORKFLOW
"""

import argparse
import importlib.metadata
import subprocess
import sys
from collections import Counter
from pathlib import Path

import yaml

ROOT = Path(__file__).resolve().parent.parent

# The platform tag of each intended wheel, by cibuildwheel platform.
INTENDED = {
    "linux": ["manylinux_x86_64", "manylinux_aarch64", "musllinux_x86_64", "musllinux_aarch64"],
    "macos": ["macosx_x86_64", "macosx_arm64"],
    "windows": ["win_amd64", "win_arm64"],
}
ACTION = "pypa/cibuildwheel@v"


def identifiers(platform, archs=None):
    """The build identifiers cibuildwheel would build here for `platform`."""
    command = ["cibuildwheel", "--print-build-identifiers", "--platform", platform]
    if archs:
        command += ["--archs", archs]
    out = subprocess.run(command, cwd=ROOT, check=True, capture_output=True, text=True).stdout
    return out.split()


def difference(what, got, wanted):
    """Problems of a list of identifiers against the wanted set."""
    problems = [f"{what}: builds {i} {n} times" for i, n in Counter(got).items() if n > 1]
    problems += [f"{what}: missing {i}" for i in sorted(wanted - set(got))]
    problems += [f"{what}: unexpected {i}" for i in sorted(set(got) - wanted)]
    return problems


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--versions", required=True, help="the supported versions")
    parser.add_argument("workflow", type=Path)
    args = parser.parse_args(argv)
    tags = ["cp" + v.replace(".", "") for v in args.versions.split()]

    problems = []
    wanted_all = set()
    for platform, platform_tags in INTENDED.items():
        wanted = {f"{t}-{p}" for t in tags for p in platform_tags}
        wanted_all |= wanted
        got = identifiers(platform)
        problems += difference(f"cibuildwheel --platform {platform}", got, wanted)
        print(f"{platform}: {len(got)} wheels")

    workflow = yaml.safe_load(args.workflow.read_text())
    job = workflow["jobs"]["wheels"]
    built = []
    runners = job["strategy"]["matrix"]["include"]
    for entry in runners:
        built += identifiers(entry["platform"], entry["arch"])
    problems += difference(f"{args.workflow} runners", built, wanted_all)

    installed = importlib.metadata.version("cibuildwheel")
    used = [s["uses"] for s in job["steps"] if s.get("uses", "").startswith(ACTION)]
    if used != [ACTION + installed]:
        problems.append(f"{args.workflow} uses {used}, checked here with cibuildwheel {installed}")

    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        return 1
    print(f"{len(built)} wheels, as intended, from {len(runners)} runners")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
