// SPDX-License-Identifier: BSD-3-Clause
// Mobile broadband modems from nmcli and their AT ports.
#include "groups/groups.h"

#include "groups/mobile/mobileInfoFrame.h"
#include "groups/mobile/mobileObjTable.h"
#include "groups/mobile/mobileProbe.h"

int sem_mobile_id = -1;

namespace {
void registerMobile()
{
    init_mobileObjInfo();
    init_mobileObjTable();
}
} // namespace

extern const GroupDescriptor mobileGroup = {
    "mobile",
    true,
    registerMobile,
    nullptr,
    nullptr,
    mobileInfoCycle, 1, 3,
    nullptr,
    nullptr,
    {{&sem_mobile_id, 1013}},
    MOBILE_HEALTH_ROW, 1, 120,   // silence: 3 s, nmcli runs of 5 s, AT commands of 3 s per modem
};
