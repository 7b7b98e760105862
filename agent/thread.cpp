// SPDX-License-Identifier: BSD-3-Clause
// Loop shells of the polling threads and their start.
#include "thread.h"

#include "atMgmt/trapInfoProbe.h"
#include "atSystem/sysInfoFrame.h"
#include "hwdWatcher.h"
#include "lib/groupHealth.h"
#include "lib/trapList.h"
#include "monitorGroup/powerProbe.h"
#include "peripheralGroup/hardDiskProbe.h"
#include "semaphore.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr unsigned HWD_SOCKET_RETRY_SECONDS = 60;
}

pthread_t getHddInfoThread, getStandardTableThread, getCpuInfoThread, getMemoryInfoThread,
    getPowerInfoThread, getHwdInfoThread, getWdtInfoThread, getStorageInfoThread, getWlanInfoThread,
    getMobileInfoThread;

void *hddInfoThread(void *)
{
    sleep(1);
    for (;;) {
        hddInfo_handler();   // takes sem_hdd_id itself, after its commands
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
    // A device that cannot be read (missing, held by another process, an
    // input that fails) is tried again, less often the longer it lasts.
    unsigned failures = 0;
    for (;;) {
        sleep(powerRetryDelay(failures));
        failures = powerInfoCycle() ? 0 : failures + 1;
    }
}

void *hwdInfoThread(void *)
{
    sleep(1);
    int fd = -1;
    bool socketFailed = false;
    for (;;) {
        if (fd < 0) {
            fd = openUeventSocket();
            if (fd < 0) {
                // No socket (no netlink in this kernel, or no memory): the
                // group hears no device event. Try again later instead of
                // spinning on a failed select.
                GroupReading reading;
                reading.fail(std::string("uevent socket: ") + strerror(errno));
                noteGroupReading(GroupId::Hotplug, reading);
                socketFailed = true;
                sleep(HWD_SOCKET_RETRY_SECONDS);
                continue;
            }
            if (socketFailed)
                noteGroupReading(GroupId::Hotplug, GroupReading{});
            socketFailed = false;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval timeout = {3600, 0};
        const int ready = select(fd + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0 && errno != EINTR)
            sleep(1);
        if (ready <= 0 || !FD_ISSET(fd, &readable))
            continue;
        // Only the header, the message's first string, is looked at; the
        // last byte stays 0 so that it is always terminated.
        char buf[512] = {};
        if (recv(fd, buf, sizeof buf - 1, 0) < 2)
            continue;
        hwd_handler(buf);
    }
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
        // The cycle runs nmcli first and takes sem_wlan_id itself only to
        // apply what it printed.
        wlanInfoCycle();
        sleep(3);
    }
}

void *mobileInfoThread(void *)
{
    sleep(1);
    for (;;) {
        // The same with sem_mobile_id: a modem that does not answer holds
        // this thread, not the group's requests.
        mobileInfoCycle();
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

const ThreadStart wirelessThreads[] = {
    {&getWlanInfoThread, wlanInfoThread},
    {&getMobileInfoThread, mobileInfoThread},
};

} // namespace

void thread_create(bool wireless)
{
    // The threads inherit the signal mask: a stop signal must reach the main
    // thread, whose select it interrupts, not a sleeping poller.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);

    std::vector<ThreadStart> threads(std::begin(standardThreads), std::end(standardThreads));
    if (wireless)
        threads.insert(threads.end(), std::begin(wirelessThreads), std::end(wirelessThreads));
    std::vector<bool> started;
    for (const ThreadStart &t : threads) {
        *t.handle = 0;
        started.push_back(pthread_create(t.handle, nullptr, t.body, nullptr) == 0);
        if (!started.back())
            puts("Create thread fail!");
    }
    for (size_t i = 0; i < threads.size(); i++)
        if (started[i])
            pthread_detach(*threads[i].handle);

    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void init_module(bool wireless)
{
    if (!semaphores_create()) {
        fprintf(stderr, "cannot create the agent's semaphores\n");
        exit(1);
    }
    init_notification_queue();
    thread_create(wireless);
    init_atSystem();
    init_atMgmt();
}
