// SPDX-License-Identifier: BSD-3-Clause
// Memory group: /proc/meminfo parsing, threshold rules and the raise/clear
// decision.
#include "groups/memory/memoryInfoFrame.h"
#include "lib/usageThresholds.h"
#include "groups/memory/memoryProbe.h"
#include "groups/memory/memoryTrap.h"

#include <cstring>
#include "usagePrint.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <utility>

namespace {

// /proc/meminfo as the kernel writes it, with the figures of interest set.
std::string meminfo(const std::string &total, const std::string &free, const std::string &buffers,
                    const std::string &cached, const std::string &slab, const std::string &swapCached = "0")
{
    return "MemTotal:       " + total + " kB\nMemFree:        " + free + " kB\nMemAvailable:   1 kB\n"
           "Buffers:        " + buffers + " kB\nCached:         " + cached + " kB\n"
           "SwapCached:     " + swapCached + " kB\nActive:         123456 kB\n"
           "Slab:           " + slab + " kB\nHugePages_Total:       0\n";
}

int usedPercent(const std::string &text)
{
    return parseMeminfo(text, memInfo{}).memUsedPercentage;
}

memInfo recordWith(int th1, int th2, int th3, int th4, int trapState = 1)
{
    memInfo m{};
    m.memoryTh1 = th1;
    m.memoryTh2 = th2;
    m.memoryTh3 = th3;
    m.memoryTh4 = th4;
    m.memoryTrapState = trapState;
    m.memoryInfoSeverityState = 1;
    return m;
}

} // namespace

// -- /proc/meminfo -------------------------------------------------------------

TEST(Meminfo, UsedIsWhatIsNeitherFreeBuffersCacheNorSlab)
{
    // Faults: a figure left out of the sum; rounding instead of truncating;
    // thresholds, switch or severity lost when a reading replaces the record.
    memInfo current = recordWith(70, 80, 90, -1, 2);
    current.memoryInfoSeverityState = 3;
    memInfo m = parseMeminfo(meminfo("1000000", "200000", "50000", "100000", "50000"), current);
    memInfo expected = current;
    expected.memTotal = 1000000;
    expected.memUsedPercentage = 60;
    EXPECT_EQ(memcmp(&m, &expected, sizeof m), 0);
    EXPECT_EQ(usedPercent(meminfo("1000000", "200001", "50000", "100000", "50000")), 59);
}

TEST(Meminfo, SwapCachedNeverPassesForCached)
{
    // Fault: "SwapCached:" (or any label not at the line's start) matched as
    // "Cached:", whether it comes after the Cached line or before it.
    EXPECT_EQ(usedPercent(meminfo("1000000", "200000", "50000", "100000", "50000", "400000")), 60);
    EXPECT_EQ(usedPercent("SwapCached: 400000 kB\nMemTotal: 1000000 kB\nMemFree: 200000 kB\n"
                          "Buffers: 50000 kB\nCached: 100000 kB\nSlab: 50000 kB\n"),
              60);
    EXPECT_EQ(usedPercent("MemTotal: 1000000 kB\nMemFree: 200000 kB\n x Cached: 999999 kB"), 80);
}

TEST(Meminfo, OddFiguresNeitherDivideByZeroNorOverflow)
{
    // Faults: a division by zero without a total; used*100 wrapping in 32
    // bits (above about 41 GB in use) or a total beyond the INTEGER range
    // served negative; free and caches above the total (a racing reading)
    // served as a negative percentage; absurd figures overflowing 64 bits.
    EXPECT_EQ(usedPercent(meminfo("0", "0", "0", "0", "0")), 0);
    EXPECT_EQ(usedPercent("MemFree: 200000 kB\nCached: 100 kB\n"), 0);
    EXPECT_EQ(usedPercent(""), 0);
    EXPECT_EQ(usedPercent(meminfo("67108864", "16777216", "0", "0", "0")), 75);
    memInfo huge = parseMeminfo(meminfo("8589934592", "4294967296", "0", "0", "0"), memInfo{});
    EXPECT_EQ(huge.memTotal, INT32_MAX);
    EXPECT_EQ(huge.memUsedPercentage, 50);
    EXPECT_EQ(usedPercent(meminfo("1000", "900", "100", "100", "0")), 0);
    const std::string absurd = "999999999999999999999999";
    EXPECT_EQ(usedPercent(meminfo(absurd, "1", "0", "0", "0")), 99);
    EXPECT_EQ(usedPercent(meminfo("1000", absurd, absurd, absurd, absurd)), 0);
}

// -- thresholds --------------------------------------------------------------------

TEST(Thresholds, UsedOnesMustRiseStrictly)
{
    // Faults: -1 compared as a value; equal thresholds let through; an
    // ordering across an unused one not checked.
    EXPECT_EQ(judgeIntThres(10, 20, 30, 40), 1);
    EXPECT_EQ(judgeIntThres(-1, 20, -1, 40), 1);
    EXPECT_EQ(judgeIntThres(-1, -1, -1, -1), 1);
    EXPECT_EQ(judgeIntThres(-1, -1, 0, -1), 1);
    EXPECT_EQ(judgeIntThres(10, -1, 5, -1), 0);
    EXPECT_EQ(judgeIntThres(50, 50, -1, -1), 0);
    EXPECT_EQ(judgeIntThres(10, 20, 30, 25), 0);
    EXPECT_EQ(judgeIntThres(-1, 90, -1, 80), 0);
}

// -- raise and clear ---------------------------------------------------------------------

namespace {

// The check as the memory thread runs it, one reading after another.
class MemoryCheck : public testing::Test {
protected:
    // Runs one check at `usage`; returns the notification and the severity.
    std::pair<MemNotification, int> at(int usage)
    {
        record.memUsedPercentage = usage;
        MemNotification n = judgeMemoryTrap(check, record);
        return {n, record.memoryInfoSeverityState};
    }

    memTrapCheck check{};
    memInfo record = recordWith(70, 80, 90, 95);
    static constexpr MemNotification none = MemNotification::None;
    static constexpr MemNotification raise = MemNotification::Raise;
    static constexpr MemNotification clear = MemNotification::Clear;
};

using Step = std::pair<MemNotification, int>;

} // namespace

TEST_F(MemoryCheck, EachNewBandRaisesOnceAndLeavingAllClears)
{
    // Faults: usage equal to a threshold taken as above it; a raise repeated
    // while usage stays in a band; a move down to a lower band not raised;
    // the clear missing or its severity not 1.
    EXPECT_EQ(at(70), Step(none, 1));
    EXPECT_EQ(at(85), Step(raise, 3));
    EXPECT_EQ(at(85), Step(none, 3));
    EXPECT_EQ(at(92), Step(raise, 4));
    EXPECT_EQ(at(80), Step(raise, 2));
    EXPECT_EQ(at(96), Step(raise, 5));
    EXPECT_EQ(at(60), Step(clear, 1));
    EXPECT_EQ(at(60), Step(none, 1));
}

TEST_F(MemoryCheck, UnusedThresholdsAreSkipped)
{
    // Faults: -1 taken as a threshold (every usage above it), or the band of
    // the only used threshold misnumbered.
    record = recordWith(-1, -1, -1, 50);
    EXPECT_EQ(at(30), Step(none, 1));
    EXPECT_EQ(at(51), Step(raise, 5));
    EXPECT_EQ(at(50), Step(clear, 1));
}

TEST_F(MemoryCheck, DisabledSwitchSilencesButSeverityFollows)
{
    // Faults: notifications sent while disabled; severity frozen while
    // disabled; a clear after the band was left while disabled.
    record.memoryTrapState = 2;
    EXPECT_EQ(at(85), Step(none, 3));
    EXPECT_EQ(at(92), Step(none, 4));
    EXPECT_EQ(at(60), Step(none, 1));
    record.memoryTrapState = 1;
    EXPECT_EQ(at(60), Step(none, 1));
    EXPECT_EQ(at(75), Step(raise, 2));
}

TEST_F(MemoryCheck, EnablingWhileInABandRaisesOnceAtTheNextCheck)
{
    // Faults: the manager never told about a band it was silenced for; the
    // raise repeated; disabling sending anything.
    EXPECT_EQ(at(85), Step(raise, 3));
    record.memoryTrapState = 2;
    EXPECT_EQ(at(85), Step(none, 3));
    EXPECT_EQ(at(86), Step(none, 3));
    record.memoryTrapState = 1;
    EXPECT_EQ(at(85), Step(raise, 3));
    EXPECT_EQ(at(85), Step(none, 3));
}

TEST_F(MemoryCheck, EnablingAfterABandWasEnteredSilentlyRaises)
{
    // Fault: the switch, turned off while usage was normal and on again after
    // usage rose, compared with the value from before it was turned off, so
    // no raise ever comes for the band.
    EXPECT_EQ(at(50), Step(none, 1));
    record.memoryTrapState = 2;
    EXPECT_EQ(at(85), Step(none, 3));
    record.memoryTrapState = 1;
    EXPECT_EQ(at(85), Step(raise, 3));
}
