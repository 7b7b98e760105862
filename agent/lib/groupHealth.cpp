// SPDX-License-Identifier: BSD-3-Clause
// The records of the agent's group health, the rule that moves them, and
// the log line and notification a change of status calls for.
#include "lib/groupHealth.h"

#include "lib/fieldCopy.h"
#include "lib/trapList.h"
#include "mibFrame.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

const char *const names[GROUP_COUNT] = {
    "system", "trapServers", "sensors", "cpu",   "memory",   "storage", "nvram",
    "power",  "hotplug",     "disks",   "watchdog", "wlan", "mobile",
};

constexpr unsigned groupStatusChangeTrap = 106;

// vlmGroupEntry and the columns the notification carries.
const oid groupEntryOid[] = {VLM_ENTERPRISE, 100, 3, 1, 1};
constexpr oid COLUMN_NAME = 2, COLUMN_STATUS = 3, COLUMN_LAST_ERROR = 6;

// The records are written by every polling thread and read by the main
// thread; this lock is taken alone, never around another.
std::mutex healthLock;
groupHealth records[GROUP_COUNT];
int rows = STANDARD_GROUP_COUNT;

void noteReading(GroupId id, const GroupReading &reading, int confirm, double monotonicNow);

const char *statusWord(GroupStatus s)
{
    switch (s) {
    case GroupStatus::Ok:
        return "ok";
    case GroupStatus::Failing:
        return "failing";
    default:
        return "absent";
    }
}

void queueStatusChange(int index, GroupStatus status, const std::string &lastError)
{
    // vlmGroupEntry.COLUMN.INDEX
    constexpr size_t len = OID_LENGTH(groupEntryOid) + 2;
    oid column[len];
    memcpy(column, groupEntryOid, sizeof groupEntryOid);
    column[len - 1] = static_cast<oid>(index);
    auto name = [&column](oid c) {
        column[len - 2] = c;
        return column;
    };
    const char *group = names[index - 1];
    VarbindList vars;
    vars.addNotificationOid(groupStatusChangeTrap);
    vars.addOctets(name(COLUMN_NAME), len, group, strlen(group));
    vars.addInteger(name(COLUMN_STATUS), len, static_cast<long>(status));
    vars.addOctets(name(COLUMN_LAST_ERROR), len, lastError.data(), lastError.size());
    queueNotification(vars);
}

} // namespace

const char *groupName(GroupId id)
{
    return names[static_cast<int>(id)];
}

void GroupReading::add(GroupStatus partStatus, const std::string &partCause)
{
    if (partStatus == GroupStatus::Ok)
        return;
    if (status != GroupStatus::Failing)
        status = partStatus;
    if (!partCause.empty())
        cause += (cause.empty() ? "" : "; ") + partCause;
}

void GroupReading::openFailed(const std::string &path, int err)
{
    add(deviceMissing(err) ? GroupStatus::Absent : GroupStatus::Failing, path + ": " + strerror(err));
}

bool deviceMissing(int err)
{
    return err == ENOENT || err == ENODEV || err == ENXIO;
}

std::string printableCause(const std::string &cause)
{
    std::string out = cause.substr(0, GROUP_ERROR_MAX);
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = ' ';
        else if (u > 0x7f)
            c = '?';
    }
    return out;
}

GroupChange judgeGroupReading(groupHealth &h, const GroupReading &reading, time_t now, int confirm)
{
    GroupChange change;
    change.from = h.status;
    const bool first = !h.read;
    if (reading.ok()) {
        h.streak = 0;
        h.lastGood = now;
        change.log = change.notify = !first && h.status != GroupStatus::Ok;
        h.read = true;
        h.status = GroupStatus::Ok;
        return change;
    }
    h.failures++;
    setFieldText(h.lastError, printableCause(reading.cause));
    if (++h.streak < confirm)
        return change;
    change.log = first || h.status != reading.status;
    change.notify = !first && h.status != reading.status;
    h.read = true;
    h.status = reading.status;
    return change;
}

int groupConfirmReadings(GroupId id)
{
    switch (id) {
    case GroupId::Sensors:
    case GroupId::Cpu:
    case GroupId::Memory:
        return 3;
    case GroupId::Power:
        return 2;
    default:
        return 1;
    }
}

void initGroupHealth(bool wireless)
{
    const double now = monotonicSeconds();
    std::lock_guard<std::mutex> hold(healthLock);
    for (groupHealth &h : records) {
        h = groupHealth{};
        h.notedAt = now;   // a thread that never reads is silent from here
    }
    rows = wireless ? GROUP_COUNT : STANDARD_GROUP_COUNT;
}

double monotonicSeconds()
{
    struct timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double groupSilenceLimit(GroupId id)
{
    switch (id) {
    case GroupId::Sensors:
    case GroupId::Cpu:
    case GroupId::Memory:
        return 15;    // a cycle of about a second
    case GroupId::Storage:
    case GroupId::Nvram:
    case GroupId::Watchdog:
        return 30;    // 5 s and a command of at most 3 s
    case GroupId::Wlan:
    case GroupId::Mobile:
        return 120;   // 3 s, nmcli runs of 5 s, AT commands of 3 s per modem
    case GroupId::Power:
        return 100;   // 1 s, or 30 s between failed reads
    case GroupId::Disks:
        return 900;   // 120 s, the scan and fdisk 10 s each, 30 s per disk
    default:
        return 0;     // read at start-up or at device events
    }
}

void checkGroupsStillReading(double now)
{
    for (int i = 0; i < GROUP_COUNT; i++) {
        const GroupId id = static_cast<GroupId>(i);
        const double limit = groupSilenceLimit(id);
        double notedAt;
        {
            std::lock_guard<std::mutex> hold(healthLock);
            if (i >= rows)
                break;
            notedAt = records[i].notedAt;
        }
        if (limit <= 0 || now - notedAt <= limit)
            continue;
        GroupReading silent;
        silent.fail("no reading for " + std::to_string(static_cast<long>(now - notedAt)) + " s");
        noteReading(id, silent, 1, now);
    }
}

int groupHealthRows()
{
    std::lock_guard<std::mutex> hold(healthLock);
    return rows;
}

void noteGroupReading(GroupId id, const GroupReading &reading)
{
    noteReading(id, reading, groupConfirmReadings(id), monotonicSeconds());
}

namespace {

void noteReading(GroupId id, const GroupReading &reading, int confirm, double monotonicNow)
{
    const int i = static_cast<int>(id);
    GroupChange change;
    std::string lastError;
    {
        std::lock_guard<std::mutex> hold(healthLock);
        change = judgeGroupReading(records[i], reading, time(nullptr), confirm);
        records[i].notedAt = monotonicNow;
        lastError = std::string(fieldText(records[i].lastError));
    }
    if (change.log) {
        if (reading.ok())
            fprintf(stderr, "group %s ok again (was %s)\n", names[i], statusWord(change.from));
        else
            fprintf(stderr, "group %s %s: %s\n", names[i], statusWord(reading.status),
                    printableCause(reading.cause).c_str());
    }
    if (change.notify)
        queueStatusChange(i + 1, reading.status, lastError);
}

} // namespace

bool groupHealthRecord(long index, groupHealth &out)
{
    std::lock_guard<std::mutex> hold(healthLock);
    if (index < 1 || index > rows)
        return false;
    out = records[index - 1];
    return true;
}
