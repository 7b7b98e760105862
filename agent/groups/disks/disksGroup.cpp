// SPDX-License-Identifier: BSD-3-Clause
// Hard disks and their SMART attributes, refreshed every two minutes.
#include "groups/groups.h"

#include "groups/disks/hardDiskObj.h"
#include "groups/disks/hardDiskInfoFrame.h"
#include "groups/disks/hardDiskProbe.h"

int sem_hdd_id = -1;

namespace {
void registerDisks()
{
    init_harddiskObj();
    init_hardDiskObjInfo();
}
} // namespace

extern const GroupDescriptor disksGroup = {
    "disks",
    false,
    registerDisks,
    nullptr,
    nullptr,
    hddInfo_handler, 1, 120,
    nullptr,
    nullptr,
    {{&sem_hdd_id, 1000}},
    DISKS_HEALTH_ROW, 1, 900,   // silence: 120 s, the scan and fdisk 10 s each, 30 s per disk
};
