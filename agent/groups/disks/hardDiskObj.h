/* SPDX-License-Identifier: BSD-3-Clause */
// The hard disk tables: hdTable, 1.3.6.1.4.1.42424.200.3.1.2 (one row per
// disk) and hdSMARTTable, 1.3.6.1.4.1.42424.200.3.1.3 (one row per SMART
// attribute, indexed by disk and attribute row), both read-only and filled by
// the hard disk refresh.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstddef>
#include <cstdint>

// The group's semaphore set (semaphore.h).
extern int sem_hdd_id;            // guards the disk and SMART lists

// Texts of both tables are NUL-terminated and served by their length.
struct hdTable_entry {
    int32_t hdIndex;                  // disk number, 1.. in scan order
    char hdManufacturer[60];          // "Model Family:" value, "N/A" without one
    char hdModel[60];
    char hdFirmwareRevision[60];
    char hdSerialNumber[60];
    int32_t hdDriverCapactity;        // MiB
    int32_t hdPartitionNumber;
    hdTable_entry *next;
};

struct hdSMARTTable_entry {
    int32_t hdIndex1;                 // disk number (first index)
    int32_t hdsIndex;                 // attribute row within the disk, 1.. (second index)
    int32_t hdsAttribID;
    char hdsName[40];                 // "Vendor Specific" for an unknown attribute
    int32_t hdsValue;
    int32_t hdsWorst;
    int32_t hdsThreshold;
    char hdsRAWValue[40];             // at least 12 upper-case hexadecimal digits
    hdSMARTTable_entry *next;
};

// The iterator's index of a disk row.
inline long rowIndex(const hdTable_entry &row)
{
    return row.hdIndex;
}

// Rows (newest first) and the disk count; guarded by sem_hdd_id.
inline hdTable_entry *Global_hdTable_head = nullptr;
inline hdSMARTTable_entry *Global_hdSMARTTable_head = nullptr;
inline int32_t Global_hddNumber = 0;

enum hdTableColumn {
    COLUMN_HDINDEX = 1,
    COLUMN_HDMANUFACTURER,
    COLUMN_HDMODEL,
    COLUMN_HDFIRMWAREREVISION,
    COLUMN_HDSERIALNUMBER,
    COLUMN_HDDRIVERCAPACTITY,
    COLUMN_HDPARTITIONNUMBER,
};

enum hdSMARTTableColumn {
    COLUMN_HDSINDEX = 1,
    COLUMN_HDSATTRIBID,
    COLUMN_HDSNAME,
    COLUMN_HDSVALUE,
    COLUMN_HDSWORST,
    COLUMN_HDSTHRESHOLD,
    COLUMN_HDSRAWVALUE,
};

void init_harddiskObj();
void initialize_table_hdTable();
void initialize_table_hdSMARTTable();

// New rows at the head of their lists, texts cut to their fields; null when
// out of memory. The caller holds sem_hdd_id.
hdTable_entry *hdTable_createEntry(int32_t hdIndex, const char *family, const char *model, const char *firmware,
                                   const char *serial, int32_t capacity, int32_t partitions);
void hdTable_removeEntry(hdTable_entry *entry);
hdSMARTTable_entry *hdSMARTTable_createEntry(int32_t hdIndex1, int32_t hdsIndex, int32_t attribId, const char *name,
                                             int32_t value, int32_t worst, int32_t threshold, const char *raw);
void hdSMARTTable_removeEntry(hdSMARTTable_entry *entry);
// The SMART row of a disk and attribute row, or null. sem_hdd_id is held.
hdSMARTTable_entry *hdSMARTTable_findEntry(int32_t disk, int32_t row);

Netsnmp_First_Data_Point hdTable_get_first_data_point;
Netsnmp_Next_Data_Point hdTable_get_next_data_point;
Netsnmp_Node_Handler hdTable_handler;
// Writes both indexes.
Netsnmp_First_Data_Point hdSMARTTable_get_first_data_point;
Netsnmp_Next_Data_Point hdSMARTTable_get_next_data_point;
Netsnmp_Node_Handler hdSMARTTable_handler;
