// SPDX-License-Identifier: BSD-3-Clause
/*
 * LD_PRELOAD shim standing in for the board's character devices in tests.
 *
 * The agent talks to small board drivers through open() + ioctl(). On the
 * simulated board none of these drivers exist, so this library intercepts
 * open of the device paths listed in `devices` below and opens a plain file
 * of the same name in $VLM_DEV_DIR instead. The test writes that file to set
 * what the "driver" answers; removing it makes the device missing (ENOENT).
 * ioctl() on such a descriptor is answered from the file by the device's
 * handler; every other descriptor goes to the real ioctl().
 *
 * Adding a device = one handler + one line in `devices`.
 *
 * Build: gcc -shared -fPIC -O2 -Wall -Werror -o libvlmdevshim.so devshim.c -ldl
 */
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

/* ---- device handlers --------------------------------------------------- */

/* Product-name driver: ioctl 0x7001 fills the 64-byte buffer with the
 * product name, zero-filled; a name of 64 bytes or more fills all 64 with no
 * terminator. Here the name is the first 64 bytes of the file. Other
 * commands fail with EPERM, as the driver's do. */
#define VMSPNAME_GET_NAME 0x7001
#define VMSPNAME_LEN 64

static int vmspname_ioctl(int fd, unsigned long request, void *arg)
{
    if (request != VMSPNAME_GET_NAME) {
        errno = EPERM;
        return -1;
    }
    if (arg == NULL) {
        errno = EFAULT;
        return -1;
    }
    char *buf = arg;
    memset(buf, 0, VMSPNAME_LEN);
    if (pread(fd, buf, VMSPNAME_LEN, 0) < 0)
        return -1;
    return 0;
}

/* Power-supply status driver: 0x80015000 reads input 1, 0xC0015001 input 2,
 * each into the caller's byte. The file holds one character per input, in
 * order: '1' good, '0' not good, anything else makes that read fail (EIO),
 * as a driver whose chip stopped answering would. */
#define VLMPSU_GET_PWR1 0x80015000UL
#define VLMPSU_GET_PWR2 0xC0015001UL

static int vlmpsustatus_ioctl(int fd, unsigned long request, void *arg)
{
    int input;
    if (request == VLMPSU_GET_PWR1)
        input = 0;
    else if (request == VLMPSU_GET_PWR2)
        input = 1;
    else {
        errno = EINVAL;
        return -1;
    }
    if (arg == NULL) {
        errno = EFAULT;
        return -1;
    }
    char levels[2] = {0, 0};
    if (pread(fd, levels, sizeof levels, 0) < 0)
        return -1;
    if (levels[input] != '0' && levels[input] != '1') {
        errno = EIO;
        return -1;
    }
    *(unsigned char *)arg = (unsigned char)(levels[input] - '0');
    return 0;
}

struct fake_device {
    const char *path;  /* path the agent opens */
    const char *file;  /* backing file name inside $VLM_DEV_DIR */
    int (*ioctl)(int fd, unsigned long request, void *arg);
};

static const struct fake_device devices[] = {
    {"/dev/vmspname", "vmspname", vmspname_ioctl},
    {"/dev/vlmpsustatus", "vlmpsustatus", vlmpsustatus_ioctl},
};

#define NDEVICES ((int)(sizeof(devices) / sizeof(devices[0])))

/* ---- descriptor bookkeeping -------------------------------------------- */

/* fd -> index+1 into `devices`; 0 means "not one of ours". */
#define MAX_TRACKED_FD 4096
static unsigned char fd_device[MAX_TRACKED_FD];

static const struct fake_device *device_of_fd(int fd)
{
    if (fd < 0 || fd >= MAX_TRACKED_FD)
        return NULL;
    int idx = __atomic_load_n(&fd_device[fd], __ATOMIC_ACQUIRE);
    return idx ? &devices[idx - 1] : NULL;
}

static void track_fd(int fd, int dev_index)
{
    __atomic_store_n(&fd_device[fd], (unsigned char)(dev_index + 1), __ATOMIC_RELEASE);
}

static void forget_fd(int fd)
{
    if (fd >= 0 && fd < MAX_TRACKED_FD)
        __atomic_store_n(&fd_device[fd], 0, __ATOMIC_RELEASE);
}

/* ---- the real functions ------------------------------------------------ */

typedef int (*open_fn)(const char *, int, ...);
typedef int (*openat_fn)(int, const char *, int, ...);
typedef int (*ioctl_fn)(int, unsigned long, ...);
typedef int (*close_fn)(int);

static void *real(const char *name)
{
    void *p = dlsym(RTLD_NEXT, name);
    if (p == NULL) {
        fprintf(stderr, "devshim: cannot resolve %s\n", name);
        abort();
    }
    return p;
}

#define REAL(type, name)                                       \
    static type real_##name;                                    \
    if (!real_##name)                                           \
        real_##name = (type)real(#name)

/* ---- interception ------------------------------------------------------ */

static int find_device(const char *path)
{
    if (path == NULL)
        return -1;
    for (int i = 0; i < NDEVICES; i++)
        if (strcmp(path, devices[i].path) == 0)
            return i;
    return -1;
}

/* Opens the backing file of device `idx`; -1 with ENOENT when the test has
 * not provided it (the device is missing on this board). */
static int open_device(int idx, int flags)
{
    REAL(open_fn, open);
    const char *dir = getenv("VLM_DEV_DIR");
    char backing[PATH_MAX];
    if (dir == NULL || *dir == '\0') {
        errno = ENOENT;
        return -1;
    }
    if (snprintf(backing, sizeof backing, "%s/%s", dir, devices[idx].file) >= (int)sizeof backing) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = real_open(backing, O_RDONLY | (flags & (O_CLOEXEC | O_NONBLOCK)));
    if (fd < 0)
        return -1;
    if (fd >= MAX_TRACKED_FD) {
        REAL(close_fn, close);
        real_close(fd);
        errno = EMFILE;
        return -1;
    }
    track_fd(fd, idx);
    return fd;
}

static int needs_mode(int flags)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

#define MODE_ARG(flags, mode)                  \
    mode_t mode = 0;                           \
    if (needs_mode(flags)) {                   \
        va_list ap;                            \
        va_start(ap, flags);                   \
        mode = (mode_t)va_arg(ap, int);        \
        va_end(ap);                            \
    }

int open(const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(open_fn, open);
    return real_open(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(open_fn, open64);
    return real_open64(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(openat_fn, openat);
    return real_openat(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    MODE_ARG(flags, mode);
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(openat_fn, openat64);
    return real_openat64(dirfd, path, flags, mode);
}

/* Fortified callers (-D_FORTIFY_SOURCE) reach these instead of open(). */
int __open_2(const char *path, int flags)
{
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(open_fn, open);
    return real_open(path, flags);
}

int __open64_2(const char *path, int flags)
{
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(open_fn, open64);
    return real_open64(path, flags);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(openat_fn, openat);
    return real_openat(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    int idx = find_device(path);
    if (idx >= 0)
        return open_device(idx, flags);
    REAL(openat_fn, openat64);
    return real_openat64(dirfd, path, flags);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    const struct fake_device *dev = device_of_fd(fd);
    if (dev != NULL)
        return dev->ioctl(fd, request, arg);
    REAL(ioctl_fn, ioctl);
    return real_ioctl(fd, request, arg);
}

int close(int fd)
{
    forget_fd(fd);
    REAL(close_fn, close);
    return real_close(fd);
}
