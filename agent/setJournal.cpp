// SPDX-License-Identifier: BSD-3-Clause
// Per-request undo records of the SET framework.
#include "setJournal.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <utility>
#include <vector>

namespace setJournal {
namespace {

// Only the main thread processes requests, one at a time.
std::vector<std::pair<const void *, std::function<int()>>> records;
long activeTransaction = 0;

auto find(const void *object)
{
    for (auto it = records.begin(); it != records.end(); ++it)
        if (it->first == object)
            return it;
    return records.end();
}

} // namespace

void begin(long transactionId)
{
    if (transactionId != activeTransaction) {
        records.clear();
        activeTransaction = transactionId;
    }
}

long currentTransactionId()
{
    netsnmp_agent_session *asp = netsnmp_get_current_agent_session();
    return asp && asp->pdu ? asp->pdu->transid : 0;
}

void remember(const void *object, std::function<int()> undoIt)
{
    if (find(object) == records.end())
        records.emplace_back(object, std::move(undoIt));
}

bool pending(const void *object)
{
    return find(object) != records.end();
}

int undo(const void *object)
{
    auto it = find(object);
    if (it == records.end())
        return SNMP_ERR_NOERROR;
    std::function<int()> fn = std::move(it->second);
    records.erase(it);
    return fn();
}

void forget(const void *object)
{
    auto it = find(object);
    if (it != records.end())
        records.erase(it);
}

} // namespace setJournal
