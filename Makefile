# Top-level entry points: `make` builds, `make demo` runs the agent on the
# simulated board, `make check` runs every test, `make drivers` builds the
# kernel modules. demo, check and drivers first install the Debian packages
# that are missing.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: all deps configure demo check check-sanitize fuzz bench clean drivers driver-check

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	scripts/install-deps

configure:
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD)

demo: deps all
	$(PYTHON) tools/simboard.py demo

check: deps all drivers
	cd $(BUILD) && ctest --output-on-failure
	$(MAKE) fuzz
	$(MAKE) driver-check

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

# The power-supply status and product-name modules, against the packaged
# kernel headers; the product-name module also for 32-bit x86.
drivers: deps
	$(MAKE) -C drivers/vlmpsustatus
	$(MAKE) -C drivers/vmspname
	$(MAKE) -C drivers/vmspname i386 I386_DIR=$(CURDIR)/$(DRIVER_BUILD)/vmspname-i386

# Driver tests: the power-supply module's Super-I/O code against a model of
# the chip in user space, then the real build and the test build (chip
# model compiled in) loaded in a QEMU guest running Debian's kernel of the
# headers' ABI. The product-name module's search on synthetic BIOS images
# in user space, then both builds loaded in QEMU guests (x86-64 and 32-bit
# x86) whose SMBIOS tables carry a product name.
DRIVER_BUILD := build-driver
SANITIZE_CFLAGS := -std=gnu11 -O1 -g -Wall -Wextra -Werror \
	-fsanitize=address,undefined -fno-sanitize-recover=all
DRIVER_TEST_CFLAGS := $(SANITIZE_CFLAGS) \
	-DVLMPSU_USERSPACE_TEST -Itests/driver -Idrivers/include -Idrivers/vlmpsustatus
VMSPNAME_TEST_CFLAGS := $(SANITIZE_CFLAGS) -Itests/driver -Idrivers/include -Idrivers/vmspname

driver-check: drivers
	mkdir -p $(DRIVER_BUILD)
	$(MAKE) -C drivers/vlmpsustatus model MODEL_DIR=$(CURDIR)/$(DRIVER_BUILD)/model
	gcc $(DRIVER_TEST_CFLAGS) -o $(DRIVER_BUILD)/superio_test tests/driver/superio_test.c
	$(DRIVER_BUILD)/superio_test
	tests/driver/qemu/run drivers/vlmpsustatus/vlmpsustatus.ko \
		$(DRIVER_BUILD)/model/vlmpsustatus.ko $(DRIVER_BUILD)/qemu
	gcc $(VMSPNAME_TEST_CFLAGS) -o $(DRIVER_BUILD)/bios_name_test \
		tests/driver/vmspname/bios_name_test.c drivers/vmspname/bios_name.c
	$(DRIVER_BUILD)/bios_name_test
	tests/driver/vmspname/qemu/run drivers/vmspname/vmspname.ko \
		$(DRIVER_BUILD)/vmspname-i386/vmspname.ko $(DRIVER_BUILD)/vmspname-qemu

bench: deps all
	$(PYTHON) bench/bench.py

clean:
	rm -rf $(BUILD) build-san build-fuzz $(DRIVER_BUILD)
	$(MAKE) -C drivers/vlmpsustatus clean
	$(MAKE) -C drivers/vmspname clean I386_DIR=$(CURDIR)/$(DRIVER_BUILD)/vmspname-i386
