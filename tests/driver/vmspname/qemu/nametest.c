// SPDX-License-Identifier: GPL-2.0
/*
 * First process of the vmspname test guest: mounts the kernel file
 * systems, loads /vmspname.ko, checks /dev/vmspname against the product
 * name that QEMU put in the SMBIOS tables (given in /expected, and shown by
 * the kernel's own DMI code in /sys/class/dmi/id/product_name), unloads and
 * loads the module again, loads it once more with a false entry point
 * below the real one, and powers off. Prints one PASS or FAIL line per
 * check and a closing count.
 *
 * "nametest client" is a caller of the device only: it writes the 64 bytes
 * that ioctl VMSPNAME_GET_NAME returned and one byte of results to its
 * standard output. The 64-bit guest runs the 32-bit build so, to exercise
 * the driver's compat_ioctl entry.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/klog.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vmspname_ioctl.h"
#include "checks.h"

#define DEV "/dev/vmspname"
#define KO "/vmspname.ko"
#define CLIENT32 "/nametest32"
#define LEN VMSPNAME_NAME_LEN

#define KERN_INFO_LEVEL 6
#define BANNER_RULE "====================================================="
#define BANNER_TITLE "     Product Name Detecting driver V2.00 [09/19/2017]"

/* Results byte of the client */
#define CLIENT_GOT_NAME 0x01
#define CLIENT_EPERM 0x02
#define CLIENT_EFAULT 0x04


/* Up to size-1 bytes of a file, NUL-terminated; -1 when it cannot be read. */
static int read_file(const char *path, char *buf, size_t size)
{
	int fd = open(path, O_RDONLY);
	ssize_t n;

	if (fd < 0)
		return -1;
	n = read(fd, buf, size - 1);
	close(fd);
	if (n < 0)
		return -1;
	buf[n] = 0;
	return (int)n;
}

static int exists(const char *path)
{
	struct stat st;

	return lstat(path, &st) == 0;
}

static int load(void)
{
	int fd, err;

	fd = open(KO, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return errno;
	err = syscall(SYS_finit_module, fd, "", 0) ? errno : 0;
	close(fd);
	return err;
}

static int unload(void)
{
	return syscall(SYS_delete_module, "vmspname", O_NONBLOCK) ? errno : 0;
}

/* The kernel log, as syslog(2) gives it: "<level>[time] text" lines. */
static char *kmsg_read(void)
{
	static char buf[1 << 20];
	int len;

	len = klogctl(3 /* SYSLOG_ACTION_READ_ALL */, buf, sizeof(buf) - 1);
	buf[len < 0 ? 0 : len] = 0;
	return buf;
}

/* Occurrences of s in the kernel log. */
static int kmsg_count(const char *s)
{
	const char *p = kmsg_read();
	int n = 0;

	while ((p = strstr(p, s))) {
		n++;
		p += strlen(s);
	}
	return n;
}

/* Lines of the kernel log at a level whose text is s. */
static int kmsg_lines(int level, const char *s)
{
	char *line = kmsg_read(), *next, *text;
	int n = 0, lv;

	for (; *line; line = next) {
		next = strchr(line, '\n');
		if (next)
			*next++ = 0;
		else
			next = line + strlen(line);
		if (sscanf(line, "<%d>", &lv) != 1 || !(text = strchr(line, '>')))
			continue;
		text++;
		if (*text == '[' && (text = strstr(text, "] ")))
			text += 2;
		if (lv == level && text && !strcmp(text, s))
			n++;
	}
	return n;
}

/* The major number of "vmspname" in /proc/devices, or -1. */
static int proc_major(void)
{
	char line[128], name[64];
	int major, found = -1;
	FILE *f = fopen("/proc/devices", "r");

	if (!f)
		return -1;
	while (fgets(line, sizeof(line), f))
		if (sscanf(line, "%d %63s", &major, name) == 2 &&
		    !strcmp(name, "vmspname"))
			found = major;
	fclose(f);
	return found;
}

static int client(void)
{
	unsigned char buf[LEN], other[LEN], res = 0;
	int fd;

	memset(buf, 0xEE, sizeof(buf));
	memset(other, 0xEE, sizeof(other));
	fd = open(DEV, O_RDWR);
	if (fd >= 0) {
		if (ioctl(fd, VMSPNAME_GET_NAME, buf) == 0)
			res |= CLIENT_GOT_NAME;
		if (ioctl(fd, VMSPNAME_GET_NAME + 1, other) == -1 && errno == EPERM &&
		    other[0] == 0xEE)
			res |= CLIENT_EPERM;
		if (ioctl(fd, VMSPNAME_GET_NAME, NULL) == -1 && errno == EFAULT)
			res |= CLIENT_EFAULT;
		close(fd);
	}
	if (write(1, buf, sizeof(buf)) != sizeof(buf) || write(1, &res, 1) != 1)
		return 1;
	return 0;
}

/* Runs the 32-bit client; its 64 bytes into buf. Returns its results byte,
 * or -1. */
static int run_client32(unsigned char *buf)
{
	unsigned char out[LEN + 1];
	int pfd[2], status, n = 0;
	ssize_t r;
	pid_t pid;

	if (pipe(pfd))
		return -1;
	pid = fork();
	if (pid == 0) {
		dup2(pfd[1], 1);
		close(pfd[0]);
		execl(CLIENT32, CLIENT32, "client", (char *)NULL);
		_exit(127);
	}
	close(pfd[1]);
	while (n < (int)sizeof(out) && (r = read(pfd[0], out + n, sizeof(out) - n)) > 0)
		n += r;
	close(pfd[0]);
	if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) ||
	    WEXITSTATUS(status) || n != (int)sizeof(out))
		return -1;
	memcpy(buf, out, LEN);
	return out[LEN];
}

/*
 * QEMU's firmware writes only a valid SMBIOS entry point, so the guest adds
 * a false one: a copy of the real one with its table length zeroed, which
 * leaves both checksums wrong, in zeroed space of the F segment below the
 * real one, where the module's scan meets it first. The i440FX host
 * bridge's PAM0 register lets the segment be written meanwhile; both are
 * put back afterwards.
 */
#define FSEG 0xF0000
#define FSEG_LEN 0x10000
#define EPS_LEN 0x20
#define HOST_BRIDGE "/sys/bus/pci/devices/0000:00:00.0/config"
#define PAM0 0x59		/* bits 4-5: the F segment, 3 read-write */

/* Sets the F segment's PAM0 field; returns the old one, or -1. */
static int fseg_pam(int val)
{
	int fd = open(HOST_BRIDGE, O_RDWR), old = -1;
	unsigned char pam;

	if (fd >= 0 && pread(fd, &pam, 1, PAM0) == 1) {
		old = pam >> 4 & 3;
		pam = (pam & ~0x30) | val << 4;
		if (pwrite(fd, &pam, 1, PAM0) != 1)
			old = -1;
	}
	if (fd >= 0)
		close(fd);
	return old;
}

static void false_entry_point_check(const unsigned char *want)
{
	static unsigned char seg[FSEG_LEN];
	unsigned char e[EPS_LEN], zero[EPS_LEN] = { 0 }, buf[LEN];
	int fd, real, at = -1, pam = -1, err, ret = -1, n;

	fd = open("/dev/mem", O_RDWR | O_SYNC);
	if (fd < 0 || pread(fd, seg, FSEG_LEN, FSEG) != FSEG_LEN)
		memset(seg, 0, sizeof(seg));
	for (real = 0; real < FSEG_LEN - EPS_LEN; real += 16)
		if (!memcmp(seg + real, "_SM_", 4) && !memcmp(seg + real + 0x10, "_DMI_", 5))
			break;
	if (real < FSEG_LEN - EPS_LEN)
		for (at = real - EPS_LEN; at >= 0 && memcmp(seg + at, zero, EPS_LEN); at -= 16)
			;
	memcpy(e, seg + real, EPS_LEN);
	e[0x16] = e[0x17] = 0;
	if (at >= 0)
		pam = fseg_pam(3);
	if (pam < 0 || pwrite(fd, e, EPS_LEN, FSEG + at) != EPS_LEN ||
	    pread(fd, buf, EPS_LEN, FSEG + at) != EPS_LEN || memcmp(buf, e, EPS_LEN)) {
		check(0, "false entry point written below the real one",
		      "real at 0x%X, zeroed space at 0x%X, PAM0 %d", FSEG + real, FSEG + at, pam);
		goto out;
	}

	err = load();
	n = open(DEV, O_RDONLY);
	memset(buf, 0xEE, sizeof(buf));
	ret = n < 0 ? -1 : ioctl(n, VMSPNAME_GET_NAME, buf);
	if (n >= 0)
		close(n);
	check(err == 0 && ret == 0 && !memcmp(buf, want, LEN) && unload() == 0,
	      "a false entry point (checksums wrong) before the real one is passed over",
	      "at 0x%X, real at 0x%X: load %s, ioctl %d, got \"%.64s\"", FSEG + at,
	      FSEG + real, strerror(err), ret, buf);
	if (pwrite(fd, zero, EPS_LEN, FSEG + at) != EPS_LEN)
		printf("    the false entry point stays at 0x%X\n", FSEG + at);
out:
	if (pam >= 0)
		fseg_pam(pam);
	if (fd >= 0)
		close(fd);
}

/* The module is loaded: the device answers the name, nothing else. */
static void device_checks(const unsigned char *want, const char *dmi_name)
{
	static const unsigned long others[] = {
		0x7000, 0x7002, 0x0001, 0x80407001, 0xC0407001, 0x00017001,
	};
	unsigned char buf[LEN], *ro;
	struct stat st;
	int fd, ret, bad, i;

	check(stat(DEV, &st) == 0 && S_ISCHR(st.st_mode) &&
		      (int)major(st.st_rdev) == proc_major() && minor(st.st_rdev) == 0 &&
		      exists("/sys/class/vmspname/vmspname"),
	      DEV " is minor 0 of the vmspname region, in class vmspname",
	      "stat %s, major %d, region %d", strerror(errno),
	      (int)major(st.st_rdev), proc_major());

	fd = open(DEV, O_RDWR);
	check(fd >= 0, "open for reading and writing", "%s", strerror(errno));
	if (fd < 0)
		return;

	memset(buf, 0xEE, sizeof(buf));
	ret = ioctl(fd, VMSPNAME_GET_NAME, buf);
	check(ret == 0 && !memcmp(buf, want, LEN),
	      "ioctl 0x7001: the name given to QEMU, zero-filled (64 bytes of a longer one)",
	      "ret %d %s; got \"%.64s\"", ret, ret ? strerror(errno) : "", buf);
	check(!strncmp((const char *)buf, dmi_name, LEN),
	      "the name matches the kernel's /sys/class/dmi/id/product_name",
	      "dmi \"%s\"", dmi_name);

	bad = 0;
	for (i = 0; i < (int)(sizeof(others) / sizeof(others[0])); i++) {
		memset(buf, 0xEE, sizeof(buf));
		errno = 0;
		ret = ioctl(fd, others[i], buf);
		if (ret != -1 || errno != EPERM || buf[0] != 0xEE) {
			printf("    command 0x%lX: %d, %s, byte 0x%02X\n", others[i], ret,
			       strerror(errno), buf[0]);
			bad++;
		}
	}
	check(!bad, "other commands return -1 with EPERM and copy nothing", "%d differ", bad);

	ro = mmap(NULL, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	errno = 0;
	ret = ioctl(fd, VMSPNAME_GET_NAME, NULL);
	i = errno;
	errno = 0;
	bad = ro == MAP_FAILED ? -1 : ioctl(fd, VMSPNAME_GET_NAME, ro);
	check(ret == -1 && i == EFAULT && bad == -1 && errno == EFAULT,
	      "a buffer that cannot be written gives EFAULT",
	      "NULL: %d %s; read-only: %d %s", ret, strerror(i), bad, strerror(errno));

	errno = 0;
	ret = unload();
	check(ret == EWOULDBLOCK && exists(DEV), "unload refused while the device is open",
	      "%s", strerror(ret));
	close(fd);
}

int main(int argc, char **argv)
{
	unsigned char want[LEN], buf[LEN];
	char expected[256], dmi[256];
	int n, err, rules, titles, res;

	if (argc > 1 && !strcmp(argv[1], "client"))
		return client();

	mount("devtmpfs", "/dev", "devtmpfs", 0, NULL);
	n = open("/dev/console", O_RDWR);
	if (n >= 0) {
		dup2(n, 0);
		dup2(n, 1);
		dup2(n, 2);
		close(n);
	}
	mount("proc", "/proc", "proc", 0, NULL);
	mount("sysfs", "/sys", "sysfs", 0, NULL);
	setvbuf(stdout, NULL, _IOLBF, 0);
	printf("\n");

	/* the name given to QEMU, with its newline; the device holds its
	 * first 64 bytes, zero-filled */
	n = read_file("/expected", expected, sizeof(expected));
	if (n > 0 && expected[n - 1] == '\n')
		expected[--n] = 0;
	memset(want, 0, sizeof(want));
	memcpy(want, expected, n < LEN ? (n < 0 ? 0 : n) : LEN);
	n = read_file("/sys/class/dmi/id/product_name", dmi, sizeof(dmi));
	if (n > 0 && dmi[n - 1] == '\n')
		dmi[--n] = 0;
	check(n >= 0 && !strcmp(dmi, expected), "the kernel's DMI code sees the name given",
	      "dmi \"%s\", given \"%s\"", dmi, expected);

	check(!exists(DEV) && proc_major() < 0, "no device before loading", "present");
	rules = kmsg_lines(KERN_INFO_LEVEL, BANNER_RULE);
	titles = kmsg_lines(KERN_INFO_LEVEL, BANNER_TITLE);
	err = load();
	check(err == 0, "load", "%s", strerror(err));
	if (err)
		goto out;
	check(kmsg_lines(KERN_INFO_LEVEL, BANNER_RULE) == rules + 2 &&
		      kmsg_lines(KERN_INFO_LEVEL, BANNER_TITLE) == titles + 1 &&
		      kmsg_count("Velmora") > 0,
	      "banner at KERN_INFO: rules, title with version and date, company",
	      "rules %d, titles %d", kmsg_lines(KERN_INFO_LEVEL, BANNER_RULE) - rules,
	      kmsg_lines(KERN_INFO_LEVEL, BANNER_TITLE) - titles);
	n = read_file("/sys/module/vmspname/version", expected, sizeof(expected));
	check(n > 0 && !strcmp(expected, "2.00\n"), "module version 2.00", "\"%s\"", expected);

	device_checks(want, dmi);

	if (exists(CLIENT32)) {
		res = run_client32(buf);
		check(res == (CLIENT_GOT_NAME | CLIENT_EPERM | CLIENT_EFAULT) &&
			      !memcmp(buf, want, LEN),
		      "32-bit caller through compat_ioctl: the name, EPERM, EFAULT",
		      "results 0x%X, name \"%.64s\"", res, buf);
	}

	err = unload();
	check(err == 0 && !exists(DEV) && !exists("/sys/class/vmspname") && proc_major() < 0 &&
		      !exists("/sys/module/vmspname"),
	      "unload removes " DEV ", the class and the region",
	      "%s, node %d, class %d, region %d", strerror(err), exists(DEV),
	      exists("/sys/class/vmspname"), proc_major());

	err = load();
	n = open(DEV, O_RDONLY);
	memset(buf, 0xEE, sizeof(buf));
	res = n < 0 ? -1 : ioctl(n, VMSPNAME_GET_NAME, buf);
	check(err == 0 && res == 0 && !memcmp(buf, want, LEN),
	      "loading again gives the device and the name back",
	      "load %s, ioctl %d", strerror(err), res);
	if (n >= 0)
		close(n);
	err = unload();
	check(err == 0 && !exists(DEV) && !exists("/sys/class/vmspname"),
	      "second unload", "%s", strerror(err));

	false_entry_point_check(want);
out:
	check(kmsg_count("Call Trace") == 0 && kmsg_count("BUG:") == 0 &&
		      kmsg_count("WARNING:") == 0,
	      "no kernel warning or oops", "see the kernel log");
	printf("nametest: %d passed, %d failed\n", passed, failed);
	fflush(stdout);
	sync();
	reboot(RB_POWER_OFF);
	return 0;
}
