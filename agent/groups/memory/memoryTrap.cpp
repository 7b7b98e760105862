// SPDX-License-Identifier: BSD-3-Clause
// Memory usage notifications: the band check run after every reading, and
// the raise (.101) and clear (.102) notifications it queues.
#include "groups/memory/memoryTrap.h"

#include "mibFrame.h"
#include "semaphore.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr unsigned memRaiseTrap = 101;
constexpr unsigned memClearTrap = 102;

const oid memUsedPercentageOid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_USED_PERCENTAGE, 0};
const oid memSeverityStateOid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_SEVERITY_STATE, 0};
const oid memoryTh1Oid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_TH1, 0};
const oid memoryTh2Oid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_TH2, 0};
const oid memoryTh3Oid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_TH3, 0};
const oid memoryTh4Oid[] = {VLM_ENTERPRISE, 200, 2, 5, MEM_TH4, 0};

} // namespace

MemNotification judgeMemoryTrap(memTrapCheck &check, memInfo &record)
{
    if (!check.entryMemFlag) {
        check.tmpMemTrapState = record.memoryTrapState;
        check.entryMemFlag = 1;
    }
    const int32_t th[4] = {record.memoryTh1, record.memoryTh2, record.memoryTh3, record.memoryTh4};
    return judgeUsageBand(check.memoryThFlag, check.tmpMemTrapState, record.memUsedPercentage, th,
                          record.memoryTrapState, record.memoryInfoSeverityState);
}

std::unique_ptr<memInfo> copyMemNodeSnap(memInfo current)
{
    std::unique_ptr<memInfo> snap(new (std::nothrow) memInfo{});
    if (!snap) {
        printf("can not allocate memory\n");
        exit(1);
    }
    snap->memUsedPercentage = current.memUsedPercentage;
    snap->memoryTh1 = current.memoryTh1;
    snap->memoryTh2 = current.memoryTh2;
    snap->memoryTh3 = current.memoryTh3;
    snap->memoryTh4 = current.memoryTh4;
    snap->memoryInfoSeverityState = current.memoryInfoSeverityState;
    return snap;
}

void fillMemoryDataToTrap(const memInfo &snapshot, int flag, VarbindList &vars)
{
    vars.addNotificationOid(flag == MEM_TRAP_RAISE ? memRaiseTrap : memClearTrap);
    vars.addInteger(memUsedPercentageOid, OID_LENGTH(memUsedPercentageOid), snapshot.memUsedPercentage);
    vars.addInteger(memSeverityStateOid, OID_LENGTH(memSeverityStateOid), snapshot.memoryInfoSeverityState);
    vars.addInteger(memoryTh1Oid, OID_LENGTH(memoryTh1Oid), snapshot.memoryTh1);
    vars.addInteger(memoryTh2Oid, OID_LENGTH(memoryTh2Oid), snapshot.memoryTh2);
    vars.addInteger(memoryTh3Oid, OID_LENGTH(memoryTh3Oid), snapshot.memoryTh3);
    vars.addInteger(memoryTh4Oid, OID_LENGTH(memoryTh4Oid), snapshot.memoryTh4);
}

void send_memory_notification(std::unique_ptr<memInfo> snapshot, int flag)
{
    VarbindList vars;
    fillMemoryDataToTrap(*snapshot, flag, vars);
    queueNotification(vars);
}

void send_memory_trap()
{
    // Held for the whole check: a SET of a threshold or the switch lands
    // before or after it, never in the middle.
    SemHold hold(sem_memory_id);
    MemNotification n = judgeMemoryTrap(Global_memTrapCheck, Global_memInfoVal);
    if (n != MemNotification::None)
        send_memory_notification(copyMemNodeSnap(Global_memInfoVal),
                                 n == MemNotification::Raise ? MEM_TRAP_RAISE : MEM_TRAP_CLEAR);
}
