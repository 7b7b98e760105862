// Threshold sources of the sensor tables, loaded from the configuration file
// and changed by threshold SETs. Readings and thresholds are short decimal
// texts (at most 9 characters); an empty threshold is not set.
#pragma once

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
inline int Global_tpState;                   // 1 enabled, 2 disabled
inline int Global_temperatureSeverityLevel = 1;
