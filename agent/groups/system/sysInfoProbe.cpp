// SPDX-License-Identifier: BSD-3-Clause
// Probes of the system information group: the product-name device and two
// commands run once at start-up.
#include "groups/system/sysInfoProbe.h"

#include "groups/system/sysInfoFrame.h"
#include "lib/command.h"
#include "lib/fieldCopy.h"
#include "vmspname_ioctl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A start-up command that has not ended by then (a hung tool) counts as
// printing nothing: start-up goes on without its field.
constexpr double startupCommandTimeout = 5.0;

// The first line of a command's output, as fgets gives it into 60 bytes
// (at most 59 characters). Start-up cannot go on without the shell.
std::string firstLineOf(const char *command, const char *failure, GroupReading &reading)
{
    const CommandResult r = runCommand(command, startupCommandTimeout, 4096);
    if (!r.started) {
        printf("%s", failure);
        fflush(stdout);
        exit(1);
    }
    if (!r.succeeded())
        reading.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                    commandFailure(command, r, startupCommandTimeout));
    const size_t newline = r.output.find('\n');
    std::string line = r.output.substr(0, newline == std::string::npos ? newline : newline + 1);
    line = line.substr(0, line.find('\0'));
    if (line.size() > 59)
        line.resize(59);
    return line;
}

} // namespace

std::string parseIssueLine(const std::string &line)
{
    // The blank, the two escapes with a blank between them, and the newline.
    const size_t banner = 7;
    if (line.find("\\n \\l") == std::string::npos || line.size() < banner)
        return std::string();
    return line.substr(0, line.size() - banner);
}

std::string parseReleaseLine(const std::string &line)
{
    // The label "Release:" and its tab.
    const size_t label = 9;
    if (line.find("Release") == std::string::npos || line.size() < label)
        return std::string();
    return line.substr(label);
}

int get_moduleId(GroupReading &reading)
{
    int fd = open("/dev/vmspname", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        puts("cannot open vmspname!");
        reading.openFailed("/dev/vmspname", err);
        return -1;
    }
    char name[VMSPNAME_NAME_LEN] = {};
    if (ioctl(fd, VMSPNAME_GET_NAME, name) != 0) {
        reading.fail(std::string("/dev/vmspname: product name: ") + strerror(errno));
        name[0] = '\0';
    }
    close(fd);
    // The driver terminates the name; a buffer without a NUL is cut.
    setFieldText(sysInfo.moduleId, std::string_view(name, strnlen(name, sizeof name)));
    return 0;
}

int get_imageVersion(GroupReading &reading)
{
    std::string version = parseIssueLine(firstLineOf("cat /etc/issue", "cannot open /etc/issue!", reading));
    if (!version.empty())
        setFieldText(sysInfo.imageVersion, version);
    return 0;
}

int get_releaseDate(GroupReading &reading)
{
    std::string release = parseReleaseLine(firstLineOf("lsb_release -r", "cannot run lsb_release!\n", reading));
    if (!release.empty())
        setFieldText(sysInfo.releaseDate, release);
    return 0;
}
