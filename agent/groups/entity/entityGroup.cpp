// SPDX-License-Identifier: BSD-3-Clause
// The standard entity view (ENTITY-MIB and ENTITY-SENSOR-MIB) of the
// sensors, power-supply inputs and disks the other groups read. It reads
// nothing itself, so it has no polling, no lock set and no row of the group
// table: the groups it copies from report their own health.
#include "groups/groups.h"

#include "groups/entity/entityView.h"

extern const GroupDescriptor entityGroup = {
    "entity",
    false,
    init_entityView,
    nullptr,
    nullptr,
    nullptr, 0, 0,
    nullptr,
    nullptr,
    {},
    0, 0, 0,
};
