// SPDX-License-Identifier: BSD-3-Clause
// CPU group: /proc/stat samples, the load between two of them, the clock
// means and which processors the frequency library knows.
#include "groups/cpu/cpuProbe.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// The load between two /proc/stat texts; -1 when either cannot be parsed.
int loadBetween(const std::string &first, const std::string &second)
{
    CpuTicks a{}, b{};
    if (!parseCpuStatLine(first, a) || !parseCpuStatLine(second, b))
        return -1;
    return cpuLoadPercent(a, b);
}

// The aggregate line as the kernel writes it: user nice system idle iowait
// irq softirq steal guest guest_nice, then the per-processor lines.
std::string stat(long user, long nice, long system, long idle, long iowait = 0)
{
    return "cpu  " + std::to_string(user) + " " + std::to_string(nice) + " " + std::to_string(system) + " " +
           std::to_string(idle) + " " + std::to_string(iowait) + " 0 34 0 0 0\n"
           "cpu0 2352 75 560 8125 260 0 17 0 0 0\nintr 123456 0 0\nctxt 987654\n";
}

CpuSpeeds means(std::vector<CpuFreqReading> readings)
{
    return cpuSpeedMeans(readings);
}

} // namespace

// -- /proc/stat ------------------------------------------------------------------

TEST(CpuStat, AggregateLineGivesTheFirstFourCounters)
{
    // Faults: a per-processor line or another first line taken for the
    // aggregate; iowait or a later column counted as a fifth counter; a
    // line with fewer than four counters accepted with made-up zeros.
    CpuTicks t{};
    ASSERT_TRUE(parseCpuStatLine(stat(4705, 150, 1120, 16250, 520), t));
    EXPECT_EQ(t.user, 4705);
    EXPECT_EQ(t.nice, 150);
    EXPECT_EQ(t.system, 1120);
    EXPECT_EQ(t.idle, 16250);
    EXPECT_TRUE(parseCpuStatLine("cpu\t1 2 3 4", t));
    EXPECT_EQ(t.idle, 4);

    EXPECT_FALSE(parseCpuStatLine("cpu0 1 2 3 4\n", t));
    EXPECT_FALSE(parseCpuStatLine("intr 1 2 3 4\ncpu  1 2 3 4\n", t));
    EXPECT_FALSE(parseCpuStatLine("cpu  1 2 3\ncpu0 4 5 6 7\n", t));
    EXPECT_FALSE(parseCpuStatLine("cpu  1 2 x 4\n", t));
    EXPECT_FALSE(parseCpuStatLine("", t));
}

TEST(CpuStat, LoadIsTheBusyShareCutToWholePercent)
{
    // Faults: idle and busy swapped; rounding instead of cutting (2 of 3
    // ticks must give 66, not 67); iowait changes counted as busy; the
    // absolute counters used instead of their change over the interval.
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800), stat(100, 0, 100, 900)), 0);
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800), stat(160, 10, 130, 800)), 100);
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800), stat(101, 0, 101, 801)), 66);
    EXPECT_EQ(loadBetween(stat(100, 5, 100, 800), stat(101, 6, 100, 802)), 50);
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800, 0), stat(100, 0, 100, 900, 500)), 0);
}

TEST(CpuStat, CountersThatDidNotMoveOrWentBackGiveZero)
{
    // Faults: a division by zero when nothing moved between the readings (a
    // frozen or rewritten file); a negative or above-100 load when counters
    // go back or idle falls while the total rises; absurd counters
    // overflowing the arithmetic.
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800), stat(100, 0, 100, 800)), 0);
    EXPECT_EQ(loadBetween(stat(500, 0, 500, 8000), stat(100, 0, 100, 800)), 0);
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 800), stat(200, 0, 200, 700)), 100);
    EXPECT_EQ(loadBetween(stat(100, 0, 100, 900), stat(300, 0, 100, 850)), 100);
    const std::string absurd = "cpu  99999999999999999999999 0 0 99999999999999999999999\n";
    EXPECT_EQ(loadBetween(absurd, absurd), 0);
    int load = loadBetween("cpu  0 0 0 0\n", absurd);
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
}

// -- clocks ------------------------------------------------------------------------

TEST(CpuSpeed, MeansCutEachProcessorToWholeMegahertz)
{
    // Faults: kHz not turned into MHz; rounding (1 999 999 kHz is 1999 MHz);
    // the sum taken in kHz before the division, or the mean rounded; the
    // maximum averaged with the current clock.
    EXPECT_EQ(means({{1000000, 2000000}, {1500000, 2000000}}).cur, 1250);
    EXPECT_EQ(means({{1000000, 2000000}, {1000001, 2000000}}).cur, 1000);
    EXPECT_EQ(means({{1999999, 2400000}}).cur, 1999);
    CpuSpeeds s = means({{1000999, 2400999}, {1001999, 2401999}});
    EXPECT_EQ(s.cur, 1000);
    EXPECT_EQ(s.max, 2400);
}

TEST(CpuSpeed, NoProcessorOrUnreadableLimitsNeverDivideByZero)
{
    // Faults: a division by zero when the frequency library knows no
    // processor; a processor whose limits cannot be read left out of the
    // count instead of counting with a maximum of 0; a huge clock served
    // negative.
    CpuSpeeds none = means({});
    EXPECT_EQ(none.cur, 0);
    EXPECT_EQ(none.max, 0);
    CpuSpeeds oneUnread = means({{1200000, 0}, {1200000, 2000000}});
    EXPECT_EQ(oneUnread.cur, 1200);
    EXPECT_EQ(oneUnread.max, 1000);
    EXPECT_EQ(means({{~0UL, ~0UL}}).max, INT32_MAX);
}

TEST(CpuSpeed, AProcessorCountsWhenItsCpufreqDirectoryExists)
{
    // Faults: the processor's own directory taken for its cpufreq
    // directory; a plain file named cpufreq taken for one; the number put
    // into the wrong place of the path.
    char tmpl[] = "/tmp/vlmcpuXXXXXX";
    const std::string root = mkdtemp(tmpl);
    ASSERT_EQ(mkdir((root + "/cpu0").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/cpu0/cpufreq").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/cpu1").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/cpu2").c_str(), 0755), 0);
    std::ofstream(root + "/cpu2/cpufreq") << "not a directory\n";
    ASSERT_EQ(mkdir((root + "/cpu12").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "/cpu12/cpufreq").c_str(), 0755), 0);

    EXPECT_EQ(cpufreqDirExists(root.c_str(), 0), 0);
    EXPECT_NE(cpufreqDirExists(root.c_str(), 1), 0);
    EXPECT_NE(cpufreqDirExists(root.c_str(), 2), 0);
    EXPECT_NE(cpufreqDirExists(root.c_str(), 3), 0);
    EXPECT_EQ(cpufreqDirExists(root.c_str(), 12), 0);

    const std::string cmd = "rm -rf '" + root + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
}
