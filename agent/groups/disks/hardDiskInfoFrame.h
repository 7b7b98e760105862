/* SPDX-License-Identifier: BSD-3-Clause */
// The disk count scalar, 1.3.6.1.4.1.42424.200.3.1.1.0: the number of disks
// the first hard disk refresh found (0 before it).
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

void init_hardDiskObjInfo();
FindVarMethod hardDiskObjInfo_handle;
