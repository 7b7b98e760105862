// SPDX-License-Identifier: BSD-3-Clause
// File systems from df and their usage thresholds.
#include "groups/groups.h"

#include "groups/storage/storageInfoFrame.h"
#include "groups/storage/storageObj.h"
#include "groups/storage/storageProbe.h"

int sem_storage_id = -1;

namespace {
void registerStorage()
{
    init_storageInfo();
    init_storageObj();
}
} // namespace

extern const GroupDescriptor storageGroup = {
    "storage",
    false,
    registerStorage,
    configureStorage,
    nullptr,
    storageInfoCycle, 1, 5,
    nullptr,
    nullptr,
    {{&sem_storage_id, 1010}},
    STORAGE_HEALTH_ROW, 1, 30,   // silence: 5 s and a command of at most 3 s
};
