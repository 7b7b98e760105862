# Top-level entry points: `make` builds, `make demo` runs the agent on the
# simulated board, `make check` runs every test. demo and check first install
# the Debian packages that are missing.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: all deps configure demo check check-sanitize fuzz bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	scripts/install-deps

configure:
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD)

demo: deps all
	$(PYTHON) tools/simboard.py demo

check: deps all
	cd $(BUILD) && ctest --output-on-failure
	$(MAKE) fuzz

# The unit and integration tests once more, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
check-sanitize: deps
	@[ -f build-san/CMakeCache.txt ] || cmake -S . -B build-san -DVLM_SANITIZE=ON
	cmake --build build-san -j $(JOBS)
	cd build-san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure

# Each fuzz target runs for a few seconds on its seed corpus.
FUZZ_SECONDS ?= 10
fuzz: deps
	@[ -f build-fuzz/CMakeCache.txt ] || CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVLM_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	tests/fuzz/run $(FUZZ_SECONDS) build-fuzz

bench: deps all
	$(PYTHON) bench/bench.py

clean:
	rm -rf $(BUILD) build-san build-fuzz
