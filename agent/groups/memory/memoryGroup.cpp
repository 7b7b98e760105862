// SPDX-License-Identifier: BSD-3-Clause
// Memory usage and its thresholds.
#include "groups/groups.h"

#include "groups/memory/memoryInfoFrame.h"
#include "groups/memory/memoryProbe.h"

int sem_memory_id = -1;

namespace {
void prepareMemory()
{
    Global_memInfoVal.memoryInfoSeverityState = 1;
}
} // namespace

extern const GroupDescriptor memoryGroup = {
    "memory",
    false,
    init_memoryInfo,
    configureMemory,
    prepareMemory,
    memoryInfoCycle, 2, 1,
    nullptr,
    nullptr,
    {{&sem_memory_id, 1005}},
    MEMORY_HEALTH_ROW, 3, 15,   // silence: a cycle of about a second
};
