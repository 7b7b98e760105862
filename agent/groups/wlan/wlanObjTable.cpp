// SPDX-License-Identifier: BSD-3-Clause
// The Wi-Fi table: rows, the iterator, GET and the wlanState write.
#include "groups/wlan/wlanObjTable.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdlib>

namespace {

const oid wlanObjTable_oid[] = {VLM_ENTERPRISE, 106, 1, 2, 2};

void setAddress(netsnmp_variable_list *var, in_addr_t address)
{
    snmp_set_var_typed_value(var, ASN_IPADDRESS, &address, sizeof address);
}

} // namespace

void init_wlanObjTable()
{
    initialize_table_wlanObjTable();
}

void initialize_table_wlanObjTable()
{
    registerTable({"wlanObjTable", wlanObjTable_handler, wlanObjTable_oid, OID_LENGTH(wlanObjTable_oid),
                   HANDLER_CAN_RWRITE, 1, COLUMN_WLANINDEX, COLUMN_WLANSTATE, wlanObjTable_get_first_data_point,
                   wlanObjTable_get_next_data_point, "wlanObjTable:init", true});
}

wlanObjTable_entry *wlanObjTable_createEntry(long wlanIndex, const char *wlanName, const char *wlanSSID,
                                             const char *wlanBSSID, long wlanMode, in_addr_t wlanIPAddress,
                                             in_addr_t wlanGateway, long wlanSignalStrength,
                                             const char *wlanEncryption, long wlanState)
{
    auto *row = newRowAtHead(Global_wlanTable_head);
    if (!row)
        return nullptr;
    auto text = [](const char *t) { return std::string_view(t ? t : ""); };
    row->wlanIndex = wlanIndex;
    setFieldText(row->wlanName, text(wlanName));
    setFieldText(row->wlanSSID, text(wlanSSID));
    setFieldText(row->wlanBSSID, text(wlanBSSID));
    row->wlanMode = wlanMode;
    row->wlanIPAddress = wlanIPAddress;
    row->wlanGateway = wlanGateway;
    row->wlanSignalStrength = wlanSignalStrength;
    setFieldText(row->wlanEncryption, text(wlanEncryption));
    row->wlanState = wlanState;
    return row;
}

void wlanObjTable_removeEntry(wlanObjTable_entry *entry)
{
    removeRow(Global_wlanTable_head, entry);
}

netsnmp_variable_list *wlanObjTable_get_first_data_point(void **loop_context, void **data_context,
                                                         netsnmp_variable_list *put_index_data,
                                                         netsnmp_iterator_info *)
{
    return firstRowByPosition(Global_wlanTable_head, sem_wlan_id, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *wlanObjTable_get_next_data_point(void **loop_context, void **data_context,
                                                        netsnmp_variable_list *put_index_data,
                                                        netsnmp_iterator_info *)
{
    return nextRowByPosition(Global_wlanTable_head, sem_wlan_id, loop_context, data_context, put_index_data);
}

int wlanObjTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                         netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("wlanObjTable:handler", "Processing request (%d)\n", reqinfo->mode);
    return answerTableWithMemoryColumn(
        Global_wlanTable_head, sem_wlan_id, COLUMN_WLANINDEX, COLUMN_WLANSTATE, COLUMN_WLANSTATE,
        &wlanObjTable_entry::wlanState, reqinfo, requests,
        [](const wlanObjTable_entry &row, int column, netsnmp_variable_list *var) {
            switch (column) {
            case COLUMN_WLANINDEX:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.wlanIndex);
                break;
            case COLUMN_WLANNAME:
                setVarText(var, row.wlanName);
                break;
            case COLUMN_WLANSSID:
                setVarText(var, row.wlanSSID);
                break;
            case COLUMN_WLANBSSID:
                setVarText(var, row.wlanBSSID);
                break;
            case COLUMN_WLANMODE:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.wlanMode);
                break;
            case COLUMN_WLANIPADDRESS:
                setAddress(var, row.wlanIPAddress);
                break;
            case COLUMN_WLANGATEWAY:
                setAddress(var, row.wlanGateway);
                break;
            case COLUMN_WLANSIGNALSTRENGTH:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.wlanSignalStrength);
                break;
            case COLUMN_WLANENCRYPTION:
                setVarText(var, row.wlanEncryption);
                break;
            default:
                snmp_set_var_typed_integer(var, ASN_INTEGER, row.wlanState);
                break;
            }
        });
}
