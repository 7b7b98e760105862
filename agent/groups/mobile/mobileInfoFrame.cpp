// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the mobile broadband modem count.
#include "groups/mobile/mobileInfoFrame.h"
#include "groups/mobile/mobileObjTable.h"

#include "mibFrame.h"
#include "semaphore.h"

namespace {

const oid mobileObjInfo_oid[] = {VLM_ENTERPRISE, 106, 1, 1};

struct variable4 mobileObjInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, mobileObjInfo_numberHandle, 1, {1}},
};

// The value handed to the library.
long mobileObjInfo_long;

} // namespace

void init_mobileObjInfo()
{
    REGISTER_SCALARS("mobileObjInfo", mobileObjInfo_variables, variable4, mobileObjInfo_oid);
}

u_char *mobileObjInfo_numberHandle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                                   WriteMethod **write_method)
{
    VLM_DEBUG("mobileObjInfo", "mobileObjInfo_handle entered\n");
    return countScalarValue(vp, name, length, exact, var_len, write_method, 0, sem_mobile_id, Global_mobileNumber,
                            mobileObjInfo_long, "examples/var_example");
}
