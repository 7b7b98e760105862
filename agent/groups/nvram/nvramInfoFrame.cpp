// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the NVRAM count scalar.
#include "groups/nvram/nvramInfoFrame.h"

#include "mibFrame.h"
#include "groups/nvram/nvramObj.h"
#include "semaphore.h"

namespace {

const oid nvramInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 3, 5};

struct variable2 nvramInfo_variables[] = {
    {1, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, nvramInfo_handle, 1, {1}},
};

// The value handed to the library.
long nvramInfo_long;

} // namespace

void init_nvramInfo()
{
    REGISTER_SCALARS("nvramInfoFrame", nvramInfo_variables, variable2, nvramInfo_variables_oid);
}

u_char *nvramInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                         WriteMethod **write_method)
{
    VLM_TRACE();
    return countScalarValue(vp, name, length, exact, var_len, write_method, 1, sem_nvram_id, Global_nvramCounter,
                            nvramInfo_long, "nvram/nvram");
}
