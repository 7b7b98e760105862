// SPDX-License-Identifier: BSD-3-Clause
// The watchdog driver's file.
#include "groups/groups.h"

#include "groups/watchdog/watchdogInfoFrame.h"
#include "groups/watchdog/watchdogProbe.h"

int sem_wdt_id = -1;

extern const GroupDescriptor watchdogGroup = {
    "watchdog",
    false,
    init_wdtInfo,
    nullptr,
    nullptr,
    wdtInfoCycle, 1, 5,
    nullptr,
    nullptr,
    {{&sem_wdt_id, 1009}},
    WATCHDOG_HEALTH_ROW, 1, 30,   // silence: 5 s and a command of at most 3 s
};
