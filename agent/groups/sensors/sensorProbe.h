/* SPDX-License-Identifier: BSD-3-Clause */
// Sensor acquisition: one libsensors probe per cycle, and the family's node
// list built from its readings (thresholds not yet attached).
#pragma once

#include "groups/sensors/sensors.h"
#include "lib/groupHealth.h"

#include <optional>
#include <string>
#include <vector>

// One feature of the chip as libsensors reports it.
struct sensorReading {
    SensorKind kind;
    std::optional<std::string> label;   // none: libsensors gave no label
    std::optional<double> value;        // none: no input, or it could not be read
    std::string error;                  // why the input could not be read; empty if it was
};

// libsensors initialised for one cycle and cleaned up when the guard goes.
class SensorsSession {
public:
    SensorsSession();
    ~SensorsSession();
    SensorsSession(const SensorsSession &) = delete;
    SensorsSession &operator=(const SensorsSession &) = delete;
    bool ok() const { return rc_ == 0; }
    int error() const { return rc_; }   // sensors_init's result

private:
    int rc_;
};

// The temperature, voltage and current features of the first chip whose
// prefix holds "vlmhwmon", in libsensors order; none without such a chip
// (the group is absent). False when libsensors cannot be initialised (the
// group is failing); `reading` says which.
bool probeSensorReadings(std::vector<sensorReading> &out, GroupReading &reading);

// Whether the family serves a row for this feature: it has a label, and the
// label passes the family's filter.
bool sensorIsServed(const SensorFamily &family, const sensorReading &feature);

// A reading as served: the family's format, or empty when the text would not
// fit 9 characters or the number is not finite.
std::string formatReading(double value, const char *format);

// Appends the node of one feature at `index` (unit, label cut to 19
// characters, formatted value; thresholds not yet attached). 1 when appended,
// 0 when the feature has no label or fails the family's label filter.
int appendSensorNode(const SensorFamily &family, const sensorReading &feature, long index,
                     std::vector<sensorEntry> &list);

// The family's nodes from one probe: every feature of the kind takes the next
// index, also one without a node. `count` is the number of features.
std::vector<sensorEntry> buildSensorList(const SensorFamily &family, const std::vector<sensorReading> &readings,
                                         int &count);
