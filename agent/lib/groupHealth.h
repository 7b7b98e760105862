/* SPDX-License-Identifier: BSD-3-Clause */
// The agent's own health: whether each of its groups is reading. A manager
// must tell "no alarm because all is well" from "no alarm because the group
// stopped reading"; each polling cycle therefore notes the outcome of its
// reading here. A change of a group's status is logged once (one line when
// it starts failing, one when it recovers, never one per cycle) and, after
// the group's first reading, announced by notification 106.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A group's row of the group table, as the group's descriptor gives it: its
// vlmGroupIndex is its position in the rows handed to initGroupHealth, from 1.
struct GroupHealthRow {
    const char *name;       // vlmGroupName: "system", "sensors" ...
    // How many incomplete readings in a row change its status: 3 for the
    // groups read every second, 2 for the power supply (whose failed reads
    // are spaced out), 1 for the others, whose single reading already covers
    // seconds or minutes.
    int confirmReadings;
    // How long a group that reads on a period may go without noting a
    // reading before it counts as failing (its thread stuck, say on a tool
    // that cannot be killed, or never started), in seconds: several of its
    // longest cycles. 0 for the groups read at start-up or on events.
    double silenceLimit;
};

// vlmGroupStatus.
enum class GroupStatus : long {
    Ok = 1,        // the last reading was complete
    Failing = 2,   // what the group reads is there, but reading it failed or timed out
    Absent = 3,    // what the group reads is not there: no device node, no
                   // chip of ours, a command not installed, no disk
};

// The outcome of one reading, built up as its parts are read: a failing
// part outweighs an absent one; the causes are kept in the order found.
struct GroupReading {
    GroupStatus status = GroupStatus::Ok;
    std::string cause;   // what failed and how; empty when ok

    void add(GroupStatus partStatus, const std::string &partCause);
    void fail(const std::string &why) { add(GroupStatus::Failing, why); }
    void absent(const std::string &why) { add(GroupStatus::Absent, why); }
    // A file or device node that could not be opened: absent when it is
    // not there (deviceMissing), failing otherwise; "PATH: strerror".
    void openFailed(const std::string &path, int err);
    bool ok() const { return status == GroupStatus::Ok; }
};

// An open error that means the file or device node is not there (no such
// file, no driver behind the node), not that it failed.
bool deviceMissing(int err);

// What the table serves of one group.
constexpr size_t GROUP_ERROR_MAX = 127;   // octets of vlmGroupLastError
struct groupHealth {
    GroupStatus status = GroupStatus::Ok;
    bool read = false;                          // a status has been decided
    int streak = 0;                             // incomplete readings in a row
    double notedAt = 0;                         // monotonic seconds of the last note
    time_t lastGood = 0;                        // the last complete reading; 0: none yet
    uint32_t failures = 0;                      // readings that failed since start (wraps)
    char lastError[GROUP_ERROR_MAX + 1] = {};   // printable ASCII, the last failure's cause
};

// What a noted reading calls for.
struct GroupChange {
    bool log = false;      // the status changed, or the first status decided is not ok
    bool notify = false;   // the status changed after the first status decided
    GroupStatus from = GroupStatus::Ok;
};

// The rule, pure: applies one reading taken at `now` to the record. A
// complete reading makes the group ok at once; incomplete ones change its
// status once `confirm` of them come in a row (the status of the last one),
// so that a reading that fails once in a while sends no pair of
// notifications. Every incomplete reading is counted and its cause kept.
GroupChange judgeGroupReading(groupHealth &health, const GroupReading &reading, time_t now, int confirm = 1);


// The cause as the table keeps it: control characters and octets outside
// ASCII made printable, cut to GROUP_ERROR_MAX octets.
std::string printableCause(const std::string &cause);

// Starts the record of every group the agent runs, one row each, in the
// order of vlmGroupIndex. Called at start-up before any reading is noted.
void initGroupHealth(const std::vector<GroupHealthRow> &rows);
// The number of rows: the groups the agent runs.
int groupHealthRows();

// Notes one reading of the group of row `row` (its vlmGroupIndex): updates
// its record, logs a change of status on standard error and queues
// notification 106 for it. A row the agent does not run is ignored. Safe on
// any thread.
void noteGroupReading(int row, const GroupReading &reading);

// Main thread, every few seconds: a running group that has noted nothing
// for longer than its limit gets a failing reading ("no reading for N s"),
// and another each further limit while it stays silent.
void checkGroupsStillReading(double monotonicNow);

// Monotonic seconds, the clock the silence is measured on.
double monotonicSeconds();

// A copy of a group's record (index 1 .. groupHealthRows()); false for an
// index outside the rows. Safe on any thread.
bool groupHealthRecord(long index, groupHealth &out);
// The group's name (vlmGroupName), empty for an index outside the rows.
std::string groupHealthName(long index);
