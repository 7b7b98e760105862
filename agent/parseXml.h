/* SPDX-License-Identifier: BSD-3-Clause */
// The XML configuration file: thresholds, notification switches, identity
// strings and boot bookkeeping, read at start-up and rewritten on SET.
#pragma once

#include <ctime>
#include <string>
#include <vector>

// Where the file lives; the unit tests point it elsewhere.
extern std::string configFilePath;

// One key change for the file: the `detail` named `key` that follows the
// `subtype` whose id is `group`.
struct ConfigEdit {
    std::string group;
    std::string key;
    std::string value;
};

// Outcome of a rewrite of the file.
enum class ConfigWrite {
    Saved,          // the element was changed (or added) and the file replaced
    SavedNoMatch,   // the file has no `details` element to hold the key
    OpenFailed,     // the file could not be opened
    ReadFailed,     // the file is empty or could not be read
    NotWellFormed,  // the file is not well-formed XML; left as it was
    SaveFailed,     // the new file could not be written; the old one stands
};

// Applies the edits to the file in one atomic replacement: a temporary file in
// the same directory is written, flushed to disk and renamed over the
// original, keeping its mode. A crash at any moment leaves either the old or
// the new file. An edit changes only the `detail` of its key within its own
// group (from the group's `subtype` to the next one); a key the group lacks
// is added to it, a group the file lacks is added at its end.
ConfigWrite writeConfigEdits(const std::vector<ConfigEdit> &edits);

// Reads the whole file into text: Saved when it was read, OpenFailed (after
// "openError: FILE: why" on standard error) or ReadFailed (after "read file
// error: FILE: why") otherwise.
ConfigWrite readConfigFile(std::string &text, const char *openError = "openf file error");

// The two write operations of the agent. 1 when the file was parsed and saved
// (whether or not an element matched), 0 when it could not be opened, read or
// saved, -1 when it is not well-formed.
int modifyIntValue_xmlFile(const char *typeName, const char *subTypeName, long modifyValue);
int modifyStrValue_xmlFile(const char *typeName, const char *subTypeName, const char *modifyValue);

// The edits of one in-memory document: returns the new text, or an empty
// string with `result` NotWellFormed. Pure; used by writeConfigEdits.
std::string applyConfigEdits(const char *buf, int len, const std::vector<ConfigEdit> &edits,
                             ConfigWrite &result);

// Parses the whole file held in buf, fills the group records and threshold
// lists, counts this boot and fills the boot times (writing both back to the
// file). 1 on success, -1 when the text is not well-formed XML.
// `where` (if given) gets "FILE:LINE: what is wrong" when it is not.
int parse_xml_file(const char *buf, int len, std::string *where = nullptr);

// What the file says, before it is applied to the records. Every field keeps
// the text found under its key; `present` flags keys that were there.
struct ThresholdConfig {
    std::string name;              // the group id: "VIN", "Current" ...
    bool hasState = false;
    long state = 0;                // 1 enabled, 2 disabled
    std::string high, low, highHigh, lowLow;
};

struct ConfigValues {
    bool hasDeviceName = false, hasDescr = false;
    std::string deviceName, descr;
    bool hasFirstBootTime = false, hasBootCount = false;
    std::string firstBootTime;     // as written: 22 hex digits, or empty
    std::string bootCount;         // as written
    std::vector<ThresholdConfig> voltage, current;
    bool hasTp[4] = {};            // tpHigh, tpLow, tpHighHigh, tpLowLow
    std::string tp[4];
    bool hasTpState = false;
    long tpState = 0;
    long memoryTh[4] = {}, memoryTrapState = 0;
    long powerTrapState = 0;
    long maxTableRow = 0, hwdTrapEnable = 0;
    long siUsageTh[4] = {}, storageTrapEnable = 0;
};

// Pure reading of the file's text. false when it is not well-formed XML.
// `where` (if given) gets "FILE:LINE: what is wrong" when it is not
// well-formed.
bool readConfigValues(const char *buf, int len, ConfigValues &out, std::string *where = nullptr);

// The voltage groups of the file are the sensors' labels; "vin" in lower
// case is not one of them.
bool isVoltageGroup(const std::string &id);

// Boot bookkeeping: the first boot time the file should hold and the two
// DateAndTime values to serve. A first boot time that is not exactly 22
// hexadecimal digits counts as absent and is replaced by `now`.
struct BootTimes {
    unsigned char firstBootTime[11];
    unsigned char bootTime[11];
    bool writeFirstBootTime;       // the file needs the new first boot time
    std::string firstBootText;     // 22 upper-case hexadecimal digits
};
BootTimes computeBootTimes(const std::string &firstBootText, time_t now);

// The boot count to serve and write back: the stored count plus one (an empty
// or non-numeric count is 0).
long nextBootCount(const std::string &stored);
