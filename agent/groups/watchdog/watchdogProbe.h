/* SPDX-License-Identifier: BSD-3-Clause */
// Reading the watchdog driver's /proc/vlmwdtinfo, and the watchdog thread's
// cycle.
#pragma once

#include "lib/groupHealth.h"
#include "groups/watchdog/watchdogInfoFrame.h"

#include <string_view>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int WATCHDOG_HEALTH_ROW = 11;

// The driver's file, read through the shell so that a driver that is not
// loaded only gives an empty output.
inline constexpr char wdtInfoPath[] = "/proc/vlmwdtinfo";
inline constexpr char wdtInfoCommand[] = "cat /proc/vlmwdtinfo";
// A command still running after this is killed and its output counts as empty.
inline constexpr double wdtInfoCommandTimeout = 3.0;

// The record the driver's text gives. Each line carries a key at its start
// and its value from the fourteenth character (offset 13) to the line's end.
// A line containing "name" gives the chip name (cut to 59 characters); else
// one containing "timeout" the timeout, the decimal number at the start of
// the value's first 9 characters; else one containing "is_enable" the state:
// 2 when "No" stands anywhere in the line, else 1. Any line, known or not,
// sets wdMode and wdLogEvent to 2; an empty text gives all zeros.
wdtInfo parseWdtInfo(std::string_view text);

// Runs the command (with its time limit) and parses its output; a command
// that cannot be started, fails or times out gives all zeros, and `reading`
// says why: absent without the driver's file or without cat, failing
// otherwise. Takes no semaphore.
wdtInfo getWdtInfo(GroupReading &reading);

// The polling thread's cycle: reads the driver's file, then stores it under sem_wdt_id.
void wdtInfoCycle();
