// SPDX-License-Identifier: BSD-3-Clause
// The hard disk refresh.
#include "groups/disks/hardDiskProbe.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

CommandResult (*hddRunCommand)(const char *, double) = [](const char *command, double timeout) {
    return runCommand(command, timeout);
};
bool (*hddCommandInstalled)(const char *) = [](const char *path) { return commandInstalled(path); };
int entryHddFlag = 1;

namespace {

const char SMARTCTL[] = "/usr/local/sbin/vlm_smartctl";
constexpr double SCAN_TIME_LIMIT = 10.0;    // seconds
constexpr double DISK_TIME_LIMIT = 30.0;    // a sleeping disk spins up first
constexpr double FDISK_TIME_LIMIT = 10.0;
constexpr size_t VALUE_OFFSET = 18;
constexpr size_t NODE_MAX = 19;

const char *const identityKeys[] = {"Model Family:", "Device Model:", "Serial Number:", "Firmware Version:",
                                    "User Capacity:"};

std::string_view withoutNewline(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    return line;
}

// Splits text into lines, each with its newline (the last may have none).
template <typename Fn>
void forEachLine(std::string_view text, Fn fn)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t newline = text.find('\n', pos);
        size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        if (!fn(text.substr(pos, end - pos)))
            return;
        pos = end;
    }
}

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t pos = 0;
    while ((pos = line.find_first_not_of(" \t", pos)) != std::string_view::npos) {
        size_t end = line.find_first_of(" \t", pos);
        if (end == std::string_view::npos)
            end = line.size();
        words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

// A decimal word (an optional sign, digits) that fits 32 bits.
bool wordToInt(std::string_view word, int32_t &out)
{
    const std::string text(word);
    char *end = nullptr;
    errno = 0;
    const long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || v < INT32_MIN || v > INT32_MAX)
        return false;
    out = static_cast<int32_t>(v);
    return true;
}

// The flag column: "0x" and hexadecimal digits.
bool isHexWord(std::string_view word)
{
    if (word.size() < 3 || word[0] != '0' || (word[1] != 'x' && word[1] != 'X'))
        return false;
    for (char c : word.substr(2))
        if (!isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// A command of the refresh; false (the cause added to `reading`) when it
// could not be run or did not end in time.
bool runStep(const std::string &command, double timeout, std::string &output, GroupReading &reading)
{
    CommandResult r = hddRunCommand(command.c_str(), timeout);
    if (!r.started || r.timedOut) {
        reading.fail(commandFailure(command, r, timeout));
        return false;
    }
    output = std::move(r.output);
    return true;
}

void storeRows(const std::vector<HddDiskInfo> &disks)
{
    for (const HddDiskInfo &d : disks) {
        hdTable_createEntry(d.disk.hdIndex, d.disk.hdManufacturer, d.disk.hdModel, d.disk.hdFirmwareRevision,
                            d.disk.hdSerialNumber, d.disk.hdDriverCapactity, d.disk.hdPartitionNumber);
        for (const hdSMARTTable_entry &s : d.smart)
            hdSMARTTable_createEntry(d.disk.hdIndex, s.hdsIndex, s.hdsAttribID, s.hdsName, s.hdsValue, s.hdsWorst,
                                     s.hdsThreshold, s.hdsRAWValue);
    }
    Global_hddNumber = static_cast<int32_t>(disks.size());
}

// Later refreshes overwrite the rows the first one made; a disk or an
// attribute row it did not make is left out.
void overwriteRows(const std::vector<HddDiskInfo> &disks)
{
    for (const HddDiskInfo &d : disks) {
        hdTable_entry *row = findRowByIndex(Global_hdTable_head, static_cast<long>(d.disk.hdIndex));
        if (!row)
            continue;
        setFieldText(row->hdManufacturer, fieldText(d.disk.hdManufacturer));
        setFieldText(row->hdModel, fieldText(d.disk.hdModel));
        setFieldText(row->hdFirmwareRevision, fieldText(d.disk.hdFirmwareRevision));
        setFieldText(row->hdSerialNumber, fieldText(d.disk.hdSerialNumber));
        row->hdDriverCapactity = d.disk.hdDriverCapactity;
        row->hdPartitionNumber = d.disk.hdPartitionNumber;
        for (const hdSMARTTable_entry &s : d.smart) {
            hdSMARTTable_entry *r = hdSMARTTable_findEntry(d.disk.hdIndex, s.hdsIndex);
            if (!r)
                continue;
            r->hdsAttribID = s.hdsAttribID;
            setFieldText(r->hdsName, fieldText(s.hdsName));
            r->hdsValue = s.hdsValue;
            r->hdsWorst = s.hdsWorst;
            r->hdsThreshold = s.hdsThreshold;
            setFieldText(r->hdsRAWValue, fieldText(s.hdsRAWValue));
        }
    }
}

} // namespace

void deleteList(HddDiskInfo &lists)
{
    std::vector<hdSMARTTable_entry>().swap(lists.smart);
    lists.disk = {};
}

void hddStandardHandler(std::string_view line, size_t keyPos, const char *key, hdTable_entry &disk, int32_t num)
{
    line = withoutNewline(line);
    const std::string_view value = keyPos + VALUE_OFFSET < line.size() ? line.substr(keyPos + VALUE_OFFSET)
                                                                        : std::string_view();
    disk.hdIndex = num;
    if (!strcmp(key, "Model Family:"))
        setFieldText(disk.hdManufacturer, value);
    else if (!strcmp(key, "Device Model:"))
        setFieldText(disk.hdModel, value);
    else if (!strcmp(key, "Serial Number:"))
        setFieldText(disk.hdSerialNumber, value);
    else if (!strcmp(key, "Firmware Version:"))
        setFieldText(disk.hdFirmwareRevision, value);
    else if (!strcmp(key, "User Capacity:")) {
        disk.hdDriverCapactity = convertDiskSize(value);
        if (!disk.hdManufacturer[0])
            setFieldText(disk.hdManufacturer, "N/A");
    }
}

void getSmartInfo(std::vector<hdSMARTTable_entry> &list, int32_t tmpIndex, int32_t tmpId,
                  std::string_view tmpAttributeName, int32_t tmpValue, int32_t tmpWorst, int32_t tmpThresh,
                  std::string_view tmpRawValue)
{
    hdSMARTTable_entry e = {};
    e.hdsIndex = tmpIndex;
    e.hdsAttribID = tmpId;
    if (tmpAttributeName.find("Unknown_Attribute") != std::string_view::npos)
        setFieldText(e.hdsName, "Vendor Specific");
    else
        setFieldText(e.hdsName, tmpAttributeName);
    e.hdsValue = tmpValue;
    e.hdsWorst = tmpWorst;
    e.hdsThreshold = tmpThresh;
    setFieldText(e.hdsRAWValue, smartRawText(tmpRawValue));
    list.push_back(e);
}

int32_t convertDiskSize(std::string_view text)
{
    // The number before the first blank, its thousands separators dropped.
    std::string digits;
    for (char c : text.substr(0, text.find(' '))) {
        if (c == ',')
            continue;
        if (!isdigit(static_cast<unsigned char>(c)))
            break;
        digits += c;
    }
    if (digits.size() <= 6)
        return 0;
    digits.resize(digits.size() - 6);   // whole millions of bytes
    unsigned long long millions = 0;
    for (char c : digits) {
        millions = millions * 10 + static_cast<unsigned>(c - '0');
        if (millions > ULLONG_MAX / 1000000 / 10)
            return INT32_MAX;
    }
    const unsigned long long mib = millions * 1000000ULL / 1048576ULL;
    return mib > INT32_MAX ? INT32_MAX : static_cast<int32_t>(mib);
}

std::string smartRawText(std::string_view rawWord)
{
    unsigned long long value = 0;
    for (char c : rawWord) {
        if (!isdigit(static_cast<unsigned char>(c)))
            break;
        const unsigned long long next = value * 10 + static_cast<unsigned>(c - '0');
        if (next / 10 != value)
            break;   // more than 64 bits: keep what fits
        value = next;
    }
    char text[24];
    snprintf(text, sizeof text, "%012llX", value);
    return text;
}

HddDiskInfo parseSmartOutput(std::string_view output, int32_t num)
{
    HddDiskInfo info;
    info.disk.hdIndex = num;
    int otherLines = 0;
    forEachLine(output, [&](std::string_view line) {
        for (const char *key : identityKeys) {
            size_t pos = line.find(key);
            if (pos != std::string_view::npos) {
                hddStandardHandler(line, pos, key, info.disk, num);
                return true;
            }
        }
        if (++otherLines <= 3)
            return true;
        if (line == "\n")
            return false;   // the attribute table ends
        // ID NAME FLAG VALUE WORST THRESH TYPE UPDATED WHEN_FAILED RAW: read
        // word by word, so that a name longer than its field is cut, not
        // taken for the next column.
        std::vector<std::string_view> words = splitWords(withoutNewline(line));
        int32_t id, value, worst, thresh;
        if (words.size() >= 10 && wordToInt(words[0], id) && isHexWord(words[2]) && wordToInt(words[3], value) &&
            wordToInt(words[4], worst) && wordToInt(words[5], thresh))
            getSmartInfo(info.smart, static_cast<int32_t>(info.smart.size() + 1), id, words[1], value, worst,
                         thresh, words[9]);
        return true;
    });
    return info;
}

std::vector<std::string> parseScanNodes(std::string_view output)
{
    std::vector<std::string> nodes;
    forEachLine(output, [&](std::string_view line) {
        line = withoutNewline(line);
        size_t start = line.find_first_not_of(" \t");
        if (start != std::string_view::npos) {
            size_t end = line.find_first_of(" \t", start);
            nodes.emplace_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        }
        return true;
    });
    return nodes;
}

int32_t parsePartitionCount(std::string_view text)
{
    const std::string first(withoutNewline(text.substr(0, text.find('\n'))));
    char *end = nullptr;
    const long n = strtol(first.c_str(), &end, 10);
    if (end == first.c_str())
        return -1;
    return n > 1 ? static_cast<int32_t>(n > INT32_MAX ? INT32_MAX : n - 1) : 0;
}

bool isPlainDevicePath(std::string_view node)
{
    if (node.empty() || node.size() > NODE_MAX || node[0] != '/')
        return false;
    for (char c : node)
        if (!isalnum(static_cast<unsigned char>(c)) && c != '/' && c != '-' && c != '_')
            return false;
    return true;
}

bool getHddDiskInfo(const std::string &hardDiskNode, int32_t num, HddDiskInfo &lists, GroupReading &reading)
{
    std::string output;
    const std::string command = std::string(SMARTCTL) + " -a " + hardDiskNode;
    if (!runStep(command, DISK_TIME_LIMIT, output, reading))
        return false;
    if (output.empty()) {
        reading.fail(command + ": printed nothing");
        return false;
    }
    HddDiskInfo fresh = parseSmartOutput(output, num);
    deleteList(lists);
    lists = std::move(fresh);
    return true;
}

namespace {

// One refresh; returns early, the rows as they were, at the first command
// that fails.
void refreshDisks(GroupReading &reading)
{
    // The table is sized by the first refresh: it counts the disks, later
    // ones refresh that many.
    int limit;
    if (entryHddFlag) {
        std::string count;
        if (!runStep(std::string(SMARTCTL) + " --scan |wc -l", SCAN_TIME_LIMIT, count, reading))
            return;
        if (count.empty()) {
            reading.fail("the disk count could not be read");
            return;
        }
        limit = atoi(count.substr(0, 2).c_str());
        // Without the tool there is nothing to size the table by: the next
        // refresh looks again.
        if (limit == 0 && !hddCommandInstalled(SMARTCTL)) {
            reading.absent(std::string(SMARTCTL) + ": not installed");
            return;
        }
    } else {
        SemHold hold(sem_hdd_id);
        limit = Global_hddNumber;
    }
    if (limit > HDD_MAX_DISKS)
        limit = HDD_MAX_DISKS;

    std::string scan;
    if (!runStep(std::string(SMARTCTL) + " --scan", SCAN_TIME_LIMIT, scan, reading))
        return;

    // Every command runs before the semaphore is taken; the rows change only
    // once every disk has been read.
    std::vector<HddDiskInfo> disks;
    for (const std::string &node : parseScanNodes(scan)) {
        if (static_cast<int>(disks.size()) >= limit)
            break;
        if (!isPlainDevicePath(node)) {
            fprintf(stderr, "hard disk scan: a device node that is not a plain path was skipped\n");
            continue;
        }
        const int32_t num = static_cast<int32_t>(disks.size() + 1);
        std::string fdisk;
        if (!runStep("fdisk -l 2>/dev/null |grep '" + node + "'|wc -l", FDISK_TIME_LIMIT, fdisk, reading))
            return;
        const int32_t partitions = parsePartitionCount(fdisk);
        if (partitions < 0) {
            reading.fail("no partition count for " + node);
            return;
        }
        HddDiskInfo lists;
        if (!getHddDiskInfo(node, num, lists, reading))
            return;
        lists.disk.hdPartitionNumber = partitions;
        disks.push_back(std::move(lists));
    }
    if (disks.empty())
        reading.absent(hddCommandInstalled(SMARTCTL) ? "no disk" : std::string(SMARTCTL) + ": not installed");
    else if (!entryHddFlag && static_cast<int>(disks.size()) < limit)
        // A disk of the table is no longer listed: its row keeps what it
        // last showed, which the group must not pass off as a reading.
        reading.fail("the scan lists " + std::to_string(disks.size()) + " of the table's " + std::to_string(limit) +
                     " disks");

    SemHold hold(sem_hdd_id);
    if (entryHddFlag) {
        storeRows(disks);
        entryHddFlag = 0;
    } else {
        overwriteRows(disks);
    }
}

} // namespace

void hddInfo_handler()
{
    GroupReading reading;
    refreshDisks(reading);
    noteGroupReading(DISKS_HEALTH_ROW, reading);
}
