// SPDX-License-Identifier: BSD-3-Clause
// Registration, read routine and write routine of the power-supply group.
#include "groups/power/powerInfoFrame.h"

#include "lib/dateAndTime.h"
#include "mibFrame.h"
#include "configStore.h"
#include "semaphore.h"

#include <ctime>

namespace {

const oid powerInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 2, 8};

struct variable4 powerInfo_variables[] = {
    {PWR_TRAP_STATE, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, var_pwrState, 1, {1}},
    {PWR_STATE, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, var_pwrState, 1, {2}},
    {PWR_STATE_SEVERITY, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, var_pwrState, 1, {3}},
    {PWR_STATE_GET_TIME, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, var_pwrState, 1, {4}},
};

// The values handed to the library.
long pwrInfo_long;
u_char pwrInfo_time[DATE_AND_TIME_LEN];

const WritableScalar trapStateObject = {
    "example", ASN_INTEGER, sizeof(long), &sem_pwr_id,
    [](const SetValue &v) { return v.integer == 1 || v.integer == 2 ? SNMP_ERR_NOERROR : SNMP_ERR_WRONGVALUE; },
    [] {
        SetValue v;
        v.integer = Global_pwrInfoVal.pwrTrapState;
        return v;
    },
    [](const SetValue &v) { Global_pwrInfoVal.pwrTrapState = static_cast<int32_t>(v.integer); },
    "power", "powerTrapState",
};

} // namespace

void init_powerInfo()
{
    REGISTER_SCALARS("example", powerInfo_variables, variable4, powerInfo_variables_oid);
}

// Without a reading (the driver is missing or a reading failed: state -1)
// the group's four objects are absent, the switch too; it keeps its value
// for when the inputs can be read again.
u_char *var_pwrState(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                     WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_pwr_id);
    const pwrInfo &p = Global_pwrInfoVal;
    if (p.pwrState == -1)
        return nullptr;
    switch (vp->magic) {
    case PWR_TRAP_STATE:
        *write_method = write_powerInfoTrapState;
        pwrInfo_long = p.pwrTrapState;
        break;
    case PWR_STATE:
        pwrInfo_long = p.pwrState;
        break;
    case PWR_STATE_SEVERITY:
        pwrInfo_long = p.pwrStateSeverity;
        break;
    case PWR_STATE_GET_TIME:
        dateAndTime(time(nullptr), pwrInfo_time);
        *var_len = sizeof pwrInfo_time;
        return pwrInfo_time;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in power/power\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&pwrInfo_long);
}

int write_powerInfoTrapState(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                             oid *name, size_t name_len)
{
    return scalarWrite(trapStateObject, action, var_val, var_val_type, var_val_len);
}

void configurePower(const ConfigStore &store)
{
    configureScalar(trapStateObject, store);
}
