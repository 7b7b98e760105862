/* SPDX-License-Identifier: BSD-3-Clause */
// The mobile broadband modem count, 1.3.6.1.4.1.42424.106.1.1.1.0.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>


// The count the scalar serves: the number of modem lines of the latest
// listing, set at the end of every refresh. Guarded by sem_mobile_id.
inline int Global_mobileNumber = 0;

void init_mobileObjInfo();
FindVarMethod mobileObjInfo_numberHandle;
