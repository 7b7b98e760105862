// SPDX-License-Identifier: BSD-3-Clause
// Watchdog group: the driver's /proc/vlmwdtinfo text into the record.
#include "groups/watchdog/watchdogProbe.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// One line of the driver's file: the key, padded so that the value starts
// at the fourteenth character.
std::string line(const std::string &key, const std::string &value)
{
    std::string padded = key;
    padded.resize(13, ' ');
    return padded + value + "\n";
}

std::string file(const std::string &enable, const std::string &timeout, const std::string &name = "VLM SIO WDT")
{
    return line("name", name) + line("timeout", timeout) + line("is_enable", enable);
}

} // namespace

TEST(WatchdogFile, EnabledWatchdogGivesEveryField)
{
    // Faults: the value taken from the wrong offset (the key's padding in
    // the chip name, or a digit lost from the timeout); the newline kept in
    // the name; "Yes" not read as enabled; mode and log event not set.
    wdtInfo w = parseWdtInfo(file("Yes", "60"));
    EXPECT_EQ(w.wdtState, 1);
    EXPECT_EQ(w.wdTimeoutInterval, 60);
    EXPECT_EQ(w.wdMode, 2);
    EXPECT_EQ(w.wdLogEvent, 2);
    EXPECT_STREQ(w.wdChipSet, "VLM SIO WDT");
}

TEST(WatchdogFile, DisabledAndZeroTimeout)
{
    // Faults: "No" not read as disabled, or looked for only at the value's
    // start; a timeout of 0 taken as a missing line that leaves the other
    // fields unset; the lines' order mattering.
    wdtInfo w = parseWdtInfo(file("No", "0"));
    EXPECT_EQ(w.wdtState, 2);
    EXPECT_EQ(w.wdTimeoutInterval, 0);
    EXPECT_EQ(w.wdMode, 2);
    EXPECT_STREQ(w.wdChipSet, "VLM SIO WDT");

    w = parseWdtInfo(line("is_enable", "(No)") + line("timeout", "30") + line("name", "chip"));
    EXPECT_EQ(w.wdtState, 2);
    EXPECT_EQ(w.wdTimeoutInterval, 30);
    EXPECT_STREQ(w.wdChipSet, "chip");
}

TEST(WatchdogFile, OverLongValuesAreCutToTheirFields)
{
    // Faults: a chip name of 60 characters or more overrunning its field or
    // losing its terminator; a long timeout text overflowing instead of
    // being read from its first 9 characters; a line shorter than the value
    // offset read out of bounds.
    const std::string longName(80, 'W');
    wdtInfo w = parseWdtInfo(file("Yes", "12345678901234", longName));
    EXPECT_EQ(std::string(w.wdChipSet), longName.substr(0, 59));
    EXPECT_EQ(w.wdChipSet[59], '\0');
    EXPECT_EQ(w.wdTimeoutInterval, 123456789);

    w = parseWdtInfo("name\ntimeout\nis_enable\n");
    EXPECT_STREQ(w.wdChipSet, "");
    EXPECT_EQ(w.wdTimeoutInterval, 0);
    EXPECT_EQ(w.wdtState, 1);
}

TEST(WatchdogFile, NothingReadGivesZerosAndAnyLineSetsTheModes)
{
    // Faults: mode and log event served without any output from the driver
    // (no driver, a failed or timed-out command); an unknown line changing
    // a field; a key matched only at a fixed place.
    wdtInfo w = parseWdtInfo("");
    wdtInfo zero{};
    EXPECT_EQ(memcmp(&w, &zero, sizeof w), 0);

    w = parseWdtInfo("driver_version 1.2\n");
    EXPECT_EQ(w.wdMode, 2);
    EXPECT_EQ(w.wdLogEvent, 2);
    EXPECT_EQ(w.wdtState, 0);
    EXPECT_EQ(w.wdTimeoutInterval, 0);
    EXPECT_STREQ(w.wdChipSet, "");

    // A last line without its newline still counts.
    w = parseWdtInfo(line("name", "chip") + "is_enable    Yes");
    EXPECT_EQ(w.wdtState, 1);
    EXPECT_STREQ(w.wdChipSet, "chip");
}
