// SPDX-License-Identifier: BSD-3-Clause
// Registration, read routine and write routines of the memory group.
#include "groups/memory/memoryInfoFrame.h"

#include "mibFrame.h"
#include "configStore.h"
#include "lib/usageThresholds.h"
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

// How the shared threshold writes reach this group's record.
struct memoryThresholds {
    static int32_t &threshold(int i)
    {
        int32_t memInfo::*const fields[4] = {&memInfo::memoryTh1, &memInfo::memoryTh2, &memInfo::memoryTh3,
                                             &memInfo::memoryTh4};
        return Global_memInfoVal.*fields[i];
    }
    static int32_t &trapSwitch() { return Global_memInfoVal.memoryTrapState; }
    static inline const int *const semId = &sem_memory_id;
    static constexpr const char *group = "memory";
    static inline const char *const keys[5] = {"memoryTh1", "memoryTh2", "memoryTh3", "memoryTh4",
                                               "memoryTrapState"};
};
using Thresholds = UsageThresholds<memoryThresholds>;

} // namespace

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
        *write_method = Thresholds::thresholdWriter<0>;
        memInfo_long = m.memoryTh1;
        break;
    case MEM_TH2:
        *write_method = Thresholds::thresholdWriter<1>;
        memInfo_long = m.memoryTh2;
        break;
    case MEM_TH3:
        *write_method = Thresholds::thresholdWriter<2>;
        memInfo_long = m.memoryTh3;
        break;
    case MEM_TH4:
        *write_method = Thresholds::thresholdWriter<3>;
        memInfo_long = m.memoryTh4;
        break;
    case MEM_TRAP_STATE:
        *write_method = Thresholds::switchWriter;
        memInfo_long = m.memoryTrapState;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in vlmCommonMib/memoryInfo\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&memInfo_long);
}

void configureMemory(const ConfigStore &store)
{
    Thresholds::readStored(store);
}
