// SPDX-License-Identifier: BSD-3-Clause
// Wi-Fi interfaces from nmcli.
#include "groups/groups.h"

#include "groups/wlan/wlanInfoFrame.h"
#include "groups/wlan/wlanObjTable.h"
#include "groups/wlan/wlanProbe.h"

int sem_wlan_id = -1;

namespace {
void registerWlan()
{
    init_wlanObjInfo();
    init_wlanObjTable();
}
} // namespace

extern const GroupDescriptor wlanGroup = {
    "wlan",
    true,
    registerWlan,
    nullptr,
    nullptr,
    wlanInfoCycle, 1, 3,
    nullptr,
    nullptr,
    {{&sem_wlan_id, 1012}},
    WLAN_HEALTH_ROW, 1, 120,   // silence: 3 s, nmcli runs of 5 s, AT commands of 3 s per modem
};
