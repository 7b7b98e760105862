// SPDX-License-Identifier: BSD-3-Clause
// The storage table: rows, the iterator and GET.
#include "groups/storage/storageObj.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdint>
#include <cstdlib>

namespace {

const oid storageTable_oid[] = {VLM_ENTERPRISE, 200, 2, 7, 7};

void answerColumn(const storageTable_entry &row, int column, netsnmp_variable_list *vb)
{
    switch (column) {
    case COLUMN_STORAGEINDEX:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row.index);
        break;
    case COLUMN_STORAGEDESCR:
        setVarText(vb, row.storageDescr);
        break;
    case COLUMN_STORAGESIZE:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row.storageSize);
        break;
    case COLUMN_STORAGEUSEDPERCENTAGE:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row.storageUsedPercentage);
        break;
    default:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row.storageUsageSeverity);
        break;
    }
}

} // namespace

void init_storageObj()
{
    initialize_table_storageTable();
}

void initialize_table_storageTable()
{
    // Read-only: no column can be written.
    registerTable({"storageTable", storageTable_handler, storageTable_oid, OID_LENGTH(storageTable_oid),
                   HANDLER_CAN_RONLY, 1, COLUMN_STORAGEINDEX, COLUMN_STORAGEUSAGESEVERITY,
                   storageTable_get_first_data_point, storageTable_get_next_data_point, "storageObj:init", true});
}

storageTable_entry *storageTable_createEntry(long index, const char *storageDescr, long storageSize,
                                             long storageUsedPercentage, long storageUsageSeverity)
{
    auto *row = newRowAtHead(Global_storageTable_head);
    if (!row)
        return nullptr;
    row->index = static_cast<int32_t>(index);
    setFieldText(row->storageDescr, storageDescr ? storageDescr : "");
    row->storageSize = static_cast<int32_t>(storageSize);
    row->storageUsedPercentage = static_cast<int32_t>(storageUsedPercentage);
    row->storageUsageSeverity = static_cast<int32_t>(storageUsageSeverity);
    return row;
}

void storageTable_removeEntry(storageTable_entry *row)
{
    removeRow(Global_storageTable_head, row);
}

netsnmp_variable_list *storageTable_get_first_data_point(void **loop_context, void **data_context,
                                                         netsnmp_variable_list *put_index_data,
                                                         netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_storageTable_head, sem_storage_id, loop_context, data_context,
                              put_index_data);
}

netsnmp_variable_list *storageTable_get_next_data_point(void **loop_context, void **data_context,
                                                        netsnmp_variable_list *put_index_data,
                                                        netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_storageTable_head, sem_storage_id, loop_context, data_context, put_index_data);
}

int storageTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                         netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("storageObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyTable(Global_storageTable_head, sem_storage_id, COLUMN_STORAGEINDEX,
                               COLUMN_STORAGEUSAGESEVERITY, reqinfo, requests, answerColumn);
}
