/* SPDX-License-Identifier: BSD-3-Clause */
// The NVRAM count scalar, 1.3.6.1.4.1.42424.200.3.5.1.0: the number of
// NVRAM disks the latest df pass found.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

void init_nvramInfo();
FindVarMethod nvramInfo_handle;
