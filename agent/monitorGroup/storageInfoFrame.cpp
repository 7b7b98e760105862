// Registration, read routine and write routines of the storage group's
// scalars: the four usage thresholds, the notification switch and the row
// count.
#include "monitorGroup/storageInfoFrame.h"

#include "mibFrame.h"
#include "monitorGroup/memoryInfoFrame.h"
#include "semaphore.h"
#include "setJournal.h"

#include <cstring>
#include <optional>

namespace {

const oid storageInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 2, 7};

struct variable2 storageInfo_variables[] = {
    {SI_USAGE_TH1, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {1}},
    {SI_USAGE_TH2, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {2}},
    {SI_USAGE_TH3, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {3}},
    {SI_USAGE_TH4, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {4}},
    {SI_TRAP_ENABLE, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {5}},
    {SI_NUMBER, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, storageInfo_handle, 1, {6}},
};

// The value handed to the library.
long storageInfo_long;

int32_t storageInfo::*const thresholdFields[4] = {&storageInfo::siUsageTh1, &storageInfo::siUsageTh2,
                                                   &storageInfo::siUsageTh3, &storageInfo::siUsageTh4};

// Threshold I (0..3) may take the value when it lies in -1..100 and stands
// with the three others as they are.
template <int I>
int checkThreshold(const SetValue &v)
{
    if (v.integer < -1 || v.integer > 100)
        return SNMP_ERR_WRONGVALUE;
    long th[4];
    for (int i = 0; i < 4; i++)
        th[i] = Global_storageInfoVal.*thresholdFields[i];
    th[I] = v.integer;
    return judgeStorageThres(th[0], th[1], th[2], th[3]) ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE;
}

template <int I>
SetValue loadThreshold()
{
    SetValue v;
    v.integer = Global_storageInfoVal.*thresholdFields[I];
    return v;
}

template <int I>
void storeThreshold(const SetValue &v)
{
    Global_storageInfoVal.*thresholdFields[I] = static_cast<int32_t>(v.integer);
}

template <int I>
WritableScalar thresholdObject(const char *key)
{
    return {"example", ASN_INTEGER, sizeof(long), &sem_storage_id, checkThreshold<I>, loadThreshold<I>,
            storeThreshold<I>, "storage", key};
}

const WritableScalar thresholdObjects[4] = {
    thresholdObject<0>("siUsageTh1"),
    thresholdObject<1>("siUsageTh2"),
    thresholdObject<2>("siUsageTh3"),
    thresholdObject<3>("siUsageTh4"),
};

const WritableScalar trapEnableObject = {
    "example", ASN_INTEGER, sizeof(long), &sem_storage_id,
    [](const SetValue &v) { return v.integer == 1 || v.integer == 2 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
    [] {
        SetValue v;
        v.integer = Global_storageInfoVal.trapEnable;
        return v;
    },
    [](const SetValue &v) { Global_storageInfoVal.trapEnable = static_cast<int32_t>(v.integer); },
    "storage", "storageTrapEnable",
};

// Thresholds named in the request being checked. Each is checked against the
// others as they are; before anything is stored, the new thresholds of the
// request are checked together, so that two varbinds that are each fine
// cannot leave the four out of order.
struct PendingThresholds {
    long transaction = -1;
    bool named[4] = {};
    long value[4] = {};
};
PendingThresholds pending;

bool pendingThresholdsValid()
{
    std::optional<SemHold> hold;
    if (sem_storage_id >= 0)
        hold.emplace(sem_storage_id);
    long th[4];
    for (int i = 0; i < 4; i++)
        th[i] = pending.named[i] ? pending.value[i] : Global_storageInfoVal.*thresholdFields[i];
    return judgeStorageThres(th[0], th[1], th[2], th[3]) != 0;
}

int writeThreshold(int i, int action, const u_char *var_val, u_char var_val_type, size_t var_val_len)
{
    int rc = scalarWrite(thresholdObjects[i], action, var_val, var_val_type, var_val_len);

    long transaction = setJournal::currentTransactionId();
    if (pending.transaction != transaction)
        pending = PendingThresholds{transaction};
    switch (action) {
    case RESERVE1:
        if (rc == SNMP_ERR_NOERROR) {
            pending.named[i] = true;
            pending.value[i] = 0;
            if (var_val && var_val_len >= sizeof(long))
                memcpy(&pending.value[i], var_val, sizeof(long));
        }
        return rc;
    case RESERVE2:
        return pendingThresholdsValid() ? rc : SNMP_ERR_WRONGVALUE;
    case ACTION:
        return rc;
    default:
        pending = PendingThresholds{};
        return rc;
    }
}

} // namespace

int judgeStorageThres(long tmpTh1, long tmpTh2, long tmpTh3, long tmpTh4)
{
    // The same rule as the memory thresholds.
    return judgeIntThres(tmpTh1, tmpTh2, tmpTh3, tmpTh4);
}

void init_storageInfo()
{
    REGISTER_SCALARS("storageInfoFrame", storageInfo_variables, variable2, storageInfo_variables_oid);
}

u_char *storageInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                           WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_storage_id);
    const storageInfo &s = Global_storageInfoVal;
    switch (vp->magic) {
    case SI_USAGE_TH1:
        *write_method = write_storageInfoTh1;
        storageInfo_long = s.siUsageTh1;
        break;
    case SI_USAGE_TH2:
        *write_method = write_storageInfoTh2;
        storageInfo_long = s.siUsageTh2;
        break;
    case SI_USAGE_TH3:
        *write_method = write_storageInfoTh3;
        storageInfo_long = s.siUsageTh3;
        break;
    case SI_USAGE_TH4:
        *write_method = write_storageInfoTh4;
        storageInfo_long = s.siUsageTh4;
        break;
    case SI_TRAP_ENABLE:
        *write_method = write_siEnableUsageTraps;
        storageInfo_long = s.trapEnable;
        break;
    case SI_NUMBER:
        storageInfo_long = s.siNumber;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in storage/storage\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&storageInfo_long);
}

int write_storageInfoTh1(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                         oid *name, size_t name_len)
{
    return writeThreshold(0, action, var_val, var_val_type, var_val_len);
}

int write_storageInfoTh2(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                         oid *name, size_t name_len)
{
    return writeThreshold(1, action, var_val, var_val_type, var_val_len);
}

int write_storageInfoTh3(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                         oid *name, size_t name_len)
{
    return writeThreshold(2, action, var_val, var_val_type, var_val_len);
}

int write_storageInfoTh4(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                         oid *name, size_t name_len)
{
    return writeThreshold(3, action, var_val, var_val_type, var_val_len);
}

int write_siEnableUsageTraps(int action, u_char *var_val, u_char var_val_type, size_t var_val_len,
                             u_char *statP, oid *name, size_t name_len)
{
    return scalarWrite(trapEnableObject, action, var_val, var_val_type, var_val_len);
}
