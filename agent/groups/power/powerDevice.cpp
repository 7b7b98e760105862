// SPDX-License-Identifier: BSD-3-Clause
// Client of /dev/vlmpsustatus.
#include "groups/power/powerDevice.h"

#include "vlmpsustatus_ioctl.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int32_t PSUStatus_DeviceOpen(int *handle)
{
    *handle = open("/dev/vlmpsustatus", O_RDWR | O_CLOEXEC);
    return *handle < 0 ? PSU_ERR_OPEN : 0;
}

int32_t PSUStatus_DeviceClose(int handle)
{
    return close(handle) != 0 ? PSU_ERR_OPEN : 0;
}

int32_t PSUStatus_Get(int handle, unsigned char pwr, unsigned char *value)
{
    if (handle < 0)
        return PSU_ERR_HANDLE;
    if (pwr != 1 && pwr != 2)
        return PSU_ERR_INPUT;
    unsigned char status = 0;
    const int rc = ioctl(handle, pwr == 1 ? VLMPSUSTATUS_GET_PWR1 : VLMPSUSTATUS_GET_PWR2, &status);
    if (rc >= 0)
        *value = status;
    return rc;
}
