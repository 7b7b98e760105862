// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the disk count scalar.
#include "groups/disks/hardDiskInfoFrame.h"

#include "mibFrame.h"
#include "groups/disks/hardDiskObj.h"
#include "semaphore.h"

namespace {

const oid hardDiskObjInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 3, 1};

struct variable4 hardDiskObjInfo_variables[] = {
    {1, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, hardDiskObjInfo_handle, 1, {1}},
};

// The value handed to the library.
long hardDiskObjInfo_long;

} // namespace

void init_hardDiskObjInfo()
{
    REGISTER_SCALARS("temperatureObjInfo", hardDiskObjInfo_variables, variable4, hardDiskObjInfo_variables_oid);
}

u_char *hardDiskObjInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                               WriteMethod **write_method)
{
    VLM_DEBUG("example", "var_example entered\n");
    return countScalarValue(vp, name, length, exact, var_len, write_method, 1, sem_hdd_id, Global_hddNumber,
                            hardDiskObjInfo_long, "harddisk/harddisk");
}
