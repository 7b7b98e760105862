/* SPDX-License-Identifier: BSD-3-Clause */
// The power-supply notification, 1.3.6.1.4.1.42424.200.10.0.105: sent when
// the combined state differs from the last one announced, while the switch
// is on (the same identifier for a failure and a recovery).
#pragma once

#include "lib/trapList.h"
#include "groups/power/powerInfoFrame.h"

#include <memory>

// The state last announced: 1 at start, the first good reading's state
// (announced by nobody), then every state that was sent. Guarded by
// sem_pwr_id.
extern int32_t pwrLastReportedState;
// False until the first good reading.
extern bool pwrReadingSeen;

// Called with every good reading: the first one becomes the last reported
// state, without a notification.
void notePowerReading(int32_t pwrState);

// True (and the last reported state moved on) when `info` calls for a
// notification. Pure apart from that state.
bool judgePowerTrap(const pwrInfo &info);

// Checks the shared record and queues the notification it calls for.
void send_power_trap();

std::unique_ptr<pwrInfo> copyPwrNodeSnap(const pwrInfo &info);
// snmpTrapOID.0, pwrState.0, pwrStateSeverity.0, pwrStateGetTime.0 (now).
void fillPowerDataToTrap(const pwrInfo &snapshot, VarbindList &vars);
// Queues the notification for the main thread; the snapshot is freed.
void send_pwr_notification(std::unique_ptr<pwrInfo> snapshot);
