// SPDX-License-Identifier: BSD-3-Clause
// The list of the agent's groups, in the order they register.
#include "groups/groups.h"

#include "lib/groupHealth.h"

#include <algorithm>
#include <vector>

// One line per group: its descriptor is `NAMEGroup`, defined in its folder.
#define VLM_GROUPS(X) \
    X(system)         \
    X(trapServers)    \
    X(health)         \
    X(power)          \
    X(sensors)        \
    X(memory)         \
    X(cpu)            \
    X(disks)          \
    X(hotplug)        \
    X(watchdog)       \
    X(storage)        \
    X(nvram)          \
    X(wlan)           \
    X(mobile)         \
    X(entity)

#define VLM_DECLARE(name) extern const GroupDescriptor name##Group;
VLM_GROUPS(VLM_DECLARE)

namespace {
#define VLM_ENTRY(name) &name##Group,
const GroupDescriptor *const groupList[] = {VLM_GROUPS(VLM_ENTRY)};
} // namespace

const GroupDescriptor *const *GroupList::begin() const
{
    return groupList;
}

const GroupDescriptor *const *GroupList::end() const
{
    return groupList + sizeof groupList / sizeof groupList[0];
}

GroupList agentGroups()
{
    return {};
}

void startGroupHealth(bool wireless)
{
    std::vector<const GroupDescriptor *> rowGroups;
    for (const GroupDescriptor *g : agentGroups())
        if (g->healthRow > 0 && (wireless || !g->wireless))
            rowGroups.push_back(g);
    std::sort(rowGroups.begin(), rowGroups.end(),
              [](const GroupDescriptor *a, const GroupDescriptor *b) { return a->healthRow < b->healthRow; });
    std::vector<GroupHealthRow> rows;
    for (const GroupDescriptor *g : rowGroups)
        rows.push_back({g->name, g->confirmReadings, g->silenceLimit});
    initGroupHealth(rows);
}
