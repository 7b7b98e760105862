// SPDX-License-Identifier: BSD-3-Clause
// The storage thread's df pass: "df -m" run with a time limit, its lines
// parsed, then the storage and NVRAM tables rebuilt under their semaphores.
#include "groups/storage/storageProbe.h"

#include "lib/command.h"
#include "lib/groupHealth.h"
#include "groups/storage/storageObj.h"
#include "groups/storage/storageTrap.h"
#include "groups/nvram/nvramObj.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char dfCommand[] = "df -m -l";
// df stuck on a file system that does not answer is killed after this many
// seconds.
constexpr double dfTimeLimit = 3.0;

const std::string_view nvramPrefix = "/dev/vlmnvram";

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            i++;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            i++;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

int32_t clampToInt32(double value)
{
    if (std::isnan(value))
        return 0;
    value = std::trunc(value);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// The size text's number, in the unit its letter names, and the factor to
// MB and to kB of that unit.
int32_t translateSize(std::string_view text, double perK, double perM, double perG, double plain)
{
    double factor = plain;
    if (text.find('K') != std::string_view::npos)
        factor = perK;
    else if (text.find('M') != std::string_view::npos)
        factor = perM;
    else if (text.find('G') != std::string_view::npos)
        factor = perG;
    if (factor != plain && !text.empty())
        text.remove_suffix(1);
    return clampToInt32(atof(std::string(text).c_str()) * factor);
}

int32_t usePercentage(std::string_view use)
{
    if (use.size() < 2 || use.size() > 4)
        return 0;
    return static_cast<int32_t>(atoi(std::string(use.substr(0, use.size() - 1)).c_str()));
}

} // namespace

int32_t storageTranslate_MSize(std::string_view text)
{
    return translateSize(text, 1.0 / 1024, 1, 1024, 1);
}

int32_t storageTranslate_KSize(std::string_view text)
{
    return translateSize(text, 1, 1024, 1024.0 * 1024, 1);
}

dfReport parseDfOutput(std::string_view text)
{
    dfReport report;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.compare(0, 4, "/dev") != 0)
            continue;
        std::vector<std::string_view> f = fields(line);
        if (line.compare(0, nvramPrefix.size(), nvramPrefix) == 0) {
            if (f.size() >= 4)
                report.nvram.push_back(
                    {std::string(f[0]), storageTranslate_KSize(f[1]), storageTranslate_KSize(f[3])});
        } else if (f.size() >= 5) {
            report.storage.push_back({std::string(f[0]), storageTranslate_MSize(f[1]), usePercentage(f[4])});
        }
    }
    return report;
}

int judgeUsageSeverity(const storageInfo &t, long currentPercent)
{
    const int32_t th[4] = {t.siUsageTh1, t.siUsageTh2, t.siUsageTh3, t.siUsageTh4};
    for (int i = 3; i >= 0; i--)
        if (th[i] != -1 && currentPercent > th[i])
            return i + 2;
    return 1;
}

int judgeUsageSeverity(long currentPercent)
{
    return judgeUsageSeverity(Global_storageInfoVal, currentPercent);
}

void applyStorageReport(const dfReport &report)
{
    StorageLock storageHold;
    storageInfo &si = Global_storageInfoVal;
    std::vector<storageCombination> &devices = Global_storageCombinations;

    for (storageCombination &c : devices)
        c.existFlag = 0;
    std::vector<int32_t> severity;
    for (const dfStorageLine &line : report.storage) {
        severity.push_back(judgeUsageSeverity(line.storageUsedPercentage));
        // A device is known by its whole path, however long.
        auto found = std::find_if(devices.begin(), devices.end(),
                                  [&](const storageCombination &c) { return c.storageDescr == line.storageDescr; });
        if (found == devices.end()) {
            storageCombination fresh{};
            fresh.storageDescr = line.storageDescr;
            fresh.tmpstorageTrapState = si.trapEnable;
            devices.push_back(fresh);
            found = devices.end() - 1;
        }
        storageCombination &c = *found;
        c.storageUsedPercentage = line.storageUsedPercentage;
        c.storageUsageSeverity = severity.back();
        c.siUsageTh1 = si.siUsageTh1;
        c.siUsageTh2 = si.siUsageTh2;
        c.siUsageTh3 = si.siUsageTh3;
        c.siUsageTh4 = si.siUsageTh4;
        c.storageTrapState = si.trapEnable;
        c.existFlag = 1;
        send_storage_trap(c);
    }
    // A device that is gone loses its state, without a notification.
    devices.erase(std::remove_if(devices.begin(), devices.end(),
                                 [](const storageCombination &c) { return c.existFlag == 0; }),
                  devices.end());

    // Row k is the k-th storage line; made from the last so that the list
    // runs in index order.
    while (Global_storageTable_head)
        storageTable_removeEntry(Global_storageTable_head);
    int32_t rows = 0;
    for (size_t k = report.storage.size(); k-- > 0;) {
        const dfStorageLine &line = report.storage[k];
        if (storageTable_createEntry(static_cast<long>(k + 1), line.storageDescr.c_str(), line.storageSize,
                                     line.storageUsedPercentage, severity[k]))
            rows++;
    }
    si.siNumber = rows;

    publishNvramDisks(report.nvram);
}

int getStorageInfo()
{
    // Without any semaphore: a df stuck on a dead mount must not hold the
    // tables while it waits for its time limit. Only local file systems
    // are asked for (-l): df then never stats a network mount, so a dead
    // NFS or CIFS server cannot make every pass time out, and only /dev
    // file systems are reported anyway.
    CommandResult r = runCommand(dfCommand, dfTimeLimit);
    GroupReading storage, nvram;
    int applied = 0;
    if (!r.started)
        fprintf(stderr, "Erro to popen\n");
    dfReport report;
    if (r.started && !r.timedOut)
        report = parseDfOutput(r.output);
    const bool listed = !report.storage.empty() || !report.nvram.empty();
    // df fails on any file system it cannot read and lists the others: the
    // reading lacks something of ours only when a device it names is ours
    // (a /dev path), or when it listed nothing at all.
    const bool ours = r.errorOutput.find("/dev/") != std::string::npos;
    if (!r.succeeded() && (!listed || ours)) {
        storage.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                    commandFailure(dfCommand, r, dfTimeLimit));
        nvram = storage;
    }
    // A df that failed and listed nothing could not read the mount table:
    // that is no reason to empty the tables. One that listed some file
    // systems but failed on another still gives the ones it listed.
    if (r.started && !r.timedOut && (r.status == 0 || listed)) {
        applyStorageReport(report);
        applied = 1;
        if (report.nvram.empty() && nvram.ok())
            nvram.absent("no NVRAM disk (/dev/vlmnvram*) mounted");
    }
    noteGroupReading(STORAGE_HEALTH_ROW, storage);
    noteGroupReading(NVRAM_HEALTH_ROW, nvram);
    return applied;
}

void storageInfoCycle()
{
    getStorageInfo();
}
