// Loop shells of the polling threads and their start.
#include "thread.h"

#include "atMgmt/trapInfoProbe.h"
#include "atSystem/sysInfoFrame.h"
#include "lib/trapList.h"
#include "semaphore.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

pthread_t getHddInfoThread, getStandardTableThread, getCpuInfoThread, getMemoryInfoThread,
    getPowerInfoThread, getHwdInfoThread, getWdtInfoThread, getStorageInfoThread;

void *hddInfoThread(void *)
{
    sleep(1);
    for (;;) {
        hddInfoCycle();
        sleep(120);
    }
}

void *standardTableThread(void *)
{
    sleep(1);
    for (;;) {
        sleep(1);
        standardTableCycle();
    }
}

void *cpuInfoThread(void *)
{
    sleep(1);
    for (;;)
        cpuInfoCycle();
}

void *memoryInfoThread(void *)
{
    sleep(1);
    for (;;) {
        sleep(1);
        memoryInfoCycle();
    }
}

void *powerInfoThread(void *)
{
    sleep(1);
    for (;;) {
        sleep(1);
        if (!powerInfoCycle())
            pthread_exit(nullptr);
    }
}

void *hwdInfoThread(void *)
{
    sleep(1);
    for (;;)
        hwdInfoCycle();
}

void *wdtInfoThread(void *)
{
    sleep(1);
    for (;;) {
        wdtInfoCycle();
        sleep(5);
    }
}

void *storageInfoThread(void *)
{
    sleep(1);
    for (;;) {
        // The cycle runs df first and takes sem_storage_id itself only to
        // apply the result.
        storageInfoCycle();
        sleep(5);
    }
}

void *wlanInfoThread(void *)
{
    sleep(1);
    for (;;) {
        {
            SemHold hold(sem_wlan_id);
            wlanInfoCycle();
        }
        sleep(3);
    }
}

void *mobileInfoThread(void *)
{
    sleep(1);
    for (;;) {
        {
            SemHold hold(sem_mobile_id);
            mobileInfoCycle();
        }
        sleep(3);
    }
}

namespace {

struct ThreadStart {
    pthread_t *handle;
    void *(*body)(void *);
};

const ThreadStart standardThreads[] = {
    {&getHddInfoThread, hddInfoThread},
    {&getStandardTableThread, standardTableThread},
    {&getCpuInfoThread, cpuInfoThread},
    {&getMemoryInfoThread, memoryInfoThread},
    {&getPowerInfoThread, powerInfoThread},
    {&getHwdInfoThread, hwdInfoThread},
    {&getWdtInfoThread, wdtInfoThread},
    {&getStorageInfoThread, storageInfoThread},
};

} // namespace

void thread_create()
{
    // The threads inherit the signal mask: a stop signal must reach the main
    // thread, whose select it interrupts, not a sleeping poller.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);

    bool started[sizeof standardThreads / sizeof standardThreads[0]] = {};
    int i = 0;
    for (const ThreadStart &t : standardThreads) {
        *t.handle = 0;
        started[i] = pthread_create(t.handle, nullptr, t.body, nullptr) == 0;
        if (!started[i])
            puts("Create thread fail!");
        i++;
    }
    i = 0;
    for (const ThreadStart &t : standardThreads)
        if (started[i++])
            pthread_detach(*t.handle);

    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void init_module()
{
    if (!semaphores_create()) {
        fprintf(stderr, "cannot create the agent's semaphores\n");
        exit(1);
    }
    init_notification_queue();
    thread_create();
    init_atSystem();
    init_atMgmt();
}
