// SPDX-License-Identifier: BSD-3-Clause
// The trap server table, 1.3.6.1.4.1.42424.100.2.1.2: one row per trap
// destination; the address column is writable.
#include "groups/trapServers/trapServerTable.h"

#include "groups/trapServers/trapServerProbe.h"
#include "lib/fieldCopy.h"
#include "lib/trapList.h"
#include "mibFrame.h"
#include "semaphore.h"
#include "setJournal.h"

#include <cstdlib>
#include <cstring>
#include <string>

trapTable_entry *Global_trapTable_head = nullptr;

namespace {

const oid snmpTrapSrvTable_oid[] = {VLM_ENTERPRISE, 100, 2, 1, 2};

template <size_t N>
void setColumn(char (&field)[N], size_t &len, const char *text)
{
    setFieldText(field, text ? text : "");
    len = 0;   // not maintained: values are served with the text's own length
}

trapInfo *destinationOf(long index)
{
    list_for_each(pos, &Global_trapList)
    {
        trapInfo *dest = list_entry(pos, trapInfo, list);
        if (dest->trapIndex == index)
            return dest;
    }
    return nullptr;
}

// The row's address, its destination's and the destination's line in
// snmpd.conf all take `to`; sem_trap_id is held by the caller. Whether the
// agent then sends to the destination itself follows from the address the
// master serves (sendsDirectly).
bool moveDestination(trapTable_entry *row, const std::string &from, const std::string &to)
{
    trapInfo *dest = destinationOf(row->trapIndex);
    if (!dest || !changeTrapSinkHost(row->trapIndex, from, to))
        return false;
    setFieldText(dest->trapIp, to);
    dest->editedAt = secondsSinceBoot();
    setFieldText(row->trapIp, to);
    row->trapIp_len = to.size();
    return true;
}

void reserve(netsnmp_agent_request_info *reqinfo, netsnmp_request_info *request, trapTable_entry *row,
             int column)
{
    if (column != COLUMN_TRAPIP) {
        netsnmp_set_request_error(reqinfo, request, SNMP_ERR_NOTWRITABLE);
        return;
    }
    // Type and length before the row, as SNMP orders the checks; the field
    // keeps its terminator, so it holds 19 octets (the column's SIZE).
    netsnmp_variable_list *vb = request->requestvb;
    int rc = netsnmp_check_vb_type_and_max_size(vb, ASN_OCTET_STR, sizeof row->trapIp - 1);
    if (rc == SNMP_ERR_NOERROR && !row)
        rc = SNMP_ERR_NOCREATION;
    if (rc == SNMP_ERR_NOERROR) {
        std::string text(reinterpret_cast<const char *>(vb->val.string), vb->val_len);
        if (text.find('\0') != std::string::npos || judgeIpv4Address(text.c_str()) != 1)
            rc = SNMP_ERR_WRONGVALUE;
    }
    if (rc != SNMP_ERR_NOERROR)
        netsnmp_set_request_error(reqinfo, request, rc);
}

} // namespace

void init_snmpTrapSrv()
{
    initialize_table_snmpTrapSrvTable();
}

void initialize_table_snmpTrapSrvTable()
{
    registerTable({"snmpTrapSrvTable", snmpTrapSrvTable_handler, snmpTrapSrvTable_oid,
                   OID_LENGTH(snmpTrapSrvTable_oid), HANDLER_CAN_RWRITE, 1, COLUMN_TRAPINDEX, COLUMN_TRAPVERSION,
                   snmpTrapSrvTable_get_first_data_point, snmpTrapSrvTable_get_next_data_point,
                   "snmpTrapSrv:init"});
}

trapTable_entry *snmpTrapSrvTable_createEntry(long snmpTrapSrvIndex, const char *snmpTrapSrvIp,
                                              const char *snmpTrapSrvPort,
                                              const char *snmpTrapSrvAuthentication,
                                              const char *snmpTrapSrvCommunity, const char *snmpTrapSrvVersion)
{
    auto *row = newRowAtHead(Global_trapTable_head);
    if (!row)
        return nullptr;
    row->trapIndex = snmpTrapSrvIndex;
    setColumn(row->trapIp, row->trapIp_len, snmpTrapSrvIp);
    setColumn(row->trapPort, row->trapPort_len, snmpTrapSrvPort);
    setColumn(row->trapAuthentication, row->trapAuthentication_len, snmpTrapSrvAuthentication);
    setColumn(row->trapCommunity, row->trapCommunity_len, snmpTrapSrvCommunity);
    setColumn(row->trapVersion, row->trapVersion_len, snmpTrapSrvVersion);
    return row;
}

void snmpTrapSrvTable_removeEntry(trapTable_entry *row)
{
    removeRow(Global_trapTable_head, row);
}

netsnmp_variable_list *snmpTrapSrvTable_get_first_data_point(void **loop_context, void **data_context,
                                                             netsnmp_variable_list *put_index_data,
                                                             netsnmp_iterator_info *iinfo)
{
    *loop_context = Global_trapTable_head;
    return snmpTrapSrvTable_get_next_data_point(loop_context, data_context, put_index_data, iinfo);
}

netsnmp_variable_list *snmpTrapSrvTable_get_next_data_point(void **loop_context, void **data_context,
                                                            netsnmp_variable_list *put_index_data,
                                                            netsnmp_iterator_info *)
{
    auto *row = static_cast<trapTable_entry *>(*loop_context);
    if (!row)
        return nullptr;
    long index;
    {
        SemHold hold(sem_trap_id);
        index = row->trapIndex;
    }
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, index);
    *data_context = row;
    *loop_context = row->next;
    return put_index_data;
}

int snmpTrapSrvTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *,
                             netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests)
{
    VLM_DEBUG("snmpTrapSrv:handler", "Processing request (%d)\n", reqinfo->mode);
    // Only SET phases belong to a transaction: a GET served between two
    // phases must not drop the request's undo records.
    if (MODE_IS_SET(reqinfo->mode))
        setJournal::begin(reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->transid : 0);

    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed)
            continue;
        auto *row = static_cast<trapTable_entry *>(netsnmp_extract_iterator_context(request));
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        int column = info ? static_cast<int>(info->colnum) : 0;

        switch (reqinfo->mode) {
        case MODE_GET: {
            if (!row) {
                netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
                break;
            }
            SemHold hold(sem_trap_id);
            const char *text = nullptr;
            switch (column) {
            case COLUMN_TRAPINDEX:
                snmp_set_var_typed_integer(request->requestvb, ASN_INTEGER, row->trapIndex);
                break;
            case COLUMN_TRAPIP:
                text = row->trapIp;
                break;
            case COLUMN_TRAPPORT:
                text = row->trapPort;
                break;
            case COLUMN_TRAPAUTHENTICATION:
                text = row->trapAuthentication;
                break;
            case COLUMN_TRAPCOMMUNITY:
                text = row->trapCommunity;
                break;
            case COLUMN_TRAPVERSION:
                text = row->trapVersion;
                break;
            default:
                netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
            }
            if (text)
                snmp_set_var_typed_value(request->requestvb, ASN_OCTET_STR, text, strlen(text));
            break;
        }
        case MODE_SET_RESERVE1:
            reserve(reqinfo, request, row, column);
            // The first refused varbind ends the check of this request.
            if (request->status != SNMP_ERR_NOERROR)
                return SNMP_ERR_NOERROR;
            break;
        case MODE_SET_ACTION: {
            netsnmp_variable_list *vb = request->requestvb;
            std::string to(reinterpret_cast<const char *>(vb->val.string), vb->val_len);
            SemHold hold(sem_trap_id);
            std::string from(fieldText(row->trapIp));
            if (!moveDestination(row, from, to)) {
                netsnmp_set_request_error(reqinfo, request, SNMP_ERR_COMMITFAILED);
                return SNMP_ERR_NOERROR;
            }
            // The first record of a row in a request wins, and a later varbind
            // of the same row moves it on: the undo starts from the address the
            // row has when it runs, which is what the file holds then.
            if (setJournal::pending(row->trapIp))
                break;
            setJournal::remember(row->trapIp, [row, from] {
                SemHold undoHold(sem_trap_id);
                bool ok = moveDestination(row, std::string(fieldText(row->trapIp)), from);
                return ok ? SNMP_ERR_NOERROR : SNMP_ERR_UNDOFAILED;
            });
            break;
        }
        case MODE_SET_UNDO: {
            int rc = setJournal::undo(row ? static_cast<const void *>(row->trapIp) : nullptr);
            if (rc != SNMP_ERR_NOERROR)
                netsnmp_set_request_error(reqinfo, request, rc);
            break;
        }
        case MODE_SET_COMMIT:
        case MODE_SET_FREE:
            if (row)
                setJournal::forget(row->trapIp);
            break;
        default:
            break;
        }
    }
    return SNMP_ERR_NOERROR;
}
