// SPDX-License-Identifier: BSD-3-Clause
// Registration helpers and the SET protocol of writable scalars.
#include "mibFrame.h"

#include "lib/textCheck.h"
#include "configStore.h"
#include "semaphore.h"
#include "setJournal.h"

#include <net-snmp/agent/agent_callbacks.h>

#include <cstring>
#include <map>
#include <optional>
#include <utility>

namespace {

const oid agentRegion[] = {VLM_ENTERPRISE};

bool insideRegion(const oid *name, size_t len)
{
    return len >= OID_LENGTH(agentRegion) && memcmp(name, agentRegion, sizeof agentRegion) == 0;
}

// Called when the agent has (re)connected to the master, just before the
// library sends the master every registration it has not sent yet: each of
// ours but the region itself is marked as sent, so that the master receives
// the region alone. A disconnection clears the marks, so this runs at each
// connection.
int sendOnlyTheRegion(int, int, void *, void *)
{
    for (netsnmp_subtree *s = netsnmp_subtree_find_first(""); s; s = s->next)
        for (netsnmp_subtree *t = s; t; t = t->children) {
            if (!insideRegion(t->start_a, t->start_len))
                continue;
            const bool region = t->namelen == OID_LENGTH(agentRegion) &&
                                snmp_oid_compare(t->start_a, t->start_len, agentRegion, OID_LENGTH(agentRegion)) == 0;
            if (!region)
                t->flags |= SUBTREE_ATTACHED;
        }
    return 0;
}

} // namespace

void registerAgentRegion()
{
    netsnmp_register_null(snmp_duplicate_objid(agentRegion, OID_LENGTH(agentRegion)), OID_LENGTH(agentRegion));
    snmp_register_callback(SNMP_CALLBACK_APPLICATION, SNMPD_CALLBACK_INDEX_START, sendOnlyTheRegion, nullptr);
}

std::vector<long> &passKeys(const void *table)
{
    static std::map<const void *, std::vector<long>> keys;
    return keys[table];
}

int registerScalarGroup(const char *descr, struct variable *vars, size_t varsize, size_t numvars,
                        const oid *base, size_t baselen)
{
    if (register_mib(descr, vars, varsize, numvars, base, baselen) != MIB_REGISTERED_OK) {
        VLM_DEBUG("register_mib", "%s registration failed\n", descr);
        snmp_log(LOG_WARNING, "%s registration failed\n", descr);
        return 0;
    }
    return 1;
}

int registerTable(const TableRegistration &t)
{
    VLM_DEBUG(t.initToken, "initializing table %s\n", t.name);
    netsnmp_handler_registration *reg =
        netsnmp_create_handler_registration(t.name, t.handler, t.tableOid, t.tableOidLen, t.modes);
    auto *tinfo = SNMP_MALLOC_TYPEDEF(netsnmp_table_registration_info);
    auto *iinfo = SNMP_MALLOC_TYPEDEF(netsnmp_iterator_info);
    if (!reg || !tinfo || !iinfo) {
        snmp_log(LOG_ERR, "%s registration failed: out of memory\n", t.name);
        SNMP_FREE(tinfo);
        SNMP_FREE(iinfo);
        if (reg)
            netsnmp_handler_registration_free(reg);
        return 0;
    }
    for (int i = 0; i < t.indexCount; i++)
        netsnmp_table_helper_add_indexes(tinfo, ASN_INTEGER, 0);
    tinfo->min_column = t.minColumn;
    tinfo->max_column = t.maxColumn;
    iinfo->get_first_data_point = t.firstDataPoint;
    iinfo->get_next_data_point = t.nextDataPoint;
    iinfo->table_reginfo = tinfo;
    if (t.sorted)
        iinfo->flags |= NETSNMP_ITERATOR_FLAG_SORTED;
    if (netsnmp_register_table_iterator(reg, iinfo) != SNMPERR_SUCCESS) {
        snmp_log(LOG_WARNING, "%s registration failed\n", t.name);
        return 0;
    }
    return 1;
}

const void *memoryColumnKey(const void *table, long index, bool make)
{
    // Only the main thread serves requests. A node of a map never moves.
    static std::map<std::pair<const void *, long>, char> keys;
    if (make)
        return &keys[{table, index}];
    auto it = keys.find({table, index});
    return it == keys.end() ? nullptr : &it->second;
}

bool persistValue(const char *group, const char *key, const std::string &text)
{
    switch (writeConfigEdits({{group, key, text}})) {
    case ConfigWrite::Saved:
        return true;
    case ConfigWrite::SavedNoMatch:
        // Nowhere to keep it: answering success would lose it at the restart.
        snmp_log(LOG_ERR, "%s has no details element; \"%s\" of group \"%s\" cannot be stored\n",
                 configFilePath.c_str(), key, group);
        return false;
    default:
        snmp_log(LOG_ERR, "cannot store \"%s\" in %s\n", key, configFilePath.c_str());
        return false;
    }
}

namespace {

std::string persistedText(const WritableScalar &o, const SetValue &v)
{
    return o.type == ASN_INTEGER ? std::to_string(v.integer) : v.octets;
}

bool persist(const WritableScalar &o, const SetValue &v)
{
    return !o.configKey || persistValue(o.configGroup, o.configKey, persistedText(o, v));
}

// Runs fn with the object's semaphore held, if it has one.
template <typename Fn>
auto guarded(const WritableScalar &o, Fn fn)
{
    SemHold hold(o.semId ? *o.semId : -1);
    return fn();
}

int reserve(const WritableScalar &o, const u_char *var_val, u_char type, size_t len, SetValue &v)
{
    if (type != o.type) {
        VLM_DEBUG(o.token, "%x not integer type", type);
        return SNMP_ERR_WRONGTYPE;
    }
    if (len > o.maxLength)
        return SNMP_ERR_WRONGLENGTH;
    if (o.type == ASN_OCTET_STR && o.configKey && !isStorableText(var_val, len)) {
        VLM_DEBUG(o.token, "wrong value: octets that cannot be stored as text\n");
        return SNMP_ERR_WRONGVALUE;
    }
    if (!o.check)
        return SNMP_ERR_NOERROR;
    int rc = guarded(o, [&] { return o.check(v); });
    if (rc != SNMP_ERR_NOERROR)
        VLM_DEBUG(o.token, "wrong value %lx", v.integer);
    return rc;
}

} // namespace

int scalarWrite(const WritableScalar &o, int action, const u_char *var_val, u_char var_val_type,
                size_t var_val_len)
{
    setJournal::begin(setJournal::currentTransactionId());
    SetValue v;
    if (var_val_type == ASN_INTEGER && var_val && var_val_len >= sizeof(long))
        v.integer = *reinterpret_cast<const long *>(var_val);
    else if (var_val)
        v.octets.assign(reinterpret_cast<const char *>(var_val), var_val_len);

    switch (action) {
    case RESERVE1:
        return reserve(o, var_val, var_val_type, var_val_len, v);
    case ACTION: {
        SetValue before = guarded(o, [&] {
            SetValue old = o.load();
            o.store(v);
            return old;
        });
        if (!persist(o, v)) {
            guarded(o, [&] { o.store(before); });
            return SNMP_ERR_COMMITFAILED;
        }
        const WritableScalar *obj = &o;
        setJournal::remember(obj, [obj, before] {
            guarded(*obj, [&] { obj->store(before); });
            return persist(*obj, before) ? SNMP_ERR_NOERROR : SNMP_ERR_UNDOFAILED;
        });
        return SNMP_ERR_NOERROR;
    }
    case UNDO:
        return setJournal::undo(&o);
    case COMMIT:
    case FREE:
        setJournal::forget(&o);
        return SNMP_ERR_NOERROR;
    default:
        return SNMP_ERR_NOERROR;
    }
}

void configureScalar(const WritableScalar &object, const ConfigStore &store)
{
    const std::string *text = object.configKey ? store.last(object.configKey) : nullptr;
    if (!text)
        return;
    SetValue v;
    if (object.type == ASN_INTEGER)
        v.integer = configNumber(*text);
    else
        v.octets = *text;
    object.store(v);
}
