// SPDX-License-Identifier: BSD-3-Clause
// The system group's configuration keys and the boot bookkeeping.
#include "groups/system/systemConfig.h"

#include "groups/system/sysInfoFrame.h"
#include "lib/dateAndTime.h"
#include "lib/fieldCopy.h"
#include "configStore.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string hexText(const unsigned char *octets, size_t n)
{
    std::string s;
    char two[3];
    for (size_t i = 0; i < n; i++) {
        snprintf(two, sizeof two, "%02X", octets[i]);
        s += two;
    }
    return s;
}

} // namespace

BootTimes computeBootTimes(const std::string &firstBootText, time_t now)
{
    BootTimes bt = {};
    dateAndTime(now, bt.bootTime);
    bool valid = firstBootText.size() == 2 * DATE_AND_TIME_LEN &&
                 firstBootText.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (valid) {
        for (int i = 0; i < DATE_AND_TIME_LEN; i++)
            bt.firstBootTime[i] =
                static_cast<unsigned char>(strtoul(firstBootText.substr(2 * i, 2).c_str(), nullptr, 16));
        bt.firstBootText = firstBootText;
        bt.writeFirstBootTime = false;
    } else {
        memcpy(bt.firstBootTime, bt.bootTime, DATE_AND_TIME_LEN);
        bt.firstBootText = hexText(bt.bootTime, DATE_AND_TIME_LEN);
        bt.writeFirstBootTime = true;
    }
    return bt;
}

long nextBootCount(const std::string &stored)
{
    long count = strtol(stored.c_str(), nullptr, 10);
    if (count < 0)
        count = 0;
    if (count >= INT32_MAX)
        count = INT32_MAX - 1;   // served as a 32-bit INTEGER
    return count + 1;
}

void configureSystem(const ConfigStore &store)
{
    if (const std::string *name = store.last(SYS_DEVICE_NAME_KEY))
        setFieldOctets(sysInfo.deviceName, name->data(), name->size());
    if (const std::string *descr = store.last(SYS_DESCR_KEY))
        setFieldOctets(sysInfo.descr, descr->data(), descr->size());

    // Every start counts one boot; the first start after installation
    // records the first boot time. Both go back in one write.
    std::vector<ConfigEdit> edits;
    const std::string *firstBoot = store.last(SYS_FIRST_BOOT_TIME_KEY);
    const std::string *bootCount = store.last(SYS_BOOT_COUNT_KEY);
    BootTimes bt = computeBootTimes(firstBoot ? *firstBoot : std::string(), time(nullptr));
    memcpy(sysInfo.firstBootTime, bt.firstBootTime, sizeof sysInfo.firstBootTime);
    memcpy(sysInfo.bootTime, bt.bootTime, sizeof sysInfo.bootTime);
    if (firstBoot && bt.writeFirstBootTime)
        edits.push_back({SYSTEM_CONFIG_GROUP, SYS_FIRST_BOOT_TIME_KEY, bt.firstBootText});
    sysInfo.bootCount = nextBootCount(bootCount ? *bootCount : std::string());
    if (bootCount)
        edits.push_back({SYSTEM_CONFIG_GROUP, SYS_BOOT_COUNT_KEY, std::to_string(sysInfo.bootCount)});

    if (!edits.empty()) {
        ConfigWrite r = writeConfigEdits(edits);
        if (r != ConfigWrite::Saved)
            fprintf(stderr, "the boot count could not be stored in %s\n", configFilePath.c_str());
    }
}
