/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Port I/O of the test build of vlmpsustatus (VLMPSU_CHIP_MODEL): the
 * driver's inb/outb go to a W83627HF model inside the module instead of the
 * ISA bus, so that the driver loads and answers on a machine without the
 * chip. Module parameters place the chip and set the level of both inputs;
 * the input levels can be changed at run time through
 * /sys/module/vlmpsustatus/parameters/.
 * The port region requests stay the kernel's own.
 */
#ifndef VLMPSU_MODEL_IO_H
#define VLMPSU_MODEL_IO_H

#include <linux/moduleparam.h>

#include "w83627hf_model.h"

static int chip_addr = 0x2E;
module_param(chip_addr, int, 0444);
MODULE_PARM_DESC(chip_addr, "index port of the modelled chip: 0x2E, 0x4E or 0 for none");

static int chip_id = 0x52;
module_param(chip_id, int, 0444);
MODULE_PARM_DESC(chip_id, "device ID of the modelled chip");

static int pwr1 = 1;
module_param(pwr1, int, 0644);
MODULE_PARM_DESC(pwr1, "level of power-supply input 1 (0 or 1)");

static int pwr2 = 1;
module_param(pwr2, int, 0644);
MODULE_PARM_DESC(pwr2, "level of power-supply input 2 (0 or 1)");

static struct w83627hf_model vlmpsu_chip;
static bool vlmpsu_chip_ready;

/* What the model saw, for the test to check after the driver's accesses */
module_param_named(chip_config, vlmpsu_chip.config, int, 0444);
MODULE_PARM_DESC(chip_config, "1 while the modelled chip is in configuration mode");
module_param_named(chip_stray, vlmpsu_chip.stray, int, 0444);
MODULE_PARM_DESC(chip_stray, "accesses the chip would ignore outside configuration mode");
module_param_named(chip_entries, vlmpsu_chip.entries, int, 0444);
MODULE_PARM_DESC(chip_entries, "times configuration mode was entered");

/* Callers hold the port region, which serialises these. */
static void vlmpsu_chip_setup(void)
{
	if (vlmpsu_chip_ready)
		return;
	w83627hf_model_init(&vlmpsu_chip, chip_addr, chip_id);
	vlmpsu_chip_ready = true;
}

static void vlmpsu_model_outb(unsigned char val, int port)
{
	vlmpsu_chip_setup();
	w83627hf_model_outb(&vlmpsu_chip, val, port);
}

/* The other pins of both ports show the opposite level. */
static unsigned char vlmpsu_model_inb(int port)
{
	vlmpsu_chip_setup();
	vlmpsu_chip.pins[8] = READ_ONCE(pwr1) ? 0x40 : 0xBF;
	vlmpsu_chip.pins[9] = READ_ONCE(pwr2) ? 0x10 : 0xEF;
	return w83627hf_model_inb(&vlmpsu_chip, port);
}

#undef inb
#undef outb
#define inb(port) vlmpsu_model_inb(port)
#define outb(val, port) vlmpsu_model_outb(val, port)

#endif
