# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
GAMES ?= 1000

.PHONY: all install demo test bench lint-tools format lint clean

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

# Native core benchmark, then the same work through Python.
bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_BUILD_BENCH=ON >/dev/null
	cmake --build build/bench --target komaban_bench
	build/bench/komaban_bench
	$(VPY) bench/python_bench.py build/bench/komaban_bench

# Lint tools, pinned so that every machine formats and checks alike.
LINT_TOOLS := clang-format==23.1.5 ruff==0.17.6 codespell==2.4.3
CXX_SOURCES = $(shell git ls-files '*.cpp' '*.h')
PY_SOURCES := tests bench examples

lint-tools: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(LINT_TOOLS)

format: lint-tools
	$(VENV)/bin/clang-format -i $(CXX_SOURCES)
	$(VENV)/bin/ruff format $(PY_SOURCES)
	$(VENV)/bin/ruff check --fix $(PY_SOURCES)

# Fails on any formatting difference, lint finding or misspelling.
lint: lint-tools
	$(VENV)/bin/clang-format --dry-run --Werror $(CXX_SOURCES)
	$(VENV)/bin/ruff check $(PY_SOURCES)
	$(VENV)/bin/ruff format --check $(PY_SOURCES)
	$(VENV)/bin/codespell $(shell git ls-files)

clean:
	rm -rf build build-dev $(VENV)
