/* SPDX-License-Identifier: BSD-3-Clause */
// The Wi-Fi table, 1.3.6.1.4.1.42424.106.1.2.2: one row per wireless
// interface with an active connection, rewritten by the Wi-Fi refresh every
// 3 s. Only wlanState can be set, in memory: the next refresh sets it back to 1.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstddef>
#include <netinet/in.h>

// The group's semaphore set (semaphore.h).
extern int sem_wlan_id;           // guards the Wi-Fi lists and table

// Texts are NUL-terminated and served by their length.
struct __wlanObjTable_entry {
    long wlanIndex;
    char wlanName[40];            // connection name
    char wlanSSID[40];
    char wlanBSSID[20];
    long wlanMode;                // 0 infrastructure, 1 ad hoc, 2 other
    in_addr_t wlanIPAddress;      // network byte order; 0 when there is none
    in_addr_t wlanGateway;        // network byte order; 0 when there is none
    long wlanSignalStrength;      // nmcli's SIGNAL, 0-100
    char wlanEncryption[40];      // nmcli's SECURITY text
    long wlanState;               // 1 after every refresh; settable
    __wlanObjTable_entry *next;
};
using wlanObjTable_entry = __wlanObjTable_entry;

inline long rowIndex(const wlanObjTable_entry &row)
{
    return row.wlanIndex;
}

// Rows, newest first; guarded by sem_wlan_id.
inline wlanObjTable_entry *Global_wlanTable_head = nullptr;

enum wlanTableColumn {
    COLUMN_WLANINDEX = 1,
    COLUMN_WLANNAME,
    COLUMN_WLANSSID,
    COLUMN_WLANBSSID,
    COLUMN_WLANMODE,
    COLUMN_WLANIPADDRESS,
    COLUMN_WLANGATEWAY,
    COLUMN_WLANSIGNALSTRENGTH,
    COLUMN_WLANENCRYPTION,
    COLUMN_WLANSTATE,
};

void init_wlanObjTable();
void initialize_table_wlanObjTable();

// A new row at the head of the list, texts cut to their fields; null when
// out of memory. The caller holds sem_wlan_id.
wlanObjTable_entry *wlanObjTable_createEntry(long wlanIndex, const char *wlanName, const char *wlanSSID,
                                             const char *wlanBSSID, long wlanMode, in_addr_t wlanIPAddress,
                                             in_addr_t wlanGateway, long wlanSignalStrength,
                                             const char *wlanEncryption, long wlanState);
// Unlinks and frees a row; a row not on the list is left alone.
void wlanObjTable_removeEntry(wlanObjTable_entry *entry);

Netsnmp_First_Data_Point wlanObjTable_get_first_data_point;
Netsnmp_Next_Data_Point wlanObjTable_get_next_data_point;
Netsnmp_Node_Handler wlanObjTable_handler;
