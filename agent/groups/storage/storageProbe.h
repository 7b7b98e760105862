/* SPDX-License-Identifier: BSD-3-Clause */
// The df pass of the storage thread: reading "df -m", size conversion,
// severity, and the rebuild of the storage and NVRAM tables.
#pragma once

#include "groups/storage/storageInfoFrame.h"
#include "groups/storage/storageObj.h"
#include "groups/nvram/nvramObj.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int STORAGE_HEALTH_ROW = 6;

// A storage line of df: a mounted block-device file system.
struct dfStorageLine {
    std::string storageDescr;        // the whole device path
    int32_t storageSize;             // MB
    int32_t storageUsedPercentage;
};

// What one run of "df -m" reports, lines in output order.
struct dfReport {
    std::vector<dfStorageLine> storage;
    std::vector<dfNvramLine> nvram;  // devices starting with /dev/vlmnvram (the NVRAM group's)
};

// The lines of "df -m" output that name a device under /dev (the header,
// tmpfs and other pseudo file systems are left out). NVRAM lines take
// columns 1, 2 and 4 (device, size, available); every other such line
// columns 1, 2 and 5 (device, size, use). A line with too few columns is
// left out. A use of 1 to 3 characters before its last ("7%", "100%") is
// read as a number; any other use ("-") is 0. Pure.
dfReport parseDfOutput(std::string_view text);

// Size text to MB and to kB: a decimal number with an optional unit letter,
// 'K' ruling if present anywhere, then 'M', then 'G'; the letter is the
// last character. Truncated toward zero and held to the 32-bit range.
int32_t storageTranslate_MSize(std::string_view text);
int32_t storageTranslate_KSize(std::string_view text);

// Severity of a percentage: 5 above siUsageTh4, 4 above siUsageTh3, 3 above
// siUsageTh2, 2 above siUsageTh1 (thresholds of -1 not used), else 1.
int judgeUsageSeverity(const storageInfo &thresholds, long currentPercent);
// The same against the current thresholds; the caller holds sem_storage_id.
int judgeUsageSeverity(long currentPercent);

// Applies one report: per-device notification check of every storage line,
// storage rows and siNumber rebuilt in line order, NVRAM rows and count
// rebuilt in line order. Takes sem_storage_id, then sem_nvram_id.
void applyStorageReport(const dfReport &report);

// One df pass: runs "df -m -l" (local file systems only) with a time limit
// and no semaphore held, then applies what it printed, and notes the outcome
// for the storage and NVRAM groups. When df cannot be run, is killed at the
// limit, or fails without listing any device, the tables stay as the
// previous pass left them and 0 is returned; 1 otherwise.
int getStorageInfo();

// The polling thread's cycle: a df pass; takes sem_storage_id itself after df.
void storageInfoCycle();
