/* SPDX-License-Identifier: BSD-3-Clause */
// The 11-octet SNMP DateAndTime of a moment, in local time.
#pragma once

#include <ctime>

constexpr int DATE_AND_TIME_LEN = 11;

// year (two octets, most significant first), month, day, hour, minutes,
// seconds, deci-seconds, direction from UTC ('+' or '-'), hours and minutes
// from UTC. The agent library's date_n_time gives the same octets from a
// static buffer; this one is safe on the polling threads.
void dateAndTime(time_t when, unsigned char out[DATE_AND_TIME_LEN]);
