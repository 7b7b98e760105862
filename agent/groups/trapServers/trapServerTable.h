/* SPDX-License-Identifier: BSD-3-Clause */
// Trap server table: the trap destinations over SNMP, with the address of
// each writable (the destination's "trapsink" line in snmpd.conf changes).
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

struct trapTable_entry {
    long trapIndex;                     // the destination's index, 1-based
    char trapIp[20];                    // current address
    size_t trapIp_len;
    char trapPort[10];
    size_t trapPort_len;
    char trapAuthentication[10];        // "enable"
    size_t trapAuthentication_len;
    char trapCommunity[10];
    size_t trapCommunity_len;
    char trapVersion[10];               // "v1"
    size_t trapVersion_len;
    trapTable_entry *next;
};

// Rows, newest first; built once at start-up, guarded by sem_trap_id.
extern trapTable_entry *Global_trapTable_head;

enum trapTableColumn {
    COLUMN_TRAPINDEX = 1,
    COLUMN_TRAPIP,
    COLUMN_TRAPPORT,
    COLUMN_TRAPAUTHENTICATION,
    COLUMN_TRAPCOMMUNITY,
    COLUMN_TRAPVERSION,
};

void init_snmpTrapSrv();
void initialize_table_snmpTrapSrvTable();
trapTable_entry *snmpTrapSrvTable_createEntry(long snmpTrapSrvIndex, const char *snmpTrapSrvIp,
                                              const char *snmpTrapSrvPort,
                                              const char *snmpTrapSrvAuthentication,
                                              const char *snmpTrapSrvCommunity,
                                              const char *snmpTrapSrvVersion);
void snmpTrapSrvTable_removeEntry(trapTable_entry *row);
Netsnmp_First_Data_Point snmpTrapSrvTable_get_first_data_point;
Netsnmp_Next_Data_Point snmpTrapSrvTable_get_next_data_point;
Netsnmp_Node_Handler snmpTrapSrvTable_handler;

// The count scalar 1.3.6.1.4.1.42424.100.2.1.1.0.
void init_trapSrvInfo();
FindVarMethod trapSrvInfo_numberHandle;
