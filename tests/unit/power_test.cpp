// SPDX-License-Identifier: BSD-3-Clause
// When the power-supply group announces a change of the combined state, and
// what the announcement carries.
#include "groups/power/powerProbe.h"
#include "groups/power/powerTrap.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class PowerChange : public ::testing::Test {
protected:
    void SetUp() override
    {
        pwrLastReportedState = 1;
        pwrReadingSeen = false;
    }

    // One good reading as the polling cycle sees it: true when it is announced.
    static bool reading(int32_t trapState, int32_t state)
    {
        const pwrInfo info = {trapState, state, state == 1 ? 1 : 3};
        notePowerReading(info.pwrState);
        return judgePowerTrap(info);
    }
};

TEST_F(PowerChange, OneNotificationPerChange)
{
    EXPECT_FALSE(reading(1, 1));   // both inputs good from the start
    EXPECT_TRUE(reading(1, 2));    // input 2 drops
    EXPECT_FALSE(reading(1, 2));   // and stays down
    EXPECT_TRUE(reading(1, 1));    // back
    EXPECT_FALSE(reading(1, 1));
}

TEST_F(PowerChange, AFailureAtTheFirstReadingIsNotAnnounced)
{
    EXPECT_FALSE(reading(1, 2));
    EXPECT_FALSE(reading(1, 2));
    EXPECT_TRUE(reading(1, 1));
}

TEST_F(PowerChange, AChangeWhileSwitchedOffIsAnnouncedWhenSwitchedOn)
{
    EXPECT_FALSE(reading(1, 1));
    EXPECT_FALSE(reading(2, 2));
    EXPECT_FALSE(reading(2, 2));
    EXPECT_TRUE(reading(1, 2));
    // A failure that ended while off is not announced at all.
    EXPECT_FALSE(reading(2, 1));
    EXPECT_TRUE(reading(1, 1));
}

TEST_F(PowerChange, ReadsThatFailKeepTheSwitchAndAChangeAcrossThemIsAnnouncedOnce)
{
    // Another process holds the single-opener device for a while: the
    // readings fail, the group goes absent, and the input that dropped
    // meanwhile is announced once when the reads work again.
    pwrInfo record = {1, 1, 1};
    storePowerReading(record, PowerInputs{{true, true}});
    EXPECT_FALSE(judgePowerTrap(record));
    storePowerReading(record, std::nullopt);
    EXPECT_EQ(record.pwrState, -1);
    EXPECT_EQ(record.pwrInputGood[0], -1);
    EXPECT_TRUE(record.pwrInputsSeen);   // the inputs were known once
    EXPECT_EQ(record.pwrTrapState, 1);   // still on when the reads come back
    storePowerReading(record, PowerInputs{{true, false}});
    EXPECT_EQ(record.pwrStateSeverity, 3);
    EXPECT_EQ(record.pwrInputGood[0], 1);   // each input as read, not the combined state
    EXPECT_EQ(record.pwrInputGood[1], 2);
    EXPECT_TRUE(judgePowerTrap(record));
    EXPECT_FALSE(judgePowerTrap(record));
}

TEST(PowerReading, WithoutTheDeviceTheGroupIsAbsentAndTriedLessOften)
{
    // The unit tests run without /dev/vlmpsustatus.
    GroupReading reading;
    EXPECT_FALSE(readPowerInputs(reading).has_value());
    EXPECT_EQ(reading.status, GroupStatus::Absent);
    EXPECT_EQ(reading.cause, "/dev/vlmpsustatus: No such file or directory");
    std::vector<unsigned> delays;
    for (unsigned failures = 0; failures < 8; failures++)
        delays.push_back(powerRetryDelay(failures));
    EXPECT_EQ(delays, (std::vector<unsigned>{1, 2, 4, 8, 16, 30, 30, 30}));
}

TEST(PowerReading, NotificationCarriesStateSeverityAndTime)
{
    VarbindList vars;
    fillPowerDataToTrap({0, 2, 3}, vars);
    const oid state[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 8, 2, 0};
    const oid severity[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 8, 3, 0};
    const oid when[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 8, 4, 0};
    netsnmp_variable_list *v = vars.get();
    ASSERT_NE(v, nullptr);
    const oid trap[] = {1, 3, 6, 1, 4, 1, 42424, 200, 10, 0, 105};
    ASSERT_EQ(v->val_len, sizeof trap);
    EXPECT_EQ(snmp_oid_compare(v->val.objid, v->val_len / sizeof(oid), trap, OID_LENGTH(trap)), 0);
    v = v->next_variable;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(snmp_oid_compare(v->name, v->name_length, state, OID_LENGTH(state)), 0);
    EXPECT_EQ(*v->val.integer, 2);
    v = v->next_variable;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(snmp_oid_compare(v->name, v->name_length, severity, OID_LENGTH(severity)), 0);
    EXPECT_EQ(*v->val.integer, 3);
    v = v->next_variable;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(snmp_oid_compare(v->name, v->name_length, when, OID_LENGTH(when)), 0);
    EXPECT_EQ(v->type, ASN_OCTET_STR);
    EXPECT_EQ(v->val_len, 11u);
    EXPECT_EQ(v->next_variable, nullptr);
}

} // namespace
