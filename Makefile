# Entry points: `make demo`, `make test`, `make asan`, `make wheel` (see README.md).
#
# Every target runs scripts/setup.sh first (fast when nothing is missing), so
# a fresh clone needs nothing but make and bash.

SHELL := bash
.SHELLFLAGS := -euo pipefail -c
.ONESHELL:
.DEFAULT_GOAL := test

NPROC := $(shell nproc 2>/dev/null || echo 2)
# Compile jobs for scikit-build-core's and our own CMake builds.
export CMAKE_BUILD_PARALLEL_LEVEL := $(NPROC)
# ccache: hit across clones in other folders too.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := true

# Extra pip options for the extension builds, e.g. `make build PIPFLAGS=-v`
# to see the compiler output.
PIPFLAGS ?=
PIP_BUILD := -m pip install --no-build-isolation --no-deps --disable-pip-version-check $(PIPFLAGS)

# CMake, CTest and Ninja come from the default venv (PyPI), not from apt.
VENV_BIN := $(CURDIR)/.venv/bin
# Native tests: asserts on (RelWithDebInfo keeps them, see CMakeLists.txt).
# $(1) = build dir, $(2) = extra CMake arguments.
native_tests = "$(VENV_BIN)/cmake" -S . -B $(1) -G Ninja \
		-DCMAKE_MAKE_PROGRAM="$(VENV_BIN)/ninja" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTESSARON_NATIVE_TESTS=ON -DTESSARON_EXTENSION=OFF $(2) \
	&& "$(VENV_BIN)/cmake" --build $(1) --parallel $(NPROC) \
	&& "$(VENV_BIN)/ctest" --test-dir $(1) --output-on-failure --parallel $(NPROC) --no-tests=ignore

# pytest under $(1) (a venv's python), environment prefix $(2), its output
# shown and kept (scripts/suite.sh).  Exit code 5 ("no tests collected")
# counts as success; any other failure sets status=1.
run_pytest = rc=0; scripts/suite.sh run "pytest $(patsubst %/bin/python,%,$(1))" show env $(2) $(1) -m pytest tests || rc=$$?; \
	if [ $$rc -ne 0 ] && [ $$rc -ne 5 ]; then status=1; fi
# The native suite into build dir $(1) with CMake arguments $(2): its build
# and CTest output (a line per test) is shown only when it fails.
run_native = scripts/suite.sh run "native tests $(1)" quiet bash -c '$(call native_tests,$(1),$(2))' || status=1

# The tests that check the distribution rather than the library (the type
# checkers against the stub, a built wheel in a fresh venv) and the
# soundness sweep over generated relation questions run under one
# interpreter only: the default venv's.
SWEEP_PAIRS_IN_TEST := 100000
ONCE_ENV := TESSARON_DIST_TESTS=1 TESSARON_SWEEP_PAIRS=$(SWEEP_PAIRS_IN_TEST)

SAN_PRELOAD = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)
SAN_ENV = LD_PRELOAD="$(SAN_PRELOAD)" PYTHONMALLOC=malloc \
	ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1

.PHONY: setup build demo test native-test asan wheel sweep bench bench-smoke bench-native clean distclean

setup:
	@scripts/setup.sh

# The interpreters' venvs that build and test: every CPython, then PyPy.
TEST_VENVS := .venvs/3.* .venvs/pypy*

# Build the extension and install the package into every interpreter's venv.
build: setup
	@for v in $(TEST_VENVS); do
		[ -x "$$v/bin/python" ] || continue
		echo "==> build + install into $$v"
		"$$v/bin/python" $(PIP_BUILD) .
	done

# The demo runs on the default interpreter, so only its venv is made and
# built.  The build shows a line per step (CMake's phases, each compiled
# file); pip's whole output goes to build/demo-build.log, and its tail is
# shown when the build fails.
demo:
	@scripts/setup.sh --default-only
	echo "==> build + install into .venv (a line per step; full output in build/demo-build.log)"
	mkdir -p build
	rc=0
	.venv/bin/python $(PIP_BUILD) -v . 2>&1 | tee build/demo-build.log | awk '
		/^ *\*\*\* / { sub(/^ */, ""); print "    " $$0; fflush() }
		/^ *\[[0-9]+\/[0-9]+\] / { sub(/^ */, ""); sub(/ CMakeFiles\/[^ ]*\.dir\//, " "); print "    " $$0; fflush() }' || rc=$$?
	if [ $$rc -ne 0 ]; then
		tail -n 60 build/demo-build.log
		echo "==> the build failed; full output in build/demo-build.log" >&2
		exit $$rc
	fi
	echo "==> examples/quickstart.py"
	.venv/bin/python examples/quickstart.py
	echo
	echo "==> tessaron is built and installed into .venv, the venv of the default python3. Use it with:"
	echo "    .venv/bin/python -c 'from tessaron import Validator; print(Validator(list[int]).is_valid([1, 2]))'"
	echo "    .venv/bin/python your_script.py     (or: source .venv/bin/activate)"
	echo "    make test builds for every interpreter found and runs every suite (slow, PyPy's run most of all; see README.md)"

# Every suite, then one summary line each; full logs in build/test-logs/.
test: build
	@scripts/suite.sh reset
	status=0
	default=$$(readlink .venv)
	for v in $(TEST_VENVS); do
		[ -x "$$v/bin/python" ] || continue
		echo "==> pytest ($$v)"
		if [ "$$v" = "$$default" ]; then once="$(ONCE_ENV)"; else once=; fi
		$(call run_pytest,$$v/bin/python,$$once)
	done
	echo "==> native tests (build/native)"
	$(call run_native,build/native,)
	scripts/suite.sh summary
	exit $$status

# The soundness sweep on demand (tests/sweep.py): a million generated
# relation questions on the default interpreter, every answer checked
# against values; `make sweep SWEEP_PAIRS=... SWEEP_SEED=...` for others.
SWEEP_PAIRS ?= 1000000
SWEEP_SEED ?= 0
sweep: setup
	@echo "==> build + install into .venv"
	.venv/bin/python $(PIP_BUILD) .
	mkdir -p build
	.venv/bin/python tests/sweep.py --pairs $(SWEEP_PAIRS) --seed $(SWEEP_SEED) | tee build/sweep.log

native-test: setup
	@$(call native_tests,build/native,)

# Extension and native tests under AddressSanitizer + UBSan.  The interpreter
# itself is not instrumented, so the sanitizer runtimes are preloaded and
# Python's allocator is bypassed; leak detection is off for the interpreter.
asan:
	@scripts/setup.sh --asan
	status=0
	echo "==> sanitizer build + install into .venvs/asan"
	.venvs/asan/bin/python $(PIP_BUILD) \
		--config-settings=build-dir=build/asan/{wheel_tag} \
		--config-settings=cmake.build-type=RelWithDebInfo \
		--config-settings=cmake.define.TESSARON_SANITIZE=ON .
	scripts/suite.sh reset
	echo "==> pytest (.venvs/asan, sanitizers preloaded)"
	$(call run_pytest,.venvs/asan/bin/python,$(SAN_ENV))
	echo "==> native tests under sanitizers (build/native-asan)"
	$(call run_native,build/native-asan,-DTESSARON_SANITIZE=ON)
	scripts/suite.sh summary
	exit $$status

# One manylinux wheel per interpreter into dist/ (scripts/wheel.sh).
wheel: setup
	@for v in .venvs/3.*; do
		echo "==> wheel for $$v"
		scripts/wheel.sh "$$v/bin/python" dist
	done
	ls -1 dist/*.whl

# Fuzzing, opt-in: clang (libFuzzer) and atheris come from
# scripts/setup-fuzz.sh, which `make test` never runs.  Native targets
# (fuzz/*_fuzz.cc) run under libFuzzer with ASan + UBSan; the Python-level
# targets (fuzz/*_fuzz.py) run under atheris against an extension that clang
# builds with ASan and coverage instrumentation into .venvs/fuzz.  Every
# target runs FUZZ_SECONDS (CI: a short bounded run, see .ci/run); see
# fuzz/run.sh for where inputs and findings go.
FUZZ_SECONDS ?= 300

.PHONY: fuzz
fuzz:
	@clang=$$(scripts/setup-fuzz.sh | sed -n 's/^CLANG=//p')
	echo "==> native fuzz targets ($$clang, build/fuzz)"
	"$(VENV_BIN)/cmake" -S fuzz -B build/fuzz -G Ninja -DCMAKE_MAKE_PROGRAM="$(VENV_BIN)/ninja" \
		-DCMAKE_CXX_COMPILER="$$clang" >/dev/null
	"$(VENV_BIN)/cmake" --build build/fuzz --parallel $(NPROC)
	echo "==> instrumented extension ($$clang) into .venvs/fuzz"
	.venvs/fuzz/bin/python $(PIP_BUILD) -q \
		--config-settings=build-dir=build/fuzz-ext/{wheel_tag} \
		--config-settings=cmake.build-type=RelWithDebInfo \
		--config-settings=cmake.define.CMAKE_CXX_COMPILER="$$clang" \
		"--config-settings=cmake.define.CMAKE_CXX_FLAGS=-fsanitize=address,fuzzer-no-link -fno-omit-frame-pointer" .
	fuzz/run.sh $(FUZZ_SECONDS)

# Benchmarks against the validators in use today (bench/run.py; see the
# Benchmarks section of README.md).  The peers and the tools come from
# bench/requirements.txt and are installed here, into the default venv only,
# never for the tests; a stamp skips pip when that file has not changed.  Only
# the default venv's extension is rebuilt.
bench_prepare = echo "==> build + install into .venv"; "$(VENV_BIN)/python" $(PIP_BUILD) -q .; \
	stamp=$$(sha256sum bench/requirements.txt | cut -d' ' -f1); \
	if [ "$$(cat .venv/.bench-requirements.sha256 2>/dev/null || true)" != "$$stamp" ]; then \
		echo "==> installing bench/requirements.txt into .venv"; \
		"$(VENV_BIN)/python" -m pip install -q --disable-pip-version-check -r bench/requirements.txt; \
		echo "$$stamp" >.venv/.bench-requirements.sha256; \
	fi

# The full run (a few minutes): rewrites bench/results/latest.{md,png,json}.
bench: setup
	@$(bench_prepare)
	"$(VENV_BIN)/python" bench/run.py

# Small inputs, few rounds: proves the harness still runs (CI runs it after
# the tests).  Writes to build/bench-smoke, never over the committed results.
bench-smoke: setup
	@$(bench_prepare)
	"$(VENV_BIN)/python" bench/run.py --smoke --out build/bench-smoke

# The native micro-benchmarks (bench/native/*.cc) in a Release build: each
# program prints its own table.  Never part of the tests.
bench-native: setup
	@"$(VENV_BIN)/cmake" -S . -B build/bench-native -G Ninja -DCMAKE_MAKE_PROGRAM="$(VENV_BIN)/ninja" \
		-DCMAKE_BUILD_TYPE=Release -DTESSARON_NATIVE_BENCH=ON -DTESSARON_EXTENSION=OFF >/dev/null
	"$(VENV_BIN)/cmake" --build build/bench-native --parallel $(NPROC)
	for src in bench/native/*.cc; do
		name=$$(basename "$$src" .cc)
		echo "==> $$name"
		build/bench-native/$$name
	done

clean:
	@rm -rf build .pytest_cache .hypothesis
	find . -name __pycache__ -type d -not -path './.venv*' -prune -exec rm -rf {} +

distclean: clean
	@rm -rf .venv .venvs
