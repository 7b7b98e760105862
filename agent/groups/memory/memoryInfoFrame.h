/* SPDX-License-Identifier: BSD-3-Clause */
// Memory group record: size and usage of main memory, four usage thresholds
// and the notification switch; its objects under 1.3.6.1.4.1.42424.200.2.5.
#pragma once

class ConfigStore;

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstdint>

// The group's semaphore set (semaphore.h).
extern int sem_memory_id;         // guards the memInfo record

struct memInfo {
    int32_t memTotal;                 // kB, as /proc/meminfo reports it
    int32_t memUsedPercentage;        // whole percent
    int32_t memoryTh1;                // percent, -1 not used
    int32_t memoryTh2;
    int32_t memoryTh3;
    int32_t memoryTh4;
    int32_t memoryTrapState;          // 1 enabled, 2 disabled
    int32_t memoryInfoSeverityState;  // 1 normal .. 5 above memoryTh4
};

// Guarded by sem_memory_id.
inline memInfo Global_memInfoVal;

// Object numbers under 1.3.6.1.4.1.42424.200.2.5.
enum memInfoMagic {
    MEM_TOTAL = 1,
    MEM_USED_PERCENTAGE,
    MEM_SEVERITY_STATE,
    MEM_TH1,
    MEM_TH2,
    MEM_TH3,
    MEM_TH4,
    MEM_TRAP_STATE,
};

void init_memoryInfo();
FindVarMethod memInfo_handle;

// The thresholds and the switch from the configuration file (0 when absent).
void configureMemory(const ConfigStore &store);
