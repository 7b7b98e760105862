// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the CPU group.
#include "groups/cpu/cpuInfoFrame.h"

#include "mibFrame.h"
#include "semaphore.h"

namespace {

const oid cpuInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 2, 4};

struct variable2 cpuInfo_variables[] = {
    {CPU_LOADING, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, var_example_cpu, 1, {1}},
    {CPU_CUR_SPEED, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, var_example_cpu, 1, {2}},
    {CPU_MAX_SPEED, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, var_example_cpu, 1, {3}},
};

// The value handed to the library.
long cpuInfo_long;

} // namespace

void init_cpuInfo()
{
    REGISTER_SCALARS("cpuInfoFrame", cpuInfo_variables, variable2, cpuInfo_variables_oid);
}

u_char *var_example_cpu(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                        WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_cpu_id);
    switch (vp->magic) {
    case CPU_LOADING:
        cpuInfo_long = Global_cpuInfoVal.cpuLoading;
        break;
    case CPU_CUR_SPEED:
        cpuInfo_long = Global_cpuInfoVal.cpuCurSpeed;
        break;
    case CPU_MAX_SPEED:
        cpuInfo_long = Global_cpuInfoVal.cpuMaxSpeed;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in examples/var_example\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&cpuInfo_long);
}
