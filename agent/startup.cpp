// SPDX-License-Identifier: BSD-3-Clause
// Command line, configuration loading and group registration of the agent.
#include "startup.h"

#include "groups/groups.h"
#include "lib/atomicFile.h"
#include "lib/fieldCopy.h"
#include "lib/trapList.h"
#include "mibFrame.h"
#include "configStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

volatile sig_atomic_t keep_running = 0;
mobileDev_list Global_mobileDevList = {{}, {}, {&Global_mobileDevList.list, &Global_mobileDevList.list}};

void stop_server(int)
{
    keep_running = 0;
}

void printUsage()
{
    puts("\n****************************************************************");
    puts("Please make sure the parameter is \"/dev/tty* /dev/tty* /dev/tty* /dev/tty*\".");
    puts("The first node and the third node is base device node.");
    puts("The second node and the  node is an operable mobile broadband device node.");
    puts("Example:");
    puts("/usr/local/sbin/vlm_subagent /dev/ttyACM0 /dev/ttyACM2 /dev/ttyACM7 /dev/ttyACM9");
    puts("******************************************************************\n");
}

CommandLine parseCommandLine(int argc, char **argv)
{
    CommandLine c;
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h"))
        c.what = Invocation::Help;
    else if (argc == 2 && (first == "--version" || first == "-V"))
        c.what = Invocation::Version;
    else if ((argc == 2 || argc == 3) && first == "--check-config") {
        c.what = Invocation::CheckConfig;
        c.configFile = argc == 3 ? argv[2] : "";
    } else {
        c.what = Invocation::Run;
        for (int i = 1; i < argc; i++)
            if (argv[i][0] == '-')
                c.what = Invocation::Usage;
    }
    return c;
}

bool checkArguments(int argc, char **argv)
{
    if ((argc != 1 && argc != 3 && argc != 5) || parseCommandLine(argc, argv).what != Invocation::Run) {
        printUsage();
        return false;
    }
    // A cut path would name another device: refuse it instead.
    for (int i = 1; i < argc; i++) {
        if (strlen(argv[i]) >= sizeof(mobileDev_list::devFd)) {
            printf("device path too long (at most %zu characters): %s\n",
                   sizeof(mobileDev_list::devFd) - 1, argv[i]);
            return false;
        }
    }
    return true;
}

void initMobileDeviceNode(int argc, char **argv)
{
    INIT_LIST_HEAD(&Global_mobileDevList.list);
    for (int i = 1; i + 1 < argc; i += 2) {
        auto *node = static_cast<mobileDev_list *>(calloc(1, sizeof(mobileDev_list)));
        if (!node) {
            printf("can not allocate memory \n");
            exit(1);
        }
        setFieldText(node->baseDevFd, argv[i]);
        setFieldText(node->devFd, argv[i + 1]);
        list_add_tail(&node->list, &Global_mobileDevList.list);
    }
}

void claimSingleInstance()
{
    if (mkdir(VLM_RUN_DIR, 0755) != 0 && errno != EEXIST)
        fprintf(stderr, "cannot make %s: %s\n", VLM_RUN_DIR, strerror(errno));
    // Kept open, and so locked, until the process ends.
    const int fd = open(VLM_LOCK_FILE, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        fprintf(stderr, "cannot open %s: %s; a second agent would not be noticed\n", VLM_LOCK_FILE, strerror(errno));
        return;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[24] = {};
        const ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
        pid[n > 0 ? n : 0] = '\0';
        pid[strcspn(pid, "\n")] = '\0';
        fprintf(stderr, "vlm_subagent is already running (pid %s, lock %s); this one exits\n",
                pid[0] ? pid : "unknown", VLM_LOCK_FILE);
        exit(1);
    }
    const std::string self = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, self.data(), self.size(), 0) != static_cast<ssize_t>(self.size()))
        fprintf(stderr, "cannot write %s: %s\n", VLM_LOCK_FILE, strerror(errno));
}

int checkConfigFile(const std::string &file)
{
    if (!file.empty())
        configFilePath = file;
    std::string text;
    if (readConfigFile(text) != ConfigWrite::Saved)
        return 1;
    ConfigStore store;
    std::string where;
    if (!store.read(text.data(), static_cast<int>(text.size()), &where)) {
        fprintf(stderr, "parse xml failed: %s\n", where.c_str());
        return 1;
    }
    printf("%s: ok\n", configFilePath.c_str());
    return 0;
}

void init_buffer(bool wireless)
{
    // What a write cut short by a crash or power cut left beside the files
    // the agent rewrites.
    removeStaleTemporaries(configFilePath);
    removeStaleTemporaries(snmpdConfPath);
    std::string text;
    if (readConfigFile(text) != ConfigWrite::Saved)
        exit(1);
    std::string where;
    if (loadConfiguration(text.data(), static_cast<int>(text.size()), &where) < 0) {
        fprintf(stderr, "parse xml failed: %s\n", where.c_str());
        exit(1);
    }
    // Each group's state before any thread runs.
    for (const GroupDescriptor *g : agentGroups())
        if ((wireless || !g->wireless) && g->prepare)
            g->prepare();
}

void register_groups(bool wireless)
{
    registerAgentRegion();
    for (const GroupDescriptor *g : agentGroups())
        if (wireless || !g->wireless)
            g->registerObjects();
}
