/* SPDX-License-Identifier: BSD-3-Clause */
// Temporary configuration files for the unit tests.
#pragma once

#include "groups/sensors/sensorConfig.h"
#include "groups/sensors/sensors.h"
#include "groups/system/sysInfoFrame.h"
#include "configStore.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// A directory of its own holding the configuration file; configFilePath
// points at it for the lifetime of the object.
class TempConfig {
public:
    explicit TempConfig(const std::string &text)
    {
        char tmpl[] = "/tmp/vlmcfgXXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/vlmSNMPsubagent.xml";
        saved_ = configFilePath;
        configFilePath = path_;
        write(text);
    }
    ~TempConfig()
    {
        configFilePath = saved_;
        std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) {
        }
    }
    void write(const std::string &text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string read() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    const std::string &path() const { return path_; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_, path_, saved_;
};

// A configuration document from the body of its `details` element.
inline std::string configDoc(const std::string &details)
{
    return "<?xml version=\"1.0\"?>\n<config><type><details>\n" + details + "</details></type></config>\n";
}

// One voltage or current group as the agent reads it from a file.
struct ThresholdConfig {
    std::string name;
    bool hasState = false;
    long state = 0;
    std::string high, low, highHigh, lowLow;
};

// What a file says, as the agent's groups read it: each field is what the
// group that owns the key takes from the file (the sensors' lists by the
// sensors' own reading rule; the agent's records are left as they are).
struct ConfigValues {
    bool hasDeviceName = false, hasDescr = false;
    std::string deviceName, descr, firstBootTime, bootCount;
    std::vector<ThresholdConfig> voltage, current;
    std::string tp[4];
    long memoryTh[4] = {};
};

inline std::vector<ThresholdConfig> thresholdGroups(const writableThreshold *head)
{
    std::vector<ThresholdConfig> groups;
    for (const writableThreshold *t = head ? head->next : nullptr; t; t = t->next)
        groups.push_back({t->name, true, t->state, t->high, t->low, t->highHigh, t->lowLow});
    return groups;
}

// Reads `text` as the agent does: false when it is not well-formed.
inline bool readConfigValues(const std::string &text, ConfigValues &cv)
{
    ConfigStore store;
    if (!store.read(text.data(), static_cast<int>(text.size())))
        return false;
    auto text_of = [&store](const char *key, bool *present = nullptr) {
        const std::string *t = store.last(key);
        if (present)
            *present = t != nullptr;
        return t ? *t : std::string();
    };
    cv.deviceName = text_of(SYS_DEVICE_NAME_KEY, &cv.hasDeviceName);
    cv.descr = text_of(SYS_DESCR_KEY, &cv.hasDescr);
    cv.firstBootTime = text_of(SYS_FIRST_BOOT_TIME_KEY);
    cv.bootCount = text_of(SYS_BOOT_COUNT_KEY);
    const char *memoryKeys[4] = {"memoryTh1", "memoryTh2", "memoryTh3", "memoryTh4"};
    for (int i = 0; i < 4; i++)
        cv.memoryTh[i] = store.number(memoryKeys[i]);
    for (int i = 0; i < 4; i++)
        cv.tp[i] = text_of((std::string("tp") + thresholdKeySuffix[i]).c_str());
    // The sensors' lists through their own reader, the agent's kept aside.
    writableThreshold *vt = Global_writableVtHead, *cr = Global_writableCrHead;
    char tp[4][10];
    char *const tpFields[4] = {Global_tpHigh, Global_tpLow, Global_tpHighHigh, Global_tpLowLow};
    for (int i = 0; i < 4; i++)
        memcpy(tp[i], tpFields[i], sizeof tp[i]);
    const long tpState = Global_tpState;
    Global_writableVtHead = Global_writableCrHead = nullptr;
    configureSensors(store);
    cv.voltage = thresholdGroups(Global_writableVtHead);
    cv.current = thresholdGroups(Global_writableCrHead);
    for (writableThreshold *list : {Global_writableVtHead, Global_writableCrHead})
        while (list) {
            writableThreshold *next = list->next;
            free(list);
            list = next;
        }
    Global_writableVtHead = vt;
    Global_writableCrHead = cr;
    for (int i = 0; i < 4; i++)
        memcpy(tpFields[i], tp[i], sizeof tp[i]);
    Global_tpState = tpState;
    return true;
}

// The values the file now holds.
inline ConfigValues reread(const TempConfig &cfg)
{
    ConfigValues cv;
    readConfigValues(cfg.read(), cv);
    return cv;
}

// One edit of the file: 1 saved, 0 not opened, read or saved, -1 not
// well-formed (the file left as it was).
inline int editFile(const char *group, const char *key, const std::string &value)
{
    switch (writeConfigEdits({{group, key, value}})) {
    case ConfigWrite::Saved:
    case ConfigWrite::SavedNoMatch:
        return 1;
    case ConfigWrite::NotWellFormed:
        return -1;
    default:
        return 0;
    }
}
inline int editFile(const char *group, const char *key, long value)
{
    return editFile(group, key, std::to_string(value));
}
