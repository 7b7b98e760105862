// SPDX-License-Identifier: BSD-3-Clause
// CPU load and frequency; a cycle waits one second between its two samples.
#include "groups/groups.h"

#include "groups/cpu/cpuInfoFrame.h"
#include "groups/cpu/cpuProbe.h"

int sem_cpu_id = -1;

extern const GroupDescriptor cpuGroup = {
    "cpu",
    false,
    init_cpuInfo,
    nullptr,
    nullptr,
    cpuInfoCycle, 1, 0,
    nullptr,
    nullptr,
    {{&sem_cpu_id, 1004}},
    CPU_HEALTH_ROW, 3, 15,   // silence: a cycle of about a second
};
