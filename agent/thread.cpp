// SPDX-License-Identifier: BSD-3-Clause
// The polling threads of the groups and their start.
#include "thread.h"

#include "groups/groups.h"
#include "lib/trapList.h"
#include "semaphore.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <unistd.h>

namespace {

// The loop of a group that polls on a fixed period: every thread waits a
// second before its first reading, so that the agent has registered and
// joined the master.
void *pollingThread(void *arg)
{
    const GroupDescriptor &group = *static_cast<const GroupDescriptor *>(arg);
    sleep(group.firstDelay);
    for (;;) {
        group.cycle();
        if (group.period)
            sleep(group.period);
    }
}

bool runs(const GroupDescriptor &group, bool wireless)
{
    return wireless || !group.wireless;
}

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

    for (const GroupDescriptor *g : agentGroups()) {
        if (!runs(*g, wireless) || (!g->cycle && !g->thread))
            continue;
        pthread_t thread;
        void *(*body)(void *) = g->thread ? g->thread : pollingThread;
        if (pthread_create(&thread, nullptr, body, const_cast<GroupDescriptor *>(g)) == 0)
            pthread_detach(thread);
        else
            puts("Create thread fail!");
    }

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
    for (const GroupDescriptor *g : agentGroups())
        if (runs(*g, wireless) && g->start)
            g->start();
}
