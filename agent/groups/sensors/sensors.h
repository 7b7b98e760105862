/* SPDX-License-Identifier: BSD-3-Clause */
// The sensor group's store: the temperature, voltage and current sensors of
// the board's hardware-monitor chip as the per-cycle lists and the table rows
// served over SNMP hold them, and their threshold sources. The readings come
// from sensorProbe.h, the notifications from sensorTrap.h, the SNMP tables
// are sensorTable.h; sensorCycle.h ties them together.
//
// The three kinds are one piece of code: a SensorFamily describes what
// differs (names, OIDs, semaphore, unit, format, notifications, where the
// thresholds live), and every routine takes the family it works on.
//
// Readings and thresholds are short decimal texts (at most 9 characters); an
// empty threshold is not set.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/fieldCopy.h"
#include "semaphore.h"

// The group's row of the group table (vlmGroupIndex).
inline constexpr int SENSORS_HEALTH_ROW = 3;

// The group's semaphore sets (semaphore.h).
extern int sem_tp_sensors_id;     // guards the temperature sensor list and table
extern int sem_vt_sensors_id;     // guards the voltage sensor list and table
extern int sem_cr_sensors_id;     // guards the current sensor list and table

// Thresholds of one voltage or current sensor, named after its label. The
// voltage and current lists share this layout so that one piece of code
// serves both families.
struct writableThreshold {
    char name[10];        // the sensor's label, the configuration group id
    long state;           // notifications: 1 enabled, 2 disabled
    long level;           // severity level, 1 normal
    char high[10];
    char low[10];
    char highHigh[10];
    char lowLow[10];
    writableThreshold *next;
};
using writableVtTable = writableThreshold;
using writableCrTable = writableThreshold;

// Each list starts with a sentinel head (empty name, state 2, level 1) that no
// sensor matches; the records follow in file order.
inline writableVtTable *Global_writableVtHead = nullptr;
inline writableCrTable *Global_writableCrHead = nullptr;

// One threshold set shared by every temperature sensor.
inline char Global_tpHigh[10];
inline char Global_tpLow[10];
inline char Global_tpHighHigh[10];
inline char Global_tpLowLow[10];
inline long Global_tpState;                   // 1 enabled, 2 disabled
inline long Global_temperatureSeverityLevel = 1;

// One sensor: a node of the list a cycle builds, and a row of the SNMP table.
// Texts are NUL-terminated; the _len fields hold their lengths.
struct sensorEntry {
    long index;                    // position among the chip's features of the kind, from 1
    char name[20];                 // the feature's label, cut to 19 characters
    size_t name_len;
    char unit[20];
    size_t unit_len;
    char value[10];                // the reading; empty when it could not be read
    size_t value_len;
    char high[10];
    size_t high_len;
    char low[10];
    size_t low_len;
    char getTime[20];              // "NULL": the table serves the current time
    size_t getTime_len;
    long state;                    // notifications: 1 enabled, 2 disabled, 0 no group
    char highHigh[10];
    size_t highHigh_len;
    char lowLow[10];
    size_t lowLow_len;
    long level;                    // 1 normal, 2 below LowLow, 3 below Low, 4 above High, 5 above HighHigh
    bool read;                     // the input could be read: `milli` holds its value
    long milli;                    // the value in thousandths, as the kernel gives it
    sensorEntry *next;
};
using tpTable_entry = sensorEntry;
using vtTable_entry = sensorEntry;
using crTable_entry = sensorEntry;

// Stores text in a row or node field, cut to fit, and its length.
template <std::size_t N>
void setSensorText(char (&field)[N], size_t &len, std::string_view text)
{
    setFieldText(field, text);
    len = strlen(field);
}

// Columns of the three tables.
enum sensorColumn {
    COLUMN_SENSOR_INDEX = 1,
    COLUMN_SENSOR_NAME,
    COLUMN_SENSOR_UNIT,
    COLUMN_SENSOR_VALUE,
    COLUMN_SENSOR_HIGH,
    COLUMN_SENSOR_LOW,
    COLUMN_SENSOR_GETTIME,
    COLUMN_SENSOR_STATE,
    COLUMN_SENSOR_HIGHHIGH,
    COLUMN_SENSOR_LOWLOW,
    COLUMN_SENSOR_LEVEL,
};

// The four thresholds, in column order.
enum sensorThreshold { SENSOR_HIGH, SENSOR_LOW, SENSOR_HIGHHIGH, SENSOR_LOWLOW };
constexpr int SENSOR_THRESHOLDS = 4;
using sensorText = char (sensorEntry::*)[10];
extern const sensorText rowThreshold[SENSOR_THRESHOLDS];
using sensorLen = size_t sensorEntry::*;
extern const sensorLen rowThresholdLen[SENSOR_THRESHOLDS];
// Stores a threshold text (and its length) in a row or node.
void setRowThreshold(sensorEntry &row, int which, std::string_view text);
extern const char *const thresholdKeySuffix[SENSOR_THRESHOLDS];   // "High", "Low", ...
// The column of a threshold, and the threshold of a column (-1: none).
int thresholdColumn(int which);
int columnThreshold(int column);

enum class SensorKind { Temperature, Voltage, Current };

// What differs between the three kinds.
struct SensorFamily {
    SensorKind kind;
    const char *prefix;              // "tp", "vt", "cr": stem of the configuration keys
    const char *unit;                // served in column 3
    const char *format;              // printf format of a reading
    const char *labelFilter;         // features used only when the label holds it; null: all
    const char *const *checkKeywords;  // null-terminated; a sensor is judged only when its
                                       // name holds one (null: every sensor is judged)
    int *semId;                      // guards counter, rows, threshold source
    int *counter;                    // features of the kind found by the last cycle
    sensorEntry **tableHead;         // rows served over SNMP
    sensorEntry **storePtr;          // rows held aside while the tables are withdrawn
    std::vector<sensorEntry> *list;  // nodes of the current cycle (sensor thread only)
    writableThreshold **records;     // threshold records; null: the shared temperature set
    const char *fileGroup;           // configuration group; null: the sensor's own name
    bool negativeAllowed;            // whether a threshold may be below 0
    unsigned alarmTrap, clearTrap;   // N of 1.3.6.1.4.1.42424.200.10.0.N
    oid entryOid[12];                // the table's entry, 1.3.6.1.4.1.42424.200.2.x.2.1
    const char *tableName;           // "tpTable"
    const char *initToken;           // "temperatureObj:init"
    const char *handlerToken;        // "temperatureObj:handler"
};
extern const SensorFamily temperatureFamily, voltageFamily, currentFamily;

// Process-wide state of the three kinds; counters and rows are guarded by the
// kind's semaphore.
extern int Global_tpCounter, Global_vtCounter, Global_crCounter;
extern sensorEntry *Global_tpTable_head, *Global_vtTable_head, *Global_crTable_head;
extern sensorEntry *tpStorePtr, *vtStorePtr, *crStorePtr;
// Sensor lists built by the current cycle; touched only by the sensor thread.
extern std::vector<sensorEntry> Global_tpHead, Global_vtHead, Global_crHead;

// Holds the kind's semaphore for the lifetime of the guard; before the
// semaphores exist (unit tests) only one thread runs and nothing is taken.
struct SensorLock : SemHold {
    explicit SensorLock(const SensorFamily &family) : SemHold(*family.semId) {}
};

// -- thresholds ----------------------------------------------------------------

// Where a sensor's thresholds, switch and level live: the first record whose
// name holds the sensor's name, or the shared temperature set. None for a
// voltage or current sensor without a configuration group.
struct thresholdSource {
    char (*text[SENSOR_THRESHOLDS])[10];
    long *state;
    long *level;
};
std::optional<thresholdSource> thresholdSourceOf(const SensorFamily &family, std::string_view name);
writableThreshold *findThresholdRecord(writableThreshold *head, std::string_view name);

// Gives the node its thresholds, switch and level from its source; a sensor
// without one shows "N/A", state 0 and level 0. The caller holds the kind's
// semaphore.
void attachThresholds(const SensorFamily &family, sensorEntry &node);

// Lookups in a threshold record list by sensor name: the text, or "N/A"
// without a matching record; the state, or 0.
const char *parseThreshold(writableThreshold *records, const char *name, int which);
long parseThresholdState(writableThreshold *records, const char *name);

// -- rows ------------------------------------------------------------------------

// The row with this index, or null. The caller holds the kind's semaphore.
sensorEntry *findSensorRow(const SensorFamily &family, long index);

// A new row at the head of the family's table; null when out of memory.
// The caller holds the kind's semaphore.
sensorEntry *createSensorRow(const SensorFamily &family, long index, const char *name, const char *unit,
                             const char *value, const char *high, const char *low, const char *getTime,
                             long state, const char *highHigh, const char *lowLow, long level);
// Unlinks and frees a row of the family's table; a row not on it is left alone.
void removeSensorRow(const SensorFamily &family, sensorEntry *row);

// Makes the family's rows show exactly the nodes: a row is kept for each
// node's index and refreshed, new indexes get rows, rows of indexes no
// longer found are freed. The caller holds the kind's semaphore.
void publishSensorRows(const SensorFamily &family, const std::vector<sensorEntry> &nodes);
