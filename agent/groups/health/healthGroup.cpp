// SPDX-License-Identifier: BSD-3-Clause
// The group table: whether each group is reading.
#include "groups/groups.h"

#include "groups/health/groupHealthTable.h"

extern const GroupDescriptor healthGroup = {
    "health",
    false,
    init_groupHealthObj,
    nullptr,
    nullptr,
    nullptr, 0, 0,
    nullptr,
    nullptr,
    {},
    0, 1, 0,   // no row: the group table itself
};
