/* ioctl interface of /dev/vmspname, shared by the driver and the agent. */
#ifndef VMSPNAME_IOCTL_H
#define VMSPNAME_IOCTL_H

/* Copies the board's product name, NUL-terminated, into a caller's buffer of
 * VMSPNAME_NAME_LEN bytes. */
#define VMSPNAME_GET_NAME 0x7001
#define VMSPNAME_NAME_LEN 64

#endif
