# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
GAMES ?= 1000

.PHONY: all install demo test bench format lint clean

all: install

$(VENV)/bin/activate:
	$(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install --quiet --upgrade pip

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

# Native core benchmark, then the same work through Python.
bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_BUILD_BENCH=ON >/dev/null
	cmake --build build/bench --target komaban_bench
	build/bench/komaban_bench
	$(VPY) bench/python_bench.py build/bench/komaban_bench

format: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet clang-format ruff
	$(VENV)/bin/clang-format -i src/komaban/core/*.h src/komaban/core/*.cpp \
	  src/komaban/py/*.h src/komaban/py/*.cpp bench/*.cpp
	$(VENV)/bin/ruff format tests bench examples
	$(VENV)/bin/ruff check --fix tests bench examples

clean:
	rm -rf build build-dev $(VENV)
