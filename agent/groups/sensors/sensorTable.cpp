// SPDX-License-Identifier: BSD-3-Clause
// The three sensor tables and their count scalars: registration, the
// iterator, GET, and the threshold and switch writes of RESERVE1, ACTION and
// UNDO.
//
// Rows are freed by the sensor thread when a sensor disappears, while the
// agent library may be in the middle of a walk (the iterator calls us row by
// row, then the handler with the rows it chose) or between two phases of a
// SET (under AgentX each phase is a PDU of its own). So no row address is
// ever kept outside the kind's semaphore: the loop context is a position in
// the list, the data context the row's index, and each step finds its row
// again with the semaphore held. A row gone in between reads as absent.
#include "groups/sensors/sensorTable.h"

#include "lib/dateAndTime.h"
#include "lib/textCheck.h"
#include "mibFrame.h"
#include "setJournal.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

// The value handed to the library by the count scalars.
long sensorCount_long;

// A threshold takes at most 9 octets: the field and the text written back
// to the configuration file both need their terminator.
constexpr size_t maxThresholdLength = 9;

std::string configKey(const SensorFamily &f, int which)
{
    return std::string(f.prefix) + (which >= 0 ? thresholdKeySuffix[which] : "State");
}

std::string configGroup(const SensorFamily &f, std::string_view sensorName)
{
    return f.fileGroup ? std::string(f.fileGroup) : std::string(sensorName);
}

// The four threshold texts of a row, in column order.
struct thresholdTexts {
    std::string text[SENSOR_THRESHOLDS];
};

bool inOrder(const thresholdTexts &t)
{
    return judgeThresholds(t.text[SENSOR_LOWLOW].c_str(), t.text[SENSOR_LOW].c_str(), t.text[SENSOR_HIGH].c_str(),
                           t.text[SENSOR_HIGHHIGH].c_str()) == 1;
}

// Thresholds named by the request being checked, by threshold source: the
// source's four texts as the request leaves them, and the request's first
// varbind that names the source (which a broken order is answered on). The
// order is checked once, on what the whole request leaves, so thresholds
// moved together (a band raised as a whole) pass although each alone would
// cross its neighbour, and two varbinds each fine alone cannot leave the
// four out of order.
struct pendingSource {
    thresholdTexts texts;
    netsnmp_request_info *first;
};
using pendingThresholds = std::map<const void *, pendingSource>;

int reserveWrite(const SensorFamily &f, netsnmp_request_info *request, long index, int column,
                 pendingThresholds &pending)
{
    netsnmp_variable_list *vb = request->requestvb;
    const int which = columnThreshold(column);
    if (which < 0 && column != COLUMN_SENSOR_STATE)
        return SNMP_ERR_NOTWRITABLE;

    // Type and length before the row, as SNMP orders the checks: a value
    // of the wrong type fits no row of the column, existing or not.
    if (which < 0) {
        int rc = netsnmp_check_vb_int(vb);
        if (rc != SNMP_ERR_NOERROR)
            return rc;
        if (!index)
            return SNMP_ERR_NOCREATION;
        if (*vb->val.integer != 1 && *vb->val.integer != 2)
            return SNMP_ERR_WRONGVALUE;
        SensorLock hold(f);
        sensorEntry *row = findSensorRow(f, index);
        if (!row)
            return SNMP_ERR_NOCREATION;
        // A sensor without a configuration group has nowhere to keep its
        // switch: the next cycle would show 0 again.
        return thresholdSourceOf(f, fieldText(row->name)) ? SNMP_ERR_NOERROR : SNMP_ERR_NOTWRITABLE;
    }

    int rc = netsnmp_check_vb_type_and_max_size(vb, ASN_OCTET_STR, maxThresholdLength);
    if (rc != SNMP_ERR_NOERROR)
        return rc;
    if (!index)
        return SNMP_ERR_NOCREATION;
    // The configuration file must give the text back as it was sent, and
    // it must be a number (or empty: no threshold).
    if (!isStorableText(vb->val.string, vb->val_len))
        return SNMP_ERR_WRONGVALUE;
    const std::string text(reinterpret_cast<const char *>(vb->val.string), vb->val_len);
    if (!isThresholdText(text) || (!f.negativeAllowed && !initJudgeThreshold(text.c_str())))
        return SNMP_ERR_WRONGVALUE;

    SensorLock hold(f);
    sensorEntry *row = findSensorRow(f, index);
    if (!row)
        return SNMP_ERR_NOCREATION;
    std::optional<thresholdSource> src = thresholdSourceOf(f, fieldText(row->name));
    const void *source = src ? static_cast<const void *>(src->text[0]) : static_cast<const void *>(row);
    auto it = pending.find(source);
    if (it == pending.end()) {
        pendingSource fresh{{}, request};
        for (int i = 0; i < SENSOR_THRESHOLDS; i++)
            fresh.texts.text[i] = std::string(fieldText(row->*rowThreshold[i]));
        it = pending.emplace(source, fresh).first;
    }
    it->second.texts.text[which] = text;
    return SNMP_ERR_NOERROR;
}

// Puts a value back into the threshold source and, if the sensor still has
// a row, into the row.
void restoreValue(const SensorFamily &f, thresholdSource src, long index, int which, const std::string &text,
                  long state)
{
    SensorLock hold(f);
    sensorEntry *row = findSensorRow(f, index);
    if (which >= 0) {
        setFieldText(*src.text[which], text);
        if (row)
            setRowThreshold(*row, which, text);
    } else {
        *src.state = state;
        if (row)
            row->state = state;
    }
}

// The journal key each written varbind used, so that UNDO, COMMIT and FREE
// find it again even when the row has gone since.
struct appliedWrite {
    const SensorFamily *family;
    long index;
    int column;
    const void *key;
};
long appliedTransaction = -1;
std::vector<appliedWrite> applied;

const void *appliedKey(const SensorFamily &f, long index, int column)
{
    // Only a key the journal still holds counts: an entry left by an
    // abandoned request may name the same varbind.
    for (const appliedWrite &a : applied)
        if (a.family == &f && a.index == index && a.column == column && setJournal::pending(a.key))
            return a.key;
    return nullptr;
}

int applyWrite(const SensorFamily &f, netsnmp_variable_list *vb, long index, int column)
{
    const int which = columnThreshold(column);
    const std::string text =
        which >= 0 ? std::string(reinterpret_cast<const char *>(vb->val.string), vb->val_len) : std::string();
    const long state = which >= 0 ? 0 : *vb->val.integer;

    thresholdSource src;
    std::string group, oldText;
    long oldState = 0;
    {
        SensorLock hold(f);
        sensorEntry *row = findSensorRow(f, index);
        std::optional<thresholdSource> found = row ? thresholdSourceOf(f, fieldText(row->name)) : std::nullopt;
        // The sensor went away since the request was checked.
        if (!found)
            return SNMP_ERR_COMMITFAILED;
        src = *found;
        group = configGroup(f, fieldText(row->name));
        if (which >= 0) {
            oldText = std::string(fieldText(*src.text[which]));
            setRowThreshold(*row, which, text);
            setFieldText(*src.text[which], text);
        } else {
            oldState = *src.state;
            row->state = state;
            *src.state = state;
        }
    }

    // Written before the answer goes out: under AgentX the master has
    // already answered the manager when COMMIT arrives.
    const std::string key = configKey(f, which);
    if (!persistValue(group.c_str(), key.c_str(), which >= 0 ? text : std::to_string(state))) {
        restoreValue(f, src, index, which, oldText, oldState);
        return SNMP_ERR_COMMITFAILED;
    }
    const void *journalKey = which >= 0 ? static_cast<const void *>(src.text[which]) : src.state;
    const SensorFamily *family = &f;
    setJournal::remember(journalKey, [family, src, index, which, oldText, oldState, group, key] {
        restoreValue(*family, src, index, which, oldText, oldState);
        return persistValue(group.c_str(), key.c_str(), which >= 0 ? oldText : std::to_string(oldState))
                   ? SNMP_ERR_NOERROR
                   : SNMP_ERR_UNDOFAILED;
    });
    applied.push_back({&f, index, column, journalKey});
    return SNMP_ERR_NOERROR;
}

void answerGet(const SensorFamily &f, netsnmp_agent_request_info *reqinfo, netsnmp_request_info *request,
               long index, int column)
{
    if (column < COLUMN_SENSOR_INDEX || column > COLUMN_SENSOR_LEVEL) {
        netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHOBJECT);
        return;
    }
    netsnmp_variable_list *vb = request->requestvb;
    SensorLock hold(f);
    const sensorEntry *row = index ? findSensorRow(f, index) : nullptr;
    if (!row) {
        netsnmp_set_request_error(reqinfo, request, SNMP_NOSUCHINSTANCE);
        return;
    }
    std::string_view text;
    switch (column) {
    case COLUMN_SENSOR_INDEX:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row->index);
        return;
    case COLUMN_SENSOR_STATE:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row->state);
        return;
    case COLUMN_SENSOR_LEVEL:
        snmp_set_var_typed_integer(vb, ASN_INTEGER, row->level);
        return;
    case COLUMN_SENSOR_GETTIME: {
        // Not stored: every read is the time of the read.
        unsigned char now[DATE_AND_TIME_LEN];
        dateAndTime(time(nullptr), now);
        snmp_set_var_typed_value(vb, ASN_OCTET_STR, now, sizeof now);
        return;
    }
    case COLUMN_SENSOR_NAME:
        text = fieldText(row->name);
        break;
    case COLUMN_SENSOR_UNIT:
        text = fieldText(row->unit);
        break;
    case COLUMN_SENSOR_VALUE:
        text = fieldText(row->value);
        break;
    default:
        text = fieldText(row->*rowThreshold[columnThreshold(column)]);
        break;
    }
    snmp_set_var_typed_value(vb, ASN_OCTET_STR, text.data(), text.size());
}

} // namespace

// -- value rules -------------------------------------------------------------------

bool isThresholdText(std::string_view text)
{
    size_t i = 0;
    auto blanks = [&] {
        while (i < text.size() && text[i] == ' ')
            i++;
    };
    blanks();
    if (i == text.size())
        return text.empty();   // empty: no threshold; blanks alone are no number
    if (text[i] == '+' || text[i] == '-')
        i++;
    size_t digits = 0, points = 0;
    for (; i < text.size(); i++) {
        if (text[i] >= '0' && text[i] <= '9')
            digits++;
        else if (text[i] == '.' && ++points == 1)
            continue;
        else
            break;
    }
    blanks();
    return digits > 0 && i == text.size();
}

int initJudgeThreshold(const char *text)
{
    if (!text || !*text)
        return 1;
    double value = atof(text);
    // NaN fails the comparison too.
    return value >= 0 ? 1 : 0;
}

int judgeThresholds(const char *lowLow, const char *low, const char *high, const char *highHigh)
{
    const char *const texts[4] = {lowLow, low, high, highHigh};
    bool seen = false;
    double previous = 0;
    for (const char *t : texts) {
        if (!t || !*t)
            continue;
        double value = atof(t);
        // Written so that NaN anywhere fails.
        if (seen && !(previous < value))
            return 0;
        previous = value;
        seen = true;
    }
    return 1;
}

// -- iterator and handler -------------------------------------------------------------

long sensorContextIndex(void *data_context)
{
    return static_cast<long>(reinterpret_cast<uintptr_t>(data_context));
}

void *sensorIndexContext(long index)
{
    return reinterpret_cast<void *>(static_cast<uintptr_t>(index));
}

netsnmp_variable_list *sensorFirstDataPoint(const SensorFamily &family, void **loop_context, void **data_context,
                                            netsnmp_variable_list *put_index_data)
{
    *loop_context = nullptr;   // position 0
    return sensorNextDataPoint(family, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *sensorNextDataPoint(const SensorFamily &family, void **loop_context, void **data_context,
                                           netsnmp_variable_list *put_index_data)
{
    return nextRowByPosition(*family.tableHead, *family.semId, loop_context, data_context, put_index_data);
}

int sensorTableHandler(const SensorFamily &family, netsnmp_agent_request_info *reqinfo,
                       netsnmp_request_info *requests)
{
    VLM_DEBUG(family.handlerToken, "Processing request (%d)\n", reqinfo->mode);
    // Only a SET starts or continues a transaction: a GET served between two
    // phases of a SET (each its own AgentX PDU) must not drop its undo records.
    if (reqinfo->mode != MODE_GET) {
        const long transaction = reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->transid : 0;
        setJournal::begin(transaction);
        if (transaction != appliedTransaction) {
            applied.clear();
            appliedTransaction = transaction;
        }
    }

    pendingThresholds pending;
    for (netsnmp_request_info *request = requests; request; request = request->next) {
        if (request->processed)
            continue;
        const long index = sensorContextIndex(netsnmp_extract_iterator_context(request));
        netsnmp_table_request_info *info = netsnmp_extract_table_info(request);
        const int column = info ? static_cast<int>(info->colnum) : 0;

        switch (reqinfo->mode) {
        case MODE_GET:
            answerGet(family, reqinfo, request, index, column);
            break;
        case MODE_SET_RESERVE1: {
            int rc = reserveWrite(family, request, index, column, pending);
            // The first refused varbind ends the check of this request.
            if (rc != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(reqinfo, request, rc);
                return SNMP_ERR_NOERROR;
            }
            break;
        }
        case MODE_SET_ACTION: {
            int rc = applyWrite(family, request->requestvb, index, column);
            if (rc != SNMP_ERR_NOERROR) {
                netsnmp_set_request_error(reqinfo, request, rc);
                return SNMP_ERR_NOERROR;
            }
            break;
        }
        case MODE_SET_UNDO:
            if (const void *key = appliedKey(family, index, column)) {
                int rc = setJournal::undo(key);
                if (rc != SNMP_ERR_NOERROR)
                    netsnmp_set_request_error(reqinfo, request, rc);
            }
            break;
        case MODE_SET_COMMIT:
        case MODE_SET_FREE:
            if (const void *key = appliedKey(family, index, column))
                setJournal::forget(key);
            break;
        default:
            break;
        }
    }
    if (reqinfo->mode == MODE_SET_RESERVE1) {
        for (const auto &[source, p] : pending) {
            if (!inOrder(p.texts)) {
                netsnmp_set_request_error(reqinfo, p.first, SNMP_ERR_WRONGVALUE);
                break;
            }
        }
    }
    return SNMP_ERR_NOERROR;
}

netsnmp_variable_list *tpTable_get_first_data_point(void **loop_context, void **data_context,
                                                    netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorFirstDataPoint(temperatureFamily, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *tpTable_get_next_data_point(void **loop_context, void **data_context,
                                                   netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorNextDataPoint(temperatureFamily, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *vtTable_get_first_data_point(void **loop_context, void **data_context,
                                                    netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorFirstDataPoint(voltageFamily, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *vtTable_get_next_data_point(void **loop_context, void **data_context,
                                                   netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorNextDataPoint(voltageFamily, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *crTable_get_first_data_point(void **loop_context, void **data_context,
                                                    netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorFirstDataPoint(currentFamily, loop_context, data_context, put_index_data);
}

netsnmp_variable_list *crTable_get_next_data_point(void **loop_context, void **data_context,
                                                   netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return sensorNextDataPoint(currentFamily, loop_context, data_context, put_index_data);
}

int tpTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                    netsnmp_request_info *requests)
{
    return sensorTableHandler(temperatureFamily, reqinfo, requests);
}

int vtTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                    netsnmp_request_info *requests)
{
    return sensorTableHandler(voltageFamily, reqinfo, requests);
}

int crTable_handler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                    netsnmp_request_info *requests)
{
    return sensorTableHandler(currentFamily, reqinfo, requests);
}

// -- registration ------------------------------------------------------------------

namespace {

void registerSensorTable(const SensorFamily &f, Netsnmp_Node_Handler *handler, Netsnmp_First_Data_Point *first,
                         Netsnmp_Next_Data_Point *next)
{
    // The table is the entry without its last component.
    registerTable({f.tableName, handler, f.entryOid, OID_LENGTH(f.entryOid) - 1, HANDLER_CAN_RWRITE, 1,
                   COLUMN_SENSOR_INDEX, COLUMN_SENSOR_LEVEL, first, next, f.initToken, true});
}

u_char *sensorCountHandle(const SensorFamily &f, const char *where, struct variable *vp, oid *name,
                          size_t *length, int exact, size_t *var_len, WriteMethod **write_method)
{
    return countScalarValue(vp, name, length, exact, var_len, write_method, 0, *f.semId, *f.counter,
                            sensorCount_long, where);
}

const oid temperatureObjInfo_oid[] = {VLM_ENTERPRISE, 200, 2, 1};
const oid voltageObjInfo_oid[] = {VLM_ENTERPRISE, 200, 2, 2};
const oid currentObjInfo_oid[] = {VLM_ENTERPRISE, 200, 2, 6};

struct variable4 temperatureObjInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, temperatureObjInfo_handle, 1, {1}},
};
struct variable4 voltageObjInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, voltageObjInfo_numberHandle, 1, {1}},
};
struct variable4 currentObjInfo_variables[] = {
    {0, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, currentObjInfo_handle, 1, {1}},
};

} // namespace

void initialize_table_tpTable()
{
    registerSensorTable(temperatureFamily, tpTable_handler, tpTable_get_first_data_point,
                        tpTable_get_next_data_point);
}

void initialize_table_vtTable()
{
    registerSensorTable(voltageFamily, vtTable_handler, vtTable_get_first_data_point, vtTable_get_next_data_point);
}

void initialize_table_crTable()
{
    registerSensorTable(currentFamily, crTable_handler, crTable_get_first_data_point, crTable_get_next_data_point);
}

void init_temperatureObj()
{
    initialize_table_tpTable();
}

void init_voltageObj()
{
    initialize_table_vtTable();
}

void init_currentObj()
{
    initialize_table_crTable();
}

void init_temperatureObjInfo()
{
    REGISTER_SCALARS("temperatureObjInfo", temperatureObjInfo_variables, variable4, temperatureObjInfo_oid);
}

void init_voltageObjInfo()
{
    REGISTER_SCALARS("voltageObjInfo", voltageObjInfo_variables, variable4, voltageObjInfo_oid);
}

void init_currentObjInfo()
{
    REGISTER_SCALARS("currentObjInfo", currentObjInfo_variables, variable4, currentObjInfo_oid);
}

u_char *temperatureObjInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                                  WriteMethod **write_method)
{
    return sensorCountHandle(temperatureFamily, "examples/var_example", vp, name, length, exact, var_len,
                             write_method);
}

u_char *voltageObjInfo_numberHandle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                                    WriteMethod **write_method)
{
    return sensorCountHandle(voltageFamily, "examples/var_example", vp, name, length, exact, var_len,
                             write_method);
}

u_char *currentObjInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                              WriteMethod **write_method)
{
    return sensorCountHandle(currentFamily, "current/current", vp, name, length, exact, var_len, write_method);
}
