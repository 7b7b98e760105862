/* SPDX-License-Identifier: BSD-3-Clause */
// System V semaphores guarding the data shared by the polling threads and the
// SNMP handlers of the main thread, one semaphore set per data set.
#pragma once

// Keys 1000..1013, in this order.
extern int sem_hdd_id;          // hard disk and SMART lists
extern int sem_tp_sensors_id;   // temperature sensor list and table
extern int sem_vt_sensors_id;   // voltage sensor list and table
extern int sem_cr_sensors_id;   // current sensor list and table
extern int sem_cpu_id;          // cpuInfo record
extern int sem_memory_id;       // memInfo record
extern int sem_pwr_id;          // pwrInfo record
extern int sem_trap_id;         // trap destination list and notification sending
extern int sem_hwd_id;          // hardware-detect table and record
extern int sem_wdt_id;          // wdtInfo record
extern int sem_storage_id;      // storage lists, table and storageInfo
extern int sem_nvram_id;        // NVRAM list and table
extern int sem_wlan_id;         // Wi-Fi lists and table
extern int sem_mobile_id;       // mobile broadband lists and table

constexpr int SEM_KEY_BASE = 1000;
constexpr int SEM_COUNT = 14;

// Sets semaphore 0 of the set to 1 (free). 1 on success, 0 on failure.
int semvalue_set(int sem_id);
// Takes / releases semaphore 0 with SEM_UNDO, so a process that dies while
// holding it gives it back. 1 on success; a failure (the set removed under
// the agent) is reported and ends the process with status 1, since the
// caller must not go on unguarded.
int semaphore_p(int sem_id);
int semaphore_v(int sem_id);

// Creates (or reopens) the fourteen semaphore sets, owner-only, each free.
// 1 on success, 0 when a set cannot be had.
int semaphores_create();

// Holds one semaphore for the lifetime of the guard. Before the semaphores
// exist (id -1: start-up before the threads, the unit tests) only one thread
// runs and nothing is taken.
class SemHold {
public:
    explicit SemHold(int sem_id) : id_(sem_id)
    {
        if (id_ >= 0)
            semaphore_p(id_);
    }
    ~SemHold()
    {
        if (id_ >= 0)
            semaphore_v(id_);
    }
    SemHold(const SemHold &) = delete;
    SemHold &operator=(const SemHold &) = delete;

private:
    int id_;
};
