/* SPDX-License-Identifier: BSD-3-Clause */
// Thin client of the power-supply status driver (/dev/vlmpsustatus): one
// status byte per input, read with an ioctl. Every call returns 0 on success.
#pragma once

#include <cstdint>

constexpr int32_t PSU_ERR_OPEN = 2;      // the device cannot be opened or closed
constexpr int32_t PSU_ERR_HANDLE = 3;    // no open device
constexpr int32_t PSU_ERR_INPUT = 4;     // an input other than 1 or 2

int32_t PSUStatus_DeviceOpen(int *handle);
int32_t PSUStatus_DeviceClose(int handle);
// The ioctl's result (negative on failure); `value` gets the input's level,
// 1 good or 0 not, when it succeeded.
int32_t PSUStatus_Get(int handle, unsigned char pwr, unsigned char *value);
