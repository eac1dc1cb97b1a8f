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

.PHONY: all install demo test docs bench format lint clean

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
