/* SPDX-License-Identifier: BSD-3-Clause */
// CPU group record: processor load of the last second and the processors'
// current and maximum clock; its objects under 1.3.6.1.4.1.42424.200.2.4.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstdint>

// The group's semaphore set (semaphore.h).
extern int sem_cpu_id;            // guards the cpuInfo record

struct cpuInfo {
    int32_t cpuLoading;    // busy share of all processors, whole percent 0..100
    int32_t cpuCurSpeed;   // mean current clock of the known processors, MHz
    int32_t cpuMaxSpeed;   // mean hardware maximum clock of the same, MHz
};

// Guarded by sem_cpu_id; zero until the first sample is stored.
inline cpuInfo Global_cpuInfoVal;

// Object numbers under 1.3.6.1.4.1.42424.200.2.4.
enum cpuInfoMagic {
    CPU_LOADING = 1,
    CPU_CUR_SPEED,
    CPU_MAX_SPEED,
};

void init_cpuInfo();
FindVarMethod var_example_cpu;
