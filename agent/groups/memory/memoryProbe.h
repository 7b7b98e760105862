/* SPDX-License-Identifier: BSD-3-Clause */
// Reading main memory size and usage from /proc/meminfo, and the memory
// thread's cycle.
#pragma once

#include "lib/groupHealth.h"
#include "groups/memory/memoryInfoFrame.h"

#include <string_view>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int MEMORY_HEALTH_ROW = 5;

// The record /proc/meminfo gives now: memTotal and memUsedPercentage from the
// file, thresholds, switch and severity from `current`. A file that cannot be
// read, or has no total, gives 0 for both figures and says why in `reading`.
memInfo getMemoryInfo(const memInfo &current, GroupReading &reading);

// The same from the file's text. Of the lines starting with "MemTotal:",
// "MemFree:", "Buffers:", "Cached:" and "Slab:" the figure in kB is taken;
// usage is what is neither free, buffers, page cache nor slab, in whole
// percent of the total (0 without a total, never outside 0..100).
memInfo parseMeminfo(std::string_view text, const memInfo &current);

// The polling thread's cycle: reading, store and notification check.
void memoryInfoCycle();
