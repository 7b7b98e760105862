// SPDX-License-Identifier: BSD-3-Clause
// The entity view: copies of the other groups' rows, the rows built from
// them, and the three registrations that serve them.
#include "groups/entity/entityView.h"

#include "groups/entity/entityRows.h"

#include "groups/disks/hardDiskObj.h"
#include "groups/power/powerInfoFrame.h"
#include "groups/sensors/sensors.h"
#include "groups/system/sysInfoFrame.h"
#include "lib/fieldCopy.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <algorithm>
#include <cstdint>

namespace {

const oid entPhysicalTable_oid[] = {1, 3, 6, 1, 2, 1, 47, 1, 1, 1};
const oid entLastChangeTime_oid[] = {1, 3, 6, 1, 2, 1, 47, 1, 4, 1};
const oid entPhySensorTable_oid[] = {1, 3, 6, 1, 2, 1, 99, 1, 1};

// Hundredths of a second between two rebuilds at most, and the period in
// milliseconds at which the sensor and power groups read (entPhySensorValueUpdateRate).
constexpr unsigned long REBUILD_AFTER = 100;
constexpr unsigned long SENSOR_UPDATE_RATE_MS = 1000;

enum physicalColumn {
    COLUMN_DESCR = 2,
    COLUMN_VENDORTYPE,
    COLUMN_CONTAINEDIN,
    COLUMN_CLASS,
    COLUMN_PARENTRELPOS,
    COLUMN_NAME,
    COLUMN_HARDWAREREV,
    COLUMN_FIRMWAREREV,
    COLUMN_SOFTWAREREV,
    COLUMN_SERIALNUM,
    COLUMN_MFGNAME,
    COLUMN_MODELNAME,
    COLUMN_ALIAS,
    COLUMN_ASSETID,
    COLUMN_ISFRU,
    COLUMN_MFGDATE,
    COLUMN_URIS,
    COLUMN_UUID,
};

enum sensorColumn {
    COLUMN_TYPE = 1,
    COLUMN_SCALE,
    COLUMN_PRECISION,
    COLUMN_VALUE,
    COLUMN_OPERSTATUS,
    COLUMN_UNITSDISPLAY,
    COLUMN_VALUETIMESTAMP,
    COLUMN_VALUEUPDATERATE,
};

struct View {
    std::vector<EntityRow> rows;
    bool built = false;
    unsigned long readTime = 0;
    unsigned long lastChange = 0;
};
View view;

void readSensors(const SensorFamily &family, EntitySensorKind kind, std::vector<SensorRowReading> &out)
{
    SensorLock hold(family);
    for (const sensorEntry *row = *family.tableHead; row; row = row->next)
        out.push_back({kind, row->index, std::string(fieldText(row->name)),
                       row->read ? std::optional<long>(row->milli) : std::nullopt,
                       std::string(fieldText(row->highHigh)), std::string(fieldText(row->lowLow))});
}

// The other groups' rows as they are now.
BoardReading readBoard()
{
    BoardReading board;
    // Set at start-up and never changed afterwards.
    board.product = std::string(fieldText(sysInfo.moduleId));
    board.imageVersion = std::string(fieldText(sysInfo.imageVersion));
    readSensors(temperatureFamily, EntitySensorKind::Temperature, board.sensors);
    readSensors(voltageFamily, EntitySensorKind::Voltage, board.sensors);
    readSensors(currentFamily, EntitySensorKind::Current, board.sensors);
    {
        SemHold hold(sem_pwr_id);
        // The inputs are entries once they were read; a reading that fails
        // later shows them unavailable rather than gone.
        if (Global_pwrInfoVal.pwrInputsSeen)
            for (int input = 1; input <= 2; input++)
                board.powerInputs.push_back({input, Global_pwrInfoVal.pwrInputGood[input - 1]});
    }
    {
        SemHold hold(sem_hdd_id);
        for (const hdTable_entry *row = Global_hdTable_head; row; row = row->next)
            board.disks.push_back({row->hdIndex, std::string(fieldText(row->hdManufacturer)),
                                   std::string(fieldText(row->hdModel)),
                                   std::string(fieldText(row->hdFirmwareRevision)),
                                   std::string(fieldText(row->hdSerialNumber))});
    }
    return board;
}

// Rebuilds the rows when they are older than a second; `now` is the
// agent's uptime in hundredths of a second. The last change time moves when
// the entries (not their readings) differ from the last build.
void refreshEntityView(unsigned long now)
{
    if (view.built && now - view.readTime < REBUILD_AFTER)
        return;
    std::vector<EntityRow> rows = buildEntityRows(readBoard());
    if (!view.built || entityRowsDiffer(rows, view.rows))
        view.lastChange = now;
    view.rows = std::move(rows);
    view.readTime = now;
    view.built = true;
}

const EntityRow *findRow(long index)
{
    auto it = std::lower_bound(view.rows.begin(), view.rows.end(), index,
                               [](const EntityRow &row, long i) { return row.index < i; });
    return it != view.rows.end() && it->index == index ? &*it : nullptr;
}

void setText(netsnmp_variable_list *var, const std::string &text)
{
    snmp_set_var_typed_value(var, ASN_OCTET_STR, text.data(), text.size());
}

// One step of a pass over the rows (only sensor rows when `sensors`): the
// loop context is the position of the next row to look at, the data
// context the row's index. The rows are rebuilt, when due, at the start.
netsnmp_variable_list *nextEntity(bool sensors, void **loop_context, void **data_context,
                                  netsnmp_variable_list *put_index_data)
{
    auto position = reinterpret_cast<uintptr_t>(*loop_context);
    if (position == 0)
        refreshEntityView(netsnmp_get_agent_uptime());
    while (position < view.rows.size() && sensors && !view.rows[position].sensor)
        position++;
    if (position >= view.rows.size())
        return nullptr;
    const long index = view.rows[position].index;
    snmp_set_var_typed_integer(put_index_data, ASN_INTEGER, index);
    *data_context = reinterpret_cast<void *>(static_cast<uintptr_t>(index));
    *loop_context = reinterpret_cast<void *>(position + 1);
    return put_index_data;
}

// The iterator's two steps for either table.
template <bool Sensors>
netsnmp_variable_list *firstEntity(void **loop_context, void **data_context, netsnmp_variable_list *put_index_data,
                                   netsnmp_iterator_info *)
{
    *loop_context = nullptr;
    return nextEntity(Sensors, loop_context, data_context, put_index_data);
}

template <bool Sensors>
netsnmp_variable_list *followingEntity(void **loop_context, void **data_context,
                                       netsnmp_variable_list *put_index_data, netsnmp_iterator_info *)
{
    return nextEntity(Sensors, loop_context, data_context, put_index_data);
}

void answerPhysical(const EntityRow &row, int column, netsnmp_variable_list *var)
{
    static const oid zeroDotZero[] = {0, 0};
    // '0000000000000000'H: the date of manufacture is not known.
    static const unsigned char unknownDate[8] = {};
    switch (column) {
    case COLUMN_DESCR:
        setText(var, row.descr);
        break;
    case COLUMN_VENDORTYPE:
        snmp_set_var_typed_value(var, ASN_OBJECT_ID, zeroDotZero, sizeof zeroDotZero);
        break;
    case COLUMN_CONTAINEDIN:
        snmp_set_var_typed_integer(var, ASN_INTEGER, row.containedIn);
        break;
    case COLUMN_CLASS:
        snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(row.cls));
        break;
    case COLUMN_PARENTRELPOS:
        snmp_set_var_typed_integer(var, ASN_INTEGER, row.relPos);
        break;
    case COLUMN_NAME:
        setText(var, row.name);
        break;
    case COLUMN_FIRMWAREREV:
        setText(var, row.firmwareRev);
        break;
    case COLUMN_SOFTWAREREV:
        setText(var, row.softwareRev);
        break;
    case COLUMN_SERIALNUM:
        setText(var, row.serial);
        break;
    case COLUMN_MODELNAME:
        setText(var, row.model);
        break;
    case COLUMN_ISFRU:
        snmp_set_var_typed_integer(var, ASN_INTEGER, row.fru ? 1 : 2);
        break;
    case COLUMN_MFGDATE:
        snmp_set_var_typed_value(var, ASN_OCTET_STR, unknownDate, sizeof unknownDate);
        break;
    default:   // hardware revision, manufacturer, alias, asset, URIs, UUID
        setText(var, "");
        break;
    }
}

void answerSensor(const EntityRow &row, int column, netsnmp_variable_list *var)
{
    const EntitySensor &s = *row.sensor;
    switch (column) {
    case COLUMN_TYPE:
        snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(s.type));
        break;
    case COLUMN_SCALE:
        snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(s.scale));
        break;
    case COLUMN_PRECISION:
        snmp_set_var_typed_integer(var, ASN_INTEGER, 0);
        break;
    case COLUMN_VALUE:
        snmp_set_var_typed_integer(var, ASN_INTEGER, s.value);
        break;
    case COLUMN_OPERSTATUS:
        snmp_set_var_typed_integer(var, ASN_INTEGER, static_cast<long>(s.status));
        break;
    case COLUMN_UNITSDISPLAY:
        setText(var, s.units);
        break;
    case COLUMN_VALUETIMESTAMP:
        snmp_set_var_typed_integer(var, ASN_TIMETICKS, static_cast<long>(view.readTime));
        break;
    case COLUMN_VALUEUPDATERATE:
        snmp_set_var_typed_integer(var, ASN_UNSIGNED, static_cast<long>(SENSOR_UPDATE_RATE_MS));
        break;
    }
}

int physicalHandler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                    netsnmp_request_info *requests)
{
    return answerReadOnlyRows<EntityRow>(-1, COLUMN_DESCR, COLUMN_UUID, reqinfo, requests, findRow, answerPhysical);
}

int sensorHandler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                  netsnmp_request_info *requests)
{
    return answerReadOnlyRows<EntityRow>(
        -1, COLUMN_TYPE, COLUMN_VALUEUPDATERATE, reqinfo, requests,
        [](long index) {
            const EntityRow *row = findRow(index);
            return row && row->sensor ? row : nullptr;
        },
        answerSensor);
}

int lastChangeHandler(netsnmp_mib_handler *, netsnmp_handler_registration *, netsnmp_agent_request_info *reqinfo,
                      netsnmp_request_info *requests)
{
    if (reqinfo->mode != MODE_GET)
        return SNMP_ERR_NOERROR;
    refreshEntityView(netsnmp_get_agent_uptime());
    for (netsnmp_request_info *request = requests; request; request = request->next)
        snmp_set_var_typed_integer(request->requestvb, ASN_TIMETICKS, static_cast<long>(view.lastChange));
    return SNMP_ERR_NOERROR;
}

} // namespace

void init_entityView()
{
    registerTable({"entPhysicalTable", physicalHandler, entPhysicalTable_oid, OID_LENGTH(entPhysicalTable_oid),
                   HANDLER_CAN_RONLY, 1, COLUMN_DESCR, COLUMN_UUID, firstEntity<false>, followingEntity<false>, "entityView:init",
                   true});
    registerTable({"entPhySensorTable", sensorHandler, entPhySensorTable_oid, OID_LENGTH(entPhySensorTable_oid),
                   HANDLER_CAN_RONLY, 1, COLUMN_TYPE, COLUMN_VALUEUPDATERATE, firstEntity<true>, followingEntity<true>,
                   "entityView:init", true});
    netsnmp_handler_registration *reg = netsnmp_create_handler_registration(
        "entLastChangeTime", lastChangeHandler, entLastChangeTime_oid, OID_LENGTH(entLastChangeTime_oid),
        HANDLER_CAN_RONLY);
    if (!reg || netsnmp_register_scalar(reg) != MIB_REGISTERED_OK)
        snmp_log(LOG_WARNING, "entLastChangeTime registration failed\n");
}
