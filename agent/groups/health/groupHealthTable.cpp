// SPDX-License-Identifier: BSD-3-Clause
// The group table: registration, the iterator over the fixed rows, and GET.
#include "groups/health/groupHealthTable.h"

#include "lib/dateAndTime.h"
#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "mibFrame.h"

#include <cstdint>

namespace {

const oid vlmGroupTable_oid[] = {VLM_ENTERPRISE, 100, 3, 1};
constexpr unsigned GROUP_SILENCE_CHECK_SECONDS = 5;

// The row a GET answers from, copied under the records' lock, and its index.
groupHealth answered;
long answeredIndex;

} // namespace

void init_groupHealthObj()
{
    // The polling threads are watched from the main loop: one that stops
    // noting readings is shown failing instead of keeping its last status.
    snmp_alarm_register(GROUP_SILENCE_CHECK_SECONDS, SA_REPEAT,
                        [](unsigned int, void *) { checkGroupsStillReading(monotonicSeconds()); }, nullptr);
    registerTable({"vlmGroupTable", vlmGroupTable_handler, vlmGroupTable_oid, OID_LENGTH(vlmGroupTable_oid),
                   HANDLER_CAN_RONLY, 1, COLUMN_GROUPINDEX, COLUMN_GROUPLASTERROR,
                   vlmGroupTable_get_first_data_point, vlmGroupTable_get_next_data_point, "groupHealthObj:init", true});
}

// The rows never change while the agent runs: the loop context is the
// next index, the data context the row's.
netsnmp_variable_list *vlmGroupTable_get_first_data_point(void **loop_context, void **data_context,
                                                          netsnmp_variable_list *put_index_data,
                                                          netsnmp_iterator_info *iinfo)
{
    *loop_context = reinterpret_cast<void *>(static_cast<uintptr_t>(1));
    return vlmGroupTable_get_next_data_point(loop_context, data_context, put_index_data, iinfo);
}

netsnmp_variable_list *vlmGroupTable_get_next_data_point(void **loop_context, void **data_context,
                                                         netsnmp_variable_list *put_index_data,
                                                         netsnmp_iterator_info *)
{
    const auto index = reinterpret_cast<uintptr_t>(*loop_context);
    if (index < 1 || index > static_cast<uintptr_t>(groupHealthRows()))
        return nullptr;
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, static_cast<long>(index));
    *data_context = reinterpret_cast<void *>(index);
    *loop_context = reinterpret_cast<void *>(index + 1);
    return put_index_data;
}

int vlmGroupTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                          netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("groupHealthObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyRows<groupHealth>(
        -1, COLUMN_GROUPINDEX, COLUMN_GROUPLASTERROR, reqinfo, requests,
        [](long index) {
            answeredIndex = index;
            return groupHealthRecord(index, answered) ? &answered : nullptr;
        },
        [](const groupHealth &row, int column, netsnmp_variable_list *var) {
            switch (column) {
            case COLUMN_GROUPINDEX:
                snmp_set_var_typed_integer(var, ASN_INTEGER, answeredIndex);
                break;
            case COLUMN_GROUPNAME: {
                const std::string name = groupHealthName(answeredIndex);
                snmp_set_var_typed_value(var, ASN_OCTET_STR, name.data(), name.size());
                break;
            }
            case COLUMN_GROUPSTATUS:
                snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(row.status));
                break;
            case COLUMN_GROUPLASTGOOD: {
                // Made when asked for, not at every reading.
                unsigned char when[DATE_AND_TIME_LEN] = {};
                if (row.lastGood)
                    dateAndTime(row.lastGood, when);
                snmp_set_var_typed_value(var, ASN_OCTET_STR, when, row.lastGood ? sizeof when : 0);
                break;
            }
            case COLUMN_GROUPFAILURES:
                snmp_set_var_typed_integer(var, ASN_COUNTER, row.failures);
                break;
            case COLUMN_GROUPLASTERROR:
                setVarText(var, row.lastError);
                break;
            }
        });
}
