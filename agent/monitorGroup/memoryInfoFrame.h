// Memory group record: size and usage of main memory, four usage thresholds
// and the notification switch.
#pragma once

#include <cstdint>

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
