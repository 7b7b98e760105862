/* SPDX-License-Identifier: BSD-3-Clause */
// The system group's keys of the configuration file: the device name and
// description, and the boot bookkeeping (first boot time, boot count).
#pragma once

#include <ctime>
#include <string>

class ConfigStore;

// Fills the identity strings, counts this boot and fills the boot times,
// writing the new count (and a first boot time the file lacks) back in one
// edit of the file.
void configureSystem(const ConfigStore &store);

// Boot bookkeeping: the first boot time the file should hold and the two
// DateAndTime values to serve. A first boot time that is not exactly 22
// hexadecimal digits counts as absent and is replaced by `now`.
struct BootTimes {
    unsigned char firstBootTime[11];
    unsigned char bootTime[11];
    bool writeFirstBootTime;       // the file needs the new first boot time
    std::string firstBootText;     // 22 upper-case hexadecimal digits
};
BootTimes computeBootTimes(const std::string &firstBootText, time_t now);

// The boot count to serve and write back: the stored count plus one (an empty
// or non-numeric count is 0).
long nextBootCount(const std::string &stored);
