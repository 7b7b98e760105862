// SPDX-License-Identifier: BSD-3-Clause
// Reading and rewriting the configuration file.
#include "groups/system/sysInfoFrame.h"
#include "lib/atomicFile.h"
#include "groups/hotplug/hwdInfoFrame.h"
#include "groups/memory/memoryInfoFrame.h"
#include "groups/sensors/sensors.h"
#include "groups/system/systemConfig.h"
#include "configStore.h"
#include "testFiles.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

ConfigValues readText(const std::string &text, bool *ok = nullptr)
{
    ConfigValues cv;
    bool r = readConfigValues(text, cv);
    if (ok)
        *ok = r;
    return cv;
}

const char *const twoVoltageGroups =
    "<subtype id=\"VIN\"/><detail name=\"vtHigh\">13.0</detail><detail name=\"vtState\">1</detail>\n"
    "<subtype id=\"5VSB\"/><detail name=\"vtHigh\">5.3</detail><detail name=\"vtState\">2</detail>\n";

} // namespace

TEST(ConfigRead, ElementNamesIgnoreCaseButAttributesAndKeysDoNot)
{
    // A file written by hand with upper-case elements must still load.
    ConfigValues cv = readText(
        "<Root><TYPE><Details>"
        "<SubType id=\"atSystem\"/><DETAIL name=\"sysDeviceName\">board-7</DETAIL>"
        "<detail name=\"SYSDESCR\">ignored: keys are exact</detail>"
        "</Details></TYPE></Root>");
    EXPECT_TRUE(cv.hasDeviceName);
    EXPECT_EQ(cv.deviceName, "board-7");
    EXPECT_FALSE(cv.hasDescr);
}

TEST(ConfigRead, LowerCaseVinIsNotAVoltageGroup)
{
    ConfigValues cv = readText(configDoc(
        "<subtype id=\"VIN\"/><detail name=\"vtHigh\">13</detail>"
        "<subtype id=\"vin\"/><detail name=\"vtHigh\">99</detail>"
        "<subtype id=\"Vin\"/><detail name=\"vtHigh\">14</detail>"));
    ASSERT_EQ(cv.voltage.size(), 2u);
    EXPECT_EQ(cv.voltage[0].name, "VIN");
    // "vin" opens no group: its key lands in the group before it.
    EXPECT_EQ(cv.voltage[0].high, "99");
    EXPECT_EQ(cv.voltage[1].name, "Vin");
    EXPECT_EQ(cv.voltage[1].high, "14");
}

TEST(ConfigRead, EachVoltageGroupKeepsItsOwnThresholds)
{
    ConfigValues cv = readText(configDoc(twoVoltageGroups));
    ASSERT_EQ(cv.voltage.size(), 2u);
    EXPECT_EQ(cv.voltage[0].high, "13.0");
    EXPECT_EQ(cv.voltage[0].state, 1);
    EXPECT_EQ(cv.voltage[1].high, "5.3");
    EXPECT_EQ(cv.voltage[1].state, 2);
}

TEST(ConfigRead, SensorKeysBeforeAnySensorGroupAreIgnored)
{
    ConfigValues cv = readText(configDoc(
        "<detail name=\"vtHigh\">1</detail><detail name=\"crHigh\">2</detail>"
        "<subtype id=\"Current\"/><detail name=\"crHigh\">4.0</detail>"));
    EXPECT_TRUE(cv.voltage.empty());
    ASSERT_EQ(cv.current.size(), 1u);
    EXPECT_EQ(cv.current[0].high, "4.0");
}

TEST(ConfigRead, TruncatedOrGarbageTextIsRefused)
{
    bool ok = true;
    std::string doc = configDoc(twoVoltageGroups);
    readText(doc.substr(0, doc.size() / 2), &ok);
    EXPECT_FALSE(ok);
    readText("\x01\x02 not xml at all", &ok);
    EXPECT_FALSE(ok);
    readText("", &ok);
    EXPECT_FALSE(ok);
}

TEST(ConfigLoad, FillsRecordsAndThresholdLists)
{
    TempConfig cfg(configDoc(std::string(
        "<subtype id=\"atSystem\"/>"
        "<detail name=\"sysDeviceName\">0123456789012345678901234567890123456789</detail>"
        "<detail name=\"sysDescr\">a description that is far longer than the forty octets of its field</detail>"
        "<subtype id=\"Temp CPU\"/><detail name=\"tpHigh\">1234567890123</detail><detail name=\"tpState\">2</detail>"
        "<subtype id=\"memory\"/><detail name=\"memoryTh1\">80</detail><detail name=\"memoryTh4\">-1</detail>"
        "<subtype id=\"hardwareDetect\"/><detail name=\"maxTableRow\">100</detail>") + twoVoltageGroups));
    std::string text = cfg.read();
    ASSERT_EQ(loadConfiguration(text.data(), static_cast<int>(text.size())), 1);

    // 40 octets fill the field with no terminator; longer texts are cut.
    EXPECT_EQ(memcmp(sysInfo.deviceName, "0123456789012345678901234567890123456789", 40), 0);
    EXPECT_EQ(std::string(sysInfo.descr, 40), "a description that is far longer than th");
    EXPECT_STREQ(Global_tpHigh, "123456789");
    EXPECT_EQ(Global_tpState, 2);
    EXPECT_EQ(Global_memInfoVal.memoryTh1, 80);
    EXPECT_EQ(Global_memInfoVal.memoryTh4, -1);
    EXPECT_EQ(Global_hwdInfoVal.maxTableRow, 100);

    // Sentinel head first, then the groups in file order.
    ASSERT_NE(Global_writableVtHead, nullptr);
    EXPECT_STREQ(Global_writableVtHead->name, "");
    EXPECT_EQ(Global_writableVtHead->state, 2);
    writableThreshold *vin = Global_writableVtHead->next;
    ASSERT_NE(vin, nullptr);
    EXPECT_STREQ(vin->name, "VIN");
    EXPECT_STREQ(vin->high, "13.0");
    EXPECT_EQ(vin->level, 1);
    ASSERT_NE(vin->next, nullptr);
    EXPECT_STREQ(vin->next->name, "5VSB");
    EXPECT_EQ(vin->next->state, 2);
    EXPECT_EQ(vin->next->next, nullptr);
}

TEST(ConfigWriteTest, ChangesOnlyTheElementAfterItsOwnGroup)
{
    TempConfig cfg(configDoc(twoVoltageGroups));
    ASSERT_EQ(editFile("5VSB", "vtHigh", "5.4"), 1);
    ConfigValues cv = reread(cfg);
    EXPECT_EQ(cv.voltage[0].high, "13.0");
    EXPECT_EQ(cv.voltage[1].high, "5.4");
}

TEST(ConfigWriteTest, IntegersAreWrittenInPlainDecimal)
{
    TempConfig cfg(configDoc(
        "<subtype id=\"memory\"/><detail name=\"memoryTh1\">80</detail><detail name=\"memoryTh2\">90</detail>"));
    ASSERT_EQ(editFile("memory", "memoryTh1", -5), 1);
    ASSERT_EQ(editFile("memory", "memoryTh2", 90), 1);
    std::string text = cfg.read();
    EXPECT_NE(text.find("<detail name=\"memoryTh1\">-5</detail>"), std::string::npos) << text;
    EXPECT_NE(text.find("<detail name=\"memoryTh2\">90</detail>"), std::string::npos) << text;
}

TEST(ConfigWriteTest, AnEditNeverLeavesItsGroupAndAddsWhatTheGroupLacks)
{
    // VIN lacks vtLowLow, Vin after it has one: the edit of VIN's must not
    // land in Vin's element, and must be there for VIN at the next start.
    TempConfig cfg(configDoc("      <subtype id=\"VIN\"/>\n      <detail name=\"vtHigh\">12.6</detail>\n\n"
                             "      <subtype id=\"Vin\"/>\n      <detail name=\"vtLowLow\">10.8</detail>\n"));
    ASSERT_EQ(writeConfigEdits({{"VIN", "vtLowLow", "10.5"}}), ConfigWrite::Saved);
    ConfigValues cv = reread(cfg);
    ASSERT_EQ(cv.voltage.size(), 2u);
    EXPECT_EQ(cv.voltage[0].lowLow, "10.5");
    EXPECT_EQ(cv.voltage[0].high, "12.6");
    EXPECT_EQ(cv.voltage[1].lowLow, "10.8");
    // The added element lines up with its group's.
    EXPECT_NE(cfg.read().find("<detail name=\"vtHigh\">12.6</detail>\n      <detail name=\"vtLowLow\">10.5</detail>"),
              std::string::npos) << cfg.read();

    // A group the file lacks is added with the key.
    ASSERT_EQ(writeConfigEdits({{"memory", "memoryTh1", "70"}}), ConfigWrite::Saved);
    EXPECT_EQ(reread(cfg).memoryTh[0], 70);
    EXPECT_EQ(reread(cfg).voltage[1].lowLow, "10.8");

    // A document with nowhere to hold a key keeps what it has.
    cfg.write("<config/>");
    EXPECT_EQ(writeConfigEdits({{"memory", "memoryTh1", "70"}}), ConfigWrite::SavedNoMatch);
}

TEST(ConfigWriteTest, MarkupCharactersRoundTrip)
{
    TempConfig cfg(configDoc("<subtype id=\"atSystem\"/><detail name=\"sysDescr\">x</detail>"
                             "<detail name=\"sysDeviceName\">y</detail>"));
    const std::string tricky = "R&D <lab> \"A\" 'b' &amp; ]]>";
    ASSERT_EQ(editFile("atSystem", "sysDescr", tricky.c_str()), 1);
    ASSERT_EQ(editFile("atSystem", "sysDeviceName", "   "), 1);
    ConfigValues cv = reread(cfg);
    EXPECT_EQ(cv.descr, tricky);
    EXPECT_EQ(cv.deviceName, "   ");   // blanks alone are a value too
}

TEST(ConfigWriteTest, FailuresLeaveTheFileAsItWas)
{
    TempConfig cfg("<config><type><details>broken");
    EXPECT_EQ(editFile("atSystem", "sysDescr", "z"), -1);
    EXPECT_EQ(cfg.read(), "<config><type><details>broken");

    cfg.write("");
    EXPECT_EQ(editFile("atSystem", "sysDescr", "z"), 0);

    unlink(cfg.path().c_str());
    EXPECT_EQ(editFile("atSystem", "sysBootCount", 3), 0);
    EXPECT_NE(access(cfg.path().c_str(), F_OK), 0);   // not created
}

TEST(ConfigWriteTest, ReplacementKeepsModeAndLeavesNoTemporaryFile)
{
    TempConfig cfg(configDoc("<subtype id=\"atSystem\"/><detail name=\"sysDescr\">x</detail>"));
    chmod(cfg.path().c_str(), 0640);
    ASSERT_EQ(editFile("atSystem", "sysDescr", "new"), 1);
    struct stat st;
    ASSERT_EQ(stat(cfg.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    std::string cmd = "test $(ls -A '" + cfg.dir() + "' | wc -l) -eq 1";
    EXPECT_EQ(system(cmd.c_str()), 0) << "a temporary file was left behind";
}

TEST(BootBookkeeping, CountGoesUpByOneFromWhatIsStored)
{
    EXPECT_EQ(nextBootCount("7"), 8);
    EXPECT_EQ(nextBootCount(""), 1);
    EXPECT_EQ(nextBootCount("abc"), 1);
    EXPECT_EQ(nextBootCount("-3"), 1);
    EXPECT_EQ(nextBootCount("99999999999"), INT32_MAX);   // stays a 32-bit INTEGER
}

TEST(BootBookkeeping, StoredFirstBootTimeIsKeptOnlyWhenWellFormed)
{
    time_t now = 1700000000;
    BootTimes kept = computeBootTimes("07E50C1F173B3B002B0100", now);
    EXPECT_FALSE(kept.writeFirstBootTime);
    const unsigned char expected[11] = {0x07, 0xE5, 0x0C, 0x1F, 0x17, 0x3B, 0x3B, 0x00, 0x2B, 0x01, 0x00};
    EXPECT_EQ(memcmp(kept.firstBootTime, expected, 11), 0);
    EXPECT_NE(memcmp(kept.bootTime, expected, 11), 0);

    // Empty, short, long or non-hexadecimal: a new first boot time is due.
    for (const char *bad : {"", "07E50C1F", "07E50C1F173B3B002B0100FF", "07E50C1F173B3B002B01ZZ"}) {
        BootTimes fresh = computeBootTimes(bad, now);
        EXPECT_TRUE(fresh.writeFirstBootTime) << bad;
        EXPECT_EQ(memcmp(fresh.firstBootTime, fresh.bootTime, 11), 0) << bad;
        ASSERT_EQ(fresh.firstBootText.size(), 22u);
        EXPECT_EQ(fresh.firstBootText.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        // The text read back gives the same octets.
        BootTimes again = computeBootTimes(fresh.firstBootText, now + 60);
        EXPECT_EQ(memcmp(again.firstBootTime, fresh.firstBootTime, 11), 0);
    }
}

TEST(BootBookkeeping, LoadingCountsTheBootAndFillsTheFirstBootTimeInTheFile)
{
    TempConfig cfg(configDoc("<subtype id=\"atSystem\"/><detail name=\"sysFirstBootTime\"></detail>"
                             "<detail name=\"sysBootCount\">7</detail>"));
    std::string text = cfg.read();
    ASSERT_EQ(loadConfiguration(text.data(), static_cast<int>(text.size())), 1);
    EXPECT_EQ(sysInfo.bootCount, 8);
    ConfigValues cv = reread(cfg);
    EXPECT_EQ(cv.bootCount, "8");
    EXPECT_EQ(cv.firstBootTime.size(), 22u);
    EXPECT_EQ(memcmp(sysInfo.firstBootTime, sysInfo.bootTime, 11), 0);

    // The next start keeps the first boot time and counts once more.
    unsigned char first[11];
    memcpy(first, sysInfo.firstBootTime, 11);
    text = cfg.read();
    ASSERT_EQ(loadConfiguration(text.data(), static_cast<int>(text.size())), 1);
    EXPECT_EQ(sysInfo.bootCount, 9);
    EXPECT_EQ(memcmp(sysInfo.firstBootTime, first, 11), 0);
    EXPECT_EQ(reread(cfg).firstBootTime, cv.firstBootTime);
}

TEST(ConfigWriteTest, OnlyTheAgentsOwnTemporariesAreRemovedAndALinkIsFollowed)
{
    TempConfig cfg(configDoc("<subtype id=\"atSystem\"/><detail name=\"sysDescr\">x</detail>"));
    // The file lives behind a relative link, as on a board whose
    // configuration is kept on persistent storage.
    const std::string real = cfg.dir() + "/persistent.xml";
    ASSERT_EQ(rename(cfg.path().c_str(), real.c_str()), 0);
    ASSERT_EQ(symlink("persistent.xml", cfg.path().c_str()), 0);
    std::ofstream(real + ".vlmtmp-Ab3dE9") << "half a file";
    std::ofstream(cfg.path() + ".backup") << "the operator's copy, six letters after the dot";
    std::ofstream(real + ".vlmtmp-Ab3dE9.orig") << "the operator's too";
    removeStaleTemporaries(cfg.path());
    EXPECT_NE(access((real + ".vlmtmp-Ab3dE9").c_str(), F_OK), 0);
    EXPECT_EQ(access((cfg.path() + ".backup").c_str(), F_OK), 0);
    EXPECT_EQ(access((real + ".vlmtmp-Ab3dE9.orig").c_str(), F_OK), 0);

    ASSERT_EQ(editFile("atSystem", "sysDescr", "kept"), 1);
    struct stat st;
    ASSERT_EQ(lstat(cfg.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(reread(cfg).descr, "kept");
}
