# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
GAMES ?= 1000
NATIVE_BENCH := build/bench/komaban_bench
# Peers for bench-peers only: never dependencies of the module or its tests.
PEERS := "cshogi==1.1.0" "python-shogi==1.1.1" matplotlib

.PHONY: all install demo test bench bench-peers native-bench format lint clean

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

format: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet clang-format ruff
	$(VENV)/bin/clang-format -i src/komaban/core/*.h src/komaban/core/*.cpp \
	  src/komaban/py/*.h src/komaban/py/*.cpp bench/*.cpp
	$(VENV)/bin/ruff format tests bench examples
	$(VENV)/bin/ruff check --fix tests bench examples

clean:
	rm -rf build build-dev $(VENV)
