/* SPDX-License-Identifier: BSD-3-Clause */
// Reading the board's and the operating system's identity at start-up.
#pragma once

#include "lib/groupHealth.h"

#include <string>

// Each probe adds what it could not read to `reading`: absent when the
// device or the command is not there, failing when reading it failed.
// Product name from /dev/vmspname into sysInfo.moduleId. 0, or -1 without
// the device ("cannot open vmspname!").
int get_moduleId(GroupReading &reading);
// Operating system name and version from the issue banner ("cat /etc/issue").
int get_imageVersion(GroupReading &reading);
// Release from "lsb_release -r".
int get_releaseDate(GroupReading &reading);

// The image version in the banner's first line: the line without the banner's
// escape sequences and its newline, when it carries them ("Debian GNU/Linux 9
// \n \l" gives "Debian GNU/Linux 9"); empty otherwise.
std::string parseIssueLine(const std::string &line);
// The release in "Release:<tab>9.4<newline>": everything after the label and
// its tab, the newline included; empty when the line has no "Release".
std::string parseReleaseLine(const std::string &line);
