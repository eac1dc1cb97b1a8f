"""Compiles and links the extension module for macOS, x86_64 and arm64.

Uses the clang that the `ziglang` package ships (`python -m ziglang c++`),
which brings the macOS C and C++ headers for both targets. Every source file
is compiled with the project's warnings as errors, hidden visibility and the
Python headers of the running interpreter; the module is linked with
`-undefined dynamic_lookup` (the interpreter supplies the C API when it
loads the module) and the exported-symbols list. Any warning fails.

Zig's Mach-O linker differs from Apple's in three ways that the check
allows for. It crashes on `-bundle`, so the module is linked as a dylib
(`-shared`), which the interpreter's dlopen loads alike. It accepts
`-exported_symbols_list` but ignores it, so what keeps the exports down
here is hidden visibility alone. And it links its own libc++ statically,
whose replaceable operator new and delete stay exported as weak
definitions, beside the linker's own header symbols. The check reads the
export trie that dyld uses (llvm-objdump) and fails on any exported symbol
other than _PyInit_komaban and those.

The Python headers are the running interpreter's, built for Linux. Only
pyconfig.h is platform-specific, and the public headers read it for the
sizes of C types and a few feature tests; Python.h includes pymacconfig.h,
which on macOS redefines the sizes that differ between Apple's targets. A
probe compiled for each target checks with static_assert that every size
macro the public headers use matches the target's type, so a mismatch fails
the check instead of producing a module with the wrong layout.

Usage: python tools/check_macos.py [output directory]
"""

import concurrent.futures
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TARGETS = ["x86_64-macos", "aarch64-macos"]
# The flags of CMakeLists.txt: its warnings, as errors, and hidden symbols.
FLAGS = [
    "-std=c++20",
    "-O2",
    "-DNDEBUG",
    "-fvisibility=hidden",
    "-fvisibility-inlines-hidden",
    "-Wall",
    "-Wextra",
    "-Wpedantic",
    "-Wshadow",
    "-Wconversion",
    "-Wno-sign-conversion",
    "-Werror",
]
EXPORTS = ROOT / "src/komaban/py/exports.txt"

# Each size macro that the public Python headers read, with the C type whose
# size (or alignment) it gives.
PROBE = """
#include <Python.h>
#include <pthread.h>
#include <stdint.h>
#include <sys/types.h>
#include <time.h>
#include <wchar.h>
#define SAME(macro, value) static_assert(macro == value, #macro " does not fit the target")
SAME(SIZEOF_VOID_P, sizeof(void*));
SAME(SIZEOF_LONG, sizeof(long));
SAME(SIZEOF_LONG_LONG, sizeof(long long));
SAME(SIZEOF_INT, sizeof(int));
SAME(SIZEOF_SIZE_T, sizeof(size_t));
SAME(SIZEOF_UINTPTR_T, sizeof(uintptr_t));
SAME(SIZEOF_WCHAR_T, sizeof(wchar_t));
SAME(SIZEOF_PID_T, sizeof(pid_t));
SAME(SIZEOF_TIME_T, sizeof(time_t));
SAME(SIZEOF_PTHREAD_T, sizeof(pthread_t));
SAME(SIZEOF__BOOL, sizeof(bool));
SAME(ALIGNOF_LONG, alignof(long));
SAME(ALIGNOF_SIZE_T, alignof(size_t));
#ifdef WORDS_BIGENDIAN
#error big-endian configuration
#endif
"""


def python_headers(work: Path) -> Path:
    """The interpreter's headers, with its real pyconfig.h in place.

    Debian's system interpreters install a pyconfig.h that only dispatches to
    a per-architecture file for Linux targets; the copy holds that file.
    """
    include = work / "python-include"
    if include.exists():
        shutil.rmtree(include)
    shutil.copytree(sysconfig.get_paths()["include"], include)
    shutil.copyfile(sysconfig.get_config_h_filename(), include / "pyconfig.h")
    return include


def run(command: list[str]) -> str:
    result = subprocess.run(command, capture_output=True, text=True)
    output = (result.stdout + result.stderr).strip()
    if result.returncode != 0 or "warning" in output:
        raise RuntimeError(f"{' '.join(command)}\n{output}")
    return output


def build(target: str, include: Path, work: Path) -> Path:
    zig = [sys.executable, "-m", "ziglang", "c++", "-target", target]
    out = work / target
    out.mkdir(parents=True, exist_ok=True)
    compile_flags = [*FLAGS, f"-I{ROOT / 'src'}", "-isystem", str(include)]
    probe = out / "probe.cpp"
    probe.write_text(PROBE)
    jobs = [(probe, out / "probe.o")]
    for source in sorted((ROOT / "src/komaban").glob("*/*.cpp")):
        jobs.append((source, out / f"{source.parent.name}_{source.stem}.o"))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(
            pool.map(
                lambda job: run([*zig, *compile_flags, "-c", str(job[0]), "-o", str(job[1])]), jobs
            )
        )
    module = out / "komaban.so"
    objects = [str(obj) for _, obj in jobs[1:]]
    link = ["-shared", "-undefined", "dynamic_lookup", f"-Wl,-exported_symbols_list,{EXPORTS}"]
    run([*zig, *link, *objects, "-o", str(module)])
    return module


# What zig's linker exports besides the module's own symbols (see above):
# operator new, new[], delete and delete[] of its static libc++, and the
# image header symbols.
ZIG_EXTRAS = re.compile(r"__Z(nw|na|dl|da)[a-zA-Z0-9_]*|___dso_handle|__mh_dylib_header")


def exported_symbols(module: Path) -> list[str]:
    """The names in the module's export trie, less zig's extras."""
    out = run(["llvm-objdump", "--macho", "--exports-trie", str(module)])
    names = [line.split()[1] for line in out.splitlines() if line.startswith("0x")]
    return [name for name in names if not ZIG_EXTRAS.fullmatch(name)]


def main(argv: list[str]) -> int:
    work = Path(argv[0]) if argv else ROOT / "build/check-macos"
    work.mkdir(parents=True, exist_ok=True)
    include = python_headers(work)
    failed = False
    for target in TARGETS:
        try:
            module = build(target, include, work)
            file_type = run(["llvm-objdump", "--macho", "--private-header", str(module)])
            symbols = exported_symbols(module)
        except RuntimeError as error:
            print(f"{target}: FAILED\n{error}")
            failed = True
            continue
        if symbols != ["_PyInit_komaban"]:
            print(f"{target}: FAILED, exported symbols {symbols}")
            failed = True
            continue
        print(f"{target}: {module.relative_to(ROOT)} built, exports only _PyInit_komaban")
        print(file_type.splitlines()[-1])
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
