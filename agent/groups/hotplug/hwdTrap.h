/* SPDX-License-Identifier: BSD-3-Clause */
// The hardware-detect notification, 1.3.6.1.4.1.42424.200.10.0.5: one per
// new table row while the group's switch is 1.
#pragma once

#include "lib/trapList.h"
#include "groups/hotplug/hwdObj.h"

#include <memory>

// What a notification carries of a row: device type, event code and at most
// the first 40 characters of the friendly name.
std::unique_ptr<hwdTable_entry> copyHwdNodeSnap(long deviceType, long event, const char *friendlyName);

// snmpTrapOID.0, deviceType, event, friendlyName (column OIDs, no index).
void fillhwdDataToTrap(const hwdTable_entry &t_hwdInfo, VarbindList &vars);

// Queues the notification for the main thread; the snapshot is freed.
void send_hwd_notification(std::unique_ptr<hwdTable_entry> tmpNode);
