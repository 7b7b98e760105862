// Running an external command with a time limit and collecting its output.
#pragma once

#include <string>
#include <string_view>

struct CommandResult {
    bool started = false;    // the shell could be started
    bool timedOut = false;   // killed at the time limit; output counts as empty
    int status = -1;         // exit status when it ended by itself, else -1
    std::string output;      // standard output (at most maxOutput bytes)
};

// Runs `command` through /bin/sh with standard input from /dev/null and
// standard error passed through, in a process group of its own. A command
// still running after timeoutSeconds is killed with its whole group, so a
// tool stuck on a dead mount cannot hold a polling thread. Safe on any
// thread (posix_spawn, no fork of the threaded process). The command text
// must not carry unvalidated outside text.
CommandResult runCommand(const char *command, double timeoutSeconds = 5.0,
                         size_t maxOutput = 1 << 20);

// `text` as one word of a /bin/sh command line, whatever it holds: in single
// quotes, each single quote of its own written as '\''.
std::string shellQuote(std::string_view text);
