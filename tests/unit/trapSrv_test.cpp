// SPDX-License-Identifier: BSD-3-Clause
// Address checks and the edit of a destination's trapsink line.
#include "groups/trapServers/trapServerProbe.h"
#include "lib/trapList.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace {
// snmpd.conf with its destinations on lines 20 and 21.
std::string confWithSinksAt20()
{
    std::string conf;
    for (int i = 1; i <= 19; i++)
        conf += "# line " + std::to_string(i) + " mentions 10.0.0.1\n";
    return conf + "trapsink 10.0.0.1 public 162\ntrapsink 10.0.0.1 private 1162\nagentaddress udp:161\n";
}

std::string line(const std::string &text, int n)
{
    size_t start = 0;
    for (int i = 1; i < n; i++)
        start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
}
} // namespace

TEST(TrapSinkEdit, OnlyTheDestinationsOwnLineChanges)
{
    std::string conf = confWithSinksAt20();
    std::string out = editTrapSinkHost(conf, 2, "10.0.0.1", "192.0.2.7");
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(line(out, 20), "trapsink 10.0.0.1 public 162");
    EXPECT_EQ(line(out, 21), "trapsink 192.0.2.7 private 1162");
    EXPECT_EQ(line(out, 5), "# line 5 mentions 10.0.0.1");
    // Everything else stays byte for byte.
    std::string back = editTrapSinkHost(out, 2, "192.0.2.7", "10.0.0.1");
    EXPECT_EQ(back, conf);
}

TEST(TrapSinkEdit, TheOldAddressMustMatchLiterallyAndWhole)
{
    // Dots are not wildcards, and a longer address is another host.
    EXPECT_EQ(editTrapSinkHost("trapsink 10a0b0c1 public 162\n", 1, "10.0.0.1", "10.0.0.2"), "");
    EXPECT_EQ(editTrapSinkHost("trapsink 10.0.0.12 public 162\n", 1, "10.0.0.1", "10.0.0.2"), "");
    EXPECT_EQ(editTrapSinkHost("trapsink 10.0.0.1 10.0.0.1 162\n", 1, "10.0.0.1", "10.0.0.2"),
              "trapsink 10.0.0.2 10.0.0.1 162\n");
}

TEST(TrapSinkEdit, LinesAreFoundByCountingTrapsinkLinesNotByArithmetic)
{
    // Not consecutive, one commented out: the third destination is line 5.
    std::string conf = "trapsink 10.0.0.1 a 162\n#trapsink 10.0.0.2 b 162\nview x\n\ntrapsink\t10.0.0.3\tc 162\n";
    std::string out = editTrapSinkHost(conf, 3, "10.0.0.3", "10.0.0.33");
    EXPECT_EQ(line(out, 5), "trapsink\t10.0.0.33\tc 162");
    EXPECT_EQ(line(editTrapSinkHost(conf, 2, "10.0.0.2", "10.0.0.22"), 2), "#trapsink 10.0.0.22 b 162");
    EXPECT_EQ(editTrapSinkHost(conf, 4, "10.0.0.3", "10.0.0.4"), "");   // no such destination
}

TEST(TrapSinkEdit, AnAddressWithTransportOrPortKeepsThemAndChangesOnlyTheHost)
{
    // Faults: the whole "HOST:PORT" word compared with the served host (no
    // such line: commitFailed) or replaced by it (the port lost).
    EXPECT_EQ(editTrapSinkHost("trapsink udp:10.0.0.1:1162 public\n", 1, "10.0.0.1", "192.0.2.7"),
              "trapsink udp:192.0.2.7:1162 public\n");
    EXPECT_EQ(editTrapSinkHost("trapsink udp:10.0.0.1 public\n", 1, "10.0.0.1", "192.0.2.7"),
              "trapsink udp:192.0.2.7 public\n");
}

TEST(TrapSinkEdit, ALinkedSnmpdConfStaysALinkAndItsTargetTakesTheEdit)
{
    // Fault: the link replaced by a plain file, so the edit is lost at the
    // next boot while the persistent file keeps the old address.
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/vlmlinkXXXXXX";
    const fs::path dir = mkdtemp(tmpl), link = dir / "snmpd.conf", target = dir / "persist" / "snmpd.conf";
    fs::create_directory(dir / "persist");
    std::ofstream(target) << "master agentx\ntrapsink 10.0.0.1 public 162\n";
    fs::create_symlink("persist/snmpd.conf", link);
    const std::string saved = snmpdConfPath;
    snmpdConfPath = link;
    EXPECT_TRUE(changeTrapSinkHost(1, "10.0.0.1", "192.0.2.7"));
    snmpdConfPath = saved;
    EXPECT_TRUE(fs::is_symlink(link));
    std::stringstream text;
    text << std::ifstream(target).rdbuf();
    EXPECT_EQ(text.str(), "master agentx\ntrapsink 192.0.2.7 public 162\n");
    fs::remove_all(dir);
}

TEST(Ipv4Check, OnlyDottedQuadsAreAddresses)
{
    EXPECT_EQ(judgeIpv4Address("192.168.1.10"), 1);
    EXPECT_EQ(judgeIpv4Address("0.0.0.0"), 1);
    EXPECT_NE(judgeIpv4Address("nms.example.com"), 1);
    EXPECT_NE(judgeIpv4Address("::1"), 1);
    EXPECT_NE(judgeIpv4Address("3232235786"), 1);   // four numbers without dots, as one
    EXPECT_NE(judgeIpv4Address("1.2.3"), 1);
    EXPECT_NE(judgeIpv4Address("256.1.1.1"), 1);
    EXPECT_NE(judgeIpv4Address("1.2.3.4 ; reboot"), 1);
}
