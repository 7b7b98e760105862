/* SPDX-License-Identifier: BSD-3-Clause */
// The hard disk refresh: the SMART tool's disk list, each disk's identity
// and SMART attributes, fdisk's partition count, and their application to
// the hard disk tables. Parsers are pure; the refresh runs the commands.
#pragma once

#include "lib/command.h"
#include "lib/groupHealth.h"
#include "groups/disks/hardDiskObj.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int DISKS_HEALTH_ROW = 10;


// The working lists of one disk: its record and its SMART records (rows
// 1.. in output order).
struct HddDiskInfo {
    hdTable_entry disk = {};
    std::vector<hdSMARTTable_entry> smart;
};

// Frees a disk's working lists.
void deleteList(HddDiskInfo &lists);

// At most this many disks are served.
constexpr int HDD_MAX_DISKS = 4;

// Stores one identity line in the disk record: the value starts 18
// characters after the key and runs to the end of the line (newline
// dropped), cut to the field. "User Capacity:" sets the capacity, and "N/A"
// as the family when none was seen before it.
void hddStandardHandler(std::string_view line, size_t keyPos, const char *key, hdTable_entry &disk, int32_t num);

// Appends one SMART record; an unknown attribute's name becomes
// "Vendor Specific", the raw word its 12-digit hexadecimal text.
void getSmartInfo(std::vector<hdSMARTTable_entry> &list, int32_t tmpIndex, int32_t tmpId,
                  std::string_view tmpAttributeName, int32_t tmpValue, int32_t tmpWorst, int32_t tmpThresh,
                  std::string_view tmpRawValue);

// "500,107,862,016 bytes [500 GB]" -> whole millions of bytes in MiB
// (476939); fewer than seven digits give 0.
int32_t convertDiskSize(std::string_view text);

// The raw word's leading decimal number as upper-case hexadecimal, at least
// 12 digits ("36" -> "000000000024").
std::string smartRawText(std::string_view rawWord);

// One "vlm_smartctl -a" output: identity lines, then (after three other
// lines) attribute rows up to an empty line. A row that does not have the
// ten columns is skipped.
HddDiskInfo parseSmartOutput(std::string_view output, int32_t num);

// The first word of every line of "vlm_smartctl --scan".
std::vector<std::string> parseScanNodes(std::string_view output);

// fdisk lines that mention the disk, less the disk's own header line
// (never below 0); -1 when the text holds no number.
int32_t parsePartitionCount(std::string_view text);

// True for a path made of letters, digits, '/', '-' and '_' only, starting
// with '/', short enough for the agent's node field: the only nodes that
// reach a command line.
bool isPlainDevicePath(std::string_view node);

// Runs the SMART tool for one disk into `lists`; false (the cause added to
// `reading`) when it could not be run, did not end in time or printed
// nothing.
bool getHddDiskInfo(const std::string &hardDiskNode, int32_t num, HddDiskInfo &lists, GroupReading &reading);

// One refresh of every disk, its outcome noted in the group table. The first
// refresh that succeeds creates the rows and fixes the disk count; later
// ones overwrite those rows. A refresh in which a command fails is skipped
// as a whole; one that finds the SMART tool missing sizes nothing, so that
// the tool installed later is used.
void hddInfo_handler();

// How the refresh runs its commands and finds its tool; the tests replace them.
extern CommandResult (*hddRunCommand)(const char *command, double timeoutSeconds);
extern bool (*hddCommandInstalled)(const char *path);

// 1 until a refresh has created the rows.
extern int entryHddFlag;
