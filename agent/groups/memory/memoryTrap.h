/* SPDX-License-Identifier: BSD-3-Clause */
// Memory usage notifications: which threshold band usage is in, when to raise
// or clear, and the notification's varbinds.
#pragma once

#include "lib/usageThresholds.h"

#include "lib/trapList.h"
#include "groups/memory/memoryInfoFrame.h"

#include <memory>

// What the check remembers between readings; touched only by the memory
// thread.
struct memTrapCheck {
    int memoryThFlag[4];   // memoryTh1Flag .. memoryTh4Flag: 1 for the band
                           // usage is in, at most one; all 0 while normal
    int tmpMemTrapState;   // memoryTrapState as the check last saw it
    int entryMemFlag;      // 1 once the first check has run
};
inline memTrapCheck Global_memTrapCheck;

using MemNotification = UsageNotification;

// flag argument of fillMemoryDataToTrap and send_memory_notification.
constexpr int MEM_TRAP_RAISE = 0;
constexpr int MEM_TRAP_CLEAR = 1;

// One check of a reading: sets the record's severity, updates `check`, and
// says which notification to send. Pure.
MemNotification judgeMemoryTrap(memTrapCheck &check, memInfo &record);

// Runs the check on the shared record and queues the notification it calls
// for; takes sem_memory_id.
void send_memory_trap();

// The figures a notification carries: usage, the thresholds and the
// severity; the other fields are 0.
std::unique_ptr<memInfo> copyMemNodeSnap(memInfo current);

// snmpTrapOID.0 (.101 raise, .102 clear), usage, severity, Th1..Th4.
void fillMemoryDataToTrap(const memInfo &snapshot, int flag, VarbindList &vars);

// Queues the notification for the main thread; the snapshot is freed.
void send_memory_notification(std::unique_ptr<memInfo> snapshot, int flag);
