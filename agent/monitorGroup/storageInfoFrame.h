// Storage group record: usage thresholds and notification switch of the
// mounted file systems.
#pragma once

#include <cstdint>

struct storageInfo {
    int32_t siUsageTh1;   // percent, -1 not used
    int32_t siUsageTh2;
    int32_t siUsageTh3;
    int32_t siUsageTh4;
    int32_t trapEnable;   // 1 enabled, 2 disabled
    int32_t siNumber;     // storage rows found by the last df pass
};

// Guarded by sem_storage_id.
inline storageInfo Global_storageInfoVal;
