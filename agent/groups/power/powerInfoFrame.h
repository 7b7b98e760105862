/* SPDX-License-Identifier: BSD-3-Clause */
// The power-supply group, 1.3.6.1.4.1.42424.200.2.8.1-4: notification
// switch (persisted in the configuration file, section "power"), combined
// state of the two inputs, its severity, and the time of the request.
#pragma once

class ConfigStore;

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <cstdint>

// The group's semaphore set (semaphore.h).
extern int sem_pwr_id;            // guards the pwrInfo record

struct pwrInfo {
    int32_t pwrTrapState;       // 1 enabled, 2 disabled
    int32_t pwrState;           // 1 both inputs good, 2 one not good, -1 no reading
    int32_t pwrStateSeverity;   // 1 with state 1, 3 with state 2, -1 with state -1
    // Each input as the last reading found it: 1 good, 2 not good, -1 not
    // read (the entity view's power-input sensors show these).
    int32_t pwrInputGood[2] = {-1, -1};
    bool pwrInputsSeen = false;   // both inputs were read at least once since the start
};

// Guarded by sem_pwr_id.
inline pwrInfo Global_pwrInfoVal;

enum powerMagic {
    PWR_TRAP_STATE = 1,
    PWR_STATE = 2,
    PWR_STATE_SEVERITY = 3,
    PWR_STATE_GET_TIME = 4,
};

void init_powerInfo();
FindVarMethod var_pwrState;
WriteMethod write_powerInfoTrapState;

// The notification switch from the configuration file.
void configurePower(const ConfigStore &store);
