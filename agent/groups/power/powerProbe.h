/* SPDX-License-Identifier: BSD-3-Clause */
// The power-supply reading: both inputs of the status driver, once a second
// while they can be read, less often while they cannot.
#pragma once

#include "lib/groupHealth.h"
#include "groups/power/powerInfoFrame.h"

#include <optional>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int POWER_HEALTH_ROW = 8;

// Both inputs as one reading found them.
struct PowerInputs {
    bool good[2];
    // The combined state: 1 when both inputs are good, 2 otherwise.
    int32_t state() const { return good[0] && good[1] ? 1 : 2; }
};

// One reading of both inputs, holding no semaphore (the driver may take its
// time); none when the device cannot be opened or an input cannot be read,
// and `reading` says why (absent without the device node, failing
// otherwise: another process holding the single-opener device, a failed
// ioctl).
std::optional<PowerInputs> readPowerInputs(GroupReading &reading);

// Stores a reading in the record (the caller holds sem_pwr_id): state 1 /
// severity 1 or state 2 / severity 3, and each input; all -1 without a
// reading, which makes the group's objects absent. The switch stays as it
// is. The first good reading also becomes the last reported state.
void storePowerReading(pwrInfo &record, const std::optional<PowerInputs> &inputs);

// Seconds until the next reading after `failures` failed readings in a
// row: 1 while they succeed, then 2, 4, 8, 16 and at most 30, so that a
// device that is gone or busy is tried again without a read every second.
unsigned powerRetryDelay(unsigned failures);

// One reading of the polling thread and its store; false when the inputs
// could not be read.
bool powerInfoCycle();
// The group's polling thread: a reading after powerRetryDelay() seconds.
void *powerInfoThread(void *arg);
