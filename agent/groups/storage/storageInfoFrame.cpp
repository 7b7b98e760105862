// SPDX-License-Identifier: BSD-3-Clause
// Registration, read routine and write routines of the storage group's
// scalars: the four usage thresholds, the notification switch and the row
// count.
#include "groups/storage/storageInfoFrame.h"
#include "groups/storage/storageObj.h"

#include "mibFrame.h"
#include "configStore.h"
#include "lib/usageThresholds.h"
#include "semaphore.h"
#include "setJournal.h"

#include <cstring>
#include <optional>

namespace {

const oid storageInfo_variables_oid[] = {VLM_ENTERPRISE, 200, 2, 7};

struct variable2 storageInfo_variables[] = {
    {SI_USAGE_TH1, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {1}},
    {SI_USAGE_TH2, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {2}},
    {SI_USAGE_TH3, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {3}},
    {SI_USAGE_TH4, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {4}},
    {SI_TRAP_ENABLE, ASN_INTEGER, NETSNMP_OLDAPI_RWRITE, storageInfo_handle, 1, {5}},
    {SI_NUMBER, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, storageInfo_handle, 1, {6}},
};

// The value handed to the library.
long storageInfo_long;

// How the shared threshold writes reach this group's record.
struct storageThresholds {
    static int32_t &threshold(int i)
    {
        int32_t storageInfo::*const fields[4] = {&storageInfo::siUsageTh1, &storageInfo::siUsageTh2,
                                                 &storageInfo::siUsageTh3, &storageInfo::siUsageTh4};
        return Global_storageInfoVal.*fields[i];
    }
    static int32_t &trapSwitch() { return Global_storageInfoVal.trapEnable; }
    static inline const int *const semId = &sem_storage_id;
    static constexpr const char *group = "storage";
    static inline const char *const keys[5] = {"siUsageTh1", "siUsageTh2", "siUsageTh3", "siUsageTh4",
                                               "storageTrapEnable"};
};
using Thresholds = UsageThresholds<storageThresholds>;

} // namespace

int judgeStorageThres(long tmpTh1, long tmpTh2, long tmpTh3, long tmpTh4)
{
    // The same rule as the memory thresholds.
    return judgeIntThres(tmpTh1, tmpTh2, tmpTh3, tmpTh4);
}

void init_storageInfo()
{
    REGISTER_SCALARS("storageInfoFrame", storageInfo_variables, variable2, storageInfo_variables_oid);
}

u_char *storageInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                           WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    SemHold hold(sem_storage_id);
    const storageInfo &s = Global_storageInfoVal;
    switch (vp->magic) {
    case SI_USAGE_TH1:
        *write_method = Thresholds::thresholdWriter<0>;
        storageInfo_long = s.siUsageTh1;
        break;
    case SI_USAGE_TH2:
        *write_method = Thresholds::thresholdWriter<1>;
        storageInfo_long = s.siUsageTh2;
        break;
    case SI_USAGE_TH3:
        *write_method = Thresholds::thresholdWriter<2>;
        storageInfo_long = s.siUsageTh3;
        break;
    case SI_USAGE_TH4:
        *write_method = Thresholds::thresholdWriter<3>;
        storageInfo_long = s.siUsageTh4;
        break;
    case SI_TRAP_ENABLE:
        *write_method = Thresholds::switchWriter;
        storageInfo_long = s.trapEnable;
        break;
    case SI_NUMBER:
        storageInfo_long = s.siNumber;
        break;
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in storage/storage\n", vp->magic);
        return nullptr;
    }
    return reinterpret_cast<u_char *>(&storageInfo_long);
}

void configureStorage(const ConfigStore &store)
{
    Thresholds::readStored(store);
}
