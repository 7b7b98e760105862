// SPDX-License-Identifier: GPL-2.0
/*
 * Runs inside the QEMU guest as the test of vlmpsustatus: loads the real
 * build (no W83627HF in QEMU, so it must refuse), then the test build with
 * the chip model, and exercises /dev/vlmpsustatus through its ioctls.
 * Prints one PASS or FAIL line per check and a closing count.
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
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vlmpsustatus_ioctl.h"
#include "checks.h"

#define DEV "/dev/vlmpsustatus"
#define PARAMS "/sys/module/vlmpsustatus/parameters/"
#define REAL_KO "/real/vlmpsustatus.ko"
#define MODEL_KO "/model/vlmpsustatus.ko"

#define MSG_COPY_FROM "vlmpsustatus: vlm_pwr_get_status: copy_from_user failed"
#define MSG_COPY_TO "vlmpsustatus: vlm_pwr_get_status: copy_to_user failed"


/* Loads a module file; returns 0 or the errno of the failure. */
static int load(const char *path, const char *params)
{
	int fd, ret;

	fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return errno;
	ret = syscall(SYS_finit_module, fd, params, 0) ? errno : 0;
	close(fd);
	return ret;
}

static int unload(void)
{
	return syscall(SYS_delete_module, "vlmpsustatus", O_NONBLOCK) ? errno : 0;
}

/* Whether a line of a text file starts with, or contains, a string. */
static int file_has(const char *path, const char *s, int at_start)
{
	char line[512];
	FILE *f = fopen(path, "r");
	int found = 0;

	if (!f)
		return 0;
	while (!found && fgets(line, sizeof(line), f))
		found = at_start ? !strncmp(line, s, strlen(s)) : !!strstr(line, s);
	fclose(f);
	return found;
}

static int module_loaded(void)
{
	return file_has("/proc/modules", "vlmpsustatus ", 1);
}

static int ports_claimed(void)
{
	return file_has("/proc/ioports", "vlmpsustatus", 0);
}

static int exists(const char *path)
{
	struct stat st;

	return lstat(path, &st) == 0;
}

/* Occurrences of s in the kernel log. */
static int kmsg_count(const char *s)
{
	static char buf[1 << 20];
	const char *p = buf;
	int n = 0, len;

	len = klogctl(3 /* SYSLOG_ACTION_READ_ALL */, buf, sizeof(buf) - 1);
	if (len < 0)
		return -1;
	buf[len] = 0;
	while ((p = strstr(p, s))) {
		n++;
		p += strlen(s);
	}
	return n;
}

static int get(int fd, unsigned long cmd, void *arg)
{
	return ioctl(fd, cmd, arg) ? errno : 0;
}

static int read_param(const char *name)
{
	char path[128], buf[32] = "";
	FILE *f;

	snprintf(path, sizeof(path), PARAMS "%s", name);
	f = fopen(path, "r");
	if (!f)
		return -1000;
	if (!fgets(buf, sizeof(buf), f))
		buf[0] = 0;
	fclose(f);
	return buf[0] ? atoi(buf) : -1000;
}

static void write_file(const char *path, const char *val)
{
	int fd = open(path, O_WRONLY);

	if (fd < 0 || write(fd, val, strlen(val)) < 0)
		printf("psutest: cannot write %s to %s: %s\n", val, path,
		       strerror(errno));
	if (fd >= 0)
		close(fd);
}

static void set_inputs(int pwr1, int pwr2)
{
	write_file(PARAMS "pwr1", pwr1 ? "1" : "0");
	write_file(PARAMS "pwr2", pwr2 ? "1" : "0");
}

/* Reads both inputs; levels stored in *v1, *v2 (0xEE when not written). */
static void read_both(int fd, int *r1, int *v1, int *r2, int *v2)
{
	unsigned char b1 = 0xEE, b2 = 0xEE;

	*r1 = get(fd, VLMPSUSTATUS_GET_PWR1, &b1);
	*r2 = get(fd, VLMPSUSTATUS_GET_PWR2, &b2);
	*v1 = b1;
	*v2 = b2;
}

static void real_build(void)
{
	int banner = kmsg_count("Velmora PSU Status Drivers.");
	int err = load(REAL_KO, "");

	check(err == ENODEV, "real build: load without the chip fails with ENODEV",
	      "got %s", strerror(err));
	check(!exists(DEV) && !module_loaded() && !ports_claimed(),
	      "real build: no device node, not loaded, ports released",
	      "node %d, loaded %d, ports claimed %d", exists(DEV),
	      module_loaded(), ports_claimed());
	check(kmsg_count("Velmora PSU Status Drivers.") == banner + 1 &&
		      kmsg_count("Product V1.0.0.1 [2017/02/06]") > 0 &&
		      kmsg_count("File V1.0.0.1") > 0,
	      "real build: load banner logged", "banner not in the kernel log");
	if (err == 0)
		unload();
}

/* A 32-bit process reads both inputs; its exit status packs the results. */
static void compat_caller(void)
{
	int status = -1, code;
	pid_t pid;

	set_inputs(1, 0);
	pid = fork();
	if (pid == 0) {
		execl("/psutest32", "psutest32", (char *)NULL);
		_exit(127);
	}
	if (pid > 0)
		waitpid(pid, &status, 0);
	code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
	/* bits: 0 input 1 level, 1 input 2 level, 2 and 3 both ioctls
	 * succeeded, 4 unknown command EINVAL, 5 bad address EFAULT,
	 * 7 open failed */
	check(code == 0x3D, "32-bit caller: both commands answered through compat_ioctl",
	      "exit status 0x%X, want 0x3D", code);
}

static void suspend_reading(void)
{
	const char *msg = "vlmpsustatus: w83627hf_psu_suspend: pwr1_status = (0x0), pwr2_status = (0x1)";
	int before;

	if (!exists("/sys/power/pm_test")) {
		check(0, "suspend: inputs logged", "no /sys/power/pm_test");
		return;
	}
	set_inputs(0, 1);
	before = kmsg_count(msg);
	/* suspend the devices and resume them at once, without sleeping */
	write_file("/sys/power/pm_test", "devices");
	if (exists("/sys/module/suspend/parameters/pm_test_delay"))
		write_file("/sys/module/suspend/parameters/pm_test_delay", "0");
	write_file("/sys/power/state", "freeze");
	write_file("/sys/power/pm_test", "none");
	check(kmsg_count(msg) == before + 1, "suspend: both inputs read and logged",
	      "%d new suspend messages", kmsg_count(msg) - before);
}

static void test_build(void)
{
	static const unsigned long unknown[] = {
		0x80015001, 0xC0015000, 0x40015000, 0x80025000, 0x80014F00, 0,
	};
	struct stat st;
	unsigned char b, *ro;
	int err, fd, fd2, r1, v1, r2, v2, n, bad;
	unsigned int i;

	err = load(MODEL_KO, "chip_addr=0x4e pwr1=1 pwr2=0");
	check(err == 0, "test build: loads with the chip model at 0x4E",
	      "got %s", strerror(err));
	if (err)
		return;
	check(stat(DEV, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == 10 &&
		      exists("/sys/bus/platform/drivers/vlmpsustatus/vlmpsustatus"),
	      "test build: " DEV " is a misc device of the bound platform device",
	      "stat: %s", strerror(errno));
	check(!ports_claimed() && read_param("chip_config") == 0,
	      "test build: ports released, chip out of configuration mode after load",
	      "claimed %d, config %d", ports_claimed(), read_param("chip_config"));

	fd = open(DEV, O_RDONLY);
	check(fd >= 0, "open", "%s", strerror(errno));
	if (fd < 0)
		goto out;

	read_both(fd, &r1, &v1, &r2, &v2);
	check(!r1 && v1 == 1 && !r2 && v2 == 0, "both commands: input 1 at 1, input 2 at 0",
	      "input 1: %s, %d; input 2: %s, %d", strerror(r1), v1, strerror(r2), v2);
	set_inputs(0, 1);
	read_both(fd, &r1, &v1, &r2, &v2);
	check(!r1 && v1 == 0 && !r2 && v2 == 1, "both commands: inputs changed to 0 and 1",
	      "input 1: %s, %d; input 2: %s, %d", strerror(r1), v1, strerror(r2), v2);

	fd2 = open(DEV, O_RDONLY);
	check(fd2 < 0 && errno == EBUSY, "second open refused with EBUSY",
	      "fd %d, %s", fd2, strerror(errno));
	if (fd2 >= 0)
		close(fd2);

	errno = 0;
	check(lseek(fd, 0, SEEK_SET) < 0 && errno == ESPIPE, "device is not seekable",
	      "%s", strerror(errno));

	bad = 0;
	for (i = 0; i < sizeof(unknown) / sizeof(unknown[0]); i++) {
		b = 0xEE;
		err = get(fd, unknown[i], &b);
		if (err != EINVAL || b != 0xEE) {
			printf("    command 0x%lX: %s, byte 0x%X\n", unknown[i],
			       strerror(err), b);
			bad++;
		}
	}
	check(!bad, "unknown commands (0x80015001 among them) refused with EINVAL",
	      "%d accepted", bad);

	n = kmsg_count(MSG_COPY_FROM);
	r1 = get(fd, VLMPSUSTATUS_GET_PWR1, NULL);
	r2 = get(fd, VLMPSUSTATUS_GET_PWR2, (void *)8);
	check(r1 == EFAULT && r2 == EFAULT && kmsg_count(MSG_COPY_FROM) == n + 2,
	      "bad address: EFAULT and the copy_from_user message",
	      "%s, %s, %d new messages", strerror(r1), strerror(r2),
	      kmsg_count(MSG_COPY_FROM) - n);

	ro = mmap(NULL, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	n = kmsg_count(MSG_COPY_TO);
	r1 = ro == MAP_FAILED ? -1 : get(fd, VLMPSUSTATUS_GET_PWR1, ro);
	check(r1 == EFAULT && kmsg_count(MSG_COPY_TO) == n + 1,
	      "read-only byte: EFAULT and the copy_to_user message", "%s, %d new messages",
	      strerror(r1), kmsg_count(MSG_COPY_TO) - n);

	err = unload();
	check(err == EWOULDBLOCK && module_loaded() && exists(DEV),
	      "unload refused while the device is open", "%s", strerror(err));

	close(fd);
	fd = open(DEV, O_RDONLY);
	check(fd >= 0, "open again after close", "%s", strerror(errno));
	if (fd >= 0)
		close(fd);

	compat_caller();
	suspend_reading();

	/* sessions: the probe at 0x4E, 4 reads, 1 to the read-only byte, 2 of
	 * the 32-bit caller and 2 at suspend */
	check(!ports_claimed() && read_param("chip_config") == 0 &&
		      read_param("chip_stray") == 0 && read_param("chip_entries") == 10,
	      "chip: one configuration session per probe and read, none left open, no access outside",
	      "claimed %d, config %d, stray %d, entries %d", ports_claimed(),
	      read_param("chip_config"), read_param("chip_stray"),
	      read_param("chip_entries"));
out:
	err = unload();
	check(err == 0 && !module_loaded() && !exists(DEV) &&
		      !exists("/sys/class/misc/vlmpsustatus") &&
		      !exists("/sys/bus/platform/drivers/vlmpsustatus") &&
		      !exists("/sys/bus/platform/devices/vlmpsustatus"),
	      "unload removes the node, the device and the driver",
	      "%s, loaded %d, node %d", strerror(err), module_loaded(), exists(DEV));
}

int main(void)
{
	setvbuf(stdout, NULL, _IOLBF, 0);
	check(!exists(DEV), "no device node before loading", "present");
	real_build();
	test_build();
	check(kmsg_count("Call Trace") == 0 && kmsg_count("BUG:") == 0,
	      "no kernel warning or oops", "see the kernel log");
	printf("psutest: %d passed, %d failed\n", passed, failed);
	return failed ? 1 : 0;
}
