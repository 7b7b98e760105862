/* SPDX-License-Identifier: BSD-3-Clause */
// The standard entity view served over SNMP: entPhysicalTable
// (1.3.6.1.2.1.47.1.1.1), entLastChangeTime (1.3.6.1.2.1.47.1.4.1.0) and
// entPhySensorTable (1.3.6.1.2.1.99.1.1), all read-only.
//
// The view reads nothing itself: when a request comes and the rows it holds
// are older than a second, it copies the sensor, power and disk groups' rows
// (each under its group's lock) and the product name, and rebuilds
// (entityRows.h). An idle agent spends nothing on it; only the main thread
// touches the rows, so they need no lock of their own.
#pragma once

void init_entityView();
