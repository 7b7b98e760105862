/* SPDX-License-Identifier: BSD-3-Clause */
// Filling the trap server table and editing a destination's "trapsink" line.
#pragma once

#include <string>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int TRAP_SERVERS_HEALTH_ROW = 2;

// Fills the trap server table from the destination list; called once at the
// end of start-up.
void init_atMgmt();
void init_trapInfo();

// 1 when text is a dotted-quad IPv4 address (inet_pton for AF_INET).
int judgeIpv4Address(const char *text);

// The text of snmpd.conf with the address of the destination with this index
// changed from oldIp to newIp. The destination's line is found the way the
// destinations were read: the index-th line holding "trapsink". Only the host
// part of its address word changes (a transport or port in the word stays),
// and only when it is oldIp exactly; anything else is left as it was. Empty
// when that line is not there or names another host.
std::string editTrapSinkHost(const std::string &conf, long index, const std::string &oldIp,
                             const std::string &newIp);

// Applies editTrapSinkHost to snmpd.conf, replacing the file atomically.
// true when the line was changed.
bool changeTrapSinkHost(long index, const std::string &oldIp, const std::string &newIp);
