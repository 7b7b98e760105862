/* SPDX-License-Identifier: BSD-3-Clause */
// Sampling the processor load from /proc/stat and the processor clocks through
// libcpupower, and the CPU thread's cycle.
#pragma once

#include "lib/groupHealth.h"
#include "groups/cpu/cpuInfoFrame.h"

#include <cstdint>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int CPU_HEALTH_ROW = 4;

// Counters of the aggregate "cpu" line of /proc/stat, in clock ticks.
struct CpuTicks {
    int64_t user;
    int64_t nice;
    int64_t system;
    int64_t idle;
};

// The first line of /proc/stat text: true when it is the aggregate line
// ("cpu" followed by at least user, nice, system and idle; later columns such
// as iowait are not counted). Counters are capped so that sums of them stay
// exact.
bool parseCpuStatLine(std::string_view text, CpuTicks &out);

// Busy share of the interval between two readings in whole percent, cut
// (2 busy ticks of 3 are 66). 0 when the counters did not move or went
// back, never outside 0..100.
int32_t cpuLoadPercent(const CpuTicks &first, const CpuTicks &second);

// One processor's clocks as the frequency library gives them, in kHz.
struct CpuFreqReading {
    unsigned long curKHz;
    unsigned long maxKHz;   // 0 when its hardware limits cannot be read
};

struct CpuSpeeds {
    int32_t cur;   // MHz
    int32_t max;   // MHz
};

// Means over the processors: each processor's kHz are cut to whole MHz
// first, the mean is cut too. 0 and 0 without any processor.
CpuSpeeds cpuSpeedMeans(const std::vector<CpuFreqReading> &readings);

// 0 when processor `cpu` has a cpufreq directory under `cpuRoot` (normally
// /sys/devices/system/cpu), which is what the frequency library reads; -1
// otherwise.
int cpufreqDirExists(const char *cpuRoot, unsigned int cpu);
// The same under /sys/devices/system/cpu: 0 when the frequency library knows
// the processor.
int cpufreq_cpu_exists(unsigned int cpu);

// One sample: the load over one second (it waits that second, also when
// /proc/stat cannot be read) and the mean clocks of the processors the
// frequency library knows. A failed reading of /proc/stat gives all three 0
// and says why in `reading`.
cpuInfo getCpuInfo(GroupReading &reading);

// One CPU sample, which waits 1 s, and its store: the polling thread's cycle.
void cpuInfoCycle();
