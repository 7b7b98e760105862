// External commands with a time limit.
#include "lib/command.h"

#include <chrono>
#include <gtest/gtest.h>

TEST(Command, CollectsOutputAndExitStatus)
{
    CommandResult r = runCommand("printf 'a b\\nc\\n'; exit 3");
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "a b\nc\n");
}

TEST(Command, AHungCommandAndItsChildrenAreKilledAtTheLimit)
{
    // The sleeping child keeps the pipe open: only killing the group ends it.
    auto t0 = std::chrono::steady_clock::now();
    CommandResult r = runCommand("echo partial; sleep 30 & sleep 30", 0.3);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.output, "");   // a cut output is not used
    EXPECT_LT(took, 5.0);
}

TEST(Command, OutputIsBounded)
{
    CommandResult r = runCommand("head -c 100000 /dev/zero", 5.0, 1000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.output.size(), 1000u);
}

TEST(Command, AQuotedWordReachesTheCommandAsItIs)
{
    // Each text comes back whole from printf: no expansion, no splitting,
    // no second command.
    for (const char *text : {"/dev/ttyACM2", "AT+COPS?", "", "it's", "a b\tc", "$(touch x);`id`|x&y>z",
                             "''\\'", "\"*\"\n"}) {
        CommandResult r = runCommand(("printf '%s' " + shellQuote(text)).c_str());
        EXPECT_EQ(r.status, 0) << text;
        EXPECT_EQ(r.output, text);
    }
    EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
}
