// SPDX-License-Identifier: BSD-3-Clause
// The number of trap servers, 1.3.6.1.4.1.42424.100.2.1.1.0.
#include "groups/trapServers/trapServerTable.h"
#include "lib/trapList.h"
#include "mibFrame.h"
#include "semaphore.h"

namespace {

const oid trapSrvInfo_variables_oid[] = {VLM_ENTERPRISE, 100, 2, 1};

struct variable4 trapSrvInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, trapSrvInfo_numberHandle, 1, {1}},
};

long trapSrvInfo_long;

} // namespace

void init_trapSrvInfo()
{
    REGISTER_SCALARS("trapSrvInfo", trapSrvInfo_variables, variable4, trapSrvInfo_variables_oid);
}

u_char *trapSrvInfo_numberHandle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                                 WriteMethod **write_method)
{
    VLM_DEBUG("trapSrvInfo", "trapSrvInfo_handle entered\n");
    return countScalarValue(vp, name, length, exact, var_len, write_method, 0, sem_trap_id, Global_trapNumber,
                            trapSrvInfo_long, "examples/var_example");
}
