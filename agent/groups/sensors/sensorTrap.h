/* SPDX-License-Identifier: BSD-3-Clause */
// Sensor threshold notifications: the band a reading is in, when to send an
// alarm or a clear, and the notification's varbinds. One check per sensor,
// run by the sensor thread after each publishing step.
#pragma once

#include "lib/trapList.h"
#include "groups/sensors/sensors.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

// What the check of one sensor remembers between cycles; owned by the sensor
// thread.
struct sensorCheckState {
    int bandFlag[4];   // LowLow, Low, High, HighHigh (levels 2..5): 1 for the band
                       // the reading is in, at most one; all 0 while normal
    long lastState;    // the notification switch as the check last took it
    int entryFlag;     // 1 once the first check has run
};

// Check states of a family's sensors, by name (and, for labels that repeat,
// by the label's occurrence in list order). Not by index: a sensor keeps its
// state when an input before it vanishes or returns and its index moves.
using sensorCheckStates = std::map<std::pair<std::string, int>, sensorCheckState>;

enum class SensorNotification { None, Alarm, Clear };

// flag argument of the senders.
constexpr int SENSOR_TRAP_ALARM = 0;
constexpr int SENSOR_TRAP_CLEAR = 1;

// The level of the band the reading is in: 5 above HighHigh, 4 above High,
// 2 below LowLow, 3 below Low (tested in that order, each only when set),
// 1 within every set threshold. Texts read as numbers the way atof does:
// an empty reading and "N/A" read as 0. Equal is not beyond.
long sensorBandLevel(const sensorEntry &node);

// One check of a sensor: sets the node's level, updates `state`, and says
// which notification to send. Pure.
SensorNotification judgeSensorTrap(sensorCheckState &state, sensorEntry &node);

// Follow-up while the reading stays in its band: true when the switch was
// turned on since the last check, which owes the manager the alarm.
bool judgeSensorEnableTrap(sensorCheckState &state, const sensorEntry &node);

// Whether the family judges this sensor at all.
bool sensorIsJudged(const SensorFamily &family, const sensorEntry &node);

// A notification to send: a copy of the node as judged.
struct sensorAlert {
    sensorEntry snapshot;
    int flag;   // SENSOR_TRAP_ALARM or SENSOR_TRAP_CLEAR
};

// Judges every sensor of the list with its own state; the states of sensors
// no longer in the list are dropped. Pure.
std::vector<sensorAlert> judgeSensorList(const SensorFamily &family, sensorCheckStates &states,
                                         std::vector<sensorEntry> &nodes);

// snmpTrapOID.0 (alarm or clear of the family), then the entry's columns 1,
// 2, 4, 5, 6, 9, 10 and 11 of the snapshot (no row index appended).
void fillSensorDataToTrap(const SensorFamily &family, const sensorEntry &snapshot, int flag, VarbindList &vars);

// Queues the notification for the main thread.
void send_sensor_notification(const SensorFamily &family, const sensorEntry &snapshot, int flag);

// The check of the family's current list: judges, stores each level in the
// sensor's threshold source (under the kind's semaphore), queues the
// notifications.
void sendSensorTraps(const SensorFamily &family);
void send_temperature_trap();
void send_voltage_trap();
void send_current_trap();
