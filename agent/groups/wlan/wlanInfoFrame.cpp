// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the Wi-Fi row count.
#include "groups/wlan/wlanInfoFrame.h"
#include "groups/wlan/wlanObjTable.h"

#include "mibFrame.h"
#include "semaphore.h"

namespace {

const oid wlanObjInfo_oid[] = {VLM_ENTERPRISE, 106, 1, 2};

struct variable4 wlanObjInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, wlanObjInfo_numberHandle, 1, {1}},
};

// The value handed to the library.
long wlanObjInfo_long;

} // namespace

void init_wlanObjInfo()
{
    REGISTER_SCALARS("wlanObjInfo", wlanObjInfo_variables, variable4, wlanObjInfo_oid);
}

u_char *wlanObjInfo_numberHandle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                                 WriteMethod **write_method)
{
    VLM_DEBUG("wlanObjInfo", "wlanObjInfo_handle entered\n");
    return countScalarValue(vp, name, length, exact, var_len, write_method, 0, sem_wlan_id, Global_wlanNumber,
                            wlanObjInfo_long, "examples/var_example");
}
