// SPDX-License-Identifier: BSD-3-Clause
// Command line of the agent.
#include "startup.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
bool accepts(std::vector<std::string> words)
{
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    testing::internal::CaptureStdout();
    bool ok = checkArguments(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStdout();
    return ok;
}
} // namespace

TEST(CommandLine, TakesNoneTwoOrFourDevicePaths)
{
    EXPECT_TRUE(accepts({"vlm_subagent"}));
    EXPECT_TRUE(accepts({"vlm_subagent", "/dev/ttyACM0", "/dev/ttyACM2"}));
    EXPECT_TRUE(accepts({"vlm_subagent", "/dev/ttyACM0", "/dev/ttyACM2", "/dev/ttyACM7", "/dev/ttyACM9"}));
    EXPECT_FALSE(accepts({"vlm_subagent", "/dev/ttyACM0"}));
    EXPECT_FALSE(accepts({"vlm_subagent", "a", "b", "c"}));
    EXPECT_FALSE(accepts({"vlm_subagent", "a", "b", "c", "d", "e"}));
}

TEST(CommandLine, OptionsAreTheirOwnWordsAndAnyOtherDashIsAUsageError)
{
    // Faults: an option taken for a device path (an agent started with
    // "--help" as its tty), an option with other words accepted, a device
    // pair that looks like an option let through.
    auto what = [](std::vector<std::string> words) {
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(&w[0]);
        return parseCommandLine(static_cast<int>(argv.size()), argv.data());
    };
    EXPECT_EQ(what({"vlm_subagent", "--help"}).what, Invocation::Help);
    EXPECT_EQ(what({"vlm_subagent", "-h"}).what, Invocation::Help);
    EXPECT_EQ(what({"vlm_subagent", "-V"}).what, Invocation::Version);
    EXPECT_EQ(what({"vlm_subagent", "--version", "x"}).what, Invocation::Usage);
    EXPECT_EQ(what({"vlm_subagent", "--check-config"}).configFile, "");
    CommandLine c = what({"vlm_subagent", "--check-config", "/tmp/new.xml"});
    EXPECT_EQ(c.what, Invocation::CheckConfig);
    EXPECT_EQ(c.configFile, "/tmp/new.xml");
    EXPECT_EQ(what({"vlm_subagent", "--check-config", "a", "b"}).what, Invocation::Usage);
    EXPECT_EQ(what({"vlm_subagent", "-x"}).what, Invocation::Usage);
    EXPECT_EQ(what({"vlm_subagent", "/dev/ttyACM0", "-h"}).what, Invocation::Usage);
    EXPECT_EQ(what({"vlm_subagent", "/dev/ttyACM0", "/dev/ttyACM2"}).what, Invocation::Run);
    EXPECT_FALSE(accepts({"vlm_subagent", "--help", "/dev/ttyACM2"}));
}

TEST(CommandLine, PathsLongerThanTheirFieldAreRefusedNotCut)
{
    EXPECT_TRUE(accepts({"vlm_subagent", "/dev/ttyUSB12345678", "/dev/ttyACM2"}));   // 19
    EXPECT_FALSE(accepts({"vlm_subagent", "/dev/ttyUSB123456789", "/dev/ttyACM2"}));  // 20
}

TEST(CommandLine, UsageTextIsTheSevenLines)
{
    testing::internal::CaptureStdout();
    printUsage();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "\n" + std::string(64, '*') + "\n"
              "Please make sure the parameter is \"/dev/tty* /dev/tty* /dev/tty* /dev/tty*\".\n"
              "The first node and the third node is base device node.\n"
              "The second node and the  node is an operable mobile broadband device node.\n"
              "Example:\n"
              "/usr/local/sbin/vlm_subagent /dev/ttyACM0 /dev/ttyACM2 /dev/ttyACM7 /dev/ttyACM9\n" +
                  std::string(66, '*') + "\n\n");
}

TEST(CommandLine, DevicePairsAreKeptInCommandLineOrder)
{
    std::vector<std::string> words = {"vlm_subagent", "/dev/ttyUSB12345678", "/dev/ttyACM2", "/dev/ttyACM7",
                                      "/dev/ttyACM9"};
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    initMobileDeviceNode(static_cast<int>(argv.size()), argv.data());
    std::vector<std::pair<std::string, std::string>> pairs;
    list_for_each(pos, &Global_mobileDevList.list)
    {
        mobileDev_list *node = list_entry(pos, mobileDev_list, list);
        pairs.emplace_back(node->baseDevFd, node->devFd);
    }
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], std::make_pair(std::string("/dev/ttyUSB12345678"), std::string("/dev/ttyACM2")));
    EXPECT_EQ(pairs[1], std::make_pair(std::string("/dev/ttyACM7"), std::string("/dev/ttyACM9")));

    while (!list_empty(&Global_mobileDevList.list)) {
        list_head *first = Global_mobileDevList.list.next;
        list_del(first);
        free(list_entry(first, mobileDev_list, list));
    }
    char *none[] = {argv[0]};
    initMobileDeviceNode(1, none);
    EXPECT_TRUE(list_empty(&Global_mobileDevList.list));
}
