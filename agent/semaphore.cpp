// SPDX-License-Identifier: BSD-3-Clause
// System V semaphore sets of the agent and the P/V operations on them.
#include "semaphore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

int sem_hdd_id = -1;
int sem_tp_sensors_id = -1;
int sem_vt_sensors_id = -1;
int sem_cr_sensors_id = -1;
int sem_cpu_id = -1;
int sem_memory_id = -1;
int sem_pwr_id = -1;
int sem_trap_id = -1;
int sem_hwd_id = -1;
int sem_wdt_id = -1;
int sem_storage_id = -1;
int sem_nvram_id = -1;
int sem_wlan_id = -1;
int sem_mobile_id = -1;

namespace {

// The identifiers in key order: key SEM_KEY_BASE + i goes to semIds[i].
int *const semIds[SEM_COUNT] = {
    &sem_hdd_id, &sem_tp_sensors_id, &sem_vt_sensors_id, &sem_cr_sensors_id,
    &sem_cpu_id, &sem_memory_id, &sem_pwr_id, &sem_trap_id, &sem_hwd_id,
    &sem_wdt_id, &sem_storage_id, &sem_nvram_id, &sem_wlan_id, &sem_mobile_id,
};

// semctl's fourth argument; glibc leaves its definition to the caller.
union semun {
    int val;
    struct semid_ds *buf;
    unsigned short *array;
};

int semop_retrying(int sem_id, short delta)
{
    struct sembuf op = {0, delta, SEM_UNDO};
    // A signal (SIGTERM on the main thread) interrupts a waiting semop; the
    // caller must still get the semaphore, not run unguarded.
    int rc;
    do {
        rc = semop(sem_id, &op, 1);
    } while (rc == -1 && errno == EINTR);
    return rc;
}

// A set left by an earlier start, or made by someone else before us, may be
// open to every local user, who could then take it and freeze the agent.
void restrictToOwner(int sem_id)
{
    struct semid_ds ds = {};
    union semun arg;
    arg.buf = &ds;
    if (semctl(sem_id, 0, IPC_STAT, arg) == -1)
        return;
    if ((ds.sem_perm.mode & 0777) == 0600 && ds.sem_perm.uid == geteuid())
        return;
    ds.sem_perm.mode = 0600;
    ds.sem_perm.uid = geteuid();
    ds.sem_perm.gid = getegid();
    semctl(sem_id, 0, IPC_SET, arg);
}

} // namespace

int semvalue_set(int sem_id)
{
    union semun arg;
    arg.val = 1;
    return semctl(sem_id, 0, SETVAL, arg) == -1 ? 0 : 1;
}

namespace {

// A set that has gone (removed with ipcrm) guards nothing any more: going
// on would let two threads into the same data. The process ends instead,
// at once (no exit handlers while other threads run), and the service
// manager starts it again with fresh sets.
[[noreturn]] void semaphoreLost(const char *operation, int sem_id)
{
    fprintf(stderr, "%s failed on semaphore set %d: %s; the agent stops\n", operation, sem_id, strerror(errno));
    fflush(nullptr);
    _exit(1);
}

} // namespace

int semaphore_p(int sem_id)
{
    if (semop_retrying(sem_id, -1) == -1)
        semaphoreLost("semaphore_p", sem_id);
    return 1;
}

int semaphore_v(int sem_id)
{
    if (semop_retrying(sem_id, 1) == -1)
        semaphoreLost("semaphore_v", sem_id);
    return 1;
}

int semaphores_create()
{
    for (int i = 0; i < SEM_COUNT; i++) {
        *semIds[i] = semget(SEM_KEY_BASE + i, 1, IPC_CREAT | 0600);
        if (*semIds[i] == -1) {
            perror("semget");
            return 0;
        }
        restrictToOwner(*semIds[i]);
    }
    for (int i = 0; i < SEM_COUNT; i++)
        if (!semvalue_set(*semIds[i]))
            return 0;
    return 1;
}
