// SPDX-License-Identifier: BSD-3-Clause
// The system information group: identity strings, boot times and counts.
#include "groups/groups.h"

#include "groups/system/systemConfig.h"
#include "groups/system/sysInfoFrame.h"

extern const GroupDescriptor systemGroup = {
    "system",
    false,
    init_sysInfo,
    configureSystem,
    nullptr,
    nullptr, 0, 0,
    nullptr,
    init_atSystem,
    {},
    SYSTEM_HEALTH_ROW, 1, 0,   // silence: read at start-up or at device events
};
