/* SPDX-License-Identifier: BSD-3-Clause */
// The mobile broadband table, 1.3.6.1.4.1.42424.106.1.1.2: one row per modem
// listed at the first refresh (at most two), rewritten by the mobile refresh
// every 3 s. Only mbState can be set, in memory, until the next rewrite.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstddef>
#include <netinet/in.h>

// The group's semaphore set (semaphore.h).
extern int sem_mobile_id;         // guards the mobile broadband lists and table

// Texts are NUL-terminated and served by their length.
struct __mobileObjTable_entry {
    long mbIndex;
    char mbAPName[20];            // access point name from the connection file
    in_addr_t mbIPAddress;        // network byte order; 0 when there is none
    in_addr_t mbGateway;          // network byte order; 0 when there is none
    long mbSignalStrength;        // AT+CSQ signal quality, 0-31 (99 unknown)
    char mbISPName[40];           // operator name from AT+COPS?
    char mbMsisdn[20];            // subscriber number from AT+CNUM
    char mbIMEI[20];              // from AT+CGSN
    long mbState;                 // 1 with an IPv4 address, 2 without; settable
    __mobileObjTable_entry *next;
};
using mobileObjTable_entry = __mobileObjTable_entry;

inline long rowIndex(const mobileObjTable_entry &row)
{
    return row.mbIndex;
}

// Rows, newest first; guarded by sem_mobile_id.
inline mobileObjTable_entry *Global_mobileTable_head = nullptr;

enum mobileTableColumn {
    COLUMN_MBINDEX = 1,
    COLUMN_MBAPNAME,
    COLUMN_MBIPADDRESS,
    COLUMN_MBGATEWAY,
    COLUMN_MBSIGNALSTRENGTH,
    COLUMN_MBISPNAME,
    COLUMN_MBMSISDN,
    COLUMN_MBIMEI,
    COLUMN_MBSTATE,
};

void init_mobileObjTable();
void initialize_table_mobileObjTable();

// A new row at the head of the list, texts cut to their fields; null when
// out of memory. The caller holds sem_mobile_id.
mobileObjTable_entry *mobileObjTable_createEntry(long mbIndex, const char *mbAPName, in_addr_t mbIPAddress,
                                                 in_addr_t mbGateway, long mbSignalStrength, const char *mbISPName,
                                                 const char *mbMsisdn, const char *mbIMEI, long mbState);
// Unlinks and frees a row; a row not on the list is left alone.
void mobileObjTable_removeEntry(mobileObjTable_entry *entry);

Netsnmp_First_Data_Point mobileObjTable_get_first_data_point;
Netsnmp_Next_Data_Point mobileObjTable_get_next_data_point;
Netsnmp_Node_Handler mobileObjTable_handler;
