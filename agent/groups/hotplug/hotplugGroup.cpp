// SPDX-License-Identifier: BSD-3-Clause
// USB hot-plug events; the devices attached before the start are listed first, so that new ones are told from known ones.
#include "groups/groups.h"

#include "groups/hotplug/hwdObj.h"
#include "groups/hotplug/hwdInfoFrame.h"
#include "groups/hotplug/hwdProbe.h"
#include "groups/hotplug/hwdWatcher.h"

int sem_hwd_id = -1;

namespace {
void registerHotplug()
{
    init_hwdObj();
    init_hwdInfo();
}
} // namespace

extern const GroupDescriptor hotplugGroup = {
    "hotplug",
    false,
    registerHotplug,
    configureHotplug,
    getHwInfo,
    nullptr, 0, 0,
    hwdInfoThread,
    nullptr,
    {{&sem_hwd_id, 1008}},
    HOTPLUG_HEALTH_ROW, 1, 0,   // silence: read at start-up or at device events
};
