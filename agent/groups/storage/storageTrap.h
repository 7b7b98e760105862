/* SPDX-License-Identifier: BSD-3-Clause */
// Storage usage notifications: per device, which threshold band usage is in,
// when to raise (.103) or clear (.104), and the notification's varbinds.
#pragma once

#include "lib/usageThresholds.h"

#include "lib/trapList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the check remembers of one device between passes; kept while the
// device is mounted, dropped when a pass no longer lists it. Touched only by
// the storage thread, under sem_storage_id.
struct storageCombination {
    std::string storageDescr;         // the whole device path: the key
    int32_t storageUsedPercentage;    // of the device's latest line
    int32_t storageUsageSeverity;
    int32_t siUsageTh1;               // thresholds as at that line
    int32_t siUsageTh2;
    int32_t siUsageTh3;
    int32_t siUsageTh4;
    int siUsageThFlag[4];             // siUsageTh1Flag .. siUsageTh4Flag: 1 for
                                      // the band usage is in, at most one
    int existFlag;                    // 1 when seen in the current pass
    int32_t storageTrapState;         // trapEnable as at that line
    int32_t tmpstorageTrapState;      // storageTrapState as the check last saw it
};

inline std::vector<storageCombination> Global_storageCombinations;

using StorageNotification = UsageNotification;

// flag argument of fillstorageDataToTrap and send_storage_notification.
constexpr int STORAGE_TRAP_RAISE = 0;
constexpr int STORAGE_TRAP_CLEAR = 1;

// One check of a device's latest line against its own thresholds and switch:
// updates the band flags and says which notification to send. Pure.
StorageNotification judgeStorageTrap(storageCombination &c);

// Runs the check on one device and queues the notification it calls for.
void send_storage_trap(storageCombination &c);

// The figures a notification carries: path, usage, severity, thresholds.
std::unique_ptr<storageCombination> copystorageNodeSnap(const storageCombination &c);

// snmpTrapOID.0 (.103 raise, .104 clear), path, usage, severity, Th1..Th4.
void fillstorageDataToTrap(const storageCombination &snapshot, int flag, VarbindList &vars);

// Queues the notification for the main thread; the snapshot is freed.
void send_storage_notification(std::unique_ptr<storageCombination> snapshot, int flag);
