// SPDX-License-Identifier: BSD-3-Clause
// The hard disk and SMART tables: rows, iterators and GET.
#include "groups/disks/hardDiskObj.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdint>
#include <cstdlib>

namespace {

const oid hdTable_oid[] = {VLM_ENTERPRISE, 200, 3, 1, 2};
const oid hdSMARTTable_oid[] = {VLM_ENTERPRISE, 200, 3, 1, 3};

// A SMART row's data context: both indexes in one number (a disk has far
// fewer than 65536 attribute rows).
constexpr unsigned SMART_ROW_BITS = 16;

long smartContext(const hdSMARTTable_entry &row)
{
    return (static_cast<long>(row.hdIndex1) << SMART_ROW_BITS) | (row.hdsIndex & 0xffff);
}

} // namespace

void init_harddiskObj()
{
    initialize_table_hdTable();
    initialize_table_hdSMARTTable();
}

void initialize_table_hdTable()
{
    registerTable({"hdTable", hdTable_handler, hdTable_oid, OID_LENGTH(hdTable_oid), HANDLER_CAN_RONLY, 1,
                   COLUMN_HDINDEX, COLUMN_HDPARTITIONNUMBER, hdTable_get_first_data_point,
                   hdTable_get_next_data_point, "harddiskObj:init", true});
}

void initialize_table_hdSMARTTable()
{
    registerTable({"hdSMARTTable", hdSMARTTable_handler, hdSMARTTable_oid, OID_LENGTH(hdSMARTTable_oid),
                   HANDLER_CAN_RONLY, 2, COLUMN_HDSINDEX, COLUMN_HDSRAWVALUE, hdSMARTTable_get_first_data_point,
                   hdSMARTTable_get_next_data_point, "harddiskObj:init", true});
}

hdTable_entry *hdTable_createEntry(int32_t hdIndex, const char *family, const char *model, const char *firmware,
                                   const char *serial, int32_t capacity, int32_t partitions)
{
    auto *row = newRowAtHead(Global_hdTable_head);
    if (!row)
        return nullptr;
    row->hdIndex = hdIndex;
    setFieldText(row->hdManufacturer, family);
    setFieldText(row->hdModel, model);
    setFieldText(row->hdFirmwareRevision, firmware);
    setFieldText(row->hdSerialNumber, serial);
    row->hdDriverCapactity = capacity;
    row->hdPartitionNumber = partitions;
    return row;
}

void hdTable_removeEntry(hdTable_entry *entry)
{
    removeRow(Global_hdTable_head, entry);
}

hdSMARTTable_entry *hdSMARTTable_createEntry(int32_t hdIndex1, int32_t hdsIndex, int32_t attribId, const char *name,
                                             int32_t value, int32_t worst, int32_t threshold, const char *raw)
{
    auto *row = newRowAtHead(Global_hdSMARTTable_head);
    if (!row)
        return nullptr;
    row->hdIndex1 = hdIndex1;
    row->hdsIndex = hdsIndex;
    row->hdsAttribID = attribId;
    setFieldText(row->hdsName, name);
    row->hdsValue = value;
    row->hdsWorst = worst;
    row->hdsThreshold = threshold;
    setFieldText(row->hdsRAWValue, raw);
    return row;
}

void hdSMARTTable_removeEntry(hdSMARTTable_entry *entry)
{
    removeRow(Global_hdSMARTTable_head, entry);
}

hdSMARTTable_entry *hdSMARTTable_findEntry(int32_t disk, int32_t row)
{
    for (hdSMARTTable_entry *r = Global_hdSMARTTable_head; r; r = r->next)
        if (r->hdIndex1 == disk && r->hdsIndex == row)
            return r;
    return nullptr;
}

netsnmp_variable_list *hdTable_get_first_data_point(void **loop_context, void **data_context,
                                                    netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_hdTable_head, sem_hdd_id, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *hdTable_get_next_data_point(void **loop_context, void **data_context,
                                                   netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_hdTable_head, sem_hdd_id, loop_context, data_context, put_index_data);
}

int hdTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                    netsnmp_request_info *requests)
{
    VLM_DEBUG("harddiskObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyTable(Global_hdTable_head, sem_hdd_id, COLUMN_HDINDEX, COLUMN_HDPARTITIONNUMBER, reqinfo,
                               requests, [](const hdTable_entry &row, int column, netsnmp_variable_list *var) {
                                   switch (column) {
                                   case COLUMN_HDINDEX:
                                       snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdIndex);
                                       break;
                                   case COLUMN_HDMANUFACTURER:
                                       setVarText(var, row.hdManufacturer);
                                       break;
                                   case COLUMN_HDMODEL:
                                       setVarText(var, row.hdModel);
                                       break;
                                   case COLUMN_HDFIRMWAREREVISION:
                                       setVarText(var, row.hdFirmwareRevision);
                                       break;
                                   case COLUMN_HDSERIALNUMBER:
                                       setVarText(var, row.hdSerialNumber);
                                       break;
                                   case COLUMN_HDDRIVERCAPACTITY:
                                       snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdDriverCapactity);
                                       break;
                                   default:
                                       snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdPartitionNumber);
                                       break;
                                   }
                               });
}

netsnmp_variable_list *hdSMARTTable_get_first_data_point(void **loop_context, void **data_context,
                                                         netsnmp_variable_list *put_index_data,
                                                         netsnmp_iterator_info *iinfo)
{
    *loop_context = nullptr;   // position 0
    return hdSMARTTable_get_next_data_point(loop_context, data_context, put_index_data, iinfo);
}

// Walks the list by position like the other tables (keys copied at the
// start of each pass under sem_hdd_id); the key carries both indexes.
netsnmp_variable_list *hdSMARTTable_get_next_data_point(void **loop_context, void **data_context,
                                                        netsnmp_variable_list *put_index_data,
                                                        netsnmp_iterator_info *)
{
    long context;
    if (!nextPassKey(Global_hdSMARTTable_head, sem_hdd_id, smartContext, loop_context, context))
        return nullptr;
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, context >> SMART_ROW_BITS);
    snmp_set_var_typed_integer(put_index_data->next_variable, ASN_INTEGER, context & 0xffff);
    *data_context = reinterpret_cast<void *>(static_cast<uintptr_t>(context));
    return put_index_data;
}

int hdSMARTTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                         netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("harddiskObj:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerReadOnlyRows<hdSMARTTable_entry>(
        sem_hdd_id, COLUMN_HDSINDEX, COLUMN_HDSRAWVALUE, reqinfo, requests,
        [](long context) {
            return static_cast<const hdSMARTTable_entry *>(hdSMARTTable_findEntry(
                static_cast<int32_t>(context >> SMART_ROW_BITS), static_cast<int32_t>(context & 0xffff)));
        },
        [](const hdSMARTTable_entry &row, int column, netsnmp_variable_list *var) {
            switch (column) {
            case COLUMN_HDSINDEX:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdsIndex);
                break;
            case COLUMN_HDSATTRIBID:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdsAttribID);
                break;
            case COLUMN_HDSNAME:
                setVarText(var, row.hdsName);
                break;
            case COLUMN_HDSVALUE:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdsValue);
                break;
            case COLUMN_HDSWORST:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdsWorst);
                break;
            case COLUMN_HDSTHRESHOLD:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.hdsThreshold);
                break;
            default:
                setVarText(var, row.hdsRAWValue);
                break;
            }
        });
}
