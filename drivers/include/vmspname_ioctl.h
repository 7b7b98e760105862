/* SPDX-License-Identifier: GPL-2.0 OR BSD-3-Clause */
/* ioctl interface of /dev/vmspname, shared by the driver and the agent. */
#ifndef VMSPNAME_IOCTL_H
#define VMSPNAME_IOCTL_H

/*
 * Copies the board's product name into a caller's buffer of
 * VMSPNAME_NAME_LEN bytes: the name followed by zero bytes, or, for a name
 * of VMSPNAME_NAME_LEN characters or more, its first VMSPNAME_NAME_LEN
 * characters with no terminator. 64 zero bytes: no name was found. A buffer
 * that cannot be written gives EFAULT; any other command fails with EPERM.
 */
#define VMSPNAME_GET_NAME 0x7001
#define VMSPNAME_NAME_LEN 64

#endif
