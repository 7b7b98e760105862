/* SPDX-License-Identifier: BSD-3-Clause */
// System V semaphores guarding the data shared by the polling threads and the
// SNMP handlers of the main thread, one semaphore set per data set.
#pragma once

#include <mutex>

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

// The process-private lock that goes with a semaphore set: it is what keeps
// the main thread's request handlers and a polling thread apart. Null for
// an identifier that is not one of the agent's sets (-1 before they exist).
std::mutex *semaphoreMutex(int sem_id);
// Whether the calling thread is the one that made the sets: the main thread,
// the only one that answers requests.
bool onMainThread();

// Holds a group's lock for the lifetime of the guard. Every holder takes the
// set's process-private mutex; a polling thread also takes the System V set
// itself, so that the sets operators see (ipcs, keys 1000-1013) stay in use
// and their removal stops the agent within a polling period, while a request
// handler costs no system call when the lock is free: a walk takes a lock
// twice at every exchange with the master. Before the sets exist (id -1:
// start-up before the threads, the unit tests) only one thread runs and
// nothing is taken.
class SemHold {
public:
    explicit SemHold(int sem_id) : id_(sem_id), mutex_(semaphoreMutex(sem_id))
    {
        if (!mutex_)
            return;
        mutex_->lock();
        kernel_ = !onMainThread();
        if (kernel_)
            semaphore_p(id_);
    }
    ~SemHold()
    {
        if (!mutex_)
            return;
        if (kernel_)
            semaphore_v(id_);
        mutex_->unlock();
    }
    SemHold(const SemHold &) = delete;
    SemHold &operator=(const SemHold &) = delete;

private:
    int id_;
    std::mutex *mutex_;
    bool kernel_ = false;
};
