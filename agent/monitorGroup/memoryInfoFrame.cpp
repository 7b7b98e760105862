// Registration, read routine and write routines of the memory group.
#include "monitorGroup/memoryInfoFrame.h"

#include "mibFrame.h"
#include "semaphore.h"
#include "setJournal.h"

#include <cstring>
#include <optional>

namespace {

const oid memoryInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 2, 5};

struct variable2 memoryInfo_variables[] = {
    {MEM_TOTAL, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, memInfo_handle, 1, {1}},
    {MEM_USED_PERCENTAGE, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, memInfo_handle, 1, {2}},
    {MEM_SEVERITY_STATE, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, memInfo_handle, 1, {3}},
    {MEM_TH1, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, memInfo_handle, 1, {4}},
    {MEM_TH2, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, memInfo_handle, 1, {5}},
    {MEM_TH3, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, memInfo_handle, 1, {6}},
    {MEM_TH4, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, memInfo_handle, 1, {7}},
    {MEM_TRAP_STATE, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, memInfo_handle, 1, {8}},
};

// The value handed to the library.
long memInfo_long;

int32_t memInfo::*const thresholdFields[4] = {&memInfo::memoryTh1, &memInfo::memoryTh2, &memInfo::memoryTh3,
                                               &memInfo::memoryTh4};

// Threshold I (0..3) may take the value when it lies in -1..100 and stands
// with the three others as they are.
template <int I>
int checkThreshold(const SetValue &v)
{
    if (v.integer < -1 || v.integer > 100)
        return SNMP_ERR_WRONGVALUE;
    long th[4];
    for (int i = 0; i < 4; i++)
        th[i] = Global_memInfoVal.*thresholdFields[i];
    th[I] = v.integer;
    return judgeIntThres(th[0], th[1], th[2], th[3]) ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE;
}

template <int I>
SetValue loadThreshold()
{
    SetValue v;
    v.integer = Global_memInfoVal.*thresholdFields[I];
    return v;
}

template <int I>
void storeThreshold(const SetValue &v)
{
    Global_memInfoVal.*thresholdFields[I] = static_cast<int32_t>(v.integer);
}

template <int I>
WritableScalar thresholdObject(const char *key)
{
    return {"example", ASN_INTEGER, sizeof(long), &sem_memory_id, checkThreshold<I>, loadThreshold<I>, storeThreshold<I>,
            "memory", key};
}

const WritableScalar thresholdObjects[4] = {
    thresholdObject<0>("memoryTh1"),
    thresholdObject<1>("memoryTh2"),
    thresholdObject<2>("memoryTh3"),
    thresholdObject<3>("memoryTh4"),
};

const WritableScalar trapStateObject = {
    "example", ASN_INTEGER, sizeof(long), &sem_memory_id,
    [](const SetValue &v) { return v.integer == 1 || v.integer == 2 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
    [] {
        SetValue v;
        v.integer = Global_memInfoVal.memoryTrapState;
        return v;
    },
    [](const SetValue &v) { Global_memInfoVal.memoryTrapState = static_cast<int32_t>(v.integer); },
    "memory", "memoryTrapState",
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
    if (sem_memory_id >= 0)
        hold.emplace(sem_memory_id);
    long th[4];
    for (int i = 0; i < 4; i++)
        th[i] = pending.named[i] ? pending.value[i] : Global_memInfoVal.*thresholdFields[i];
    return judgeIntThres(th[0], th[1], th[2], th[3]) != 0;
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

int judgeIntThres(long th1, long th2, long th3, long th4)
{
    const long th[4] = {th1, th2, th3, th4};
    bool seen = false;
    long previous = 0;
    for (long t : th) {
        if (t == -1)
            continue;
        if (seen && t <= previous)
            return 0;
        previous = t;
        seen = true;
    }
    return 1;
}

void init_memoryInfo()
{
    REGISTER_SCALARS("memoryInfoFrame", memoryInfo_variables, variable2, memoryInfo_variables_oid);
}

u_char *memInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                       WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_memory_id);
    const memInfo &m = Global_memInfoVal;
    switch (vp->magic) {
    case MEM_TOTAL:
        memInfo_long = m.memTotal;
        break;
    case MEM_USED_PERCENTAGE:
        memInfo_long = m.memUsedPercentage;
        break;
    case MEM_SEVERITY_STATE:
        memInfo_long = m.memoryInfoSeverityState;
        break;
    case MEM_TH1:
        *write_method = write_memoryInfoTh1;
        memInfo_long = m.memoryTh1;
        break;
    case MEM_TH2:
        *write_method = write_memoryInfoTh2;
        memInfo_long = m.memoryTh2;
        break;
    case MEM_TH3:
        *write_method = write_memoryInfoTh3;
        memInfo_long = m.memoryTh3;
        break;
    case MEM_TH4:
        *write_method = write_memoryInfoTh4;
        memInfo_long = m.memoryTh4;
        break;
    case MEM_TRAP_STATE:
        *write_method = write_memoryInfoTrapState;
        memInfo_long = m.memoryTrapState;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in vlmCommonMib/memoryInfo\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&memInfo_long);
}

int write_memoryInfoTh1(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                        oid *name, size_t name_len)
{
    return writeThreshold(0, action, var_val, var_val_type, var_val_len);
}

int write_memoryInfoTh2(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                        oid *name, size_t name_len)
{
    return writeThreshold(1, action, var_val, var_val_type, var_val_len);
}

int write_memoryInfoTh3(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                        oid *name, size_t name_len)
{
    return writeThreshold(2, action, var_val, var_val_type, var_val_len);
}

int write_memoryInfoTh4(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                        oid *name, size_t name_len)
{
    return writeThreshold(3, action, var_val, var_val_type, var_val_len);
}

int write_memoryInfoTrapState(int action, u_char *var_val, u_char var_val_type, size_t var_val_len,
                              u_char *statP, oid *name, size_t name_len)
{
    return scalarWrite(trapStateObject, action, var_val, var_val_type, var_val_len);
}
