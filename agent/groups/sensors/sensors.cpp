// SPDX-License-Identifier: BSD-3-Clause
// The sensor store: the three families, their threshold sources, and the
// rows of the three tables with the publishing of a cycle's lists into them.
#include "groups/sensors/sensors.h"

#include "mibFrame.h"

#include <algorithm>
#include <cstdlib>

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

// -- rows ------------------------------------------------------------------------

sensorEntry *findSensorRow(const SensorFamily &family, long index)
{
    for (sensorEntry *row = *family.tableHead; row; row = row->next)
        if (row->index == index)
            return row;
    return nullptr;
}

sensorEntry *createSensorRow(const SensorFamily &family, long index, const char *name, const char *unit,
                             const char *value, const char *high, const char *low, const char *getTime,
                             long state, const char *highHigh, const char *lowLow, long level)
{
    auto *row = static_cast<sensorEntry *>(calloc(1, sizeof(sensorEntry)));
    if (!row)
        return nullptr;
    auto text = [](const char *t) { return std::string_view(t ? t : ""); };
    row->index = index;
    setSensorText(row->name, row->name_len, text(name));
    setSensorText(row->unit, row->unit_len, text(unit));
    setSensorText(row->value, row->value_len, text(value));
    setRowThreshold(*row, SENSOR_HIGH, text(high));
    setRowThreshold(*row, SENSOR_LOW, text(low));
    setSensorText(row->getTime, row->getTime_len, text(getTime));
    row->state = state;
    setRowThreshold(*row, SENSOR_HIGHHIGH, text(highHigh));
    setRowThreshold(*row, SENSOR_LOWLOW, text(lowLow));
    row->level = level;
    row->next = *family.tableHead;
    *family.tableHead = row;
    return row;
}

void removeSensorRow(const SensorFamily &family, sensorEntry *row)
{
    for (sensorEntry **link = family.tableHead; *link; link = &(*link)->next) {
        if (*link == row) {
            *link = row->next;
            free(row);
            return;
        }
    }
}

void publishSensorRows(const SensorFamily &family, const std::vector<sensorEntry> &nodes)
{
    for (const sensorEntry &node : nodes) {
        sensorEntry *row = findSensorRow(family, node.index);
        if (!row)
            row = createSensorRow(family, node.index, node.name, node.unit, node.value, node.high, node.low, "NULL",
                                  node.state, node.highHigh, node.lowLow, node.level);
        // Out of memory: the sensor has no row this cycle.
        if (!row)
            continue;
        // The get-time text stays as it is.
        setSensorText(row->name, row->name_len, fieldText(node.name));
        setSensorText(row->unit, row->unit_len, fieldText(node.unit));
        setSensorText(row->value, row->value_len, fieldText(node.value));
        for (int i = 0; i < SENSOR_THRESHOLDS; i++)
            setRowThreshold(*row, i, fieldText(node.*rowThreshold[i]));
        row->state = node.state;
        row->level = node.level;
        row->read = node.read;
        row->milli = node.milli;
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
