// SPDX-License-Identifier: BSD-3-Clause
// The all-or-nothing SET protocol of writable scalars, driven phase by phase
// as the agent library drives a write routine.
#include "groups/system/sysInfoFrame.h"
#include "lib/fieldCopy.h"
#include "setJournal.h"
#include "testFiles.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const std::string initialFile = configDoc(
    "<subtype id=\"atSystem\"/><detail name=\"sysDeviceName\">old-name</detail>"
    "<detail name=\"sysDescr\">old-descr</detail>");

class ScalarSet : public testing::Test {
protected:
    void SetUp() override
    {
        setFieldText(sysInfo.deviceName, "old-name");
        setFieldText(sysInfo.descr, "old-descr");
        setJournal::begin(++transaction);
    }

    // One phase of a SET of the device name.
    static int name(int action, const std::string &value, u_char type = ASN_OCTET_STR)
    {
        std::string copy = value;
        return write_sysDeviceName(action, reinterpret_cast<u_char *>(&copy[0]), type, copy.size(), nullptr,
                                   nullptr, 0);
    }
    static int descr(int action, const std::string &value)
    {
        std::string copy = value;
        return write_sysDescr(action, reinterpret_cast<u_char *>(&copy[0]), ASN_OCTET_STR, copy.size(), nullptr,
                              nullptr, 0);
    }
    static int integer(int action, long value)
    {
        return write_sysDeviceName(action, reinterpret_cast<u_char *>(&value), ASN_INTEGER, sizeof value,
                                   nullptr, nullptr, 0);
    }

    TempConfig cfg{initialFile};
    static long transaction;
};
long ScalarSet::transaction = 100;

} // namespace

TEST_F(ScalarSet, CheckingChangesNothingAndRefusesBadValues)
{
    EXPECT_EQ(name(RESERVE1, std::string(40, 'n')), SNMP_ERR_NOERROR);
    EXPECT_EQ(name(RESERVE1, std::string(41, 'n')), SNMP_ERR_WRONGLENGTH);
    EXPECT_EQ(integer(RESERVE1, 5), SNMP_ERR_WRONGTYPE);
    EXPECT_EQ(name(RESERVE1, "\xff\xfe"), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(name(RESERVE1, "two\nlines"), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(fieldText(sysInfo.deviceName), "old-name");
    EXPECT_EQ(cfg.read(), initialFile);
}

TEST_F(ScalarSet, ActionStoresAndPersistsBeforeTheAnswer)
{
    const std::string full(40, 'x');
    ASSERT_EQ(name(RESERVE1, full), SNMP_ERR_NOERROR);
    ASSERT_EQ(name(ACTION, full), SNMP_ERR_NOERROR);
    // The master answers the manager after ACTION; the file must hold it now.
    EXPECT_EQ(reread(cfg).deviceName, full);
    EXPECT_EQ(fieldText(sysInfo.deviceName), full);
    EXPECT_EQ(name(COMMIT, full), SNMP_ERR_NOERROR);
    EXPECT_EQ(reread(cfg).deviceName, full);
}

TEST_F(ScalarSet, UndoRestoresMemoryAndFileOfEveryVarbind)
{
    // Two varbinds applied, then a third object fails: both are undone.
    ASSERT_EQ(name(ACTION, "new-name"), SNMP_ERR_NOERROR);
    ASSERT_EQ(descr(ACTION, "new-descr"), SNMP_ERR_NOERROR);
    EXPECT_EQ(name(UNDO, "new-name"), SNMP_ERR_NOERROR);
    EXPECT_EQ(descr(UNDO, "new-descr"), SNMP_ERR_NOERROR);
    EXPECT_EQ(fieldText(sysInfo.deviceName), "old-name");
    EXPECT_EQ(fieldText(sysInfo.descr), "old-descr");
    ConfigValues cv = reread(cfg);
    EXPECT_EQ(cv.deviceName, "old-name");
    EXPECT_EQ(cv.descr, "old-descr");
}

TEST_F(ScalarSet, AnObjectNamedTwiceIsUndoneToItsValueBeforeTheRequest)
{
    ASSERT_EQ(name(ACTION, "first"), SNMP_ERR_NOERROR);
    ASSERT_EQ(name(ACTION, "second"), SNMP_ERR_NOERROR);
    name(UNDO, "first");
    name(UNDO, "second");
    EXPECT_EQ(fieldText(sysInfo.deviceName), "old-name");
    EXPECT_EQ(reread(cfg).deviceName, "old-name");
}

TEST_F(ScalarSet, AFileThatCannotBeWrittenFailsTheSetAndKeepsTheOldValue)
{
    cfg.write("<config><type>");   // no longer well-formed
    EXPECT_EQ(name(ACTION, "new-name"), SNMP_ERR_COMMITFAILED);
    EXPECT_EQ(fieldText(sysInfo.deviceName), "old-name");
    EXPECT_EQ(name(UNDO, "new-name"), SNMP_ERR_NOERROR);
    EXPECT_EQ(fieldText(sysInfo.deviceName), "old-name");
}

TEST_F(ScalarSet, ARecordLeftByAnAbandonedRequestIsNotReplayed)
{
    ASSERT_EQ(name(ACTION, "abandoned"), SNMP_ERR_NOERROR);
    // The master went away before COMMIT or UNDO; a new request begins.
    setJournal::begin(++transaction);
    ASSERT_EQ(name(ACTION, "next"), SNMP_ERR_NOERROR);
    name(UNDO, "next");
    EXPECT_EQ(fieldText(sysInfo.deviceName), "abandoned");
    EXPECT_EQ(reread(cfg).deviceName, "abandoned");
}
