/* SPDX-License-Identifier: GPL-2.0 OR BSD-3-Clause */
/* ioctl interface of /dev/vlmpsustatus, shared by the driver and the agent. */
#ifndef VLMPSUSTATUS_IOCTL_H
#define VLMPSUSTATUS_IOCTL_H

#include <linux/ioctl.h>

/*
 * Each command takes the address of one unsigned byte and stores in it the
 * level of the input's pin: 1 when the power supply is good, 0 when not.
 */
#define VLMPSUSTATUS_GET_PWR1 _IOR('P', 0, unsigned char)  /* 0x80015000 */
#define VLMPSUSTATUS_GET_PWR2 _IOWR('P', 1, unsigned char) /* 0xC0015001 */

#endif
