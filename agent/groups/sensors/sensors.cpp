// SPDX-License-Identifier: BSD-3-Clause
// Sensor acquisition: one libsensors probe per cycle, the sensor lists built
// from its readings, their thresholds, and the publishing of the lists into
// the rows of the three tables.
#include "groups/sensors/sensors.h"

#include "groups/sensors/sensorTable.h"
#include "groups/sensors/sensorTrap.h"
#include "mibFrame.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

int Global_tpCounter = 0, Global_vtCounter = 0, Global_crCounter = 0;
sensorEntry *Global_tpTable_head = nullptr, *Global_vtTable_head = nullptr, *Global_crTable_head = nullptr;
sensorEntry *tpStorePtr = nullptr, *vtStorePtr = nullptr, *crStorePtr = nullptr;
std::vector<sensorEntry> Global_tpHead, Global_vtHead, Global_crHead;

const sensorText rowThreshold[SENSOR_THRESHOLDS] = {&sensorEntry::high, &sensorEntry::low, &sensorEntry::highHigh,
                                                    &sensorEntry::lowLow};
const sensorLen rowThresholdLen[SENSOR_THRESHOLDS] = {&sensorEntry::high_len, &sensorEntry::low_len,
                                                      &sensorEntry::highHigh_len, &sensorEntry::lowLow_len};
const char *const thresholdKeySuffix[SENSOR_THRESHOLDS] = {"High", "Low", "HighHigh", "LowLow"};

namespace {

const int thresholdColumns[SENSOR_THRESHOLDS] = {COLUMN_SENSOR_HIGH, COLUMN_SENSOR_LOW, COLUMN_SENSOR_HIGHHIGH,
                                                 COLUMN_SENSOR_LOWLOW};

// Voltage rails that are judged, by the keyword their sensor's name holds.
const char *const voltageRails[] = {"VBAT", "5VSB", "VIN", "Vin", "12V", "VCORE", nullptr};
const char *const currentSensors[] = {"Current", nullptr};

} // namespace

const SensorFamily temperatureFamily = {
    SensorKind::Temperature, "tp", "degree(s) Celsius", "%6.1f", "Temp CPU", nullptr,
    &sem_tp_sensors_id, &Global_tpCounter, &Global_tpTable_head, &tpStorePtr, &Global_tpHead,
    nullptr, "Temp CPU", true, 1, 2,
    {VLM_ENTERPRISE, 200, 2, 1, 2, 1}, "tpTable", "temperatureObj:init", "temperatureObj:handler",
};
const SensorFamily voltageFamily = {
    SensorKind::Voltage, "vt", "Volt", "%6.2f", nullptr, voltageRails,
    &sem_vt_sensors_id, &Global_vtCounter, &Global_vtTable_head, &vtStorePtr, &Global_vtHead,
    &Global_writableVtHead, nullptr, false, 3, 4,
    {VLM_ENTERPRISE, 200, 2, 2, 2, 1}, "vtTable", "voltageObj:init", "voltageObj:handler",
};
const SensorFamily currentFamily = {
    SensorKind::Current, "cr", "A", "%6.2f", "Current", currentSensors,
    &sem_cr_sensors_id, &Global_crCounter, &Global_crTable_head, &crStorePtr, &Global_crHead,
    &Global_writableCrHead, nullptr, false, 8, 9,
    {VLM_ENTERPRISE, 200, 2, 6, 2, 1}, "crTable", "currentObj:init", "currentObj:handler",
};

int thresholdColumn(int which)
{
    return thresholdColumns[which];
}

int columnThreshold(int column)
{
    for (int i = 0; i < SENSOR_THRESHOLDS; i++)
        if (thresholdColumns[i] == column)
            return i;
    return -1;
}

void setRowThreshold(sensorEntry &row, int which, std::string_view text)
{
    setSensorText(row.*rowThreshold[which], row.*rowThresholdLen[which], text);
}

// -- libsensors ----------------------------------------------------------------

SensorsSession::SensorsSession()
{
    // libsensors' own default configuration; loaded every cycle so that a
    // change of it takes effect without a restart.
    rc_ = sensors_init(nullptr);
}

SensorsSession::~SensorsSession()
{
    // A failed sensors_init has cleaned up after itself.
    if (ok())
        sensors_cleanup();
}

namespace {

// The input's value, or why it could not be read.
std::optional<double> inputValue(const sensors_chip_name *chip, const sensors_feature *feature,
                                 sensors_subfeature_type input, std::string &error)
{
    const sensors_subfeature *sub = sensors_get_subfeature(chip, feature, input);
    if (!sub)
        return std::nullopt;
    double value;
    int rc = sensors_get_value(chip, sub->number, &value);
    if (rc == 0)
        return value;
    error = std::string(sub->name) + ": " + sensors_strerror(rc);
    return std::nullopt;
}

} // namespace

bool probeSensorReadings(std::vector<sensorReading> &out, GroupReading &reading)
{
    out.clear();
    SensorsSession session;
    if (!session.ok()) {
        reading.fail(std::string("sensors_init: ") + sensors_strerror(session.error()));
        return false;
    }

    const sensors_chip_name *chip = nullptr;
    int chipNr = 0;
    while ((chip = sensors_get_detected_chips(nullptr, &chipNr)) != nullptr)
        if (chip->prefix && strstr(chip->prefix, "vlmhwmon"))
            break;
    if (!chip) {
        reading.absent("no hardware-monitor chip vlmhwmon");
        return true;
    }

    const sensors_feature *feature;
    int featureNr = 0;
    while ((feature = sensors_get_features(chip, &featureNr)) != nullptr) {
        sensorReading r;
        sensors_subfeature_type input;
        switch (feature->type) {
        case SENSORS_FEATURE_TEMP:
            r.kind = SensorKind::Temperature;
            input = SENSORS_SUBFEATURE_TEMP_INPUT;
            break;
        case SENSORS_FEATURE_IN:
            r.kind = SensorKind::Voltage;
            input = SENSORS_SUBFEATURE_IN_INPUT;
            break;
        case SENSORS_FEATURE_CURR:
            r.kind = SensorKind::Current;
            input = SENSORS_SUBFEATURE_CURR_INPUT;
            break;
        default:
            continue;
        }
        char *label = sensors_get_label(chip, feature);
        if (label) {
            r.label = std::string(label);
            free(label);
            r.value = inputValue(chip, feature, input, r.error);
        }
        out.push_back(std::move(r));
    }
    return true;
}

// -- lists from readings ----------------------------------------------------------

std::string formatReading(double value, const char *format)
{
    if (!std::isfinite(value))
        return std::string();
    char text[64];
    int n = snprintf(text, sizeof text, format, value);
    // The field holds 9 characters; a cut number would read as another one.
    if (n < 0 || n > 9)
        return std::string();
    return text;
}

bool sensorIsServed(const SensorFamily &family, const sensorReading &feature)
{
    return feature.label && (!family.labelFilter || feature.label->find(family.labelFilter) != std::string::npos);
}

int appendSensorNode(const SensorFamily &family, const sensorReading &feature, long index,
                     std::vector<sensorEntry> &list)
{
    if (!sensorIsServed(family, feature))
        return 0;
    sensorEntry node{};
    node.index = index;
    setSensorText(node.name, node.name_len, *feature.label);
    setSensorText(node.unit, node.unit_len, family.unit);
    setSensorText(node.value, node.value_len,
                  feature.value ? formatReading(*feature.value, family.format) : std::string());
    setSensorText(node.getTime, node.getTime_len, "NULL");
    list.push_back(node);
    return 1;
}

int get_tp_table(const sensorReading &feature, long index, std::vector<sensorEntry> &list)
{
    return appendSensorNode(temperatureFamily, feature, index, list);
}

int get_vt_table(const sensorReading &feature, long index, std::vector<sensorEntry> &list)
{
    return appendSensorNode(voltageFamily, feature, index, list);
}

int get_cr_table(const sensorReading &feature, long index, std::vector<sensorEntry> &list)
{
    return appendSensorNode(currentFamily, feature, index, list);
}

std::vector<sensorEntry> buildSensorList(const SensorFamily &family, const std::vector<sensorReading> &readings,
                                         int &count)
{
    std::vector<sensorEntry> list;
    count = 0;
    for (const sensorReading &r : readings) {
        if (r.kind != family.kind)
            continue;
        // Every feature of the kind takes an index, also one left out, so
        // that a sensor keeps its index whatever its neighbours do.
        ++count;
        appendSensorNode(family, r, count, list);
    }
    return list;
}

// -- thresholds ------------------------------------------------------------------

writableThreshold *findThresholdRecord(writableThreshold *head, std::string_view name)
{
    // An empty name is held by every record; it names none.
    if (!head || name.empty())
        return nullptr;
    for (writableThreshold *r = head->next; r; r = r->next)
        if (fieldText(r->name).find(name) != std::string_view::npos)
            return r;
    return nullptr;
}

std::optional<thresholdSource> thresholdSourceOf(const SensorFamily &family, std::string_view name)
{
    if (!family.records)
        return thresholdSource{{&Global_tpHigh, &Global_tpLow, &Global_tpHighHigh, &Global_tpLowLow},
                               &Global_tpState,
                               &Global_temperatureSeverityLevel};
    writableThreshold *r = findThresholdRecord(*family.records, name);
    if (!r)
        return std::nullopt;
    return thresholdSource{{&r->high, &r->low, &r->highHigh, &r->lowLow}, &r->state, &r->level};
}

void attachThresholds(const SensorFamily &family, sensorEntry &node)
{
    std::optional<thresholdSource> src = thresholdSourceOf(family, fieldText(node.name));
    for (int i = 0; i < SENSOR_THRESHOLDS; i++)
        setRowThreshold(node, i, src ? fieldText(*src->text[i]) : std::string_view("N/A"));
    node.state = src ? *src->state : 0;
    node.level = src ? *src->level : 0;
}

namespace {

char (writableThreshold::*const recordThreshold[SENSOR_THRESHOLDS])[10] = {
    &writableThreshold::high, &writableThreshold::low, &writableThreshold::highHigh, &writableThreshold::lowLow};

} // namespace

const char *parseThreshold(writableThreshold *records, const char *name, int which)
{
    writableThreshold *r = findThresholdRecord(records, name ? name : "");
    return r ? r->*recordThreshold[which] : "N/A";
}

long parseThresholdState(writableThreshold *records, const char *name)
{
    writableThreshold *r = findThresholdRecord(records, name ? name : "");
    return r ? r->state : 0;
}

long parseThresholdLevel(writableThreshold *records, const char *name)
{
    writableThreshold *r = findThresholdRecord(records, name ? name : "");
    return r ? r->level : 0;
}

void modifyThreshold(writableThreshold *records, const char *name, int which, const char *text)
{
    if (writableThreshold *r = findThresholdRecord(records, name ? name : ""))
        setFieldText(r->*recordThreshold[which], text ? text : "");
}

void modifyThresholdState(writableThreshold *records, const char *name, long state)
{
    if (writableThreshold *r = findThresholdRecord(records, name ? name : ""))
        r->state = state;
}

void modifyThresholdLevel(writableThreshold *records, const char *name, long level)
{
    if (writableThreshold *r = findThresholdRecord(records, name ? name : ""))
        r->level = level;
}

// -- rows ------------------------------------------------------------------------

sensorEntry *findSensorRow(const SensorFamily &family, long index)
{
    for (sensorEntry *row = *family.tableHead; row; row = row->next)
        if (row->index == index)
            return row;
    return nullptr;
}

void publishSensorRows(const SensorFamily &family, const std::vector<sensorEntry> &nodes)
{
    for (const sensorEntry &node : nodes) {
        sensorEntry *row = findSensorRow(family, node.index);
        if (!row) {
            // Out of memory: the sensor has no row this cycle.
            createSensorRow(family, node.index, node.name, node.unit, node.value, node.high, node.low, "NULL",
                            node.state, node.highHigh, node.lowLow, node.level);
            continue;
        }
        // The get-time text stays as it is.
        setSensorText(row->name, row->name_len, fieldText(node.name));
        setSensorText(row->unit, row->unit_len, fieldText(node.unit));
        setSensorText(row->value, row->value_len, fieldText(node.value));
        for (int i = 0; i < SENSOR_THRESHOLDS; i++)
            setRowThreshold(*row, i, fieldText(node.*rowThreshold[i]));
        row->state = node.state;
        row->level = node.level;
    }
    // Rows of sensors no longer found go. Nothing outside holds a row's
    // address across a release of the semaphore the caller holds (see
    // sensorTable.h), so they can be freed at once.
    sensorEntry *row = *family.tableHead;
    while (row) {
        sensorEntry *next = row->next;
        bool found = std::any_of(nodes.begin(), nodes.end(),
                                 [row](const sensorEntry &node) { return node.index == row->index; });
        if (!found)
            removeSensorRow(family, row);
        row = next;
    }
}

// -- the cycle -------------------------------------------------------------------

namespace {

const SensorFamily *const families[] = {&temperatureFamily, &voltageFamily, &currentFamily};

bool published = false;   // a cycle has published rows
bool withdrawn = false;   // the rows are held aside, the tables empty

} // namespace

bool assign_sen_list()
{
    std::vector<sensorReading> readings;
    GroupReading reading;
    const bool probed = probeSensorReadings(readings, reading);
    // An input the tables serve that could not be read makes the reading
    // incomplete; one they leave out does not matter.
    for (const sensorReading &r : readings)
        for (const SensorFamily *f : families)
            if (!r.error.empty() && r.kind == f->kind && sensorIsServed(*f, r))
                reading.fail(*r.label + ": " + r.error);
    noteGroupReading(GroupId::Sensors, reading);
    if (!probed)
        return false;
    for (const SensorFamily *f : families) {
        int count;
        std::vector<sensorEntry> nodes = buildSensorList(*f, readings, count);
        {
            SensorLock hold(*f);
            for (sensorEntry &node : nodes)
                attachThresholds(*f, node);
            *f->counter = count;
        }
        *f->list = std::move(nodes);
    }
    return true;
}

SensorGate sensorGate(bool isPublished, bool isWithdrawn, int temperatureCount)
{
    if (temperatureCount == 0) {
        if (!isPublished)
            return SensorGate::Wait;
        return isWithdrawn ? SensorGate::JudgeOnly : SensorGate::Withdraw;
    }
    return isWithdrawn ? SensorGate::Restore : SensorGate::Publish;
}

void standardTableCycle()
{
    // Without libsensors the tables keep their last rows and the other
    // groups go on; the next cycle tries again.
    if (!assign_sen_list())
        return;
    int temperatureCount;
    {
        SensorLock hold(temperatureFamily);
        temperatureCount = Global_tpCounter;
    }

    switch (sensorGate(published, withdrawn, temperatureCount)) {
    case SensorGate::Wait:
        sleep(1);
        return;
    case SensorGate::Withdraw:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            std::swap(*f->tableHead, *f->storePtr);
        }
        withdrawn = true;
        sleep(1);
        return;
    case SensorGate::Restore:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            std::swap(*f->tableHead, *f->storePtr);
        }
        withdrawn = false;
        sleep(1);
        return;
    case SensorGate::Publish:
        for (const SensorFamily *f : families) {
            SensorLock hold(*f);
            publishSensorRows(*f, *f->list);
        }
        break;
    case SensorGate::JudgeOnly:
        break;
    }
    send_temperature_trap();
    send_voltage_trap();
    send_current_trap();
    published = true;
}
