/* SPDX-License-Identifier: BSD-3-Clause */
// The group table, 1.3.6.1.4.1.42424.100.3.1: one read-only row per group
// the agent runs, saying whether it is reading (see lib/groupHealth.h).
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

enum groupTableColumn {
    COLUMN_GROUPINDEX = 1,
    COLUMN_GROUPNAME,
    COLUMN_GROUPSTATUS,
    COLUMN_GROUPLASTGOOD,     // DateAndTime; 0 octets before the first complete reading
    COLUMN_GROUPFAILURES,     // Counter32
    COLUMN_GROUPLASTERROR,
};

// Registers the table, and the main-loop alarm that shows a group whose
// thread has stopped reading as failing.
void init_groupHealthObj();
Netsnmp_First_Data_Point vlmGroupTable_get_first_data_point;
Netsnmp_Next_Data_Point vlmGroupTable_get_next_data_point;
Netsnmp_Node_Handler vlmGroupTable_handler;
