// SPDX-License-Identifier: BSD-3-Clause
// The trap receivers: snmpd.conf's trapsink lines as a table.
#include "groups/groups.h"

#include "groups/trapServers/trapServerTable.h"
#include "groups/trapServers/trapServerProbe.h"
#include "lib/trapList.h"

namespace {
// The receivers are read once, at start-up: the group's status is that of
// this reading.
void prepareTrapServers()
{
    GroupReading reading;
    init_trap_list(&reading);
    noteGroupReading(TRAP_SERVERS_HEALTH_ROW, reading);
}

void registerTrapServers()
{
    init_trapSrvInfo();
    init_snmpTrapSrv();
}
} // namespace

extern const GroupDescriptor trapServersGroup = {
    "trapServers",
    false,
    registerTrapServers,
    nullptr,
    prepareTrapServers,
    nullptr, 0, 0,
    nullptr,
    init_atMgmt,
    {{&sem_trap_id, 1007}},
    TRAP_SERVERS_HEALTH_ROW, 1, 0,   // silence: read at start-up or at device events
};
