/* SPDX-License-Identifier: BSD-3-Clause */
// The NVRAM table, 1.3.6.1.4.1.42424.200.3.5.2: one row per mounted NVRAM
// disk (/dev/vlmnvram*) of the latest df pass, read-only. The storage
// group's df pass, which lists every file system, hands the NVRAM lines to
// publishNvramDisks.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "semaphore.h"

#include <cstdint>
#include <string>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int NVRAM_HEALTH_ROW = 7;

// The group's semaphore set (semaphore.h).
extern int sem_nvram_id;          // guards the NVRAM list and table


// One NVRAM line of "df -m": columns 1, 2 and 4.
struct dfNvramLine {
    std::string device;
    int32_t totalSize;               // MB
    int32_t diskFreeSize;            // MB available
};

// Replaces the rows with one per line, row k the k-th line, whichever disk
// it is, under sem_nvram_id.
void publishNvramDisks(const std::vector<dfNvramLine> &lines);

struct nvramTable_entry {
    long index;          // position of the disk's line among the NVRAM lines
    long totalSize;      // MB
    long diskSize;       // MB, the same as totalSize
    long diskFreeSize;   // MB available
    nvramTable_entry *next;
};

// Rows and count; rebuilt by every df pass, guarded by sem_nvram_id.
inline nvramTable_entry *Global_nvramTable_head = nullptr;
inline int Global_nvramCounter = 0;

// Holds sem_nvram_id.
struct NvramLock : SemHold {
    NvramLock() : SemHold(sem_nvram_id) {}
};

enum nvramTableColumn {
    COLUMN_NVRAMINDEX = 1,
    COLUMN_NVRAMTOTALSIZE,
    COLUMN_NVRAMDISKSIZE,
    COLUMN_NVRAMDISKFREESIZE,
};

void init_nvramObj();
void initialize_table_nvramTable();

// A new row at the head of the list; null when out of memory. The caller
// holds sem_nvram_id.
nvramTable_entry *nvramTable_createEntry(long index, long totalSize, long diskSize, long diskFreeSize);
// Unlinks and frees a row; a row not on the list is left alone.
void nvramTable_removeEntry(nvramTable_entry *row);

// Contexts as in the storage table: a position and an index, never a row's
// address; rows are found again under sem_nvram_id.
Netsnmp_First_Data_Point nvramTable_get_first_data_point;
Netsnmp_Next_Data_Point nvramTable_get_next_data_point;
// GET only; registered read-only, so a SET gets notWritable from the library.
Netsnmp_Node_Handler nvramTable_handler;
