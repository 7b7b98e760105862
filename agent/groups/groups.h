/* SPDX-License-Identifier: BSD-3-Clause */
// The agent's MIB groups, each described once by its own folder. Start-up,
// the thread starter and the lock set iterate agentGroups(); none of them
// names a group. A new group is a folder with its descriptor and one line
// of VLM_GROUPS below.
#pragma once

#include <cstddef>

class ConfigStore;

// A System V semaphore set of the group: where its identifier is kept and
// the key it is created with. The keys are what operators see (ipcs), so
// each group keeps the key it always had.
struct GroupLock {
    int *id;
    int key;
};

struct GroupDescriptor {
    const char *name;                   // "sensors", as in the group table
    bool wireless;                      // only in an agent built with the Wi-Fi and mobile groups
    void (*registerObjects)();          // registers its MIB objects with the agent library
    // Reads its own keys of the configuration file at start-up (null: it
    // has none); values it changes later go back through writeConfigEdits.
    void (*configure)(const ConfigStore &store);
    // Its state before any thread runs, after the configuration file was
    // read (null: nothing to prepare).
    void (*prepare)();
    // Its polling: `cycle` run `firstDelay` seconds after the start and then
    // `period` seconds after each run ends, or a thread body of its own
    // (`thread`) for a group that does not poll on a fixed period; neither
    // for a group that only answers.
    void (*cycle)();
    unsigned firstDelay;
    unsigned period;
    void *(*thread)(void *);
    // After the polling threads have started: what it reads once (null: none).
    void (*start)();
    GroupLock locks[3];                 // up to three; unused ones have a null id
    // Its row of the group table (vlmGroupIndex; 0: none) and how its
    // readings are judged there (lib/groupHealth.h).
    int healthRow;
    int confirmReadings;
    double silenceLimit;
};

// Every group the agent is built with, in registration order.
struct GroupList {
    const GroupDescriptor *const *begin() const;
    const GroupDescriptor *const *end() const;
};
GroupList agentGroups();

// Starts the group table with a row for each group the agent runs (the
// Wi-Fi and mobile broadband groups only with `wireless`), in the order of
// their rows.
void startGroupHealth(bool wireless);
