/* SPDX-License-Identifier: GPL-2.0 */
/*
 * A model of the Winbond W83627HF Super-I/O configuration interface, as far
 * as the power-supply status driver uses it. Plain C without headers, so that
 * it compiles both into a test program and into a test build of the module.
 *
 * - The chip answers at one index/data port pair (0x2E/0x2F or 0x4E/0x4F),
 *   or nowhere (efer 0). Reads of ports it does not decode give 0xFF, as a
 *   floating ISA bus does.
 * - Configuration mode is entered by writing 0x87 to the index port twice in
 *   a row and left by writing 0xAA to it. Outside it the chip ignores the
 *   data port and every index write but the keys; each such access is
 *   counted in `stray', as is a write to the device ID.
 * - Registers below 0x30 are global (0x07 selects the logical device, 0x20
 *   is the device ID); from 0x30 on they belong to the selected logical
 *   device.
 * - Logical devices 8 and 9 are GPIO ports: 0xF0 direction (1 = input),
 *   0xF1 data, 0xF2 inversion. A data read gives, per bit, the latched
 *   output of an output bit, or the level on an input pin, then inverted
 *   where 0xF2 says so. An input pin reaches the register only when its
 *   logical device is active (0x30 bit 0) and, for the two pins that share
 *   their ball with another function, when that is switched to GPIO: bit 6
 *   of port 2 needs 0x2B bit 2, bit 4 of port 3 needs 0x29 bit 6. Otherwise
 *   the bit reads as the complement of the pin, so that a read that skips a
 *   step of the set-up shows up as a wrong level.
 */
#ifndef W83627HF_MODEL_H
#define W83627HF_MODEL_H

#define W83627HF_MODEL_LDS 12

struct w83627hf_model {
	int efer;		/* index port; data port is efer + 1; 0: no chip */
	int keys;		/* 0x87 writes in a row while not in config mode */
	int config;		/* in configuration mode */
	unsigned char index;	/* register selected through the index port */
	unsigned char global[0x30];
	unsigned char ld[W83627HF_MODEL_LDS][0x100];
	unsigned char pins[W83627HF_MODEL_LDS];	/* levels on GPIO input pins */
	int stray;		/* accesses the real chip would ignore */
	int entries;		/* times configuration mode was entered */
	int exits;		/* times it was left */
};

/*
 * A chip at efer with device ID devid, its GPIO set-up registers in the
 * state the driver has to change: the multiplexed pins on their other
 * function, ports 2 and 3 inactive, all bits outputs latched low and
 * inverted.
 */
static inline void w83627hf_model_init(struct w83627hf_model *m, int efer,
				       unsigned char devid)
{
	int i, r;

	m->efer = efer;
	m->keys = 0;
	m->config = 0;
	m->index = 0;
	for (r = 0; r < 0x30; r++)
		m->global[r] = 0;
	for (i = 0; i < W83627HF_MODEL_LDS; i++) {
		for (r = 0; r < 0x100; r++)
			m->ld[i][r] = 0;
		m->ld[i][0xF2] = 0xFF;
		m->pins[i] = 0;
	}
	m->global[0x07] = 0x00;
	m->global[0x20] = devid;
	m->global[0x21] = 0x41;	/* revision */
	m->stray = 0;
	m->entries = 0;
	m->exits = 0;
}

static inline int w83627hf_model_ldn(const struct w83627hf_model *m)
{
	return m->global[0x07] < W83627HF_MODEL_LDS ? m->global[0x07] : 0;
}

/* Bits of a GPIO port whose pins reach the data register. */
static inline unsigned char w83627hf_model_routed(const struct w83627hf_model *m,
						  int ldn)
{
	unsigned char routed = 0xFF;

	if (!(m->ld[ldn][0x30] & 0x01))
		return 0;
	if (ldn == 8 && !(m->global[0x2B] & 0x04))
		routed &= (unsigned char)~0x40;
	if (ldn == 9 && !(m->global[0x29] & 0x40))
		routed &= (unsigned char)~0x10;
	return routed;
}

static inline unsigned char w83627hf_model_read_reg(const struct w83627hf_model *m)
{
	int ldn = w83627hf_model_ldn(m);
	unsigned char dir, routed, in;

	if (m->index < 0x30)
		return m->global[m->index];
	if ((ldn == 8 || ldn == 9) && m->index == 0xF1) {
		dir = m->ld[ldn][0xF0];
		routed = w83627hf_model_routed(m, ldn);
		in = (m->pins[ldn] & routed) | (~m->pins[ldn] & ~routed);
		return ((in & dir) | (m->ld[ldn][0xF1] & ~dir)) ^ m->ld[ldn][0xF2];
	}
	return m->ld[ldn][m->index];
}

static inline void w83627hf_model_write_reg(struct w83627hf_model *m,
					    unsigned char val)
{
	if (m->index == 0x20 || m->index == 0x21)
		m->stray++;	/* read-only */
	else if (m->index < 0x30)
		m->global[m->index] = val;
	else
		m->ld[w83627hf_model_ldn(m)][m->index] = val;
}

static inline void w83627hf_model_outb(struct w83627hf_model *m,
				       unsigned char val, int port)
{
	if (!m->efer || (port != m->efer && port != m->efer + 1))
		return;
	if (!m->config) {
		if (port == m->efer && val == 0x87) {
			if (++m->keys == 2) {
				m->config = 1;
				m->keys = 0;
				m->entries++;
			}
		} else {
			m->keys = 0;
			m->stray++;
		}
		return;
	}
	if (port == m->efer) {
		if (val == 0xAA) {
			m->config = 0;
			m->exits++;
		} else {
			m->index = val;
		}
	} else {
		w83627hf_model_write_reg(m, val);
	}
}

static inline unsigned char w83627hf_model_inb(struct w83627hf_model *m,
					       int port)
{
	if (!m->efer || (port != m->efer && port != m->efer + 1))
		return 0xFF;
	if (!m->config || port != m->efer + 1) {
		m->stray++;
		return 0xFF;
	}
	return w83627hf_model_read_reg(m);
}

#endif
