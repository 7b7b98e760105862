/* SPDX-License-Identifier: GPL-2.0 */
/*
 * User-space stand-ins for the kernel services that the driver's Super-I/O
 * code uses, when it is compiled with VLMPSU_USERSPACE_TEST into a test
 * program. Port I/O goes to up to two chip models on one bus and is logged
 * together with whether the port region and update_lock were held at the
 * time; region requests and the mutex are tracked for the test to check.
 */
#ifndef VLMPSU_USERSPACE_H
#define VLMPSU_USERSPACE_H

#include <errno.h>
#include <stddef.h>

#include "w83627hf_model.h"

#define __user

#define SIO_LOG_MAX 256

struct sio_access {
	int out;		/* 1 for outb, 0 for inb */
	int port;
	unsigned char val;	/* written, or read */
	int in_region;		/* port inside a region held at the time */
	int locked;		/* update_lock held at the time */
};

struct sio_bus {
	struct w83627hf_model chip[2];
	int nchips;
	struct sio_access log[SIO_LOG_MAX];
	int nlog;
	int overflow;
	int busy_port;		/* requests starting here fail; 0: none */
	int region_start;	/* held region; -1: none */
	int requests, releases;
	int bad_release;	/* released a region not held */
	int nested_request;	/* requested while already holding one */
	int lock_held;
	int lock_errors;	/* locked twice or unlocked while not held */
};

static struct sio_bus bus;

struct mutex {
	int unused;
};

struct resource {
	int unused;
};

static void mutex_lock(struct mutex *lock)
{
	(void)lock;
	if (bus.lock_held)
		bus.lock_errors++;
	bus.lock_held = 1;
}

static void mutex_unlock(struct mutex *lock)
{
	(void)lock;
	if (!bus.lock_held)
		bus.lock_errors++;
	bus.lock_held = 0;
}

static struct resource *request_muxed_region(int start, int n, const char *name)
{
	static struct resource held;

	(void)name;
	if (n != 2 || start == bus.busy_port)
		return NULL;
	if (bus.region_start >= 0)
		bus.nested_request++;
	bus.region_start = start;
	bus.requests++;
	return &held;
}

static void release_region(int start, int n)
{
	if (n != 2 || start != bus.region_start)
		bus.bad_release++;
	bus.region_start = -1;
	bus.releases++;
}

static void sio_log(int out, int port, unsigned char val)
{
	struct sio_access *a;

	if (bus.nlog == SIO_LOG_MAX) {
		bus.overflow = 1;
		return;
	}
	a = &bus.log[bus.nlog++];
	a->out = out;
	a->port = port;
	a->val = val;
	a->in_region = bus.region_start >= 0 && port >= bus.region_start &&
		       port < bus.region_start + 2;
	a->locked = bus.lock_held;
}

static void outb(unsigned char val, int port)
{
	int i;

	for (i = 0; i < bus.nchips; i++)
		w83627hf_model_outb(&bus.chip[i], val, port);
	sio_log(1, port, val);
}

/* Undecoded bits float high, so chips on one bus answer with their AND. */
static unsigned char inb(int port)
{
	unsigned char val = 0xFF;
	int i;

	for (i = 0; i < bus.nchips; i++)
		val &= w83627hf_model_inb(&bus.chip[i], port);
	sio_log(0, port, val);
	return val;
}

/* An empty bus with no region held; add chips with sio_bus_add_chip. */
static void sio_bus_reset(void)
{
	bus.nchips = 0;
	bus.nlog = 0;
	bus.overflow = 0;
	bus.busy_port = 0;
	bus.region_start = -1;
	bus.requests = 0;
	bus.releases = 0;
	bus.bad_release = 0;
	bus.nested_request = 0;
	bus.lock_held = 0;
	bus.lock_errors = 0;
}

static struct w83627hf_model *sio_bus_add_chip(int efer, unsigned char devid)
{
	struct w83627hf_model *m = &bus.chip[bus.nchips++];

	w83627hf_model_init(m, efer, devid);
	return m;
}

#endif
