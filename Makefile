# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite.

PYTHON ?= python3
VENV := .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
GAMES ?= 1000

.PHONY: all install demo test sanitize-install sanitize fuzz bench format lint clean

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
	  --config-settings=build-dir=build/sanitize --config-settings=install.strip=false ".[test]"

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
	rm -rf build build-dev $(VENV) $(SAN_VENV)
