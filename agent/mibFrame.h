/* SPDX-License-Identifier: BSD-3-Clause */
// The two shapes every MIB group is served in (scalar groups through
// register_mib, tables through the table iterator), the diagnostics they share,
// and the all-or-nothing SET protocol of writable scalars.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>
#include <net-snmp/agent/util_funcs/header_generic.h>

#include "semaphore.h"
#include "setJournal.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <algorithm>
#include <vector>

// Every diagnostic is preceded by the trace line naming function, file and line.
#define VLM_TRACE() DEBUGMSGTL(("trace", "%s(): %s, %d:\n", __func__, __FILE__, __LINE__))
#define VLM_DEBUG(token, ...)              \
    do {                                   \
        VLM_TRACE();                       \
        DEBUGMSGTL((token, __VA_ARGS__));  \
    } while (0)

// The enterprise arc all objects live under.
#define VLM_ENTERPRISE 1, 3, 6, 1, 4, 1, 42424

// Registers a scalar group; a group that cannot be registered is reported and
// left out, and the agent starts without it. 1 when registered.
int registerScalarGroup(const char *descr, struct variable *vars, size_t varsize, size_t numvars,
                        const oid *base, size_t baselen);

#define REGISTER_SCALARS(descr, vars, vartype, base)                                          \
    registerScalarGroup(descr, reinterpret_cast<struct variable *>(vars), sizeof(vartype),     \
                        sizeof(vars) / sizeof(vartype), base, OID_LENGTH(base))

// The read routine body of a scalar group whose one object is a count that
// a polling thread keeps: the count is copied under the group's semaphore
// into `out`, the value the library is handed. Another magic has no value.
template <typename Count>
u_char *countScalarValue(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                         WriteMethod **write_method, int magic, int semId, const Count &count, long &out,
                         const char *where)
{
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;
    if (vp->magic != magic) {
        VLM_DEBUG("snmpd", "unknown sub-id %d in %s\n", vp->magic, where);
        return nullptr;
    }
    SemHold hold(semId);
    out = count;
    return reinterpret_cast<u_char *>(&out);
}

// A table served through the table iterator: one or more INTEGER indexes,
// columns minColumn..maxColumn, rows walked by the two iterator routines.
struct TableRegistration {
    const char *name;
    Netsnmp_Node_Handler *handler;
    const oid *tableOid;
    size_t tableOidLen;
    int modes;                  // HANDLER_CAN_RWRITE or HANDLER_CAN_RONLY
    int indexCount;
    unsigned minColumn, maxColumn;
    Netsnmp_First_Data_Point *firstDataPoint;
    Netsnmp_Next_Data_Point *nextDataPoint;
    const char *initToken;      // such as "nvramObj:init"
    // The data points come in increasing index order (nextPassKey sorts its
    // keys): the iterator then stops at the first row past the one a GETNEXT
    // asks for instead of visiting every row of the table for each request.
    bool sorted = false;
};
int registerTable(const TableRegistration &table);

// Registers the agent's whole subtree, 1.3.6.1.4.1.42424, as the one region
// the master knows: the groups' own registrations (scalar groups and tables,
// about forty) stay with the agent library, which finds the handler of each
// object itself. A walk through the master then never stops at a boundary
// between two of our registrations, each of which would cost one more
// exchange; an object no group serves answers as before (noSuchObject, or
// the next object for a walk). Call before the groups register.
void registerAgentRegion();

// The index of a table row: its `index` field, unless the row's type has a
// rowIndex overload of its own (found where the row type is declared).
template <typename Row>
long rowIndex(const Row &row)
{
    return row.index;
}

// The row keys of one table as they were when the current iterator pass
// began, keyed by the table's list head. The library runs a whole pass over
// the rows for every varbind (and every repetition of a GETBULK), so the
// keys are copied under one hold of the group's semaphore at the pass's
// first step instead of walking the list under a fresh hold at every step:
// that would cost two semaphore operations and a walk from the head per row.
// Only the main thread runs passes; the storage is reused from pass to pass.
std::vector<long> &passKeys(const void *table);

// One step of the table iterator over a singly linked row list that a
// polling thread may rebuild (and free) at any time. The loop context is the
// position in the pass's keys: at position 0 the keys of every row are copied
// (keyOf(row)) under the group's semaphore and sorted, later steps read the
// copy, so no row address outlives the hold and the rows come in index order
// (a key orders as its row's index does). Returns false at the end of the
// pass.
// The handler finds the row again by its key; a row that went away after the
// copy answers noSuchInstance.
template <typename Row, typename KeyOf>
bool nextPassKey(Row *const &head, int semId, KeyOf keyOf, void **loop_context, long &key)
{
    std::vector<long> &keys = passKeys(&head);
    const uintptr_t position = reinterpret_cast<uintptr_t>(*loop_context);
    if (position == 0) {
        keys.clear();
        SemHold hold(semId);
        for (const Row *row = head; row; row = row->next)
            keys.push_back(keyOf(*row));
        std::sort(keys.begin(), keys.end());
    }
    if (position >= keys.size())
        return false;
    key = keys[position];
    *loop_context = reinterpret_cast<void *>(position + 1);
    return true;
}

// The iterator step of a table indexed by one INTEGER, rowIndex(row): the
// data context is the row's index.
template <typename Row>
netsnmp_variable_list *nextRowByPosition(Row *const &head, int semId, void **loop_context, void **data_context,
                                         netsnmp_variable_list *put_index_data)
{
    long index;
    if (!nextPassKey(head, semId, [](const Row &row) { return static_cast<long>(rowIndex(row)); }, loop_context,
                     index))
        return nullptr;
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, index);
    *data_context = reinterpret_cast<void *>(static_cast<uintptr_t>(index));
    return put_index_data;
}

// The first step of the walk above: position 0.
template <typename Row>
netsnmp_variable_list *firstRowByPosition(Row *const &head, int semId, void **loop_context, void **data_context,
                                          netsnmp_variable_list *put_index_data)
{
    *loop_context = nullptr;
    return nextRowByPosition(head, semId, loop_context, data_context, put_index_data);
}

// The row of a list with this index; null when there is none.
template <typename Row>
Row *findRowByIndex(Row *head, long index)
{
    for (Row *row = head; row; row = row->next)
        if (rowIndex(*row) == index)
            return row;
    return nullptr;
}

// Text of a fixed-width field as an OCTET STRING value, without terminator.
template <size_t N>
void setVarText(netsnmp_variable_list *var, const char (&field)[N])
{
    snmp_set_var_typed_value(var, ASN_OCTET_STR, field, strnlen(field, N));
}

// The handler body of a read-only table. Only GET acts (the library answers a
// SET with notWritable): a column outside minColumn..maxColumn gets
// noSuchObject; find(data context) finds the row again with the group's
// semaphore held, noSuchInstance when it has gone meanwhile; answer(row,
// column, varbind) sets the value.
template <typename Row, typename Find, typename Answer>
int answerReadOnlyRows(int semId, int minColumn, int maxColumn, netsnmp_agent_request_info *reqinfo,
                       netsnmp_request_info *requests, Find find, Answer answer)
{
    if (reqinfo->mode != MODE_GET)
        return SNMP_ERR_NOERROR;
    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed)
            continue;
        const long context = static_cast<long>(reinterpret_cast<uintptr_t>(netsnmp_extract_iterator_context(request)));
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        const int column = info ? static_cast<int>(info->colnum) : 0;
        if (column < minColumn || column > maxColumn) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
            continue;
        }
        SemHold hold(semId);
        const Row *row = context ? find(context) : nullptr;
        if (!row) {
            netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
            continue;
        }
        answer(*row, column, request->requestvb);
    }
    return SNMP_ERR_NOERROR;
}

// The same for a table walked by nextRowByPosition, whose data context is
// the row's index.
template <typename Row, typename Answer>
int answerReadOnlyTable(Row *const &head, int semId, int minColumn, int maxColumn,
                        netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests, Answer answer)
{
    return answerReadOnlyRows<Row>(
        semId, minColumn, maxColumn, reqinfo, requests,
        [&head](long index) { return findRowByIndex<const Row>(head, index); }, answer);
}

// The undo record key of one row's writable column in a table of rows that
// come and go: stable for the life of the process, one per table and index,
// whatever row happens to hold that index. Made only when `make` is set (for
// a row that exists), so that requests naming random indexes cannot grow
// the set; null when there is none.
const void *memoryColumnKey(const void *table, long index, bool make);

// The handler body of a table whose rows a polling thread rewrites, with one
// writable INTEGER column that lives in memory only (until the thread
// rewrites the row). GET as answerReadOnlyTable. RESERVE1: a varbind of any
// other column is notWritable, a value that is not a 4-octet INTEGER gets the
// library's check error, a row that does not exist noCreation; the first
// refused varbind ends the check. ACTION stores the new value and journals
// the one from before the request; UNDO puts that back. Rows are found again by index under the semaphore in
// every phase: one that went away meanwhile fails ACTION (commitFailed) and
// needs no UNDO.
template <typename Row, typename Answer>
int answerTableWithMemoryColumn(Row *const &head, int semId, int minColumn, int maxColumn, int writableColumn,
                                long Row::*value, netsnmp_agent_request_info *reqinfo,
                                netsnmp_request_info *requests, Answer answer)
{
    if (reqinfo->mode == MODE_GET)
        return answerReadOnlyTable(head, semId, minColumn, maxColumn, reqinfo, requests, answer);
    if (!MODE_IS_SET(reqinfo->mode))
        return SNMP_ERR_NOERROR;
    setJournal::begin(reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->transid : 0);

    Row *const *table = &head;
    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed)
            continue;
        const long index = static_cast<long>(reinterpret_cast<uintptr_t>(netsnmp_extract_iterator_context(request)));
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        const int column = info ? static_cast<int>(info->colnum) : 0;

        switch (reqinfo->mode) {
        case MODE_SET_RESERVE1: {
            int rc = column == writableColumn ? netsnmp_check_vb_int(request->requestvb) : SNMP_ERR_NOTWRITABLE;
            if (rc == SNMP_ERR_NOERROR) {
                SemHold hold(semId);
                if (!index || !findRowByIndex(head, index))
                    rc = SNMP_ERR_NOCREATION;
            }
            if (rc != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(reqinfo, request, rc);
                return SNMP_ERR_NOERROR;
            }
            break;
        }
        case MODE_SET_ACTION: {
            const long newValue = *request->requestvb->val.integer;
            long before;
            {
                SemHold hold(semId);
                Row *row = findRowByIndex(head, index);
                if (!row) {
                    netsnmp_set_request_error(reqinfo, request, SNMP_ERR_COMMITFAILED);
                    return SNMP_ERR_NOERROR;
                }
                before = row->*value;
                row->*value = newValue;
            }
            setJournal::remember(memoryColumnKey(table, index, true), [table, semId, index, value, before] {
                SemHold hold(semId);
                if (Row *row = findRowByIndex(*table, index))
                    row->*value = before;
                return SNMP_ERR_NOERROR;
            });
            break;
        }
        case MODE_SET_UNDO: {
            const void *key = memoryColumnKey(table, index, false);
            int rc = key ? setJournal::undo(key) : SNMP_ERR_NOERROR;
            if (rc != SNMP_ERR_NOERROR)
                netsnmp_set_request_error(reqinfo, request, rc);
            break;
        }
        case MODE_SET_COMMIT:
        case MODE_SET_FREE:
            if (const void *key = memoryColumnKey(table, index, false))
                setJournal::forget(key);
            break;
        default:
            break;
        }
    }
    return SNMP_ERR_NOERROR;
}

// A zeroed row put at the head of its list (the tables' rows are created in
// reverse order of their indexes); null when memory is short.
template <typename Row>
Row *newRowAtHead(Row *&head)
{
    auto *row = static_cast<Row *>(calloc(1, sizeof(Row)));
    if (!row)
        return nullptr;
    row->next = head;
    head = row;
    return row;
}

// Unlinks a row from its list and frees it; a row not on the list is left alone.
template <typename Row>
void removeRow(Row *&head, Row *row)
{
    for (Row **link = &head; *link; link = &(*link)->next) {
        if (*link == row) {
            *link = row->next;
            free(row);
            return;
        }
    }
}

// A value received in a SET: the integer of an INTEGER, the octets of an
// OCTET STRING.
struct SetValue {
    long integer = 0;
    std::string octets;
};

// What the SET protocol needs to know of one writable scalar.
struct WritableScalar {
    const char *token;          // the group's diagnostic token
    u_char type;                // ASN_INTEGER or ASN_OCTET_STR
    size_t maxLength;           // longest value accepted, in octets
    // The group's semaphore identifier, read at each use (the semaphores are
    // created after the groups register); null when the record has none.
    const int *semId;
    // The group's value rule, run with the semaphore held (may be null):
    // SNMP_ERR_NOERROR or the error to answer (normally SNMP_ERR_WRONGVALUE).
    int (*check)(const SetValue &value);
    SetValue (*load)();                  // current value, semaphore held
    void (*store)(const SetValue &value);  // new value, semaphore held
    const char *configGroup;    // subtype id of the persisted element, null when
    const char *configKey;      // the object lives in memory only
};

class ConfigStore;
// Loads the object's value from the configuration file at start-up: the
// last text of its key, as a decimal number for an INTEGER. A key the file
// lacks leaves the record as it is. Nothing for an object kept in memory
// only.
void configureScalar(const WritableScalar &object, const ConfigStore &store);

// The write routine body of every writable scalar, for each SET phase:
// RESERVE1 checks type, length and value (wrongType, wrongLength, wrongValue);
// ACTION stores the value and writes it to the configuration file before the
// answer goes out, restoring the old value and answering commitFailed when the
// file cannot be written; UNDO puts back memory and file as they were before
// the request; COMMIT and FREE end the request.
int scalarWrite(const WritableScalar &object, int action, const u_char *var_val, u_char var_val_type,
                size_t var_val_len);

// Stores one value in the configuration file (its element is added to its
// group when the file lacks it): true when it is there, false (reported)
// when the file could not be rewritten or has nowhere to hold it.
bool persistValue(const char *group, const char *key, const std::string &text);
