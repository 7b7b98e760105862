// SPDX-License-Identifier: BSD-3-Clause
// Trap destinations from snmpd.conf and the notification queue.
#include "lib/fieldCopy.h"
#include "lib/trapList.h"

#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Points snmpdConfPath at a file of our own for the lifetime of the object.
class TempSnmpdConf {
public:
    explicit TempSnmpdConf(const std::string &text)
    {
        char tmpl[] = "/tmp/vlmsnmpdXXXXXX";
        int fd = mkstemp(tmpl);
        close(fd);
        path_ = tmpl;
        std::ofstream(path_) << text;
        saved_ = snmpdConfPath;
        snmpdConfPath = path_;
    }
    ~TempSnmpdConf()
    {
        snmpdConfPath = saved_;
        unlink(path_.c_str());
    }

private:
    std::string path_, saved_;
};

std::vector<trapInfo *> destinations()
{
    std::vector<trapInfo *> out;
    list_for_each(pos, &Global_trapList) out.push_back(list_entry(pos, trapInfo, list));
    return out;
}

} // namespace

TEST(TrapSinkLines, EveryLineNamingTrapsinkInFileOrder)
{
    std::string conf = "master agentx\n"
                       "trapsink 10.0.0.1 public 162\n"
                       "rocommunity public\n"
                       "#trapsink 10.0.0.2 private 1162\n"
                       "trapsink nms.example\n";
    std::vector<TrapSinkLine> lines = parseTrapSinkLines(conf);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].lineNumber, 2);
    EXPECT_EQ(lines[0].host, "10.0.0.1");
    EXPECT_EQ(lines[0].community, "public");
    EXPECT_EQ(lines[0].port, "162");
    // A commented-out line counts too: its first word is skipped like the keyword.
    EXPECT_EQ(lines[1].lineNumber, 4);
    EXPECT_EQ(lines[1].host, "10.0.0.2");
    EXPECT_EQ(lines[1].port, "1162");
    // Without community or port those stay empty.
    EXPECT_EQ(lines[2].host, "nms.example");
    EXPECT_EQ(lines[2].community, "");
    EXPECT_EQ(lines[2].port, "");
}

TEST(TrapSinkLines, AnAddressWordWithAPortIsSplitIntoHostAndPort)
{
    // Faults: "HOST:PORT" served as one host (the agent's own traps then go
    // nowhere), the transport kept in the host, an IPv6 address cut at a
    // colon, the separate port of the older form lost.
    std::vector<TrapSinkLine> lines = parseTrapSinkLines("trapsink 10.0.0.1:1162 public\n"
                                                         "trapsink UDP:10.0.0.2:2162 public 162\n"
                                                         "trapsink udp:nms.example\n"
                                                         "trapsink 2001:db8::1 public 3162\n");
    std::vector<std::string> found;
    for (const TrapSinkLine &l : lines)
        found.push_back(l.host + " " + l.community + " " + l.port);
    EXPECT_EQ(found, (std::vector<std::string>{"10.0.0.1 public 1162", "10.0.0.2 public 2162", "nms.example  ",
                                               "2001:db8::1 public 3162"}));
}

TEST(TrapSinkLines, OnlyTheFirst99CharactersOfALineAreExamined)
{
    std::string conf = std::string(99, '#') + " trapsink 10.0.0.9 public 162\n";
    EXPECT_TRUE(parseTrapSinkLines(conf).empty());
}

TEST(TrapDestinations, BuiltWithIndexesBaseLineAndBoundedFields)
{
    TempSnmpdConf conf("# receivers\n\n"
                       "trapsink 192.168.100.200 public 162\n"
                       "trapsink 2001:db8:1234:5678:9abc::1 averyveryverylongcommunity 65535\n");
    init_trap_list();
    EXPECT_EQ(Global_trapNumber, 2);
    EXPECT_EQ(trapBaseAddr, 3);
    std::vector<trapInfo *> d = destinations();
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0]->trapIndex, 1);
    EXPECT_STREQ(d[0]->trapIp, "192.168.100.200");
    EXPECT_STREQ(d[0]->trapVersion, "v1");
    EXPECT_STREQ(d[0]->trapAuthentication, "enable");
    EXPECT_FALSE(sendsDirectly(*d[0]));   // the master serves what it read
    EXPECT_EQ(d[1]->trapIndex, 2);
    // Over-long texts are cut to their fields, never written past them.
    EXPECT_STREQ(d[1]->trapIp, "2001:db8:1234:5678:");
    EXPECT_STREQ(d[1]->trapPort, "65535");
    // But the agent's own traps carry the whole community, or the receiver
    // refuses them; only the served column cuts it.
    EXPECT_STREQ(d[1]->trapCommunity, "averyveryverylongcommunity");
}

TEST(TrapDestinations, OnlyAMasterStartedAfterAnEditTakesTheReceiverOver)
{
    // Faults: a reconnection to the same master (a ping it missed while
    // busy) taken for a restart, so that the changed receiver hears from
    // nobody; a master whose start cannot be told taken as restarted.
    TempSnmpdConf conf("trapsink 127.0.0.1 public 162\n");
    init_trap_list();
    trapInfo &dest = *destinations()[0];
    setFieldText(dest.trapIp, "127.0.0.2");
    dest.editedAt = 500.0;
    masterReadConfiguration(400.0);          // the master from before the edit
    EXPECT_TRUE(sendsDirectly(dest));
    masterReadConfiguration(std::nullopt);   // cannot tell
    EXPECT_TRUE(sendsDirectly(dest));
    masterReadConfiguration(500.5);          // restarted since
    EXPECT_FALSE(sendsDirectly(dest));
}

TEST(TrapDestinations, TheStartOfAProcessIsReadPastItsName)
{
    // The name may hold blanks and parentheses of its own.
    const std::string stat =
        "1234 (snmpd (x) y) S 1 1234 1234 0 -1 4194560 1062 0 0 0 3 5 0 0 20 0 1 0 987654 23040000 1200";
    EXPECT_EQ(parseProcStartTicks(stat), 987654ull);
    EXPECT_EQ(parseProcStartTicks("1234 (snmpd) S 1 2 3"), std::nullopt);
    EXPECT_EQ(parseProcStartTicks("no parenthesis"), std::nullopt);
}

TEST(TrapDestinations, NoFileOrNoLineGivesAnEmptyList)
{
    {
        TempSnmpdConf conf("master agentx\n");
        init_trap_list();
        EXPECT_EQ(Global_trapNumber, 0);
        EXPECT_EQ(trapBaseAddr, 0);
        EXPECT_TRUE(list_empty(&Global_trapList));
    }
    std::string saved = snmpdConfPath;
    snmpdConfPath = "/nonexistent/snmpd.conf";
    testing::internal::CaptureStderr();
    init_trap_list();
    testing::internal::GetCapturedStderr();
    snmpdConfPath = saved;
    EXPECT_EQ(Global_trapNumber, 0);
    EXPECT_TRUE(list_empty(&Global_trapList));
}

namespace {
std::vector<long> delivered;
void record(netsnmp_variable_list *vars)
{
    // snmpTrapOID.0 first, then the sequence number the producer put in.
    ASSERT_NE(vars, nullptr);
    EXPECT_EQ(snmp_oid_compare(vars->name, vars->name_length, snmptrap_oid, snmptrap_oid_len), 0);
    ASSERT_NE(vars->next_variable, nullptr);
    delivered.push_back(*vars->next_variable->val.integer);
}
} // namespace

namespace {
// Notifications the groups queue while other tests run (the group table's
// own) are freed at the end, as the agent's main loop would send them; the
// leak check of a sanitizer build would report them otherwise.
class DrainNotificationQueue : public ::testing::Environment {
    void TearDown() override { deliverQueuedNotifications([](netsnmp_variable_list *) {}); }
};
[[maybe_unused]] ::testing::Environment *const drainAtEnd =
    ::testing::AddGlobalTestEnvironment(new DrainNotificationQueue);
} // namespace

TEST(NotificationQueue, ABurstFromAPollingThreadIsDeliveredWholeAndInOrder)
{
    // Whatever earlier tests left queued is not part of the burst.
    deliverQueuedNotifications([](netsnmp_variable_list *) {});
    delivered.clear();
    const oid seqOid[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 5, 2, 0};
    std::thread producer([&] {
        for (long i = 0; i < 200; i++) {
            VarbindList vars;
            vars.addNotificationOid(101);
            vars.addInteger(seqOid, OID_LENGTH(seqOid), i);
            queueNotification(vars);
            EXPECT_EQ(vars.get(), nullptr);   // the queue owns it now
        }
    });
    // The main thread drains while the producer is still queueing.
    while (delivered.size() < 200) {
        deliverQueuedNotifications(record);
        std::this_thread::yield();
    }
    producer.join();
    deliverQueuedNotifications(record);
    ASSERT_EQ(delivered.size(), 200u);
    for (long i = 0; i < 200; i++)
        ASSERT_EQ(delivered[static_cast<size_t>(i)], i);
}

TEST(NotificationQueue, NotificationOidIsUnderTheEnterpriseNotificationArc)
{
    VarbindList vars;
    vars.addNotificationOid(105);
    const oid expected[] = {1, 3, 6, 1, 4, 1, 42424, 200, 10, 0, 105};
    ASSERT_NE(vars.get(), nullptr);
    EXPECT_EQ(vars.get()->type, ASN_OBJECT_ID);
    EXPECT_EQ(snmp_oid_compare(vars.get()->val.objid, vars.get()->val_len / sizeof(oid), expected,
                               OID_LENGTH(expected)),
              0);
}
