// SPDX-License-Identifier: BSD-3-Clause
// Main memory size and usage from /proc/meminfo, and the memory thread's
// cycle: reading, store, notification check.
#include "groups/memory/memoryProbe.h"

#include "groups/memory/memoryTrap.h"
#include "semaphore.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const char meminfoPath[] = "/proc/meminfo";

// Figures are capped so that a hundred times any of them, and the total less
// the four others, still fit in 64 bits whatever the file says.
constexpr int64_t figureCap = INT64_MAX / 100;

// The decimal number after the label, blanks skipped; 0 without digits.
int64_t figureAfter(std::string_view line, size_t labelLength)
{
    size_t i = labelLength;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        i++;
    int64_t value = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; i++) {
        value = value * 10 + (line[i] - '0');
        if (value >= figureCap)
            return figureCap;
    }
    return value;
}

// The whole file; /proc files are read until EOF, at most 64 KiB of them.
// False (errno set) when it cannot be opened or read.
bool readWholeFile(const char *path, std::string &text)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            errno = err;
            return false;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() >= 65536)
            break;
    }
    close(fd);
    return true;
}

} // namespace

memInfo parseMeminfo(std::string_view text, const memInfo &current)
{
    static const std::string_view labels[5] = {"MemTotal:", "MemFree:", "Buffers:", "Cached:", "Slab:"};
    int64_t figures[5] = {};   // total, free, buffers, cached, slab

    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // The first label found in the line decides; it counts only at the
        // line's start, so "SwapCached:" never passes for "Cached:".
        for (int i = 0; i < 5; i++) {
            if (line.find(labels[i]) == std::string_view::npos)
                continue;
            if (line.compare(0, labels[i].size(), labels[i]) == 0)
                figures[i] = figureAfter(line, labels[i].size());
            break;
        }
    }

    const int64_t total = figures[0];
    int64_t percent = 0;
    if (total > 0) {
        // Free and caches above the total (figures that do not add up) are
        // no usage at all.
        int64_t used = total - figures[1] - figures[2] - figures[3] - figures[4];
        percent = used > 0 ? used * 100 / total : 0;
    }

    memInfo out = current;
    out.memTotal = static_cast<int32_t>(total > INT32_MAX ? INT32_MAX : total);
    out.memUsedPercentage = static_cast<int32_t>(percent);
    return out;
}

memInfo getMemoryInfo(const memInfo &current, GroupReading &reading)
{
    std::string text;
    if (!readWholeFile(meminfoPath, text)) {
        reading.openFailed(meminfoPath, errno);
        memInfo out = current;
        out.memTotal = 0;
        out.memUsedPercentage = 0;
        return out;
    }
    memInfo out = parseMeminfo(text, current);
    if (out.memTotal == 0)
        reading.fail(std::string(meminfoPath) + ": no MemTotal");
    return out;
}

void memoryInfoCycle()
{
    GroupReading reading;
    {
        SemHold hold(sem_memory_id);
        Global_memInfoVal = getMemoryInfo(Global_memInfoVal, reading);
    }
    noteGroupReading(MEMORY_HEALTH_ROW, reading);
    send_memory_trap();
}
