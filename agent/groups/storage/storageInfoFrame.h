/* SPDX-License-Identifier: BSD-3-Clause */
// Storage group record: usage thresholds and notification switch of the
// mounted file systems, and the number of rows of the storage table; its
// scalars under 1.3.6.1.4.1.42424.200.2.7.
#pragma once

class ConfigStore;

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

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

// Object numbers under 1.3.6.1.4.1.42424.200.2.7.
enum storageInfoMagic {
    SI_USAGE_TH1 = 1,
    SI_USAGE_TH2,
    SI_USAGE_TH3,
    SI_USAGE_TH4,
    SI_TRAP_ENABLE,
    SI_NUMBER,
};

void init_storageInfo();
FindVarMethod storageInfo_handle;

// 1 when the four thresholds can stand together (the used ones, not -1,
// rise strictly from Th1 to Th4), 0 otherwise.
int judgeStorageThres(long tmpTh1, long tmpTh2, long tmpTh3, long tmpTh4);

// The thresholds and the switch from the configuration file (0 when absent).
void configureStorage(const ConfigStore &store);
