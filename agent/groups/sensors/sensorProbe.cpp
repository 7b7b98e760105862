// SPDX-License-Identifier: BSD-3-Clause
// Sensor acquisition: one libsensors probe per cycle and the family's node
// lists built from its readings.
#include "groups/sensors/sensorProbe.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// -- libsensors ----------------------------------------------------------------

SensorsSession::SensorsSession()
{
    // libsensors' own default configuration; loaded every cycle so that a
    // change of it takes effect without a restart.
    rc_ = sensors_init(nullptr);
}

SensorsSession::~SensorsSession()
{
    // A failed sensors_init has cleaned up after itself.
    if (ok())
        sensors_cleanup();
}

namespace {

// The input's value, or why it could not be read.
std::optional<double> inputValue(const sensors_chip_name *chip, const sensors_feature *feature,
                                 sensors_subfeature_type input, std::string &error)
{
    const sensors_subfeature *sub = sensors_get_subfeature(chip, feature, input);
    if (!sub)
        return std::nullopt;
    double value;
    int rc = sensors_get_value(chip, sub->number, &value);
    if (rc == 0)
        return value;
    error = std::string(sub->name) + ": " + sensors_strerror(rc);
    return std::nullopt;
}

} // namespace

bool probeSensorReadings(std::vector<sensorReading> &out, GroupReading &reading)
{
    out.clear();
    SensorsSession session;
    if (!session.ok()) {
        reading.fail(std::string("sensors_init: ") + sensors_strerror(session.error()));
        return false;
    }

    const sensors_chip_name *chip = nullptr;
    int chipNr = 0;
    while ((chip = sensors_get_detected_chips(nullptr, &chipNr)) != nullptr)
        if (chip->prefix && strstr(chip->prefix, "vlmhwmon"))
            break;
    if (!chip) {
        reading.absent("no hardware-monitor chip vlmhwmon");
        return true;
    }

    const sensors_feature *feature;
    int featureNr = 0;
    while ((feature = sensors_get_features(chip, &featureNr)) != nullptr) {
        sensorReading r;
        sensors_subfeature_type input;
        switch (feature->type) {
        case SENSORS_FEATURE_TEMP:
            r.kind = SensorKind::Temperature;
            input = SENSORS_SUBFEATURE_TEMP_INPUT;
            break;
        case SENSORS_FEATURE_IN:
            r.kind = SensorKind::Voltage;
            input = SENSORS_SUBFEATURE_IN_INPUT;
            break;
        case SENSORS_FEATURE_CURR:
            r.kind = SensorKind::Current;
            input = SENSORS_SUBFEATURE_CURR_INPUT;
            break;
        default:
            continue;
        }
        char *label = sensors_get_label(chip, feature);
        if (label) {
            r.label = std::string(label);
            free(label);
            r.value = inputValue(chip, feature, input, r.error);
        }
        out.push_back(std::move(r));
    }
    return true;
}

// -- lists from readings ----------------------------------------------------------

std::string formatReading(double value, const char *format)
{
    if (!std::isfinite(value))
        return std::string();
    char text[64];
    int n = snprintf(text, sizeof text, format, value);
    // The field holds 9 characters; a cut number would read as another one.
    if (n < 0 || n > 9)
        return std::string();
    return text;
}

bool sensorIsServed(const SensorFamily &family, const sensorReading &feature)
{
    return feature.label && (!family.labelFilter || feature.label->find(family.labelFilter) != std::string::npos);
}

int appendSensorNode(const SensorFamily &family, const sensorReading &feature, long index,
                     std::vector<sensorEntry> &list)
{
    if (!sensorIsServed(family, feature))
        return 0;
    sensorEntry node{};
    node.index = index;
    setSensorText(node.name, node.name_len, *feature.label);
    setSensorText(node.unit, node.unit_len, family.unit);
    setSensorText(node.value, node.value_len,
                  feature.value ? formatReading(*feature.value, family.format) : std::string());
    setSensorText(node.getTime, node.getTime_len, "NULL");
    // libsensors divides the kernel's integer by 1000; rounding restores it.
    node.read = feature.value && std::isfinite(*feature.value) && std::fabs(*feature.value) < 1e9;
    node.milli = node.read ? std::lround(*feature.value * 1000) : 0;
    list.push_back(node);
    return 1;
}

std::vector<sensorEntry> buildSensorList(const SensorFamily &family, const std::vector<sensorReading> &readings,
                                         int &count)
{
    std::vector<sensorEntry> list;
    count = 0;
    for (const sensorReading &r : readings) {
        if (r.kind != family.kind)
            continue;
        // Every feature of the kind takes an index, also one left out, so
        // that a sensor keeps its index whatever its neighbours do.
        ++count;
        appendSensorNode(family, r, count, list);
    }
    return list;
}
