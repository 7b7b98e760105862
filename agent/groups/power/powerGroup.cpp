// SPDX-License-Identifier: BSD-3-Clause
// The power-supply inputs of the status driver.
#include "groups/groups.h"

#include "groups/power/powerInfoFrame.h"
#include "groups/power/powerProbe.h"

int sem_pwr_id = -1;

namespace {
void preparePower()
{
    Global_pwrInfoVal.pwrState = 1;
    Global_pwrInfoVal.pwrStateSeverity = 1;
}
} // namespace

extern const GroupDescriptor powerGroup = {
    "power",
    false,
    init_powerInfo,
    configurePower,
    preparePower,
    nullptr, 0, 0,
    powerInfoThread,
    nullptr,
    {{&sem_pwr_id, 1006}},
    POWER_HEALTH_ROW, 2, 100,   // silence: 1 s, or 30 s between failed reads
};
