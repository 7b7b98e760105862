/* SPDX-License-Identifier: BSD-3-Clause */
// The board as the standard entity view shows it: ENTITY-MIB's physical
// table (RFC 6933) and ENTITY-SENSOR-MIB's sensor table (RFC 3433), built
// from what the other groups read, so that a manager that knows only the
// standard MIBs finds every sensor, power-supply input and disk.
//
// Indexes stay the same for the same hardware, whatever the order the rows
// were found in (entPhysicalIndex):
//   1          the board (chassis)
//   1000 + n   temperature sensor n (tpIndex)
//   2000 + n   voltage sensor n (vtIndex)
//   3000 + n   current sensor n (crIndex)
//   4000 + n   power-supply input n (1 or 2)
//   4100 + n   the sensor of input n: good or not
//   5000 + n   disk n (hdIndex)
// The builder below is pure; entityView.h collects its input.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// entPhysicalClass (IANA-ENTITY-MIB).
enum class EntityClass { Chassis = 3, PowerSupply = 6, Sensor = 8, StorageDrive = 15 };

// entPhySensorType, entPhySensorScale and entPhySensorOperStatus (ENTITY-SENSOR-MIB).
enum class SensorDataType { VoltsDC = 4, Amperes = 5, Celsius = 8, TruthValue = 12 };
enum class SensorDataScale { Milli = 8, Units = 9 };
enum class SensorStatus { Ok = 1, Unavailable = 2, Nonoperational = 3 };

inline constexpr long ENTITY_CHASSIS = 1;
inline constexpr long ENTITY_TEMPERATURE_BASE = 1000;
inline constexpr long ENTITY_VOLTAGE_BASE = 2000;
inline constexpr long ENTITY_CURRENT_BASE = 3000;
inline constexpr long ENTITY_POWER_INPUT_BASE = 4000;
inline constexpr long ENTITY_POWER_SENSOR_BASE = 4100;
inline constexpr long ENTITY_DISK_BASE = 5000;

// entPhySensorValue's range (EntitySensorValue).
inline constexpr long SENSOR_VALUE_LIMIT = 1000000000;

// A sensor reading of an entry; only sensor entries have one.
struct EntitySensor {
    SensorDataType type;
    SensorDataScale scale;
    long value;                 // 0 while unavailable
    SensorStatus status;
    std::string units;          // entPhySensorUnitsDisplay
};

// One entPhysicalEntry; the columns the board has nothing for (vendor type,
// hardware revision, alias, asset, manufacturer, date, URIs, UUID) are served
// empty or zero by the table itself.
struct EntityRow {
    long index;
    std::string descr;
    long containedIn;           // 0: contained in nothing
    EntityClass cls;
    long relPos;                // entPhysicalParentRelPos, -1 for the board
    std::string name;
    std::string firmwareRev;
    std::string softwareRev;
    std::string serial;
    std::string model;
    bool fru;                   // entPhysicalIsFRU
    std::optional<EntitySensor> sensor;
};

// What the builder is given: copies of the other groups' rows.
enum class EntitySensorKind { Temperature, Voltage, Current };
struct SensorRowReading {
    EntitySensorKind kind;
    long row;                   // the sensor table's index
    std::string label;
    std::optional<long> milli;  // the reading in thousandths; none when it could not be read
    std::string highHigh;       // a threshold that is not a number is not set
    std::string lowLow;
};
struct PowerInputReading {
    int input;                  // 1 or 2
    int good;                   // 1 good, 2 not good, -1 not read
};
struct DiskReading {
    long row;                   // hdIndex
    std::string family, model, firmware, serial;
};
struct BoardReading {
    std::string product;        // the product name
    std::string imageVersion;
    std::vector<SensorRowReading> sensors;
    std::vector<PowerInputReading> powerInputs;   // none while the inputs were never read
    std::vector<DiskReading> disks;
};

// A decimal text as a whole number of thousandths: "  45.5" is 45500,
// "-0.25" is -250, digits past the third decimal are dropped. Surrounding
// blanks are allowed; anything else ("N/A", "", "4x") is none, and so is a
// value outside entPhySensorValue's range.
std::optional<long> milliUnits(std::string_view text);

// The oper status of a reading: unavailable without a reading, else
// nonoperational beyond HighHigh or LowLow (equal is not beyond; a
// threshold that is not a number is not set), else ok.
SensorStatus sensorStatus(const std::optional<long> &value, std::string_view highHigh, std::string_view lowLow);

// Every entry of the board, in index order.
std::vector<EntityRow> buildEntityRows(const BoardReading &board);

// Whether two builds differ in anything but the sensors' readings: what
// moves entLastChangeTime.
bool entityRowsDiffer(const std::vector<EntityRow> &a, const std::vector<EntityRow> &b);
