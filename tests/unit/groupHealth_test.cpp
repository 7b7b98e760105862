// The rule that moves a group's health record, and the causes it keeps.
#include "lib/groupHealth.h"

#include <gtest/gtest.h>
#include <string>

namespace {

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
