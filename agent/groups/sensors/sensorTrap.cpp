// SPDX-License-Identifier: BSD-3-Clause
// Sensor threshold notifications: per-sensor band state, alarm (.1, .3, .8)
// and clear (.2, .4, .9) notifications.
#include "groups/sensors/sensorTrap.h"

#include <cstdlib>
#include <cstring>

namespace {

double textValue(std::string_view text)
{
    return atof(std::string(text).c_str());
}

void setBand(sensorCheckState &state, long level)
{
    for (int i = 0; i < 4; i++)
        state.bandFlag[i] = i + 2 == level ? 1 : 0;
}

bool inBand(const sensorCheckState &state)
{
    return state.bandFlag[0] || state.bandFlag[1] || state.bandFlag[2] || state.bandFlag[3];
}

} // namespace

long sensorBandLevel(const sensorEntry &node)
{
    const double value = textValue(fieldText(node.value));
    auto beyond = [&](int which, bool above) {
        std::string_view text = fieldText(node.*rowThreshold[which]);
        if (text.empty())
            return false;
        double limit = textValue(text);
        return above ? value > limit : value < limit;
    };
    if (beyond(SENSOR_HIGHHIGH, true))
        return 5;
    if (beyond(SENSOR_HIGH, true))
        return 4;
    if (beyond(SENSOR_LOWLOW, false))
        return 2;
    if (beyond(SENSOR_LOW, false))
        return 3;
    return 1;
}

bool judgeSensorEnableTrap(sensorCheckState &state, const sensorEntry &node)
{
    if (node.state == state.lastState)
        return false;
    state.lastState = node.state;
    return node.state == 1;
}

SensorNotification judgeSensorTrap(sensorCheckState &state, sensorEntry &node)
{
    if (!state.entryFlag) {
        state.lastState = node.state;
        state.entryFlag = 1;
    }

    long level = sensorBandLevel(node);
    if (level != 1) {
        node.level = level;
        if (state.bandFlag[level - 2])
            return judgeSensorEnableTrap(state, node) ? SensorNotification::Alarm : SensorNotification::None;
        // A new band, from normal or from another band. The switch is taken
        // as seen even when off, so that turning it on while the reading
        // stays in this band still sends the alarm at the next check.
        state.lastState = node.state;
        setBand(state, level);
        return node.state == 1 ? SensorNotification::Alarm : SensorNotification::None;
    }

    if (!inBand(state))
        return SensorNotification::None;
    setBand(state, 0);
    node.level = 1;
    return node.state == 1 ? SensorNotification::Clear : SensorNotification::None;
}

bool sensorIsJudged(const SensorFamily &family, const sensorEntry &node)
{
    if (!family.checkKeywords)
        return true;
    std::string_view name = fieldText(node.name);
    for (const char *const *k = family.checkKeywords; *k; k++)
        if (name.find(*k) != std::string_view::npos)
            return true;
    return false;
}

std::vector<sensorAlert> judgeSensorList(const SensorFamily &family, sensorCheckStates &states,
                                         std::vector<sensorEntry> &nodes)
{
    std::vector<sensorAlert> alerts;
    sensorCheckStates kept;
    std::map<std::string, int> occurrences;
    for (sensorEntry &node : nodes) {
        if (!sensorIsJudged(family, node))
            continue;
        std::string name(fieldText(node.name));
        std::pair<std::string, int> key(name, occurrences[name]++);
        auto it = states.find(key);
        sensorCheckState state = it != states.end() ? it->second : sensorCheckState{};
        SensorNotification n = judgeSensorTrap(state, node);
        kept[key] = state;
        if (n != SensorNotification::None)
            alerts.push_back({node, n == SensorNotification::Alarm ? SENSOR_TRAP_ALARM : SENSOR_TRAP_CLEAR});
    }
    states.swap(kept);
    return alerts;
}

void fillSensorDataToTrap(const SensorFamily &family, const sensorEntry &snapshot, int flag, VarbindList &vars)
{
    oid name[13];
    memcpy(name, family.entryOid, sizeof family.entryOid);
    auto column = [&name](int c) {
        name[12] = static_cast<oid>(c);
        return name;
    };
    auto text = [&](int c, std::string_view t) { vars.addOctets(column(c), 13, t.data(), t.size()); };

    vars.addNotificationOid(flag == SENSOR_TRAP_ALARM ? family.alarmTrap : family.clearTrap);
    vars.addInteger(column(COLUMN_SENSOR_INDEX), 13, snapshot.index);
    text(COLUMN_SENSOR_NAME, fieldText(snapshot.name));
    text(COLUMN_SENSOR_VALUE, fieldText(snapshot.value));
    text(COLUMN_SENSOR_HIGH, fieldText(snapshot.high));
    text(COLUMN_SENSOR_LOW, fieldText(snapshot.low));
    text(COLUMN_SENSOR_HIGHHIGH, fieldText(snapshot.highHigh));
    text(COLUMN_SENSOR_LOWLOW, fieldText(snapshot.lowLow));
    vars.addInteger(column(COLUMN_SENSOR_LEVEL), 13, snapshot.level);
}

void send_sensor_notification(const SensorFamily &family, const sensorEntry &snapshot, int flag)
{
    VarbindList vars;
    fillSensorDataToTrap(family, snapshot, flag, vars);
    queueNotification(vars);
}

void sendSensorTraps(const SensorFamily &family)
{
    // One set of states per family, touched only by the sensor thread.
    static sensorCheckStates states[3];
    std::vector<sensorEntry> &nodes = *family.list;
    std::vector<sensorAlert> alerts = judgeSensorList(family, states[static_cast<int>(family.kind)], nodes);
    {
        // The next cycle gives each new node its level from here.
        SensorLock hold(family);
        for (const sensorEntry &node : nodes) {
            if (!sensorIsJudged(family, node))
                continue;
            if (std::optional<thresholdSource> src = thresholdSourceOf(family, fieldText(node.name)))
                *src->level = node.level;
        }
    }
    for (const sensorAlert &a : alerts)
        send_sensor_notification(family, a.snapshot, a.flag);
}

void send_temperature_trap()
{
    sendSensorTraps(temperatureFamily);
}

void send_voltage_trap()
{
    sendSensorTraps(voltageFamily);
}

void send_current_trap()
{
    sendSensorTraps(currentFamily);
}
