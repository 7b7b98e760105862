/* SPDX-License-Identifier: BSD-3-Clause */
// Watchdog group record: state, timeout and chip of the board's hardware
// watchdog as its driver reports them; its objects under
// 1.3.6.1.4.1.42424.200.3.2.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

// The group's semaphore set (semaphore.h).
extern int sem_wdt_id;            // guards the wdtInfo record

struct wdtInfo {
    long wdtState;            // 1 enabled, 2 disabled, 0 not known
    long wdTimeoutInterval;   // as the driver gives it, 0 when not known
    long wdMode;              // 2 once the driver's file could be read, else 0
    long wdLogEvent;          // 2 once the driver's file could be read, else 0
    char wdChipSet[60];       // chip name, NUL-terminated, empty when not known
};

// Guarded by sem_wdt_id.
inline wdtInfo Global_wdtInfoVal;

// Object numbers under 1.3.6.1.4.1.42424.200.3.2.
enum wdtInfoMagic {
    WDT_STATE = 1,
    WDT_TIMEOUT_INTERVAL,
    WDT_MODE,
    WDT_LOG_EVENT,
    WDT_CHIP_SET,
};

void init_wdtInfo();
// A field that is 0, or an empty chip name, is not served: GET finds no
// such instance and GETNEXT moves on.
FindVarMethod wdtInfo_handle;
