/* SPDX-License-Identifier: BSD-3-Clause */
// The Wi-Fi row count, 1.3.6.1.4.1.42424.106.1.2.1.0.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>


// The count the scalar serves: set to the refresh's row count at the end of
// every refresh. Guarded by sem_wlan_id.
inline int Global_wlanNumber = 0;

void init_wlanObjInfo();
FindVarMethod wlanObjInfo_numberHandle;
