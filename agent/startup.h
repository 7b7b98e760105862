/* SPDX-License-Identifier: BSD-3-Clause */
// Start-up of the agent: command line, configuration loading, registration of
// the MIB groups, and the stop signal.
#pragma once

#include "lib/list.h"

#include <csignal>
#include <string>

// The application name the agent library knows us by: it names the agent's
// own Net-SNMP configuration file, vlm-SNMP-subagent-demon.conf.
#define VLM_APP_NAME "vlm-SNMP-subagent-demon"
// The version and its date come from the newest entry of debian/changelog
// (the build reads them), so that the banner, --version and the package
// cannot disagree.
#ifndef VLM_VERSION
#define VLM_VERSION "0"
#endif
#ifndef VLM_BUILD_DATE
#define VLM_BUILD_DATE "[unknown]"
#endif

// 1 while the main loop runs; cleared by stop_server.
extern volatile sig_atomic_t keep_running;
void stop_server(int signo);

// One pair of mobile broadband tty nodes from the command line.
struct mobileDev_list {
    char baseDevFd[20];   // the base node
    char devFd[20];       // the operable node
    list_head list;
};
// Head of the device list; the list is empty without device arguments.
extern mobileDev_list Global_mobileDevList;

// What the command line asks for.
enum class Invocation {
    Run,           // serve: no argument, or one or two device pairs
    Help,          // --help, -h: the usage text, status 0
    Version,       // --version, -V: "vlm_subagent VERSION", status 0
    CheckConfig,   // --check-config [FILE]: read the configuration file, status 0 or 1
    Usage,         // anything else beginning with '-', or a wrong count: usage text, status 1
};
struct CommandLine {
    Invocation what = Invocation::Usage;
    std::string configFile;   // for CheckConfig: the file named, or empty for the agent's own
};
// Pure: what argv asks for. Device paths are checked by checkArguments.
CommandLine parseCommandLine(int argc, char **argv);

// Checks the command line: 1, 3 or 5 words (the program and 0, 2 or 4 device
// paths), each path shorter than 20 characters, none beginning with '-'.
// Prints the usage text (or the offending path) and returns false otherwise.
bool checkArguments(int argc, char **argv);
void printUsage();

// --check-config: reads `file` as the agent reads its configuration at start
// (without counting a boot or writing anything) and says so: "FILE: ok" on
// standard output and 0, or the agent's own message and 1.
int checkConfigFile(const std::string &file);
void initMobileDeviceNode(int argc, char **argv);

// Where the running agent holds its lock; the directory is the service's
// runtime directory, made here when the agent is started by hand.
#define VLM_RUN_DIR "/run/vlm-subagent"
#define VLM_LOCK_FILE VLM_RUN_DIR "/vlm_subagent.pid"

// Makes sure this is the only agent on the board: a second one would count
// a boot, reset the semaphores of the first under its threads and take over
// their sets. Holds a lock on VLM_LOCK_FILE (which then names this process)
// for the life of the process; when another agent holds it, says so and
// ends the process with status 1 before anything is touched. An agent that
// cannot make the file at all (not root) says so and goes on unguarded.
void claimSingleInstance();

// Loads the configuration file and the trap destinations and prepares each
// group's shared state (the Wi-Fi and mobile broadband groups only with
// `wireless`). Ends the process (status 1) when the file is missing,
// unreadable, empty or not well-formed.
void init_buffer(bool wireless = false);

// Registers every group's MIB objects, in the order of the group list; the
// Wi-Fi and mobile broadband groups, which the standard start-up leaves
// out, only with `wireless`.
void register_groups(bool wireless = false);
