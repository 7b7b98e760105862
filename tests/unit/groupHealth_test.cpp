// SPDX-License-Identifier: BSD-3-Clause
// The rule that moves a group's health record, and the causes it keeps.
#include "groups/disks/hardDiskProbe.h"
#include "groups/groups.h"
#include "groups/hotplug/hwdProbe.h"
#include "groups/memory/memoryProbe.h"
#include "lib/groupHealth.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace {

// The descriptor of the group named `name`.
const GroupDescriptor &group(const char *name)
{
    for (const GroupDescriptor *g : agentGroups())
        if (strcmp(g->name, name) == 0)
            return *g;
    ADD_FAILURE() << "no group " << name;
    return **agentGroups().begin();
}

GroupReading reading(GroupStatus status, const std::string &cause = "")
{
    GroupReading r;
    r.add(status, cause);
    return r;
}

} // namespace

TEST(GroupHealth, ALineAndANotificationOnlyWhenTheStatusChanges)
{
    // Faults: a line or a notification at every cycle of a lasting failure;
    // the first reading announced; a recovery not announced; failures not
    // counted; the cause forgotten at the recovery.
    groupHealth h;
    GroupChange c = judgeGroupReading(h, reading(GroupStatus::Absent, "/proc/vlmwdtinfo: gone"), 100);
    EXPECT_TRUE(c.log);
    EXPECT_FALSE(c.notify);   // the first reading: logged, not announced
    EXPECT_EQ(h.lastGood, 0);
    c = judgeGroupReading(h, reading(GroupStatus::Absent, "/proc/vlmwdtinfo: gone"), 105);
    EXPECT_FALSE(c.log || c.notify);
    c = judgeGroupReading(h, reading(GroupStatus::Failing, "cat: no answer in 3 s"), 110);
    EXPECT_TRUE(c.log && c.notify);
    EXPECT_EQ(c.from, GroupStatus::Absent);
    c = judgeGroupReading(h, GroupReading{}, 115);
    EXPECT_TRUE(c.log && c.notify);
    EXPECT_EQ(h.status, GroupStatus::Ok);
    EXPECT_EQ(h.lastGood, 115);
    EXPECT_EQ(h.failures, 3u);
    EXPECT_STREQ(h.lastError, "cat: no answer in 3 s");
    c = judgeGroupReading(h, GroupReading{}, 120);
    EXPECT_FALSE(c.log || c.notify);

    // A group that is well from the start says nothing at all.
    groupHealth well;
    c = judgeGroupReading(well, GroupReading{}, 100);
    EXPECT_FALSE(c.log || c.notify);
}

TEST(GroupHealth, AGroupReadEverySecondChangesOnlyAfterFailuresInARow)
{
    // Fault: an input busy for one reading sending a failing and an ok
    // notification; or the failure never shown when it lasts.
    groupHealth h;
    const int confirm = group("sensors").confirmReadings;
    EXPECT_EQ(confirm, 3);
    judgeGroupReading(h, GroupReading{}, 1, confirm);
    for (int round = 0; round < 3; round++) {
        EXPECT_FALSE(judgeGroupReading(h, reading(GroupStatus::Failing, "VIN: busy"), 2, confirm).log);
        EXPECT_FALSE(judgeGroupReading(h, reading(GroupStatus::Failing, "VIN: busy"), 3, confirm).log);
        EXPECT_FALSE(judgeGroupReading(h, GroupReading{}, 4, confirm).log);
    }
    EXPECT_EQ(h.status, GroupStatus::Ok);
    EXPECT_EQ(h.failures, 6u);   // counted all the same
    judgeGroupReading(h, reading(GroupStatus::Failing, "VIN: gone"), 5, confirm);
    judgeGroupReading(h, reading(GroupStatus::Absent, "no chip"), 6, confirm);
    GroupChange c = judgeGroupReading(h, reading(GroupStatus::Absent, "no chip"), 7, confirm);
    EXPECT_TRUE(c.log && c.notify);
    EXPECT_EQ(h.status, GroupStatus::Absent);
    EXPECT_EQ(group("storage").confirmReadings, 1);
}

TEST(GroupHealth, AFailingPartOutweighsAnAbsentOneAndCausesAreKeptPrintable)
{
    GroupReading r;
    r.absent("lsb_release -r: not installed");
    r.fail("cat /etc/issue: no answer in 5 s");
    r.absent("/dev/vmspname: No such file or directory");
    EXPECT_EQ(r.status, GroupStatus::Failing);
    EXPECT_EQ(r.cause, "lsb_release -r: not installed; cat /etc/issue: no answer in 5 s; "
                       "/dev/vmspname: No such file or directory");
    // The column is DisplayString of at most 127 octets.
    const std::string printable = printableCause("df: \xc3\xa9tat\tinconnu\n" + std::string(200, 'x'));
    EXPECT_EQ(printable.size(), GROUP_ERROR_MAX);
    EXPECT_EQ(printable.substr(0, 20), "df: ??tat inconnu xx");
}

TEST(GroupHealth, AGroupWhoseThreadStopsReadingIsShownFailing)
{
    // Fault: a polling thread stuck (a tool that cannot be killed) or never
    // started, its row keeping its last status, ok, for ever.
    startGroupHealth(false);
    const double start = monotonicSeconds();
    noteGroupReading(MEMORY_HEALTH_ROW, GroupReading{});
    checkGroupsStillReading(start + 10);
    groupHealth memory, disks, hotplug;
    ASSERT_TRUE(groupHealthRecord(MEMORY_HEALTH_ROW, memory));
    EXPECT_EQ(memory.status, GroupStatus::Ok);
    checkGroupsStillReading(start + 40);
    ASSERT_TRUE(groupHealthRecord(MEMORY_HEALTH_ROW, memory));
    ASSERT_TRUE(groupHealthRecord(DISKS_HEALTH_ROW, disks));
    ASSERT_TRUE(groupHealthRecord(HOTPLUG_HEALTH_ROW, hotplug));
    EXPECT_EQ(memory.status, GroupStatus::Failing);
    EXPECT_EQ(std::string(memory.lastError).substr(0, 15), "no reading for ");
    EXPECT_EQ(disks.status, GroupStatus::Ok);     // its limit is longer
    EXPECT_EQ(hotplug.status, GroupStatus::Ok);   // it reads at events only
    // The thread comes back: ok at its next reading.
    noteGroupReading(MEMORY_HEALTH_ROW, GroupReading{});
    ASSERT_TRUE(groupHealthRecord(MEMORY_HEALTH_ROW, memory));
    EXPECT_EQ(memory.status, GroupStatus::Ok);
    startGroupHealth(false);
}
