// Storage usage notifications: the per-device band check run for every
// storage line of a df pass, and the raise (.103) and clear (.104)
// notifications it queues.
#include "monitorGroup/storageTrap.h"

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

void setBand(storageCombination &c, int band)
{
    for (int i = 0; i < 4; i++)
        c.siUsageThFlag[i] = i + 1 == band ? 1 : 0;
}

} // namespace

bool judgestorageEnableTrap(storageCombination &c)
{
    if (c.storageTrapState == c.tmpstorageTrapState)
        return false;
    c.tmpstorageTrapState = c.storageTrapState;
    return c.storageTrapState == 1;
}

StorageNotification judgeStorageTrap(storageCombination &c)
{
    // The highest threshold in use that usage is above; equal is not above.
    const int32_t th[4] = {c.siUsageTh1, c.siUsageTh2, c.siUsageTh3, c.siUsageTh4};
    int band = 0;
    for (int i = 3; i >= 0 && !band; i--)
        if (th[i] != -1 && c.storageUsedPercentage > th[i])
            band = i + 1;

    if (band) {
        if (c.siUsageThFlag[band - 1])
            return judgestorageEnableTrap(c) ? StorageNotification::Raise : StorageNotification::None;
        // A new band, from below, from above or from normal. The switch is
        // taken as seen even when off, so that turning it on while usage
        // stays in this band still raises at the next pass.
        c.tmpstorageTrapState = c.storageTrapState;
        setBand(c, band);
        return c.storageTrapState == 1 ? StorageNotification::Raise : StorageNotification::None;
    }

    if (!c.siUsageThFlag[0] && !c.siUsageThFlag[1] && !c.siUsageThFlag[2] && !c.siUsageThFlag[3])
        return StorageNotification::None;
    setBand(c, 0);
    return c.storageTrapState == 1 ? StorageNotification::Clear : StorageNotification::None;
}

std::unique_ptr<storageCombination> copystorageNodeSnap(const storageCombination &c)
{
    std::unique_ptr<storageCombination> snap(new (std::nothrow) storageCombination{});
    if (!snap) {
        printf("can not allocate storage\n");
        exit(0);
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
