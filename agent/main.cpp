// SPDX-License-Identifier: BSD-3-Clause
// vlm_subagent: the hardware-health AgentX subagent. Start-up, main loop, stop.
#include "groups/groups.h"
#include "lib/groupHealth.h"
#include "lib/trapList.h"
#include "mibFrame.h"
#include "startup.h"
#include "thread.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// AddressSanitizer's leak check runs from exit(), which the stop path below
// does not call: a sanitizer build runs it itself.
#if defined(__SANITIZE_ADDRESS__)
#define VLM_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VLM_LEAK_CHECK 1
#endif
#endif
#ifdef VLM_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

// The Wi-Fi and mobile broadband groups are built into every agent, but only
// an agent compiled with VLM_WIRELESS registers them and starts their threads.
#ifdef VLM_WIRELESS
constexpr bool wirelessGroups = true;
#else
constexpr bool wirelessGroups = false;
#endif

int main(int argc, char **argv)
{
    // Messages must reach a pipe or the journal when they are written.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // A parent may hand down SIGCHLD ignored; the kernel would then reap
    // every command the agent runs, and no exit status could be read.
    signal(SIGCHLD, SIG_DFL);
    const CommandLine command = parseCommandLine(argc, argv);
    switch (command.what) {
    case Invocation::Help:
        printUsage();
        return 0;
    case Invocation::Version:
        printf("vlm_subagent %s\n", VLM_VERSION);
        return 0;
    case Invocation::CheckConfig:
        return checkConfigFile(command.configFile);
    default:
        break;
    }
    if (!checkArguments(argc, argv))
        return 1;
    // Before anything of the board is touched: the configuration file, the
    // temporaries beside it, the semaphores.
    claimSingleInstance();
    initMobileDeviceNode(argc, argv);
    // Before the first reading of any group: loading the configuration
    // already reads the trap receivers.
    startGroupHealth(wirelessGroups);

    snmp_enable_stderrlog();
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 1);
    init_agent(VLM_APP_NAME);
    // Ping the master every second: when it restarts, the subagent notices and
    // reconnects within about two seconds instead of the library's fifteen.
    // Set after init_agent, which installs the library's default.
    netsnmp_ds_set_int(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_AGENTX_PING_INTERVAL, 1);

    init_buffer(wirelessGroups);
    register_groups(wirelessGroups);
    init_module(wirelessGroups);

    // Installed before init_snmp: the groups already answer while it runs,
    // so a manager or a service manager may see the agent as up and stop it.
    // A write to a master that went away must not kill the agent.
    signal(SIGPIPE, SIG_IGN);
    keep_running = 1;
    signal(SIGTERM, stop_server);
    signal(SIGINT, stop_server);

    init_snmp(VLM_APP_NAME);

    snmp_log(LOG_INFO, "Velmora SNMP-subagent V%s %s\n", VLM_VERSION, VLM_BUILD_DATE);

    while (keep_running)
        agent_check_and_process(1);

    snmp_shutdown(VLM_APP_NAME);
    // Whatever a polling thread queued after the last turn of the loop is
    // not sent any more: freed, so that the leak check sees nothing.
    deliverQueuedNotifications([](netsnmp_variable_list *) {});
    // The polling threads are detached and never stop: returning from main
    // would run the static destructors of their row lists while a thread
    // rebuilds one (a double free at every unlucky stop). The process ends
    // here instead, after the leak check a sanitizer build runs at exit.
    fflush(nullptr);
#ifdef VLM_LEAK_CHECK
    __lsan_do_leak_check();
#endif
    _exit(0);
}
