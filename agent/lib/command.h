/* SPDX-License-Identifier: BSD-3-Clause */
// Running an external command with a time limit and collecting its output.
#pragma once

#include <string>
#include <string_view>

struct CommandResult {
    bool started = false;    // the shell could be started
    bool timedOut = false;   // killed at the time limit; output counts as empty
    int status = -1;         // exit status when it ended by itself, else -1
                             // (killed by a signal, or its end could not be waited for)
    std::string output;      // standard output (at most maxOutput bytes)
    std::string errorOutput; // standard error (at most 4 KiB): the probe decides
                             // what of it reaches the log, never the runner

    // Ended by itself with status 0.
    bool succeeded() const { return started && !timedOut && status == 0; }
    // The shell could not find the command (status 127).
    bool notInstalled() const { return started && !timedOut && status == 127; }
};

// Runs `command` through /bin/sh with standard input from /dev/null, in a
// process group of its own; standard output and standard error are
// collected apart. A command still running after timeoutSeconds is killed
// with its whole group, so a tool stuck on a dead mount cannot hold a
// polling thread; one that closed its output but goes on running is waited
// for without waking the caller until it ends or the limit comes. Safe on
// any thread (posix_spawn, no fork of the threaded process). The command
// text must not carry unvalidated outside text.
CommandResult runCommand(const char *command, double timeoutSeconds = 5.0,
                         size_t maxOutput = 1 << 20);

// What went wrong with a run, in words for the log and the group table,
// naming the command by `name`: "NAME: not installed", "NAME: no answer in
// 3 s", "NAME: could not be started", "NAME: exit status 2: FIRST LINE OF
// ITS ERROR OUTPUT"; empty when it succeeded.
std::string commandFailure(std::string_view name, const CommandResult &r, double timeoutSeconds);

// Whether `name` (a path, or a word looked up on PATH as the shell does) is
// an executable file.
bool commandInstalled(std::string_view name);

// `text` as one word of a /bin/sh command line, whatever it holds: in single
// quotes, each single quote of its own written as '\''.
std::string shellQuote(std::string_view text);
