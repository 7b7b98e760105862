/* SPDX-License-Identifier: BSD-3-Clause */
// The polling threads: their loop shells and periods. What each cycle does
// belongs to its group.
#pragma once

// Creates the semaphores, starts and detaches the polling threads (with
// `wireless`, the Wi-Fi and mobile broadband threads after the standard
// eight), then fills the system information strings and the trap server table.
void init_module(bool wireless = false);
// Starts the eight polling threads of the standard start-up, and with
// `wireless` the two wireless threads after them, detached, with SIGTERM and
// SIGINT blocked so that only the main thread sees them.
void thread_create(bool wireless = false);

void *hddInfoThread(void *arg);
void *standardTableThread(void *arg);
void *cpuInfoThread(void *arg);
void *memoryInfoThread(void *arg);
void *powerInfoThread(void *arg);
void *hwdInfoThread(void *arg);
void *wdtInfoThread(void *arg);
void *storageInfoThread(void *arg);
void *wlanInfoThread(void *arg);
void *mobileInfoThread(void *arg);

// One cycle of each polling thread, defined by its group.
void standardTableCycle();  // one sensor acquisition cycle (may sleep 1 s more)
void cpuInfoCycle();        // one CPU sample, which waits 1 s, and its store
void memoryInfoCycle();     // reading, store and notification check
bool powerInfoCycle();      // false when the inputs could not be read
void wdtInfoCycle();        // reads the driver's file, then stores under sem_wdt_id
void storageInfoCycle();    // df pass; takes sem_storage_id itself after df
void wlanInfoCycle();       // nmcli runs; takes sem_wlan_id itself to apply them
void mobileInfoCycle();     // nmcli and modem-cmd runs; takes sem_mobile_id itself to apply them
