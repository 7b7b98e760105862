# SPDX-License-Identifier: BSD-3-Clause
# Top-level entry points: `make` builds, `make demo` runs the agent on the
# simulated board, `make check` runs every test, `make drivers` builds the
# kernel modules. demo, check and drivers first install the Debian packages
# that are missing.
BUILD ?= build
JOBS ?= $(shell nproc)
PYTHON := /usr/bin/python3

.PHONY: all deps configure demo check check-sanitize fuzz bench clean drivers driver-check
.PHONY: install install-files deb install-check

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
	$(MAKE) install-check

# The unit and integration tests once more, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
check-sanitize: deps
	@[ -f build-san/CMakeCache.txt ] || cmake -S . -B build-san -DVLM_SANITIZE=ON
	cmake --build build-san -j $(JOBS)
	cd build-san && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure

# Each fuzz target (one per parser) runs for a few seconds on seeds from the
# test fixtures; a crash or a broken check fails the run.
FUZZ_SECONDS ?= 6
fuzz: deps
	@[ -f build-fuzz/CMakeCache.txt ] || CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVLM_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzz_targets
	tests/fuzz/run $(FUZZ_SECONDS) build-fuzz

# The power-supply status and product-name modules, against the packaged
# kernel headers; the product-name module also for 32-bit x86 (skipped, with
# the reason, when the 32-bit headers could not be installed).
drivers: deps
	$(MAKE) -C drivers/vlmpsustatus
	$(MAKE) -C drivers/vmspname
	@if scripts/kernel-headers-dir --arch i386 >/dev/null 2>&1; then \
		$(MAKE) -C drivers/vmspname i386 I386_DIR=$(CURDIR)/$(DRIVER_BUILD)/vmspname-i386; \
	else \
		echo "SKIP: 32-bit x86 build of vmspname: the 32-bit kernel headers are not installed (scripts/install-deps)"; \
	fi

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

# Installation. The agent and vlm_smartctl go to $(PREFIX)/sbin, their
# manual pages to $(MANDIR)/man8, the unit to systemd's system unit
# directory, with its ExecStart naming the installed agent. $(DATADIR) holds
# the factory configuration file, the snmpd.conf drop-in to copy, in mibs/
# our MIB module with the IETF modules it imports and those of the ENTITY
# views (all in one directory, for snmpwalk -M), in snmptt/ the snmptt
# configuration that translates our notifications (named in snmptt.ini),
# and in prometheus/ snmp_exporter's module configuration, its generator
# input and the Prometheus alerting rules. The configuration, the path the agent runs
# vlm_smartctl from and Net-SNMP's MIB directory are fixed in the agent and
# Net-SNMP, whatever the prefix: /etc/snmp/vlmSNMPsubagent.xml (copied from
# the factory file only when there is none: it holds the operator's
# settings), /usr/local/sbin/vlm_smartctl (linked to the installed one if
# that is elsewhere; SMARTCTL_PATH= leaves it out) and
# /usr/share/snmp/mibs/VELMORA-VLM-MIB.txt (a link to ours; the base modules
# stay out of that directory, which other packages fill). DESTDIR is
# honoured throughout. install-files installs what $(BUILD) holds without
# building.
PREFIX ?= /usr/local
SBINDIR ?= $(PREFIX)/sbin
DATADIR ?= $(PREFIX)/share/vlm-subagent
DOCDIR ?= $(PREFIX)/share/doc/vlm-subagent
MANDIR ?= $(PREFIX)/share/man
CONFDIR ?= /etc/snmp
MIBDIR ?= /usr/share/snmp/mibs
UNITDIR ?= $(or $(shell pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null),/lib/systemd/system)
SMARTCTL_PATH ?= /usr/local/sbin/vlm_smartctl
MIB := mibs/VELMORA-VLM-MIB.txt
SNMPTT_CONF := integrations/snmptt/vlm-subagent.conf
IETF_MIBS := $(wildcard mibs/ietf/*.txt)
MANPAGES := man/vlm_subagent.8 man/vlm_smartctl.8
PROMETHEUS := $(addprefix integrations/prometheus/,generator.yml snmp.yml vlm-alerts.yml)

install: all
	$(MAKE) install-files

install-files:
	@[ -x $(BUILD)/vlm_subagent ] || { echo "install: no $(BUILD)/vlm_subagent (run make first)" >&2; exit 1; }
	install -d $(DESTDIR)$(SBINDIR) $(DESTDIR)$(CONFDIR) $(DESTDIR)$(MIBDIR) \
		$(DESTDIR)$(DATADIR)/mibs $(DESTDIR)$(DATADIR)/snmpd.conf.d $(DESTDIR)$(DATADIR)/snmptt \
		$(DESTDIR)$(DATADIR)/prometheus \
		$(DESTDIR)$(UNITDIR) $(DESTDIR)$(DOCDIR) $(DESTDIR)$(MANDIR)/man8
	install -m 0755 $(BUILD)/vlm_subagent packaging/vlm_smartctl $(DESTDIR)$(SBINDIR)/
	install -m 0644 $(MANPAGES) $(DESTDIR)$(MANDIR)/man8/
	install -m 0644 $(MIB) $(IETF_MIBS) $(DESTDIR)$(DATADIR)/mibs/
	ln -sfnr $(DESTDIR)$(DATADIR)/mibs/$(notdir $(MIB)) $(DESTDIR)$(MIBDIR)/$(notdir $(MIB))
	install -m 0644 config/vlmSNMPsubagent.xml $(DESTDIR)$(DATADIR)/
	install -m 0644 config/snmpd.conf.d/vlm-subagent.conf $(DESTDIR)$(DATADIR)/snmpd.conf.d/
	install -m 0644 $(SNMPTT_CONF) $(DESTDIR)$(DATADIR)/snmptt/
	install -m 0644 $(PROMETHEUS) $(DESTDIR)$(DATADIR)/prometheus/
	sed -e 's|^ExecStart=/usr/local/sbin/|ExecStart=$(SBINDIR)/|' \
		-e 's|file:///usr/share/doc/vlm-subagent/|file://$(DOCDIR)/|' \
		packaging/vlm-subagent.service > $(DESTDIR)$(UNITDIR)/vlm-subagent.service
	chmod 0644 $(DESTDIR)$(UNITDIR)/vlm-subagent.service
	install -m 0644 README.md $(DESTDIR)$(DOCDIR)/
	@if [ -e $(DESTDIR)$(CONFDIR)/vlmSNMPsubagent.xml ] || [ -L $(DESTDIR)$(CONFDIR)/vlmSNMPsubagent.xml ]; then \
		echo "keeping $(DESTDIR)$(CONFDIR)/vlmSNMPsubagent.xml"; \
	else \
		echo "install -m 0644 config/vlmSNMPsubagent.xml $(DESTDIR)$(CONFDIR)/"; \
		install -m 0644 config/vlmSNMPsubagent.xml $(DESTDIR)$(CONFDIR)/; \
	fi
	$(if $(filter-out $(SBINDIR)/vlm_smartctl,$(SMARTCTL_PATH)),install -d $(DESTDIR)$(dir $(SMARTCTL_PATH)) && \
		ln -sfn $(SBINDIR)/vlm_smartctl $(DESTDIR)$(SMARTCTL_PATH))

# The Debian packages vlm-subagent and vlm-drivers-dkms, built with
# dpkg-buildpackage from a copy of the working tree, into $(DEB_DIR); lintian
# must report no error or warning.
DEB_DIR ?= build-deb

deb: deps
	packaging/build-deb --jobs $(JOBS) $(DEB_DIR)

# The installation and the packages: make install into scratch roots, the
# packages built, the agent package installed, upgraded and removed in
# scratch roots with dpkg, the DKMS sources built for the packaged kernel
# headers, and the package booted under systemd in a container to check the
# agent at work inside the service's sandbox.
install-check: deps
	$(PYTHON) -m pytest -q -p no:cacheprovider tests/packaging

# Figures of the agent on the simulated board, printed with their targets
# (about four minutes); BENCH_ARGS=--quick for rough figures in under a minute.
BENCH_ARGS ?=
bench: deps all
	VLM_SUBAGENT=$(abspath $(BUILD))/vlm_subagent VLM_DEVSHIM=$(abspath $(BUILD))/libvlmdevshim.so \
		$(PYTHON) bench/bench.py $(BENCH_ARGS)

clean:
	rm -rf $(BUILD) build-san build-fuzz $(DRIVER_BUILD)
	$(MAKE) -C drivers/vlmpsustatus clean
	$(MAKE) -C drivers/vmspname clean I386_DIR=$(CURDIR)/$(DRIVER_BUILD)/vmspname-i386
