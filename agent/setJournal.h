/* SPDX-License-Identifier: BSD-3-Clause */
// Undo records of the SET request in progress.
//
// A SET is all-or-nothing across its varbinds: RESERVE1 checks every value,
// ACTION applies it (memory and configuration file) and remembers here how to
// undo it, UNDO runs that record, COMMIT and FREE drop it. Records are keyed
// by the object they change (the address of its field), and the first record
// of an object within a request wins, so a request that names one object twice
// is undone to the value from before the request.
#pragma once

#include <functional>

namespace setJournal {

// Starts the phase of the request with this transaction id; records left by a
// different, abandoned request are dropped.
void begin(long transactionId);

// Transaction id of the request the agent library is processing (0 outside a
// request).
long currentTransactionId();

void remember(const void *object, std::function<int()> undo);
bool pending(const void *object);
// Runs and drops the object's undo record; SNMP_ERR_NOERROR when there is none.
int undo(const void *object);
void forget(const void *object);

} // namespace setJournal
