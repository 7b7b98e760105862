// SPDX-License-Identifier: BSD-3-Clause
// Processor load from /proc/stat and processor clocks from libcpupower, and
// the CPU thread's cycle: sample outside the semaphore, store under it.
#include "groups/cpu/cpuProbe.h"

#include "semaphore.h"

#include <cpufreq.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace {

const char procStatPath[] = "/proc/stat";
const char cpuSysfsRoot[] = "/sys/devices/system/cpu";

// A counter larger than this is taken as this: four of them, times 100, still
// fit in 64 bits whatever the file says.
constexpr int64_t tickCap = INT64_MAX / 512;

// The next blank-separated decimal number of `text` from `pos`; false when
// there is none.
bool nextCounter(std::string_view text, size_t &pos, int64_t &value)
{
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        pos++;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
        return false;
    value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; pos++) {
        if (value < tickCap)
            value = value * 10 + (text[pos] - '0');
    }
    if (value > tickCap)
        value = tickCap;
    return true;
}

// The first line of the open file, at most 255 characters, parsed.
bool readStatLine(FILE *f, CpuTicks &ticks)
{
    char line[256] = {};
    if (!fgets(line, sizeof line, f))
        return false;
    return parseCpuStatLine(line, ticks);
}

// What each processor's maximum was when it was last reported; the report
// goes to standard output once per processor and again when it changes, not
// every second.
std::vector<unsigned long> reportedMax;

void reportMax(unsigned int cpu, unsigned long maxKHz)
{
    if (cpu >= reportedMax.size())
        reportedMax.resize(cpu + 1, ~0UL);
    if (reportedMax[cpu] != maxKHz) {
        reportedMax[cpu] = maxKHz;
        printf("%ld cpu max\n", static_cast<long>(maxKHz));
    }
}

} // namespace

bool parseCpuStatLine(std::string_view text, CpuTicks &out)
{
    text = text.substr(0, text.find('\n'));
    const std::string_view label = "cpu";
    if (text.compare(0, label.size(), label) != 0 || text.size() <= label.size() ||
        (text[label.size()] != ' ' && text[label.size()] != '\t'))
        return false;
    size_t pos = label.size();
    CpuTicks read{};
    for (int64_t *field : {&read.user, &read.nice, &read.system, &read.idle}) {
        if (!nextCounter(text, pos, *field))
            return false;
    }
    out = read;
    return true;
}

int32_t cpuLoadPercent(const CpuTicks &first, const CpuTicks &second)
{
    const int64_t total1 = first.user + first.nice + first.system + first.idle;
    const int64_t total2 = second.user + second.nice + second.system + second.idle;
    const int64_t total = total2 - total1;
    if (total <= 0)
        return 0;
    int64_t busy = total - (second.idle - first.idle);
    if (busy < 0)
        busy = 0;
    if (busy > total)
        busy = total;
    return static_cast<int32_t>(busy * 100 / total);
}

CpuSpeeds cpuSpeedMeans(const std::vector<CpuFreqReading> &readings)
{
    if (readings.empty())
        return {0, 0};
    uint64_t cur = 0, max = 0;
    for (const CpuFreqReading &r : readings) {
        cur += r.curKHz / 1000;
        max += r.maxKHz / 1000;
    }
    const uint64_t n = readings.size();
    auto clamp = [](uint64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); };
    return {clamp(cur / n), clamp(max / n)};
}

int cpufreqDirExists(const char *cpuRoot, unsigned int cpu)
{
    char path[256];
    snprintf(path, sizeof path, "%s/cpu%u/cpufreq", cpuRoot, cpu);
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

int cpufreq_cpu_exists(unsigned int cpu)
{
    return cpufreqDirExists(cpuSysfsRoot, cpu);
}

cpuInfo getCpuInfo(GroupReading &reading)
{
    const cpuInfo failure{};
    cpuInfo out{};

    FILE *f = fopen(procStatPath, "re");
    if (!f) {
        reading.openFailed(procStatPath, errno);
        sleep(1);   // the sampling interval all the same: the thread must not spin
        return failure;
    }
    CpuTicks first{}, second{};
    bool ok = readStatLine(f, first);
    rewind(f);
    sleep(1);
    ok = ok && readStatLine(f, second);
    fclose(f);
    if (!ok) {
        reading.fail(std::string(procStatPath) + ": no aggregate cpu line");
        return failure;
    }
    out.cpuLoading = cpuLoadPercent(first, second);

    std::vector<CpuFreqReading> readings;
    const int nprocs = get_nprocs();
    for (int i = 0; i < nprocs; i++) {
        const auto cpu = static_cast<unsigned int>(i);
        if (cpufreq_cpu_exists(cpu) != 0)
            continue;
        unsigned long min = 0, max = 0;
        if (cpufreq_get_hardware_limits(cpu, &min, &max) != 0)
            max = 0;
        reportMax(cpu, max);
        readings.push_back({cpufreq_get_freq_kernel(cpu), max});
    }
    const CpuSpeeds speeds = cpuSpeedMeans(readings);
    out.cpuCurSpeed = speeds.cur;
    out.cpuMaxSpeed = speeds.max;
    return out;
}

void cpuInfoCycle()
{
    GroupReading reading;
    const cpuInfo sample = getCpuInfo(reading);
    noteGroupReading(CPU_HEALTH_ROW, reading);
    SemHold hold(sem_cpu_id);
    Global_cpuInfoVal.cpuLoading = sample.cpuLoading;
    Global_cpuInfoVal.cpuCurSpeed = sample.cpuCurSpeed;
    Global_cpuInfoVal.cpuMaxSpeed = sample.cpuMaxSpeed;
}
