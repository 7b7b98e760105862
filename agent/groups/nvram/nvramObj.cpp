// SPDX-License-Identifier: BSD-3-Clause
// The NVRAM table: rows, the iterator and GET.
#include "groups/nvram/nvramObj.h"

#include "mibFrame.h"
#include "semaphore.h"

#include <cstdint>
#include <cstdlib>

namespace {

const oid nvramTable_oid[] = {VLM_ENTERPRISE, 200, 3, 5, 2};

} // namespace

void init_nvramObj()
{
    initialize_table_nvramTable();
}

void initialize_table_nvramTable()
{
    // Read-only: no column can be written.
    registerTable({"nvramTable", nvramTable_handler, nvramTable_oid, OID_LENGTH(nvramTable_oid), HANDLER_CAN_RONLY,
                   1, COLUMN_NVRAMINDEX, COLUMN_NVRAMDISKFREESIZE, nvramTable_get_first_data_point,
                   nvramTable_get_next_data_point, "nvramObj:init", true});
}

nvramTable_entry *nvramTable_createEntry(long index, long totalSize, long diskSize, long diskFreeSize)
{
    auto *row = newRowAtHead(Global_nvramTable_head);
    if (!row)
        return nullptr;
    row->index = index;
    row->totalSize = totalSize;
    row->diskSize = diskSize;
    row->diskFreeSize = diskFreeSize;
    return row;
}

void nvramTable_removeEntry(nvramTable_entry *row)
{
    removeRow(Global_nvramTable_head, row);
}

netsnmp_variable_list *nvramTable_get_first_data_point(void **loop_context, void **data_context,
                                                       netsnmp_variable_list *put_index_data,
                                                       netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_nvramTable_head, sem_nvram_id, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *nvramTable_get_next_data_point(void **loop_context, void **data_context,
                                                      netsnmp_variable_list *put_index_data,
                                                      netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_nvramTable_head, sem_nvram_id, loop_context, data_context, put_index_data);
}

int nvramTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                       netsnmp_request_info *requests)
{
    VLM_DEBUG("nvramObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyTable(Global_nvramTable_head, sem_nvram_id, COLUMN_NVRAMINDEX, COLUMN_NVRAMDISKFREESIZE,
                               reqinfo, requests,
                               [](const nvramTable_entry &row, int column, netsnmp_variable_list *var) {
                                   const long value = column == COLUMN_NVRAMINDEX       ? row.index
                                                      : column == COLUMN_NVRAMTOTALSIZE ? row.totalSize
                                                      : column == COLUMN_NVRAMDISKSIZE  ? row.diskSize
                                                                                        : row.diskFreeSize;
                                   snmp_set_var_typed_integer(var, ASN_INTEGER, value);
                               });
}

void publishNvramDisks(const std::vector<dfNvramLine> &lines)
{
    NvramLock hold;
    while (Global_nvramTable_head)
        nvramTable_removeEntry(Global_nvramTable_head);
    int count = 0;
    // Made from the last so that the list runs in index order.
    for (size_t k = lines.size(); k-- > 0;) {
        const dfNvramLine &line = lines[k];
        if (nvramTable_createEntry(static_cast<long>(k + 1), line.totalSize, line.totalSize, line.diskFreeSize))
            count++;
    }
    Global_nvramCounter = count;
}
