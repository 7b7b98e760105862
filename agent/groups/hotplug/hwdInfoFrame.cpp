// SPDX-License-Identifier: BSD-3-Clause
// Registration, read routine and write routines of the hardware-detect scalars.
#include "groups/hotplug/hwdInfoFrame.h"

#include "mibFrame.h"
#include "configStore.h"
#include "semaphore.h"

namespace {

const oid hwdInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 3, 6};

struct variable2 hwdInfo_variables[] = {
    {HWD_TRAP_ENABLE, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, hwdInfo_handle, 1, {1}},
    {HWD_MAX_TABLE_ROW, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, hwdInfo_handle, 1, {2}},
    {HWD_NUMBER, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, hwdInfo_handle, 1, {3}},
};

// The value handed to the library.
long hwdInfo_long;

template <long hwdInfo::*Field>
SetValue load()
{
    SetValue v;
    v.integer = Global_hwdInfoVal.*Field;
    return v;
}

template <long hwdInfo::*Field>
void store(const SetValue &v)
{
    Global_hwdInfoVal.*Field = v.integer;
}

const WritableScalar trapEnableObject = {
    "hwdInfo", ASN_INTEGER, sizeof(long), &sem_hwd_id,
    [](const SetValue &v) { return v.integer == 1 || v.integer == 2 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
    load<&hwdInfo::trapEnable>, store<&hwdInfo::trapEnable>, "hardwareDetect", "trapEnable",
};

// The limit only changes how later rows are numbered; rows already in the
// table stay.
const WritableScalar maxTableRowObject = {
    "hwdInfo", ASN_INTEGER, sizeof(long), &sem_hwd_id,
    [](const SetValue &v) { return v.integer >= 1 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
    load<&hwdInfo::maxTableRow>, store<&hwdInfo::maxTableRow>, "hardwareDetect", "maxTableRow",
};

} // namespace

void init_hwdInfo()
{
    REGISTER_SCALARS("hwdInfoFrame", hwdInfo_variables, variable2, hwdInfo_variables_oid);
}

u_char *hwdInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                       WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_hwd_id);
    switch (vp->magic) {
    case HWD_TRAP_ENABLE:
        *write_method = write_hwdInfoTrapEnable;
        hwdInfo_long = Global_hwdInfoVal.trapEnable;
        break;
    case HWD_MAX_TABLE_ROW:
        *write_method = write_hwdInfoMaxTableRow;
        hwdInfo_long = Global_hwdInfoVal.maxTableRow;
        break;
    case HWD_NUMBER:
        hwdInfo_long = Global_hwdInfoVal.number;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in hwinfoframe/hwinfoframe\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&hwdInfo_long);
}

int write_hwdInfoTrapEnable(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                            oid *name, size_t name_len)
{
    return scalarWrite(trapEnableObject, action, var_val, var_val_type, var_val_len);
}

int write_hwdInfoMaxTableRow(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                             oid *name, size_t name_len)
{
    return scalarWrite(maxTableRowObject, action, var_val, var_val_type, var_val_len);
}

void configureHotplug(const ConfigStore &store)
{
    configureScalar(trapEnableObject, store);
    configureScalar(maxTableRowObject, store);
}
