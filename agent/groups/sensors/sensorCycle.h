/* SPDX-License-Identifier: BSD-3-Clause */
// The sensor thread's cycle: a probe (sensorProbe.h), the lists with their
// thresholds and the rows published (sensors.h), then every sensor judged
// (sensorTrap.h).
#pragma once

// One rebuild of the three lists and counters, its outcome noted in the
// group table. False when libsensors could not be initialised; nothing
// changes.
bool assign_sen_list();

// What a cycle does after the rebuild, decided by the temperature count.
enum class SensorGate {
    Wait,        // nothing published yet and no temperature feature: sleep
    Withdraw,    // temperature features gone: empty the tables, sleep
    Restore,     // temperature features back: serve the held rows, sleep
    Publish,     // refresh the rows, then judge
    JudgeOnly,   // tables withdrawn: judge the lists only
};
SensorGate sensorGate(bool published, bool withdrawn, int temperatureCount);

// One sensor acquisition cycle of the polling thread (may sleep 1 s more).
void standardTableCycle();
