// SPDX-License-Identifier: GPL-2.0
/*
 * The driver's Super-I/O code (chip search and input reads), compiled from
 * the driver's own source against a model of the W83627HF, checked for what
 * reaches the chip: which ports, in which mode, which register bits change,
 * and what the reads return.
 */
#include "vlmpsustatus.c"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "checks.h"

_Static_assert(VLMPSUSTATUS_GET_PWR1 == 0x80015000u, "input 1 command");
_Static_assert(VLMPSUSTATUS_GET_PWR2 == 0xC0015001u, "input 2 command");


static void run(const char *name, void (*fn)(void))
{
	case_failed = 0;
	sio_bus_reset();
	fn();
	end_case(name);
}

static unsigned int rng_state = 1;

static unsigned char rnd(void)
{
	rng_state = rng_state * 1103515245u + 12345u;
	return (unsigned char)(rng_state >> 16);
}

/* Accesses from..to-1 went to the pair at efer, inside the claimed region. */
static void expect_pair(int efer, int from, int to)
{
	int i;

	for (i = from; i < to && i < bus.nlog; i++) {
		const struct sio_access *a = &bus.log[i];

		EXPECT(a->port == efer || a->port == efer + 1,
		       "access %d to port 0x%X, pair is 0x%X", i, a->port, efer);
		EXPECT(a->in_region, "access %d to port 0x%X outside a claimed region",
		       i, a->port);
	}
}

/* The regions requested were all released and no chip is left configurable. */
static void expect_released(void)
{
	int i;

	EXPECT(bus.region_start < 0, "region 0x%X still held", bus.region_start);
	EXPECT(bus.requests == bus.releases, "%d requests, %d releases",
	       bus.requests, bus.releases);
	EXPECT(!bus.bad_release && !bus.nested_request,
	       "region released unheld or requested twice");
	EXPECT(!bus.lock_held && !bus.lock_errors, "update_lock misused");
	EXPECT(!bus.overflow, "access log overflow");
	for (i = 0; i < bus.nchips; i++) {
		EXPECT(!bus.chip[i].config, "chip at 0x%X left in configuration mode",
		       bus.chip[i].efer);
		EXPECT(!bus.chip[i].stray,
		       "chip at 0x%X: %d accesses outside configuration mode",
		       bus.chip[i].efer, bus.chip[i].stray);
	}
}

/* The ID probe at one pair: enter, select the ID register, read it, leave. */
static void expect_probe_at(int from, int efer)
{
	static const struct {
		int out, data, val;
	} seq[] = {
		{ 1, 0, 0x87 }, { 1, 0, 0x87 }, { 1, 0, 0x20 }, { 0, 1, 0 }, { 1, 0, 0xAA },
	};
	int i;

	EXPECT(bus.nlog >= from + 5, "probe at 0x%X: only %d accesses", efer,
	       bus.nlog - from);
	for (i = 0; i < 5 && from + i < bus.nlog; i++) {
		const struct sio_access *a = &bus.log[from + i];

		EXPECT(a->out == seq[i].out && a->port == efer + seq[i].data &&
			       (!a->out || a->val == seq[i].val),
		       "probe at 0x%X, access %d: %s 0x%X to 0x%X", efer, i,
		       a->out ? "out" : "in", a->val, a->port);
	}
}

static void find_at_first_pair(void)
{
	sio_bus_add_chip(0x2E, 0x52);
	EXPECT(w83627hf_find() == 0, "not found");
	EXPECT(EFER == 0x2E && EFDR == 0x2F, "ports 0x%X/0x%X", EFER, EFDR);
	EXPECT(bus.nlog == 5, "%d accesses, want one probe", bus.nlog);
	expect_probe_at(0, 0x2E);
	expect_pair(0x2E, 0, bus.nlog);
	expect_released();
}

static void find_at_second_pair(void)
{
	int before;

	sio_bus_add_chip(0x4E, 0x52)->pins[8] = 0x40;
	EXPECT(w83627hf_find() == 0, "not found");
	EXPECT(EFER == 0x4E && EFDR == 0x4F, "ports 0x%X/0x%X", EFER, EFDR);
	EXPECT(bus.nlog == 10, "%d accesses, want two probes", bus.nlog);
	expect_probe_at(0, 0x2E);
	expect_pair(0x2E, 0, 5);
	expect_probe_at(5, 0x4E);
	expect_pair(0x4E, 5, 10);
	expect_released();

	/* and the reads that follow use that pair only */
	before = bus.nlog;
	EXPECT(pwr1_get_value() == 1, "input 1 read wrong at 0x4E");
	expect_pair(0x4E, before, bus.nlog);
	expect_released();
}

/* Another Super-I/O chip at 0x2E is left as found, the W83627HF is used. */
static void find_skips_other_chip(void)
{
	sio_bus_add_chip(0x2E, 0x82);
	sio_bus_add_chip(0x4E, 0x52);
	EXPECT(w83627hf_find() == 0, "not found");
	EXPECT(EFER == 0x4E && EFDR == 0x4F, "ports 0x%X/0x%X", EFER, EFDR);
	EXPECT(bus.chip[0].entries == 1 && bus.chip[0].exits == 1,
	       "other chip entered %d, left %d times", bus.chip[0].entries,
	       bus.chip[0].exits);
	expect_released();
}

static void find_refuses_other_ids(void)
{
	static const unsigned char ids[] = { 0x00, 0x53, 0x82, 0x88, 0xD2, 0xFF };
	unsigned int i;

	for (i = 0; i < sizeof(ids); i++) {
		sio_bus_reset();
		sio_bus_add_chip(0x2E, ids[i]);
		sio_bus_add_chip(0x4E, ids[i]);
		EXPECT(w83627hf_find() == -ENODEV, "ID 0x%02X accepted", ids[i]);
		EXPECT(bus.nlog == 10, "ID 0x%02X: %d accesses, want two probes",
		       ids[i], bus.nlog);
		expect_probe_at(0, 0x2E);
		expect_probe_at(5, 0x4E);
		expect_released();
	}

	/* nothing at either pair: the bus floats high */
	sio_bus_reset();
	EXPECT(w83627hf_find() == -ENODEV, "empty bus: chip found");
	expect_probe_at(0, 0x2E);
	expect_probe_at(5, 0x4E);
	expect_released();
}

/* A pair claimed by someone else is not touched. */
static void find_busy_pair(void)
{
	sio_bus_add_chip(0x2E, 0x52);
	sio_bus_add_chip(0x4E, 0x52);
	bus.busy_port = 0x2E;
	EXPECT(w83627hf_find() == 0 && EFER == 0x4E, "not found at 0x4E");
	expect_pair(0x4E, 0, bus.nlog);
	expect_released();

	sio_bus_reset();
	sio_bus_add_chip(0x2E, 0x52);
	bus.busy_port = 0x2E;
	EXPECT(w83627hf_find() == -EBUSY, "chip behind a busy pair: not -EBUSY");
	expect_pair(0x4E, 0, bus.nlog);
	expect_released();
}

struct input {
	const char *name;
	int (*get)(void);
	int ld;
	int pinsel_reg, pinsel_bit;
	int bit;
};

static const struct input inputs[] = {
	{ "input 1", pwr1_get_value, 8, 0x2B, 0x04, 0x40 },
	{ "input 2", pwr2_get_value, 9, 0x29, 0x40, 0x10 },
};

/* One read of an input, with the checks that hold for every read. */
static int read_input(const struct input *in, int efer)
{
	struct w83627hf_model *m = &bus.chip[0];
	int from = bus.nlog, entries = m->entries, i, ret;

	ret = in->get();
	EXPECT(m->entries == entries + 1 && m->exits == entries + 1,
	       "%s: configuration mode entered %d, left %d times", in->name,
	       m->entries - entries, m->exits - entries);
	EXPECT(bus.nlog - from >= 3 && bus.log[from].out &&
		       bus.log[from].val == 0x87 && bus.log[from + 1].out &&
		       bus.log[from + 1].val == 0x87,
	       "%s: does not start by entering configuration mode", in->name);
	EXPECT(bus.log[bus.nlog - 1].out && bus.log[bus.nlog - 1].val == 0xAA &&
		       bus.log[bus.nlog - 1].port == efer,
	       "%s: does not end by leaving configuration mode", in->name);
	for (i = from; i < bus.nlog; i++)
		EXPECT(bus.log[i].locked, "%s: access %d without update_lock",
		       in->name, i - from);
	expect_pair(efer, from, bus.nlog);
	expect_released();
	return ret;
}

/*
 * From any register contents, a read sets the bits that route the pin,
 * activate the port and make the bit a non-inverted input, changes nothing
 * else, and returns the pin's level whatever the other pins of both ports
 * show.
 */
static void reads_from_any_state(void)
{
	unsigned int i, s, level;
	int r, l;

	for (i = 0; i < 2; i++) {
		const struct input *in = &inputs[i];

		for (s = 0; s < 200; s++) {
			for (level = 0; level < 2; level++) {
				struct w83627hf_model *m, before;
				int ret;

				sio_bus_reset();
				m = sio_bus_add_chip(s & 1 ? 0x4E : 0x2E, 0x52);
				for (r = 0; r < 0x30; r++)
					if (r != 0x20 && r != 0x21)
						m->global[r] = rnd();
				m->global[0x07] = rnd() % W83627HF_MODEL_LDS;
				for (l = 0; l < W83627HF_MODEL_LDS; l++)
					for (r = 0x30; r < 0x100; r++)
						m->ld[l][r] = rnd();
				m->pins[8] = level ? ~in->bit : in->bit;
				m->pins[9] = level ? ~in->bit : in->bit;
				m->pins[in->ld] = level ? in->bit : ~in->bit;
				EFER = m->efer;
				EFDR = m->efer + 1;
				before = *m;

				ret = read_input(in, m->efer);
				EXPECT(ret == (int)level, "%s, state %u: read %d, pin %u",
				       in->name, s, ret, level);

				before.global[0x07] = in->ld;
				before.global[in->pinsel_reg] |= in->pinsel_bit;
				before.ld[in->ld][0x30] |= 0x01;
				before.ld[in->ld][0xF0] |= in->bit;
				before.ld[in->ld][0xF2] &= ~in->bit;
				for (r = 0; r < 0x30; r++)
					EXPECT(m->global[r] == before.global[r],
					       "%s, state %u: CR%02X 0x%02X, want 0x%02X",
					       in->name, s, r, m->global[r], before.global[r]);
				for (l = 0; l < W83627HF_MODEL_LDS; l++)
					for (r = 0x30; r < 0x100; r++)
						EXPECT(m->ld[l][r] == before.ld[l][r],
						       "%s, state %u: LD%d CR%02X 0x%02X, want 0x%02X",
						       in->name, s, l, r, m->ld[l][r],
						       before.ld[l][r]);
				if (case_failed)
					return;
			}
		}
	}
}

/*
 * Each read sets the pin up again: firmware that undoes the set-up between
 * two reads does not change what the second one returns.
 */
static void reads_set_up_every_time(void)
{
	unsigned int i;

	for (i = 0; i < 2; i++) {
		const struct input *in = &inputs[i];
		struct w83627hf_model *m;

		sio_bus_reset();
		m = sio_bus_add_chip(0x2E, 0x52);
		EFER = 0x2E;
		EFDR = 0x2F;
		m->pins[in->ld] = in->bit;
		EXPECT(read_input(in, 0x2E) == 1, "%s: first read", in->name);
		w83627hf_model_init(m, 0x2E, 0x52);
		m->pins[in->ld] = in->bit;
		EXPECT(read_input(in, 0x2E) == 1, "%s: read after reset", in->name);
		m->pins[in->ld] = 0;
		EXPECT(read_input(in, 0x2E) == 0, "%s: read after the pin fell",
		       in->name);
	}
}

/* A claimed pair makes a read fail with -EBUSY without touching the chip. */
static void read_busy_pair(void)
{
	unsigned int i;

	for (i = 0; i < 2; i++) {
		sio_bus_reset();
		sio_bus_add_chip(0x2E, 0x52);
		EFER = 0x2E;
		EFDR = 0x2F;
		bus.busy_port = 0x2E;
		EXPECT(inputs[i].get() == -EBUSY, "%s: not -EBUSY", inputs[i].name);
		EXPECT(bus.nlog == 0, "%s: %d accesses", inputs[i].name, bus.nlog);
		expect_released();
	}
}

int main(void)
{
	run("find: chip at 0x2E/0x2F", find_at_first_pair);
	run("find: chip at 0x4E/0x4F only", find_at_second_pair);
	run("find: other chip at 0x2E, W83627HF at 0x4E", find_skips_other_chip);
	run("find: refuses other device IDs and an empty bus", find_refuses_other_ids);
	run("find: busy port pair", find_busy_pair);
	run("read: bits set, others kept, pin level returned", reads_from_any_state);
	run("read: set up again on every read", reads_set_up_every_time);
	run("read: busy port pair", read_busy_pair);
	printf("superio_test: %d passed, %d failed\n", passed, failed);
	return failed ? 1 : 0;
}
