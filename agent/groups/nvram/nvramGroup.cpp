// SPDX-License-Identifier: BSD-3-Clause
// The NVRAM disk; its rows come with the storage group's df pass.
#include "groups/groups.h"

#include "groups/nvram/nvramObj.h"
#include "groups/nvram/nvramInfoFrame.h"

int sem_nvram_id = -1;

namespace {
void registerNvram()
{
    init_nvramObj();
    init_nvramInfo();
}
} // namespace

extern const GroupDescriptor nvramGroup = {
    "nvram",
    false,
    registerNvram,
    nullptr,
    nullptr,
    nullptr, 0, 0,
    nullptr,
    nullptr,
    {{&sem_nvram_id, 1011}},
    NVRAM_HEALTH_ROW, 1, 30,   // silence: 5 s and a command of at most 3 s
};
