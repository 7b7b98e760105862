// SPDX-License-Identifier: BSD-3-Clause
// The sensor thread's cycle: probe, lists with their thresholds, rows
// published, sensors judged.
#include "groups/sensors/sensorCycle.h"

#include "groups/sensors/sensorProbe.h"
#include "groups/sensors/sensorTrap.h"
#include "groups/sensors/sensors.h"
#include "lib/groupHealth.h"

#include <unistd.h>
#include <utility>

namespace {

const SensorFamily *const families[] = {&temperatureFamily, &voltageFamily, &currentFamily};

bool published = false;   // a cycle has published rows
bool withdrawn = false;   // the rows are held aside, the tables empty

} // namespace

bool assign_sen_list()
{
    std::vector<sensorReading> readings;
    GroupReading reading;
    const bool probed = probeSensorReadings(readings, reading);
    // An input the tables serve that could not be read makes the reading
    // incomplete; one they leave out does not matter.
    for (const sensorReading &r : readings)
        for (const SensorFamily *f : families)
            if (!r.error.empty() && r.kind == f->kind && sensorIsServed(*f, r))
                reading.fail(*r.label + ": " + r.error);
    noteGroupReading(SENSORS_HEALTH_ROW, reading);
    if (!probed)
        return false;
    for (const SensorFamily *f : families) {
        int count;
        std::vector<sensorEntry> nodes = buildSensorList(*f, readings, count);
        {
            SensorLock hold(*f);
            for (sensorEntry &node : nodes)
                attachThresholds(*f, node);
            *f->counter = count;
        }
        *f->list = std::move(nodes);
    }
    return true;
}

SensorGate sensorGate(bool isPublished, bool isWithdrawn, int temperatureCount)
{
    if (temperatureCount == 0) {
        if (!isPublished)
            return SensorGate::Wait;
        return isWithdrawn ? SensorGate::JudgeOnly : SensorGate::Withdraw;
    }
    return isWithdrawn ? SensorGate::Restore : SensorGate::Publish;
}

void standardTableCycle()
{
    // Without libsensors the tables keep their last rows and the other
    // groups go on; the next cycle tries again.
    if (!assign_sen_list())
        return;
    int temperatureCount;
    {
        SensorLock hold(temperatureFamily);
        temperatureCount = Global_tpCounter;
    }

    switch (sensorGate(published, withdrawn, temperatureCount)) {
    case SensorGate::Wait:
        sleep(1);
        return;
    case SensorGate::Withdraw:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            std::swap(*f->tableHead, *f->storePtr);
        }
        withdrawn = true;
        sleep(1);
        return;
    case SensorGate::Restore:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            std::swap(*f->tableHead, *f->storePtr);
        }
        withdrawn = false;
        sleep(1);
        return;
    case SensorGate::Publish:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            publishSensorRows(*f, *f->list);
        }
        break;
    case SensorGate::JudgeOnly:
        break;
    }
    send_temperature_trap();
    send_voltage_trap();
    send_current_trap();
    published = true;
}
