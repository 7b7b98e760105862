// SPDX-License-Identifier: BSD-3-Clause
// The hardware-detect table: rows, the iterator and GET.
#include "groups/hotplug/hwdObj.h"
#include "groups/hotplug/hwdInfoFrame.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const oid hwdTable_oid[] = {VLM_ENTERPRISE, 200, 3, 6, 4};

} // namespace

void init_hwdObj()
{
    initialize_table_hwdTable();
}

void initialize_table_hwdTable()
{
    registerTable({"hwdTable", hwdTable_handler, hwdTable_oid, OID_LENGTH(hwdTable_oid), HANDLER_CAN_RONLY, 1,
                   COLUMN_HWDINDEX, COLUMN_HWDEVENT, hwdTable_get_first_data_point, hwdTable_get_next_data_point,
                   "hwdObj:init", true});
}

hwdTable_entry *hwdTable_hwdCreateEntry(long index, const u_char *getTime, long deviceType, const char *classGUID,
                                        const char *name, const char *friendlyName, long event)
{
    auto *row = newRowAtHead(Global_hwdTable_head);
    if (!row)
        return nullptr;
    row->index = index;
    memcpy(row->getTime, getTime, sizeof row->getTime);
    row->deviceType = deviceType;
    setFieldText(row->classGUID, classGUID);
    setFieldText(row->name, name);
    setFieldText(row->friendlyName, friendlyName);
    row->event = event;
    return row;
}

void hwdTable_removeEntry(hwdTable_entry *entry)
{
    removeRow(Global_hwdTable_head, entry);
}

hwdTable_entry *hwdTable_findEntry(long index)
{
    return findRowByIndex(Global_hwdTable_head, index);
}

netsnmp_variable_list *hwdTable_get_first_data_point(void **loop_context, void **data_context,
                                                     netsnmp_variable_list *put_index_data,
                                                     netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_hwdTable_head, sem_hwd_id, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *hwdTable_get_next_data_point(void **loop_context, void **data_context,
                                                    netsnmp_variable_list *put_index_data,
                                                    netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_hwdTable_head, sem_hwd_id, loop_context, data_context, put_index_data);
}

int hwdTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                     netsnmp_request_info *requests)
{
    VLM_DEBUG("hwdObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyTable(
        Global_hwdTable_head, sem_hwd_id, COLUMN_HWDINDEX, COLUMN_HWDEVENT, reqinfo, requests,
        [](const hwdTable_entry &row, int column, netsnmp_variable_list *var) {
            switch (column) {
            case COLUMN_HWDINDEX:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.index);
                break;
            case COLUMN_HWDGETTIME:
                snmp_set_var_typed_value(var, ASN_OCTET_STR, row.getTime, sizeof row.getTime);
                break;
            case COLUMN_HWDDEVICETYPE:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.deviceType);
                break;
            case COLUMN_HWDCLASSGUID:
                setVarText(var, row.classGUID);
                break;
            case COLUMN_HWDNAME:
                setVarText(var, row.name);
                break;
            case COLUMN_HWDFRIENDLYNAME:
                setVarText(var, row.friendlyName);
                break;
            default:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.event);
                break;
            }
        });
}
