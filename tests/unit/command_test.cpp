// SPDX-License-Identifier: BSD-3-Clause
// External commands with a time limit.
#include "lib/command.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A directory of its own for programs the tests run.
struct ProgramDir {
    std::string path;
    ProgramDir()
    {
        char tmpl[] = "/tmp/vlmcmdXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~ProgramDir() { std::filesystem::remove_all(path); }
    std::string add(const std::string &name, const std::string &text, mode_t mode) const
    {
        const std::string file = path + "/" + name;
        std::ofstream(file) << text;
        chmod(file.c_str(), mode);
        return file;
    }
};

// An environment variable set for the lifetime of the object.
struct EnvVar {
    std::string name;
    std::optional<std::string> saved;
    EnvVar(const char *n, const std::string &value) : name(n)
    {
        if (const char *old = getenv(n))
            saved = old;
        setenv(n, value.c_str(), 1);
    }
    ~EnvVar() { saved ? setenv(name.c_str(), saved->c_str(), 1) : unsetenv(name.c_str()); }
};

// Whether process `pid` still runs (a zombie waiting for its parent does not).
bool running(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(") ");
    return close != std::string::npos && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

} // namespace

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
    // The sleeping child keeps the pipe open: only killing the group ends
    // it. Through the shell, and as a program started directly.
    ProgramDir dir;
    const std::string childPid = dir.path + "/child";
    const std::string hang = "echo partial; sleep 30 & echo $! > " + childPid + "; exec sleep 30\n";
    const std::string program = dir.add("hang", "#!/bin/sh\n" + hang, 0700);
    for (const std::string &command : {hang, program}) {
        std::filesystem::remove(childPid);
        auto t0 = std::chrono::steady_clock::now();
        CommandResult r = runCommand(command.c_str(), 0.3);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_TRUE(r.timedOut) << command;
        EXPECT_EQ(r.output, "");   // a cut output is not used
        EXPECT_LT(took, 5.0);
        pid_t child = 0;
        std::ifstream(childPid) >> child;
        ASSERT_GT(child, 0) << command;
        for (int i = 0; i < 100 && running(child); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(running(child)) << command << ": the command's child outlived it";
    }
}

TEST(Command, APlainCommandIsStartedWithoutAShell)
{
    // Its parent is this process, and it gets the environment as this
    // process holds it: a shell in between would be its parent, or (had it
    // handed over its own process) would have set PWD to the directory it
    // runs in.
    EnvVar pwd("PWD", "/vlm-not-the-working-directory");
    CommandResult r = runCommand("cat /proc/self/stat /proc/self/environ");
    ASSERT_EQ(r.status, 0) << r.errorOutput;
    const size_t close = r.output.find(") ");   // "PID (cat) STATE PPID ..."
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(strtol(r.output.c_str() + close + 4, nullptr, 10), getpid());
    EXPECT_NE(r.output.find(std::string("PWD=/vlm-not-the-working-directory") + '\0'), std::string::npos);
}

TEST(Command, AProgramStartedDirectlyEndsAsUnderTheShell)
{
    // Each command run directly and (the ";" makes it shell syntax) through
    // the shell: the same status and output, whether the program is found
    // on PATH, missing, not executable, a script without "#!" (the shell
    // runs it itself) or one whose interpreter is missing.
    ProgramDir dir;
    dir.add("vlm-script", "#!/bin/sh\necho script \"$@\"\n", 0700);
    dir.add("vlm-bare", "echo bare \"$@\"\n", 0700);
    dir.add("vlm-no-exec", "#!/bin/sh\necho ran\n", 0600);
    dir.add("vlm-bad-interpreter", "#!/vlm/no/such/shell\n", 0700);
    std::filesystem::create_directory(dir.path + "/vlm-dir");
    EnvVar path("PATH", dir.path + ":/usr/local/bin:/usr/bin:/bin");
    const std::vector<std::string> commands = {"vlm-script a  b",
                                               "vlm-bare x",
                                               "no-such-command-vlm --version",
                                               "vlm-bad-interpreter",
                                               dir.path + "/vlm-no-exec",
                                               dir.path + "/vlm-dir",
                                               dir.path + "/vlm-script/x"};
    for (const std::string &command : commands) {
        const CommandResult direct = runCommand(command.c_str());
        const CommandResult shell = runCommand((command + ";").c_str());
        EXPECT_TRUE(direct.started) << command;
        EXPECT_EQ(direct.status, shell.status) << command;
        EXPECT_EQ(direct.output, shell.output) << command;
        EXPECT_EQ(direct.errorOutput.empty(), shell.errorOutput.empty()) << command;
    }

    const CommandResult missing = runCommand("no-such-command-vlm --version");
    EXPECT_TRUE(missing.notInstalled());
    EXPECT_EQ(commandFailure("no-such-command-vlm", missing, 3), "no-such-command-vlm: not installed");
    // Found on PATH but not runnable: a failure with status 126, as POSIX
    // shells give it (dash says "Permission denied" but exits 127), not a
    // missing tool.
    for (const char *command : {"vlm-no-exec", "vlm-dir"}) {
        const CommandResult denied = runCommand(command);
        EXPECT_EQ(denied.status, 126) << command;
        EXPECT_EQ(commandFailure(command, denied, 3),
                  std::string(command) + ": exit status 126: " + command + ": Permission denied");
    }
}

TEST(Command, ShellWordsAndSyntaxStillGoThroughTheShell)
{
    // A builtin, an assignment, a tilde, a comment: run without the shell,
    // each would fail or print something else.
    EnvVar home("HOME", "/vlm-home");
    EXPECT_EQ(runCommand("exit 3").status, 3);
    EXPECT_EQ(runCommand("VLM_WORD=1 printenv VLM_WORD").output, "1\n");
    EXPECT_EQ(runCommand("basename ~").output, "vlm-home\n");
    EXPECT_EQ(runCommand("basename a#b #c").output, "a#b\n");
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
