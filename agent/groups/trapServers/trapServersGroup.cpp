// SPDX-License-Identifier: BSD-3-Clause
// The trap receivers: snmpd.conf's trapsink lines as a table.
#include "groups/groups.h"

#include "groups/trapServers/trapServerTable.h"
#include "groups/trapServers/trapServerProbe.h"
#include "lib/trapList.h"

namespace {
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
    nullptr,
    nullptr, 0, 0,
    nullptr,
    init_atMgmt,
    {{&sem_trap_id, 1007}},
};
