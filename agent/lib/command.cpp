// SPDX-License-Identifier: BSD-3-Clause
// External commands with a time limit, through posix_spawn and poll.
#include "lib/command.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Waits until the shell ends or the deadline passes, sleeping meanwhile: a
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

    pid_t pid;
    char sh[] = "/bin/sh", dashC[] = "-c";
    char *argv[] = {sh, dashC, const_cast<char *>(command), nullptr};
    int rc = posix_spawn(&pid, sh, &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return r;
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
