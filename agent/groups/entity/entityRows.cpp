// SPDX-License-Identifier: BSD-3-Clause
// The entity view's rows from the other groups' readings.
#include "groups/entity/entityRows.h"

#include <algorithm>
#include <tuple>

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

struct KindText {
    long base;
    SensorDataType type;
    const char *units;
    const char *what;
};

KindText kindText(EntitySensorKind kind)
{
    switch (kind) {
    case EntitySensorKind::Temperature:
        return {ENTITY_TEMPERATURE_BASE, SensorDataType::Celsius, "degrees C", "Temperature sensor"};
    case EntitySensorKind::Voltage:
        return {ENTITY_VOLTAGE_BASE, SensorDataType::VoltsDC, "V", "Voltage sensor (DC)"};
    case EntitySensorKind::Current:
        break;
    }
    return {ENTITY_CURRENT_BASE, SensorDataType::Amperes, "A", "Current sensor"};
}

EntityRow entry(long index, EntityClass cls, long containedIn, long relPos, std::string name, std::string descr)
{
    EntityRow row{};
    row.index = index;
    row.cls = cls;
    row.containedIn = containedIn;
    row.relPos = relPos;
    row.name = std::move(name);
    row.descr = std::move(descr);
    return row;
}

} // namespace

std::optional<long> milliUnits(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    long whole = 0;
    long fraction = 0;
    int fractionDigits = 0;
    bool digits = false, point = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        digits = true;
        if (!point) {
            whole = whole * 10 + (c - '0');
            if (whole > SENSOR_VALUE_LIMIT / 1000)
                return std::nullopt;
        } else if (fractionDigits < 3) {
            fraction = fraction * 10 + (c - '0');
            fractionDigits++;
        }
    }
    if (!digits)
        return std::nullopt;
    for (; fractionDigits < 3; fractionDigits++)
        fraction *= 10;
    const long value = whole * 1000 + fraction;
    if (value > SENSOR_VALUE_LIMIT)
        return std::nullopt;
    return negative ? -value : value;
}

SensorStatus sensorStatus(const std::optional<long> &value, std::string_view highHigh, std::string_view lowLow)
{
    if (!value)
        return SensorStatus::Unavailable;
    const std::optional<long> above = milliUnits(highHigh);
    const std::optional<long> below = milliUnits(lowLow);
    if ((above && *value > *above) || (below && *value < *below))
        return SensorStatus::Nonoperational;
    return SensorStatus::Ok;
}

std::vector<EntityRow> buildEntityRows(const BoardReading &board)
{
    std::vector<EntityRow> rows;
    EntityRow chassis = entry(ENTITY_CHASSIS, EntityClass::Chassis, 0, -1, board.product,
                              board.product.empty() ? "Board" : board.product);
    chassis.model = board.product;
    chassis.softwareRev = board.imageVersion;
    chassis.fru = true;
    rows.push_back(std::move(chassis));

    for (const SensorRowReading &s : board.sensors) {
        const KindText k = kindText(s.kind);
        EntityRow row = entry(k.base + s.row, EntityClass::Sensor, ENTITY_CHASSIS, s.row, s.label,
                              std::string(k.what) + ": " + s.label);
        // A reading outside entPhySensorValue's range is none it can show.
        std::optional<long> value = s.milli;
        if (value && (*value > SENSOR_VALUE_LIMIT || *value < -SENSOR_VALUE_LIMIT))
            value.reset();
        row.sensor = EntitySensor{k.type, SensorDataScale::Milli, value.value_or(0),
                                  sensorStatus(value, s.highHigh, s.lowLow), k.units};
        rows.push_back(std::move(row));
    }

    for (const PowerInputReading &p : board.powerInputs) {
        const std::string input = "Power input " + std::to_string(p.input);
        rows.push_back(entry(ENTITY_POWER_INPUT_BASE + p.input, EntityClass::PowerSupply, ENTITY_CHASSIS, p.input,
                             input, "Power-supply input " + std::to_string(p.input)));
        EntityRow good = entry(ENTITY_POWER_SENSOR_BASE + p.input, EntityClass::Sensor,
                               ENTITY_POWER_INPUT_BASE + p.input, 1, input + " good",
                               "Power-supply input " + std::to_string(p.input) + " good: true or false");
        const bool read = p.good == 1 || p.good == 2;
        good.sensor = EntitySensor{SensorDataType::TruthValue, SensorDataScale::Units, read ? p.good : 0,
                                   read ? SensorStatus::Ok : SensorStatus::Unavailable, ""};
        rows.push_back(std::move(good));
    }

    for (const DiskReading &d : board.disks) {
        std::string descr = "Hard disk: " + d.model;
        if (!d.family.empty() && d.family != "N/A")
            descr += " (" + d.family + ")";
        EntityRow row = entry(ENTITY_DISK_BASE + d.row, EntityClass::StorageDrive, ENTITY_CHASSIS, d.row,
                              "Disk " + std::to_string(d.row), descr);
        row.model = d.model;
        row.firmwareRev = d.firmware;
        row.serial = d.serial;
        row.fru = true;
        rows.push_back(std::move(row));
    }

    std::stable_sort(rows.begin(), rows.end(),
                     [](const EntityRow &a, const EntityRow &b) { return a.index < b.index; });
    // Two readings of one index (a table holding an index twice for a moment)
    // would make the walk repeat it: the first is kept.
    rows.erase(std::unique(rows.begin(), rows.end(),
                           [](const EntityRow &a, const EntityRow &b) { return a.index == b.index; }),
               rows.end());
    return rows;
}

bool entityRowsDiffer(const std::vector<EntityRow> &a, const std::vector<EntityRow> &b)
{
    const auto physical = [](const EntityRow &r) {
        return std::tie(r.index, r.descr, r.containedIn, r.cls, r.relPos, r.name, r.firmwareRev, r.softwareRev,
                        r.serial, r.model, r.fru);
    };
    return !std::equal(a.begin(), a.end(), b.begin(), b.end(),
                       [&](const EntityRow &x, const EntityRow &y) { return physical(x) == physical(y); });
}
