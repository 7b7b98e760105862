// SPDX-License-Identifier: BSD-3-Clause
// The mobile broadband table: rows, the iterator, GET and the mbState write.
#include "groups/mobile/mobileObjTable.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdlib>

namespace {

const oid mobileObjTable_oid[] = {VLM_ENTERPRISE, 106, 1, 1, 2};

void setAddress(netsnmp_variable_list *var, in_addr_t address)
{
    snmp_set_var_typed_value(var, ASN_IPADDRESS, &address, sizeof address);
}

} // namespace

void init_mobileObjTable()
{
    initialize_table_mobileObjTable();
}

void initialize_table_mobileObjTable()
{
    registerTable({"mobileObjTable", mobileObjTable_handler, mobileObjTable_oid, OID_LENGTH(mobileObjTable_oid),
                   HANDLER_CAN_RWRITE, 1, COLUMN_MBINDEX, COLUMN_MBSTATE, mobileObjTable_get_first_data_point,
                   mobileObjTable_get_next_data_point, "mobileObjTable:init", true});
}

mobileObjTable_entry *mobileObjTable_createEntry(long mbIndex, const char *mbAPName, in_addr_t mbIPAddress,
                                                 in_addr_t mbGateway, long mbSignalStrength, const char *mbISPName,
                                                 const char *mbMsisdn, const char *mbIMEI, long mbState)
{
    auto *row = newRowAtHead(Global_mobileTable_head);
    if (!row)
        return nullptr;
    auto text = [](const char *t) { return std::string_view(t ? t : ""); };
    row->mbIndex = mbIndex;
    setFieldText(row->mbAPName, text(mbAPName));
    row->mbIPAddress = mbIPAddress;
    row->mbGateway = mbGateway;
    row->mbSignalStrength = mbSignalStrength;
    setFieldText(row->mbISPName, text(mbISPName));
    setFieldText(row->mbMsisdn, text(mbMsisdn));
    setFieldText(row->mbIMEI, text(mbIMEI));
    row->mbState = mbState;
    return row;
}

void mobileObjTable_removeEntry(mobileObjTable_entry *entry)
{
    removeRow(Global_mobileTable_head, entry);
}

netsnmp_variable_list *mobileObjTable_get_first_data_point(void **loop_context, void **data_context,
                                                           netsnmp_variable_list *put_index_data,
                                                           netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_mobileTable_head, sem_mobile_id, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *mobileObjTable_get_next_data_point(void **loop_context, void **data_context,
                                                          netsnmp_variable_list *put_index_data,
                                                          netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_mobileTable_head, sem_mobile_id, loop_context, data_context, put_index_data);
}

int mobileObjTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                           netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("mobileObjTable:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerTableWithMemoryColumn(
        Global_mobileTable_head, sem_mobile_id, COLUMN_MBINDEX, COLUMN_MBSTATE, COLUMN_MBSTATE,
        &mobileObjTable_entry::mbState, reqinfo, requests,
        [](const mobileObjTable_entry &row, int column, netsnmp_variable_list *var) {
            switch (column) {
            case COLUMN_MBINDEX:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.mbIndex);
                break;
            case COLUMN_MBAPNAME:
                setVarText(var, row.mbAPName);
                break;
            case COLUMN_MBIPADDRESS:
                setAddress(var, row.mbIPAddress);
                break;
            case COLUMN_MBGATEWAY:
                setAddress(var, row.mbGateway);
                break;
            case COLUMN_MBSIGNALSTRENGTH:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.mbSignalStrength);
                break;
            case COLUMN_MBISPNAME:
                setVarText(var, row.mbISPName);
                break;
            case COLUMN_MBMSISDN:
                setVarText(var, row.mbMsisdn);
                break;
            case COLUMN_MBIMEI:
                setVarText(var, row.mbIMEI);
                break;
            default:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.mbState);
                break;
            }
        });
}
