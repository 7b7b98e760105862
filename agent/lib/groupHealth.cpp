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

constexpr unsigned groupStatusChangeTrap = 106;

// vlmGroupEntry and the columns the notification carries.
const oid groupEntryOid[] = {VLM_ENTERPRISE, 100, 3, 1, 1};
constexpr oid COLUMN_NAME = 2, COLUMN_STATUS = 3, COLUMN_LAST_ERROR = 6;

// The records are written by every polling thread and read by the main
// thread; this lock is taken alone, never around another.
std::mutex healthLock;
std::vector<GroupHealthRow> rows;
std::vector<groupHealth> records;

void noteReading(int row, const GroupReading &reading, int confirm, double monotonicNow);

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

void queueStatusChange(int index, const char *group, GroupStatus status, const std::string &lastError)
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
    VarbindList vars;
    vars.addNotificationOid(groupStatusChangeTrap);
    vars.addOctets(name(COLUMN_NAME), len, group, strlen(group));
    vars.addInteger(name(COLUMN_STATUS), len, static_cast<long>(status));
    vars.addOctets(name(COLUMN_LAST_ERROR), len, lastError.data(), lastError.size());
    queueNotification(vars);
}

} // namespace

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

void initGroupHealth(const std::vector<GroupHealthRow> &groupRows)
{
    const double now = monotonicSeconds();
    std::lock_guard<std::mutex> hold(healthLock);
    rows = groupRows;
    records.assign(rows.size(), groupHealth{});
    for (groupHealth &h : records)
        h.notedAt = now;   // a thread that never reads is silent from here
}

double monotonicSeconds()
{
    struct timespec ts = {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void checkGroupsStillReading(double now)
{
    for (size_t i = 0;; i++) {
        double notedAt, limit;
        {
            std::lock_guard<std::mutex> hold(healthLock);
            if (i >= rows.size())
                break;
            notedAt = records[i].notedAt;
            limit = rows[i].silenceLimit;
        }
        if (limit <= 0 || now - notedAt <= limit)
            continue;
        GroupReading silent;
        silent.fail("no reading for " + std::to_string(static_cast<long>(now - notedAt)) + " s");
        noteReading(static_cast<int>(i) + 1, silent, 1, now);
    }
}

int groupHealthRows()
{
    std::lock_guard<std::mutex> hold(healthLock);
    return static_cast<int>(rows.size());
}

void noteGroupReading(int row, const GroupReading &reading)
{
    int confirm;
    {
        std::lock_guard<std::mutex> hold(healthLock);
        if (row < 1 || row > static_cast<int>(rows.size()))
            return;
        confirm = rows[row - 1].confirmReadings;
    }
    noteReading(row, reading, confirm, monotonicSeconds());
}

namespace {

void noteReading(int row, const GroupReading &reading, int confirm, double monotonicNow)
{
    const int i = row - 1;
    GroupChange change;
    std::string lastError;
    const char *name;
    {
        std::lock_guard<std::mutex> hold(healthLock);
        if (i < 0 || i >= static_cast<int>(rows.size()))
            return;
        name = rows[i].name;
        change = judgeGroupReading(records[i], reading, time(nullptr), confirm);
        records[i].notedAt = monotonicNow;
        lastError = std::string(fieldText(records[i].lastError));
    }
    if (change.log) {
        if (reading.ok())
            fprintf(stderr, "group %s ok again (was %s)\n", name, statusWord(change.from));
        else
            fprintf(stderr, "group %s %s: %s\n", name, statusWord(reading.status),
                    printableCause(reading.cause).c_str());
    }
    if (change.notify)
        queueStatusChange(row, name, reading.status, lastError);
}

} // namespace

bool groupHealthRecord(long index, groupHealth &out)
{
    std::lock_guard<std::mutex> hold(healthLock);
    if (index < 1 || index > static_cast<long>(rows.size()))
        return false;
    out = records[index - 1];
    return true;
}

std::string groupHealthName(long index)
{
    std::lock_guard<std::mutex> hold(healthLock);
    if (index < 1 || index > static_cast<long>(rows.size()))
        return std::string();
    return rows[index - 1].name;
}
