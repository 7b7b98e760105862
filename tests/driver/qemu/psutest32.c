// SPDX-License-Identifier: GPL-2.0
/*
 * A 32-bit caller of /dev/vlmpsustatus, run by psutest inside the QEMU
 * guest to exercise the driver's compat_ioctl entry. Built without a C
 * library (gcc -m32 -nostdlib), calling the kernel through int $0x80.
 *
 * Exit status bits: 0 the level of input 1, 1 the level of input 2, 2 and 3
 * the input 1 and input 2 commands returned 0, 4 an unknown command gave
 * EINVAL, 5 a bad address gave EFAULT, 7 the device could not be opened.
 */
#define NR_EXIT 1
#define NR_OPEN 5
#define NR_CLOSE 6
#define NR_IOCTL 54
#define EFAULT 14
#define EINVAL 22

/* The commands as a 32-bit agent sees them: the same numbers. */
#define GET_PWR1 0x80015000u
#define GET_PWR2 0xC0015001u

static long sys3(long nr, long a, long b, long c)
{
	long ret;

	__asm__ volatile("int $0x80"
			 : "=a"(ret)
			 : "a"(nr), "b"(a), "c"(b), "d"(c)
			 : "memory");
	return ret;
}

__attribute__((noreturn, force_align_arg_pointer)) void _start(void)
{
	volatile unsigned char b1 = 0xEE, b2 = 0xEE, b3 = 0xEE;
	long fd, code = 0;

	fd = sys3(NR_OPEN, (long)"/dev/vlmpsustatus", 0, 0);
	if (fd < 0) {
		code = 0x80;
	} else {
		if (sys3(NR_IOCTL, fd, GET_PWR1, (long)&b1) == 0)
			code |= 0x04 | (b1 == 1 ? 0x01 : 0);
		if (sys3(NR_IOCTL, fd, GET_PWR2, (long)&b2) == 0)
			code |= 0x08 | (b2 == 1 ? 0x02 : 0);
		if (sys3(NR_IOCTL, fd, 0x80015001u, (long)&b3) == -EINVAL)
			code |= 0x10;
		if (sys3(NR_IOCTL, fd, GET_PWR1, 16) == -EFAULT)
			code |= 0x20;
		sys3(NR_CLOSE, fd, 0, 0);
	}
	sys3(NR_EXIT, code, 0, 0);
	for (;;)
		;
}
