/* SPDX-License-Identifier: BSD-3-Clause */
// System V semaphores guarding the data shared by the polling threads and the
// SNMP handlers of the main thread, one semaphore set per data set.
#pragma once

// Each group declares the identifiers of its own sets and the keys they are
// made with (groups/groups.h); every identifier is -1 until they are made.

// Sets semaphore 0 of the set to 1 (free). 1 on success, 0 on failure.
int semvalue_set(int sem_id);
// Takes / releases semaphore 0 with SEM_UNDO, so a process that dies while
// holding it gives it back. 1 on success; a failure (the set removed under
// the agent) is reported and ends the process with status 1, since the
// caller must not go on unguarded.
int semaphore_p(int sem_id);
int semaphore_v(int sem_id);

// Creates (or reopens) every group's semaphore sets, the wireless groups'
// too, owner-only, each free. 1 on success, 0 when a set cannot be had.
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
