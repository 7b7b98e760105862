// SPDX-License-Identifier: BSD-3-Clause
// System V semaphore sets of the agent and the P/V operations on them.
#include "semaphore.h"

#include "groups/groups.h"

#include <cerrno>
#include <pthread.h>
#include <cstdio>
#include <cstring>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

namespace {

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
// One process-private mutex per set, in the order the sets were made.
constexpr int MAX_SETS = 16;
struct SetLock {
    int id = -1;
    std::mutex mutex;
};
SetLock setLocks[MAX_SETS];
int setCount = 0;
pthread_t creator;

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

std::mutex *semaphoreMutex(int sem_id)
{
    if (sem_id < 0)
        return nullptr;
    for (int i = 0; i < setCount; i++)
        if (setLocks[i].id == sem_id)
            return &setLocks[i].mutex;
    return nullptr;
}

bool onMainThread()
{
    return pthread_equal(pthread_self(), creator) != 0;
}

int semaphores_create()
{
    creator = pthread_self();
    setCount = 0;
    for (const GroupDescriptor *g : agentGroups())
        for (const GroupLock &lock : g->locks) {
            if (!lock.id)
                continue;
            *lock.id = semget(lock.key, 1, IPC_CREAT | 0600);
            if (*lock.id == -1) {
                perror("semget");
                return 0;
            }
            restrictToOwner(*lock.id);
            if (setCount == MAX_SETS) {
                fprintf(stderr, "more than %d semaphore sets\n", MAX_SETS);
                return 0;
            }
            setLocks[setCount++].id = *lock.id;
        }
    for (const GroupDescriptor *g : agentGroups())
        for (const GroupLock &lock : g->locks)
            if (lock.id && !semvalue_set(*lock.id))
                return 0;
    return 1;
}
