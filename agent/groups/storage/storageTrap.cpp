// SPDX-License-Identifier: BSD-3-Clause
// Storage usage notifications: the per-device band check run for every
// storage line of a df pass, and the raise (.103) and clear (.104)
// notifications it queues.
#include "groups/storage/storageTrap.h"

#include "mibFrame.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr unsigned storageRaiseTrap = 103;
constexpr unsigned storageClearTrap = 104;

// The table's columns, sent without a row index.
const oid storageDescrOid[] = {VLM_ENTERPRISE, 200, 2, 7, 7, 1, 2};
const oid storageUsedPercentageOid[] = {VLM_ENTERPRISE, 200, 2, 7, 7, 1, 4};
const oid storageUsageSeverityOid[] = {VLM_ENTERPRISE, 200, 2, 7, 7, 1, 5};
const oid siUsageTh1Oid[] = {VLM_ENTERPRISE, 200, 2, 7, 1, 0};
const oid siUsageTh2Oid[] = {VLM_ENTERPRISE, 200, 2, 7, 2, 0};
const oid siUsageTh3Oid[] = {VLM_ENTERPRISE, 200, 2, 7, 3, 0};
const oid siUsageTh4Oid[] = {VLM_ENTERPRISE, 200, 2, 7, 4, 0};

} // namespace

StorageNotification judgeStorageTrap(storageCombination &c)
{
    // The row's severity comes from the df pass; the check keeps its own.
    const int32_t th[4] = {c.siUsageTh1, c.siUsageTh2, c.siUsageTh3, c.siUsageTh4};
    int32_t severity = c.storageUsageSeverity;
    return judgeUsageBand(c.siUsageThFlag, c.tmpstorageTrapState, c.storageUsedPercentage, th, c.storageTrapState,
                          severity);
}

std::unique_ptr<storageCombination> copystorageNodeSnap(const storageCombination &c)
{
    std::unique_ptr<storageCombination> snap(new (std::nothrow) storageCombination{});
    if (!snap) {
        printf("can not allocate storage\n");
        exit(1);
    }
    snap->storageDescr = c.storageDescr;
    snap->storageUsedPercentage = c.storageUsedPercentage;
    snap->storageUsageSeverity = c.storageUsageSeverity;
    snap->siUsageTh1 = c.siUsageTh1;
    snap->siUsageTh2 = c.siUsageTh2;
    snap->siUsageTh3 = c.siUsageTh3;
    snap->siUsageTh4 = c.siUsageTh4;
    return snap;
}

void fillstorageDataToTrap(const storageCombination &snapshot, int flag, VarbindList &vars)
{
    vars.addNotificationOid(flag == STORAGE_TRAP_RAISE ? storageRaiseTrap : storageClearTrap);
    vars.addOctets(storageDescrOid, OID_LENGTH(storageDescrOid), snapshot.storageDescr.data(),
                   snapshot.storageDescr.size());
    vars.addInteger(storageUsedPercentageOid, OID_LENGTH(storageUsedPercentageOid), snapshot.storageUsedPercentage);
    vars.addInteger(storageUsageSeverityOid, OID_LENGTH(storageUsageSeverityOid), snapshot.storageUsageSeverity);
    vars.addInteger(siUsageTh1Oid, OID_LENGTH(siUsageTh1Oid), snapshot.siUsageTh1);
    vars.addInteger(siUsageTh2Oid, OID_LENGTH(siUsageTh2Oid), snapshot.siUsageTh2);
    vars.addInteger(siUsageTh3Oid, OID_LENGTH(siUsageTh3Oid), snapshot.siUsageTh3);
    vars.addInteger(siUsageTh4Oid, OID_LENGTH(siUsageTh4Oid), snapshot.siUsageTh4);
}

void send_storage_notification(std::unique_ptr<storageCombination> snapshot, int flag)
{
    VarbindList vars;
    fillstorageDataToTrap(*snapshot, flag, vars);
    queueNotification(vars);
}

void send_storage_trap(storageCombination &c)
{
    StorageNotification n = judgeStorageTrap(c);
    if (n != StorageNotification::None)
        send_storage_notification(copystorageNodeSnap(c),
                                  n == StorageNotification::Raise ? STORAGE_TRAP_RAISE : STORAGE_TRAP_CLEAR);
}
