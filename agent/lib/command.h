/* SPDX-License-Identifier: BSD-3-Clause */
// Running an external command with a time limit and collecting its output.
#pragma once

#include <string>
#include <string_view>

struct CommandResult {
    bool started = false;    // the command could be started, or its program
                             // was found missing or not runnable (status 127
                             // or 126, as the shell gives them)
    bool timedOut = false;   // killed at the time limit; output counts as empty
    int status = -1;         // exit status when it ended by itself, else -1
                             // (killed by a signal, or its end could not be waited for)
    std::string output;      // standard output (at most maxOutput bytes)
    std::string errorOutput; // standard error (at most 4 KiB): the probe decides
                             // what of it reaches the log, never the runner

    // Ended by itself with status 0.
    bool succeeded() const { return started && !timedOut && status == 0; }
    // The command's program could not be found (status 127).
    bool notInstalled() const { return started && !timedOut && status == 127; }
};

// Runs `command` as /bin/sh would, with standard input from /dev/null, in
// a process group of its own; standard output and standard error are
// collected apart. A command of plain words (letters, digits, - _ . / , : +
// @ % and = but not in the first word, separated by blanks; its first word
// no shell keyword or builtin) is started directly, its program found on
// the agent's PATH; one the shell could not run ends as under the shell:
// status 127 when the program is not there, 126 when it cannot be run, a
// line on the error output. Any other command (quotes, expansions,
// redirections, pipes, lists, assignments ...) runs through /bin/sh -c.
// A command still running after timeoutSeconds is killed with its whole
// group, so a tool stuck on a dead mount cannot hold a polling thread; one
// that closed its output but goes on running is waited for without waking
// the caller until it ends or the limit comes. Safe on any thread
// (posix_spawn, no fork of the threaded process). The command text must
// not carry unvalidated outside text.
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
