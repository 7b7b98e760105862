// External commands with a time limit, through posix_spawn and poll.
#include "lib/command.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

double now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Closes a descriptor when the scope ends.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

CommandResult runCommand(const char *command, double timeoutSeconds, size_t maxOutput)
{
    CommandResult r;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return r;
    Fd readEnd{fds[0]}, writeEnd{fds[1]};

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, STDOUT_FILENO);
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
    close(writeEnd.fd);
    writeEnd.fd = -1;

    double deadline = now() + timeoutSeconds;
    char buf[4096];
    for (;;) {
        double left = deadline - now();
        if (left <= 0) {
            r.timedOut = true;
            break;
        }
        struct pollfd p = {readEnd.fd, POLLIN, 0};
        int n = poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            continue;   // time-out is handled at the top
        ssize_t got = read(readEnd.fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;   // end of output
        if (r.output.size() < maxOutput)
            r.output.append(buf, std::min(static_cast<size_t>(got), maxOutput - r.output.size()));
    }
    if (r.timedOut) {
        kill(-pid, SIGKILL);
        r.output.clear();
    }
    // The output has ended; wait for the shell, and past the deadline kill it.
    int status;
    while (waitpid(pid, &status, r.timedOut ? 0 : WNOHANG) == 0) {
        if (now() > deadline) {
            kill(-pid, SIGKILL);
            r.timedOut = true;
            r.output.clear();
        } else {
            usleep(1000);
        }
    }
    if (!r.timedOut && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    return r;
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
