// SPDX-License-Identifier: BSD-3-Clause
// Temperature, voltage and current sensors through libsensors.
#include "groups/groups.h"

#include "groups/sensors/sensorConfig.h"
#include "groups/sensors/sensorCycle.h"
#include "groups/sensors/sensorTable.h"
#include "groups/sensors/sensors.h"

int sem_tp_sensors_id = -1;
int sem_vt_sensors_id = -1;
int sem_cr_sensors_id = -1;

namespace {
void prepareSensors()
{
    Global_temperatureSeverityLevel = 1;
}

void registerSensors()
{
    init_temperatureObjInfo();
    init_temperatureObj();
    init_voltageObjInfo();
    init_voltageObj();
    init_currentObjInfo();
    init_currentObj();
}
} // namespace

extern const GroupDescriptor sensorsGroup = {
    "sensors",
    false,
    registerSensors,
    configureSensors,
    prepareSensors,
    standardTableCycle, 2, 1,
    nullptr,
    nullptr,
    {{&sem_tp_sensors_id, 1001}, {&sem_vt_sensors_id, 1002}, {&sem_cr_sensors_id, 1003}},
    SENSORS_HEALTH_ROW, 3, 15,   // silence: a cycle of about a second
};
