// SPDX-License-Identifier: BSD-3-Clause
// Registration and read routine of the watchdog group.
#include "groups/watchdog/watchdogInfoFrame.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

namespace {

const oid wdtInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 3, 2};

struct variable2 wdtInfo_variables[] = {
    {WDT_STATE, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, wdtInfo_handle, 1, {1}},
    {WDT_TIMEOUT_INTERVAL, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, wdtInfo_handle, 1, {2}},
    {WDT_MODE, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, wdtInfo_handle, 1, {3}},
    {WDT_LOG_EVENT, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, wdtInfo_handle, 1, {4}},
    {WDT_CHIP_SET, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, wdtInfo_handle, 1, {5}},
};

// The values handed to the library. The chip name is copied too: the
// watchdog thread may replace the record once the semaphore is released,
// before the library has taken the value.
long wdtInfo_long;
char wdtInfo_chipSet[sizeof wdtInfo::wdChipSet];

} // namespace

void init_wdtInfo()
{
    REGISTER_SCALARS("wdtoryInfoFrame", wdtInfo_variables, variable2, wdtInfo_variables_oid);
}

u_char *wdtInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                       WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_wdt_id);
    const wdtInfo &w = Global_wdtInfoVal;
    switch (vp->magic) {
    case WDT_STATE:
        wdtInfo_long = w.wdtState;
        break;
    case WDT_TIMEOUT_INTERVAL:
        wdtInfo_long = w.wdTimeoutInterval;
        break;
    case WDT_MODE:
        wdtInfo_long = w.wdMode;
        break;
    case WDT_LOG_EVENT:
        wdtInfo_long = w.wdLogEvent;
        break;
    case WDT_CHIP_SET:
        setFieldText(wdtInfo_chipSet, fieldText(w.wdChipSet));
        *var_len = strlen(wdtInfo_chipSet);
        return *var_len ? reinterpret_cast<u_char *>(wdtInfo_chipSet) : nullptr;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in wdt/wdt\n", vp->magic);
        return nullptr;
    }
    return wdtInfo_long ? reinterpret_cast<u_char *>(&wdtInfo_long) : nullptr;
}
