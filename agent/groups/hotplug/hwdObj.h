/* SPDX-License-Identifier: BSD-3-Clause */
// The hardware-detect table, 1.3.6.1.4.1.42424.200.3.6.4: two rows for each
// USB device that arrived or left, written by the hot-plug watcher, served
// read-only. Not persisted: empty at every start.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "lib/dateAndTime.h"

#include <cstddef>

// Texts are NUL-terminated and served by their length.
struct __hwdTable_entry {
    long index;
    u_char getTime[DATE_AND_TIME_LEN];   // served with all 11 octets
    long deviceType;
    char classGUID[40];                  // "{...}", 38 characters
    char name[200];                      // the device's instance name
    char friendlyName[60];
    long event;                          // 1 arrival, 2 removal
    __hwdTable_entry *next;
};
using hwdTable_entry = __hwdTable_entry;

// Rows, newest first; guarded by sem_hwd_id.
inline hwdTable_entry *Global_hwdTable_head = nullptr;

enum hwdTableColumn {
    COLUMN_HWDINDEX = 1,
    COLUMN_HWDGETTIME,
    COLUMN_HWDDEVICETYPE,
    COLUMN_HWDCLASSGUID,
    COLUMN_HWDNAME,
    COLUMN_HWDFRIENDLYNAME,
    COLUMN_HWDEVENT,
};

// Device type codes and event codes of the rows.
constexpr long HWD_TYPE_USB = 1;
constexpr long HWD_TYPE_DISK = 2;
constexpr long HWD_TYPE_HID = 4;
constexpr long HWD_EVENT_ARRIVAL = 1;
constexpr long HWD_EVENT_REMOVAL = 2;

void init_hwdObj();
void initialize_table_hwdTable();

// A new row at the head of the list, texts cut to their fields; null when out
// of memory. The caller holds sem_hwd_id.
hwdTable_entry *hwdTable_hwdCreateEntry(long index, const u_char *getTime, long deviceType, const char *classGUID,
                                        const char *name, const char *friendlyName, long event);
// Unlinks and frees a row; a row not on the list is left alone.
void hwdTable_removeEntry(hwdTable_entry *entry);
// The row with this index, or null. The caller holds sem_hwd_id.
hwdTable_entry *hwdTable_findEntry(long index);

Netsnmp_First_Data_Point hwdTable_get_first_data_point;
Netsnmp_Next_Data_Point hwdTable_get_next_data_point;
// GET only; registered read-only, so a SET of a column gets notWritable.
Netsnmp_Node_Handler hwdTable_handler;
