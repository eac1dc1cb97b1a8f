# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite;
# `make docs` builds the documentation into build/site.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
GAMES ?= 1000
DOCS_TOOLS := mkdocs==1.6.1 mkdocs-material==9.8.2 mkdocstrings==1.0.8 \
  mkdocstrings-python==2.0.11 pymdown-extensions==13.1.2 ruff==0.17.6
NATIVE_BENCH := build/bench/komaban_bench
# Peers for bench-peers only: never dependencies of the module or its tests.
PEERS := "cshogi==1.1.0" "python-shogi==1.1.1" matplotlib

.PHONY: all install demo test docs bench bench-peers native-bench lint-tools format lint clean

all: install

$(VENV)/bin/activate:
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

# Installs the package (not an editable install, so tests see what a wheel
# would ship) with its test extras. The build directory is kept between runs.
install: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(BUILD_TOOLS)
	$(VPY) -m pip install --quiet --no-build-isolation ".[test]"

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
PY_SOURCES := tests bench examples src/komaban-stubs

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

clean:
	rm -rf build build-dev $(VENV)
