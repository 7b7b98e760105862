// SPDX-License-Identifier: BSD-3-Clause
// External commands with a time limit, through posix_spawn and poll.
#include "lib/command.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr size_t MAX_ERROR_OUTPUT = 4096;

double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Closes a descriptor when the scope ends.
struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

int millisecondsLeft(double deadline)
{
    const double left = deadline - now();
    return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
}

// Reads what the command writes on its output and its error output until
// both are closed or the deadline passes (false).
bool collect(int outFd, int errFd, double deadline, size_t maxOutput, CommandResult &r)
{
    struct pollfd p[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string *const into[2] = {&r.output, &r.errorOutput};
    const size_t limit[2] = {maxOutput, MAX_ERROR_OUTPUT};
    char buf[4096];
    while (p[0].fd >= 0 || p[1].fd >= 0) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0)
            return false;
        const int n = poll(p, 2, wait);
        if (n < 0 && errno != EINTR)
            return false;
        for (int i = 0; n > 0 && i < 2; i++) {
            if (p[i].fd < 0 || !p[i].revents)
                continue;
            const ssize_t got = read(p[i].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                p[i].fd = -1;   // closed (poll skips a negative descriptor)
                continue;
            }
            std::string &text = *into[i];
            if (text.size() < limit[i])
                text.append(buf, std::min(static_cast<size_t>(got), limit[i] - text.size()));
        }
    }
    return true;
}

// Waits until the command ends or the deadline passes, sleeping meanwhile: a
// command that closed its output may run on for a long time. Through a
// process descriptor where the kernel has them, else with pauses that
// grow to a tenth of a second. Returns waitpid's result: the pid, 0 at the
// deadline, -1 when the child cannot be waited for.
pid_t waitUntil(pid_t pid, int &status, double deadline)
{
    Fd pidFd{static_cast<int>(syscall(SYS_pidfd_open, pid, 0))};
    useconds_t pause = 1000;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done != 0) {
            if (done < 0 && errno == EINTR)
                continue;
            return done;
        }
        const int wait = millisecondsLeft(deadline);
        if (wait == 0)
            return 0;
        if (pidFd.fd >= 0) {
            struct pollfd p = {pidFd.fd, POLLIN, 0};
            poll(&p, 1, wait);
        } else {
            usleep(std::min<useconds_t>(pause, static_cast<useconds_t>(wait) * 1000));
            pause = std::min<useconds_t>(pause * 2, 100000);
        }
    }
}

// Names the shell runs itself (keywords and builtins) rather than looking
// them up on PATH.
constexpr std::string_view SHELL_WORDS[] = {
    "!", ".", ":", "[", "{", "}", "alias", "bg", "break", "case", "cd", "chdir", "command", "continue", "do",
    "done", "echo", "elif", "else", "esac", "eval", "exec", "exit", "export", "false", "fc", "fg", "fi", "for",
    "getopts", "hash", "if", "in", "jobs", "kill", "local", "printf", "pwd", "read", "readonly", "return", "set",
    "shift", "test", "then", "times", "trap", "true", "type", "ulimit", "umask", "unalias", "unset", "until",
    "wait", "while",
};

// A character that means nothing to the shell inside a word.
bool plainCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && strchr("-_./,:+@%=", c));
}

// The words of `command` when the shell would run it as it stands: words of
// letters, digits and - _ . / , : + @ % = (no quoting, expansion, globbing,
// redirection or second command) separated by blanks, the first naming a
// program (no assignment, no word of the shell itself). Empty otherwise:
// the command needs the shell.
std::vector<std::string> plainWords(std::string_view command)
{
    std::vector<std::string> words;
    size_t i = 0;
    for (;;) {
        while (i < command.size() && (command[i] == ' ' || command[i] == '\t'))
            i++;
        if (i == command.size())
            break;
        const size_t start = i;
        for (; i < command.size() && command[i] != ' ' && command[i] != '\t'; i++)
            if (!plainCharacter(command[i]) || (command[i] == '=' && words.empty()))
                return {};
        words.emplace_back(command.substr(start, i - start));
    }
    if (words.empty() || std::find(std::begin(SHELL_WORDS), std::end(SHELL_WORDS), words[0]) != std::end(SHELL_WORDS))
        return {};
    return words;
}

// The status and error output a POSIX shell gives a command it cannot run:
// 127 for a program that is not there (its name, a directory of its path or
// an interpreter missing, a path too long or looping), 126 for one that is
// there but cannot be run (dash exits 127 for that too when it found the
// file on PATH; a file there is a broken tool, not a missing one).
void cannotRun(const std::string &program, int err, CommandResult &r)
{
    r.started = true;
    const bool missing = err == ENOENT || err == ENOTDIR || err == ELOOP || err == ENAMETOOLONG;
    r.status = missing ? 127 : 126;
    r.errorOutput = program + ": " + (err == ENOENT || err == ENOTDIR ? "not found" : strerror(err)) + "\n";
}

} // namespace

CommandResult runCommand(const char *command, double timeoutSeconds, size_t maxOutput)
{
    CommandResult r;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        return r;
    Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return r;
    Fd errRead{errPipe[0]}, errWrite{errPipe[1]};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.fd, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_init(&attr);
    // A group of its own, so a time-out kills the command's children too; the
    // default signal mask and dispositions, not the agent's.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // A command of plain words is started directly, found on PATH as the
    // shell finds it: a shell in between would cost a third of each start.
    // Without PATH the shell is left to look (its default differs from the
    // C library's); a file without "#!" that the kernel will not run is a
    // shell script, run by the shell as it would have been.
    pid_t pid;
    int rc = 0;
    std::vector<std::string> words = plainWords(command);
    bool direct = !words.empty() && (words[0].find('/') != std::string::npos || getenv("PATH"));
    if (direct) {
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
        direct = rc != ENOEXEC;
    }
    if (!direct) {
        char sh[] = "/bin/sh", dashC[] = "-c";
        char *argv[] = {sh, dashC, const_cast<char *>(command), nullptr};
        rc = posix_spawn(&pid, sh, &actions, &attr, argv, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        // The program could not be run (the C library reports its exec's
        // error) as the shell reports it; no process or no memory for a
        // child: not started.
        if (direct && rc != EAGAIN && rc != ENOMEM)
            cannotRun(words[0], rc, r);
        return r;
    }
    r.started = true;
    outWrite.reset();
    errWrite.reset();

    const double deadline = now() + timeoutSeconds;
    int status = 0;
    pid_t waited = collect(outRead.fd, errRead.fd, deadline, maxOutput, r) ? waitUntil(pid, status, deadline) : 0;
    if (waited == 0) {
        r.timedOut = true;
        kill(-pid, SIGKILL);
        r.output.clear();
        do
            waited = waitpid(pid, &status, 0);
        while (waited < 0 && errno == EINTR);
        return r;
    }
    // A child that cannot be waited for (SIGCHLD ignored makes the kernel
    // reap it) has no status to trust: it counts as failed.
    if (waited > 0 && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    return r;
}

std::string commandFailure(std::string_view name, const CommandResult &r, double timeoutSeconds)
{
    std::string what(name);
    if (!r.started)
        return what + ": could not be started";
    if (r.timedOut) {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%g", timeoutSeconds);
        return what + ": no answer in " + seconds + " s";
    }
    if (r.notInstalled())
        return what + ": not installed";
    if (r.status == 0)
        return std::string();
    what += r.status < 0 ? std::string(": ended abnormally") : ": exit status " + std::to_string(r.status);
    const std::string_view err = r.errorOutput;
    const std::string_view line = err.substr(0, err.find('\n'));
    if (!line.empty())
        what += ": " + std::string(line);
    return what;
}

bool commandInstalled(std::string_view name)
{
    auto executable = [](const std::string &path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string_view::npos)
        return executable(std::string(name));
    const char *path = getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (;;) {
        const size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        if (executable((dir.empty() ? std::string(".") : dir) + "/" + std::string(name)))
            return true;
        if (colon == std::string_view::npos)
            return false;
        dirs.remove_prefix(colon + 1);
    }
}

std::string shellQuote(std::string_view text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
