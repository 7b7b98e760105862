/* SPDX-License-Identifier: BSD-3-Clause */
// The hardware-detect scalars, 1.3.6.1.4.1.42424.200.3.6.1-3: the
// notification switch and the table limit (both persisted in the
// configuration file, section "hardwareDetect") and the count of rows
// numbered in sequence.
#pragma once

class ConfigStore;

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

// The group's semaphore set (semaphore.h).
extern int sem_hwd_id;            // guards the hardware-detect table and record

struct __hwd_Info {
    long trapEnable;    // 1: a notification per new row; anything else: none
    long maxTableRow;   // rows numbered in sequence before numbering starts over
    long number;        // rows numbered so far, at most maxTableRow
};
using hwdInfo = __hwd_Info;

// Guarded by sem_hwd_id.
inline hwdInfo Global_hwdInfoVal;

enum hwdInfoMagic {
    HWD_TRAP_ENABLE = 1,
    HWD_MAX_TABLE_ROW = 2,
    HWD_NUMBER = 3,
};

void init_hwdInfo();
FindVarMethod hwdInfo_handle;
WriteMethod write_hwdInfoTrapEnable;
WriteMethod write_hwdInfoMaxTableRow;

// The notification switch and the row limit from the configuration file.
void configureHotplug(const ConfigStore &store);
