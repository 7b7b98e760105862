// SPDX-License-Identifier: BSD-3-Clause
// External commands with a time limit.
#include "lib/command.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

TEST(Command, CollectsOutputAndExitStatus)
{
    CommandResult r = runCommand("printf 'a b\\nc\\n'; exit 3");
    EXPECT_TRUE(r.started);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "a b\nc\n");
}

TEST(Command, ErrorOutputIsKeptApartAndNamesTheFailure)
{
    CommandResult r = runCommand("echo out; echo 'df: /mnt/nfs: Stale file handle' >&2; echo more >&2; exit 1");
    EXPECT_EQ(r.output, "out\n");
    EXPECT_EQ(r.errorOutput, "df: /mnt/nfs: Stale file handle\nmore\n");
    EXPECT_EQ(commandFailure("df -m -l", r, 3), "df -m -l: exit status 1: df: /mnt/nfs: Stale file handle");

    CommandResult missing = runCommand("no-such-command-vlm 2>/dev/null");
    EXPECT_TRUE(missing.notInstalled());
    EXPECT_EQ(commandFailure("no-such-command-vlm", missing, 3), "no-such-command-vlm: not installed");
    EXPECT_FALSE(commandInstalled("no-such-command-vlm"));
    EXPECT_TRUE(commandInstalled("sh"));
    EXPECT_TRUE(commandInstalled("/bin/sh"));
    EXPECT_FALSE(commandInstalled("/etc/passwd"));   // there, but no program

    EXPECT_EQ(commandFailure("x", runCommand("sleep 5", 0.2), 0.2), "x: no answer in 0.2 s");
    EXPECT_EQ(commandFailure("x", runCommand("true"), 1), "");
}

TEST(Command, ACommandThatClosesItsOutputIsWaitedForWithoutSpinning)
{
    // The output ends at once, the command 0.4 s later: the runner must
    // sleep until then (not wake every millisecond) and get its status.
    struct rusage before, after;
    getrusage(RUSAGE_THREAD, &before);
    CommandResult r = runCommand("exec >&- 2>&-; sleep 0.4; exit 4", 5.0);
    getrusage(RUSAGE_THREAD, &after);
    EXPECT_EQ(r.status, 4);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(after.ru_nvcsw - before.ru_nvcsw, 40) << "the runner woke up over and over";
}

TEST(Command, AnUnwaitableCommandCountsAsFailed)
{
    // With SIGCHLD ignored (a disposition a parent can hand down) the kernel
    // reaps the shell itself, and waitpid has no status to give.
    struct sigaction ignore = {}, previous;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, &previous);
    CommandResult r = runCommand("exit 0");
    sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_FALSE(r.succeeded());
    EXPECT_EQ(r.status, -1);
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
