// SPDX-License-Identifier: BSD-3-Clause
// Reading the sensors' thresholds from the configuration file.
#include "groups/sensors/sensorConfig.h"

#include "groups/sensors/sensors.h"
#include "lib/fieldCopy.h"
#include "configStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

writableThreshold *newThreshold(const std::string &name)
{
    auto *t = static_cast<writableThreshold *>(calloc(1, sizeof(writableThreshold)));
    if (!t) {
        printf("can not allocate memory\n");
        exit(1);
    }
    setFieldText(t->name, name);
    t->state = 2;
    t->level = 1;
    return t;
}

void freeThresholds(writableThreshold *head)
{
    while (head) {
        writableThreshold *next = head->next;
        free(head);
        head = next;
    }
}

bool listed(const char *const *names, const std::string &id)
{
    for (; names && *names; names++)
        if (id == *names)
            return true;
    return false;
}

// One threshold list as the file gives it: the sentinel head, then one
// record per group of the family, in file order. A group without a state
// key gets notifications enabled, like the factory file.
struct ThresholdList {
    writableThreshold *head = newThreshold("");
    writableThreshold *tail = head;
    bool stateSeen = false;

    void open(const std::string &name)
    {
        if (tail != head && !stateSeen)
            tail->state = 1;
        tail->next = newThreshold(name);
        tail = tail->next;
        stateSeen = false;
    }
    // A key of the family (the prefix taken off) for the group last opened.
    void apply(const std::string &field, const std::string &text)
    {
        if (tail == head)
            return;
        for (int i = 0; i < SENSOR_THRESHOLDS; i++)
            if (field == thresholdKeySuffix[i])
                setFieldText(*thresholdText(*tail, i), text);
        if (field == "State") {
            tail->state = configNumber(text);
            stateSeen = true;
        }
    }
    writableThreshold *finish()
    {
        if (tail != head && !stateSeen)
            tail->state = 1;
        return head;
    }
    static char (*thresholdText(writableThreshold &t, int which))[10]
    {
        char(*const texts[SENSOR_THRESHOLDS])[10] = {&t.high, &t.low, &t.highHigh, &t.lowLow};
        return texts[which];
    }
};

} // namespace

void configureSensors(const ConfigStore &store)
{
    ThresholdList voltage, current;
    const std::string vt = voltageFamily.prefix, cr = currentFamily.prefix;
    for (const ConfigGroup &group : store.groups()) {
        if (listed(voltageFamily.checkKeywords, group.id))
            voltage.open(group.id);
        else if (listed(currentFamily.checkKeywords, group.id))
            current.open(group.id);
        for (const auto &[key, text] : group.details) {
            if (key.size() > 2 && key.compare(0, 2, vt) == 0)
                voltage.apply(key.substr(2), text);
            else if (key.size() > 2 && key.compare(0, 2, cr) == 0)
                current.apply(key.substr(2), text);
        }
    }
    freeThresholds(Global_writableVtHead);
    freeThresholds(Global_writableCrHead);
    Global_writableVtHead = voltage.finish();
    Global_writableCrHead = current.finish();

    char *tp[SENSOR_THRESHOLDS] = {Global_tpHigh, Global_tpLow, Global_tpHighHigh, Global_tpLowLow};
    const std::string tpPrefix = temperatureFamily.prefix;
    for (int i = 0; i < SENSOR_THRESHOLDS; i++)
        if (const std::string *text = store.last(tpPrefix + thresholdKeySuffix[i])) {
            memset(tp[i], 0, sizeof Global_tpHigh);
            memcpy(tp[i], text->data(), std::min(text->size(), sizeof Global_tpHigh - 1));
        }
    if (const std::string *state = store.last(tpPrefix + "State"))
        Global_tpState = static_cast<int>(configNumber(*state));
}
