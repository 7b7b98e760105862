/* SPDX-License-Identifier: BSD-3-Clause */
// The storage table, 1.3.6.1.4.1.42424.200.2.7.7: one row per mounted
// block-device file system of the latest df pass, read-only.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "semaphore.h"

#include <cstddef>
#include <cstdint>

// The group's semaphore set (semaphore.h).
extern int sem_storage_id;        // guards the storage lists, table and storageInfo

struct storageTable_entry {
    int32_t index;                  // 1..n in df order
    char storageDescr[20];          // device path, cut to 19 characters
    int32_t storageSize;            // MB
    int32_t storageUsedPercentage;
    int32_t storageUsageSeverity;   // 1 normal, 2..5 above siUsageTh1..siUsageTh4
    storageTable_entry *next;
};

// Rows; rebuilt by every df pass, guarded by sem_storage_id.
inline storageTable_entry *Global_storageTable_head = nullptr;

// Holds sem_storage_id.
struct StorageLock : SemHold {
    StorageLock() : SemHold(sem_storage_id) {}
};

enum storageTableColumn {
    COLUMN_STORAGEINDEX = 1,
    COLUMN_STORAGEDESCR,
    COLUMN_STORAGESIZE,
    COLUMN_STORAGEUSEDPERCENTAGE,
    COLUMN_STORAGEUSAGESEVERITY,
};

void init_storageObj();
void initialize_table_storageTable();

// A new row at the head of the list; null when out of memory. The path is
// cut to the field. The caller holds sem_storage_id.
storageTable_entry *storageTable_createEntry(long index, const char *storageDescr, long storageSize,
                                             long storageUsedPercentage, long storageUsageSeverity);
// Unlinks and frees a row; a row not on the list is left alone.
void storageTable_removeEntry(storageTable_entry *row);

// Loop and data contexts never hold a row's address (a pass may free the
// rows between two calls): the loop context is a position in the list, the
// data context the row's index, and each use finds the row again under
// sem_storage_id.
Netsnmp_First_Data_Point storageTable_get_first_data_point;
Netsnmp_Next_Data_Point storageTable_get_next_data_point;
// GET only; the table is registered read-only, so the library answers a SET
// with notWritable before it gets here.
Netsnmp_Node_Handler storageTable_handler;
