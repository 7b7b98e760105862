/* SPDX-License-Identifier: BSD-3-Clause */
// The standard entity view served over SNMP: entPhysicalTable
// (1.3.6.1.2.1.47.1.1.1), entLastChangeTime (1.3.6.1.2.1.47.1.4.1.0) and
// entPhySensorTable (1.3.6.1.2.1.99.1.1), all read-only.
//
// The view reads nothing itself: when a request comes and the rows it holds
// are older than a second, it copies the sensor, power and disk groups' rows
// (each under its group's lock) and the product name, and rebuilds
// (entityRows.h). An idle agent spends nothing on it; only the main thread
// touches the rows, so they need no lock of their own.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "groups/entity/entityRows.h"

// The other groups' rows as they are now.
BoardReading readBoard();

// The rows served, rebuilt when older than a second; `now` is the agent's
// uptime in hundredths of a second. Moves the last change time when the
// entries (not their readings) differ from the last build.
const std::vector<EntityRow> &entityRows(unsigned long now);
// sysUpTime of the last change of the entries, and of the last rebuild.
unsigned long entityLastChange();
unsigned long entityReadTime();

void init_entityView();
