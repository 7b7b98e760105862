// SPDX-License-Identifier: BSD-3-Clause
// Sensor group: lists and rows from made-up readings, the band decision and
// its per-sensor state, the notification's varbinds, the threshold rules and
// the table handler driven phase by phase.
#include "groups/sensors/sensorCycle.h"
#include "groups/sensors/sensorProbe.h"
#include "groups/sensors/sensorTable.h"
#include "groups/sensors/sensorTrap.h"
#include "groups/sensors/sensors.h"
#include "configStore.h"
#include "setJournal.h"
#include "testFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

void PrintTo(SensorNotification n, std::ostream *os)
{
    *os << (n == SensorNotification::Alarm ? "alarm" : n == SensorNotification::Clear ? "clear" : "none");
}

namespace {

sensorReading reading(SensorKind kind, const char *label, std::optional<double> value)
{
    sensorReading r{kind, std::nullopt, value, {}};
    if (label)
        r.label = label;
    return r;
}

// A node as the cycle builds it, with its thresholds set.
sensorEntry node(long index, const char *name, const char *value, const char *high, const char *low,
                 const char *highHigh = "", const char *lowLow = "", long state = 1)
{
    sensorEntry n{};
    n.index = index;
    setSensorText(n.name, n.name_len, name);
    setSensorText(n.value, n.value_len, value);
    setRowThreshold(n, SENSOR_HIGH, high);
    setRowThreshold(n, SENSOR_LOW, low);
    setRowThreshold(n, SENSOR_HIGHHIGH, highHigh);
    setRowThreshold(n, SENSOR_LOWLOW, lowLow);
    n.state = state;
    n.level = 1;
    return n;
}

// Frees every row of the three tables.
void dropAllRows()
{
    for (const SensorFamily *f : {&temperatureFamily, &voltageFamily, &currentFamily})
        while (*f->tableHead)
            removeSensorRow(*f, *f->tableHead);
}

std::vector<long> rowIndexes(const SensorFamily &f)
{
    std::vector<long> out;
    for (const sensorEntry *r = *f.tableHead; r; r = r->next)
        out.push_back(r->index);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// -- readings into lists ---------------------------------------------------------------

TEST(SensorReading, FormatsFitNineCharactersOrAreEmpty)
{
    // Faults: the wrong precision per kind; a long number cut into another
    // number (1234567.8 shown as "1234567.8" cut to "1234567." and read as a
    // different value); NaN or infinity served as text.
    EXPECT_EQ(formatReading(45, temperatureFamily.format), "  45.0");
    EXPECT_EQ(formatReading(12, voltageFamily.format), " 12.00");
    EXPECT_EQ(formatReading(5.03, voltageFamily.format), "  5.03");
    EXPECT_EQ(formatReading(-40, temperatureFamily.format), " -40.0");
    EXPECT_EQ(formatReading(123456.78, currentFamily.format), "123456.78");
    EXPECT_EQ(formatReading(1234567.8, currentFamily.format), "");
    EXPECT_EQ(formatReading(-12345678.9, temperatureFamily.format), "");
    EXPECT_EQ(formatReading(std::nan(""), voltageFamily.format), "");
    EXPECT_EQ(formatReading(HUGE_VAL, voltageFamily.format), "");
}

TEST(SensorReading, EveryFeatureOfAKindTakesAnIndexEvenWithoutANode)
{
    // Faults: a filtered temperature feature (or one without a label) not
    // using up its index, so the published row's index moves; features of
    // other kinds counted; the count taken from nodes instead of features.
    std::vector<sensorReading> readings = {
        reading(SensorKind::Voltage, "VBAT", 3.1),
        reading(SensorKind::Temperature, "Temp SYS", 30),
        reading(SensorKind::Temperature, nullptr, 31),
        reading(SensorKind::Temperature, "Temp CPU", 45),
        reading(SensorKind::Current, "Fan current", 1),
        reading(SensorKind::Current, "Current", 2.5),
    };
    int count = 0;
    std::vector<sensorEntry> tp = buildSensorList(temperatureFamily, readings, count);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(tp.size(), 1u);
    EXPECT_EQ(tp[0].index, 3);
    EXPECT_STREQ(tp[0].name, "Temp CPU");
    EXPECT_STREQ(tp[0].unit, "degree(s) Celsius");
    EXPECT_STREQ(tp[0].value, "  45.0");

    std::vector<sensorEntry> cr = buildSensorList(currentFamily, readings, count);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(cr.size(), 1u);
    EXPECT_EQ(cr[0].index, 2);
    EXPECT_STREQ(cr[0].unit, "A");
    EXPECT_STREQ(cr[0].value, "  2.50");

    std::vector<sensorEntry> vt = buildSensorList(voltageFamily, readings, count);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(vt.size(), 1u);
    EXPECT_STREQ(vt[0].unit, "Volt");
}

TEST(SensorReading, LongLabelsAreCutAndUnreadableValuesStayEmpty)
{
    // Faults: a label of 20 characters or more overrunning its field; a
    // sensor whose input cannot be read losing its node (and its row).
    std::vector<sensorReading> readings = {
        reading(SensorKind::Voltage, "A voltage label of 27 chars", 1.0),
        reading(SensorKind::Voltage, "5VSB", std::nullopt),
    };
    int count = 0;
    std::vector<sensorEntry> vt = buildSensorList(voltageFamily, readings, count);
    ASSERT_EQ(vt.size(), 2u);
    EXPECT_EQ(std::string(vt[0].name), "A voltage label of ");
    EXPECT_EQ(vt[0].name_len, 19u);
    EXPECT_STREQ(vt[1].value, "");
    EXPECT_EQ(vt[1].index, 2);
}

namespace {

// Threshold records as the configuration gives them, installed for the
// lifetime of the object.
class Records {
public:
    explicit Records(writableThreshold *&head, std::vector<writableThreshold> records) : head_(head), saved_(head)
    {
        list_.push_back(writableThreshold{});
        list_[0].state = 2;
        list_[0].level = 1;
        for (auto &r : records)
            list_.push_back(r);
        for (size_t i = 0; i + 1 < list_.size(); i++)
            list_[i].next = &list_[i + 1];
        head_ = &list_[0];
    }
    ~Records() { head_ = saved_; }
    writableThreshold &operator[](size_t i) { return list_[i + 1]; }

private:
    writableThreshold *&head_;
    writableThreshold *saved_;
    std::vector<writableThreshold> list_;
};

writableThreshold record(const char *name, const char *high, const char *low, const char *highHigh,
                         const char *lowLow, long state = 1)
{
    writableThreshold r{};
    setFieldText(r.name, name);
    setFieldText(r.high, high);
    setFieldText(r.low, low);
    setFieldText(r.highHigh, highHigh);
    setFieldText(r.lowLow, lowLow);
    r.state = state;
    r.level = 1;
    return r;
}

} // namespace

TEST(SensorThresholds, EachSensorTakesItsOwnGroupOrShowsNA)
{
    // Faults: a sensor given another group's thresholds; a case-blind
    // match ("Vin" taking "VIN"'s); the sentinel (empty name, which every
    // name "contains") matched; a sensor without a group getting thresholds
    // or notifications instead of "N/A" and state 0.
    Records vt(Global_writableVtHead, {record("VIN", "12.6", "11.4", "13.2", "10.8"),
                                       record("5VSB", "5.25", "4.75", "5.5", "4.5", 2)});
    sensorEntry vin = node(1, "VIN", "12", "", "");
    sensorEntry lower = node(2, "Vin", "12", "", "");
    sensorEntry vsb = node(3, "5VSB", "5", "", "");
    sensorEntry none = node(4, "VDD", "1", "", "");
    sensorEntry empty = node(5, "", "1", "", "");
    for (sensorEntry *n : {&vin, &lower, &vsb, &none, &empty})
        attachThresholds(voltageFamily, *n);
    EXPECT_STREQ(vin.high, "12.6");
    EXPECT_STREQ(vin.lowLow, "10.8");
    EXPECT_EQ(vin.state, 1);
    EXPECT_STREQ(vsb.low, "4.75");
    EXPECT_EQ(vsb.state, 2);
    for (const sensorEntry *n : {&lower, &none, &empty}) {
        EXPECT_STREQ(n->high, "N/A");
        EXPECT_STREQ(n->low, "N/A");
        EXPECT_STREQ(n->highHigh, "N/A");
        EXPECT_STREQ(n->lowLow, "N/A");
        EXPECT_EQ(n->state, 0);
        EXPECT_EQ(n->level, 0);
    }
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "5VSB", SENSOR_LOW), "4.75");
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "Vin", SENSOR_HIGH), "N/A");
}

TEST(SensorThresholds, TemperatureSensorsShareOneSet)
{
    // Fault: temperature looked up in the voltage or current records.
    setFieldText(Global_tpHigh, "85");
    setFieldText(Global_tpLowLow, "-40");
    Global_tpState = 1;
    Global_temperatureSeverityLevel = 4;
    sensorEntry a = node(1, "Temp CPU", "45", "", "");
    attachThresholds(temperatureFamily, a);
    EXPECT_STREQ(a.high, "85");
    EXPECT_STREQ(a.lowLow, "-40");
    EXPECT_EQ(a.state, 1);
    EXPECT_EQ(a.level, 4);
    Global_temperatureSeverityLevel = 1;
}

// -- rows ------------------------------------------------------------------------------

TEST(SensorRows, TheTableShowsExactlyTheSensorsFound)
{
    // Faults: extra sensors of a later cycle getting no row; vanished ones
    // kept with stale values; a refresh leaving the old value or level; rows
    // duplicated by a second publish.
    dropAllRows();
    publishSensorRows(voltageFamily, {node(1, "VBAT", "  3.10", "", ""), node(2, "5VSB", "  5.00", "", "")});
    EXPECT_EQ(rowIndexes(voltageFamily), (std::vector<long>{1, 2}));

    std::vector<sensorEntry> more = {node(1, "VBAT", "  3.20", "", ""), node(2, "5VSB", "  5.10", "", ""),
                                     node(3, "VCORE", "  1.10", "", "")};
    more[1].level = 4;
    publishSensorRows(voltageFamily, more);
    EXPECT_EQ(rowIndexes(voltageFamily), (std::vector<long>{1, 2, 3}));
    EXPECT_STREQ(findSensorRow(voltageFamily, 1)->value, "  3.20");
    EXPECT_EQ(findSensorRow(voltageFamily, 2)->level, 4);
    EXPECT_STREQ(findSensorRow(voltageFamily, 3)->name, "VCORE");

    publishSensorRows(voltageFamily, {node(2, "5VSB", "  5.00", "", "")});
    EXPECT_EQ(rowIndexes(voltageFamily), (std::vector<long>{2}));
    publishSensorRows(voltageFamily, {});
    EXPECT_EQ(*voltageFamily.tableHead, nullptr);
}

TEST(SensorRows, TheTemperatureCountAloneGatesPublishing)
{
    // Faults: publishing before any temperature feature; tables kept while
    // the temperature features are gone; held rows never served again.
    EXPECT_EQ(sensorGate(false, false, 0), SensorGate::Wait);
    EXPECT_EQ(sensorGate(false, false, 1), SensorGate::Publish);
    EXPECT_EQ(sensorGate(true, false, 0), SensorGate::Withdraw);
    EXPECT_EQ(sensorGate(true, true, 0), SensorGate::JudgeOnly);
    EXPECT_EQ(sensorGate(true, true, 2), SensorGate::Restore);
    EXPECT_EQ(sensorGate(true, false, 2), SensorGate::Publish);
}

TEST(SensorRows, AWalkNeverHoldsARowAcrossSteps)
{
    // Fault: the iterator keeping a row's address between its steps, or
    // between the walk and the handler, while the sensor thread frees the
    // row. The contexts must name rows by index only: the pass goes on with
    // the indexes it copied, and the handler finds that the rows are gone.
    dropAllRows();
    publishSensorRows(currentFamily, {node(1, "Current", "1", "", ""), node(2, "Current B", "2", "", "")});
    netsnmp_variable_list index{};
    void *loop = nullptr, *data = nullptr;
    ASSERT_NE(sensorFirstDataPoint(currentFamily, &loop, &data, &index), nullptr);
    long first = sensorContextIndex(data);
    dropAllRows();   // the sensor thread runs between two steps
    ASSERT_NE(sensorNextDataPoint(currentFamily, &loop, &data, &index), nullptr);
    long second = sensorContextIndex(data);
    EXPECT_NE(first, second);
    EXPECT_EQ(findSensorRow(currentFamily, first), nullptr);
    EXPECT_EQ(findSensorRow(currentFamily, second), nullptr);
    EXPECT_EQ(sensorNextDataPoint(currentFamily, &loop, &data, &index), nullptr);
    snmp_reset_var_buffers(&index);
}

// -- band decision and state ---------------------------------------------------------------

namespace {

class SensorCheck : public testing::Test {
protected:
    // One check of the 5VSB rail at `value`: the notification and the level.
    std::pair<SensorNotification, long> at(const char *value)
    {
        setSensorText(n.value, n.value_len, value);
        SensorNotification r = judgeSensorTrap(state, n);
        return {r, n.level};
    }

    sensorCheckState state{};
    sensorEntry n = node(2, "5VSB", "5.0", "5.25", "4.75");
    static constexpr SensorNotification none = SensorNotification::None;
    static constexpr SensorNotification alarm = SensorNotification::Alarm;
    static constexpr SensorNotification clear = SensorNotification::Clear;
};
using Step = std::pair<SensorNotification, long>;

} // namespace

TEST_F(SensorCheck, OneAlarmOnEnteringAndOneClearOnLeaving)
{
    // Faults: the alarm repeated every cycle; no clear; clear level not 1.
    EXPECT_EQ(at("5.0"), Step(none, 1));
    EXPECT_EQ(at("5.3"), Step(alarm, 4));
    EXPECT_EQ(at("5.3"), Step(none, 4));
    EXPECT_EQ(at("5.0"), Step(clear, 1));
    EXPECT_EQ(at("5.0"), Step(none, 1));
}

TEST_F(SensorCheck, AMoveToAnotherBandIsANewAlarmWithoutAClear)
{
    // Faults: HighHigh tested after High (level 4 for 5.6); a clear sent
    // between the two bands; the low bands misnumbered.
    setRowThreshold(n, SENSOR_HIGHHIGH, "5.5");
    setRowThreshold(n, SENSOR_LOWLOW, "4.5");
    EXPECT_EQ(at("5.3"), Step(alarm, 4));
    EXPECT_EQ(at("5.6"), Step(alarm, 5));
    EXPECT_EQ(at("4.6"), Step(alarm, 3));
    EXPECT_EQ(at("4.4"), Step(alarm, 2));
    EXPECT_EQ(at("4.8"), Step(clear, 1));
}

TEST_F(SensorCheck, EqualIsNotBeyondAndOnlySetThresholdsCount)
{
    // Faults: >= instead of >; an empty threshold read as 0 (every positive
    // reading "above High"); HighHigh alone not used.
    EXPECT_EQ(at("5.25"), Step(none, 1));
    EXPECT_EQ(at("4.75"), Step(none, 1));
    n = node(2, "5VSB", "5.0", "", "", "5.5", "");
    EXPECT_EQ(at("5.0"), Step(none, 1));
    EXPECT_EQ(at("5.6"), Step(alarm, 5));
    EXPECT_EQ(at("5.4"), Step(clear, 1));
}

TEST_F(SensorCheck, ThresholdsClearedDuringAnAlarmSendAClear)
{
    // Fault: flags left set when no threshold is set any more, so the
    // manager never hears the alarm is over.
    EXPECT_EQ(at("5.3"), Step(alarm, 4));
    setRowThreshold(n, SENSOR_HIGH, "");
    setRowThreshold(n, SENSOR_LOW, "");
    EXPECT_EQ(at("5.3"), Step(clear, 1));
    EXPECT_EQ(at("9.9"), Step(none, 1));
}

TEST_F(SensorCheck, UnreadableOrNAReadsAsZero)
{
    // An empty reading is below any positive Low: the manager learns the
    // input is lost. A sensor without a group ("N/A") stays silent.
    EXPECT_EQ(at(""), Step(alarm, 3));
    n = node(4, "VDD", "1.2", "N/A", "N/A", "N/A", "N/A", 0);
    EXPECT_EQ(at("1.2"), Step(none, 5));
}

TEST_F(SensorCheck, SwitchingOnDuringAPersistingAlarmSendsItOnce)
{
    // Faults: the alarm lost because the band was entered while disabled;
    // the alarm repeated after switching on; switching off sending anything;
    // a clear sent for a band that was never announced.
    n.state = 2;
    EXPECT_EQ(at("5.3"), Step(none, 4));
    EXPECT_EQ(at("5.3"), Step(none, 4));
    n.state = 1;
    EXPECT_EQ(at("5.3"), Step(alarm, 4));
    EXPECT_EQ(at("5.3"), Step(none, 4));
    n.state = 2;
    EXPECT_EQ(at("5.3"), Step(none, 4));
    EXPECT_EQ(at("5.0"), Step(none, 1));
}

TEST_F(SensorCheck, SwitchingOnRightAfterASilentEntryStillSendsTheAlarm)
{
    // Fault: the switch compared with its value from before it was turned
    // off, so a band entered while off and switched on at the very next
    // cycle is never announced.
    EXPECT_EQ(at("5.0"), Step(none, 1));
    n.state = 2;
    EXPECT_EQ(at("5.3"), Step(none, 4));
    n.state = 1;
    EXPECT_EQ(at("5.3"), Step(alarm, 4));
}

TEST(SensorCheckList, SensorsOfOneKindAreJudgedIndependently)
{
    // Fault: one set of band flags for the kind, so one sensor above High
    // and another normal alternate alarm and clear every cycle.
    std::vector<sensorEntry> nodes = {node(1, "Temp CPU", "90", "85", "-20"),
                                      node(2, "Temp CPU board", "40", "85", "-20")};
    sensorCheckStates states;
    std::vector<sensorAlert> first = judgeSensorList(temperatureFamily, states, nodes);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].snapshot.index, 1);
    EXPECT_EQ(first[0].flag, SENSOR_TRAP_ALARM);
    EXPECT_EQ(first[0].snapshot.level, 4);
    for (int cycle = 0; cycle < 3; cycle++)
        EXPECT_TRUE(judgeSensorList(temperatureFamily, states, nodes).empty());
}

TEST(SensorCheckList, ASensorKeepsItsStateWhenItsIndexMoves)
{
    // Fault: the state keyed by index, so that when an input before the
    // sensor vanishes the alarm is sent again, and when it returns with the
    // reading back to normal the clear is never sent.
    sensorCheckStates states;
    std::vector<sensorEntry> before = {node(2, "5VSB", "5.0", "5.25", "4.75"), node(4, "VCORE", "0.5", "1.3", "0.9")};
    ASSERT_EQ(judgeSensorList(voltageFamily, states, before).size(), 1u);
    std::vector<sensorEntry> moved = {node(3, "VCORE", "0.5", "1.3", "0.9")};
    EXPECT_TRUE(judgeSensorList(voltageFamily, states, moved).empty());
    std::vector<sensorEntry> back = {node(2, "5VSB", "5.0", "5.25", "4.75"), node(4, "VCORE", "1.1", "1.3", "0.9")};
    std::vector<sensorAlert> alerts = judgeSensorList(voltageFamily, states, back);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].flag, SENSOR_TRAP_CLEAR);
    EXPECT_EQ(alerts[0].snapshot.index, 4);
    // Two sensors with one label are still two sensors.
    std::vector<sensorEntry> twins = {node(1, "Temp CPU", "90", "85", ""), node(2, "Temp CPU", "40", "85", "")};
    sensorCheckStates tp;
    EXPECT_EQ(judgeSensorList(temperatureFamily, tp, twins).size(), 1u);
    EXPECT_TRUE(judgeSensorList(temperatureFamily, tp, twins).empty());
}

TEST(SensorCheckList, OnlyKnownRailsAreJudgedAndVanishedSensorsForgotten)
{
    // Faults: a voltage sensor outside the known rails judged; the state of
    // a sensor that went away kept, so that on its return an alarm that is
    // still on is never sent again.
    std::vector<sensorEntry> nodes = {node(1, "AUX", "9", "5", "1"), node(2, "12V", "14", "12.6", "11.4")};
    sensorCheckStates states;
    EXPECT_EQ(judgeSensorList(voltageFamily, states, nodes).size(), 1u);
    std::vector<sensorEntry> gone;
    judgeSensorList(voltageFamily, states, gone);
    EXPECT_TRUE(states.empty());
    EXPECT_EQ(judgeSensorList(voltageFamily, states, nodes).size(), 1u);
}

TEST(SensorNotificationVarbinds, ColumnsInOrderWithTheFamilysIdentifiers)
{
    // Faults: the wrong family's notification number or entry OID; a
    // column missing or out of order; the row index appended to the OIDs;
    // the level before the decision.
    sensorEntry snap = node(3, "Current", "  4.50", "4.0", "", "5.0", "");
    snap.level = 4;
    VarbindList vars;
    fillSensorDataToTrap(currentFamily, snap, SENSOR_TRAP_ALARM, vars);
    const oid entry[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 6, 2, 1};
    const int columns[] = {1, 2, 4, 5, 6, 9, 10, 11};
    const char *texts[] = {nullptr, "Current", "  4.50", "4.0", "", "5.0", "", nullptr};

    netsnmp_variable_list *v = vars.get();
    ASSERT_NE(v, nullptr);
    const oid trap[] = {1, 3, 6, 1, 4, 1, 42424, 200, 10, 0, 8};
    EXPECT_EQ(snmp_oid_compare(v->val.objid, v->val_len / sizeof(oid), trap, OID_LENGTH(trap)), 0);
    for (int i = 0; i < 8; i++) {
        v = v->next_variable;
        ASSERT_NE(v, nullptr);
        oid expected[13];
        memcpy(expected, entry, sizeof entry);
        expected[12] = static_cast<oid>(columns[i]);
        EXPECT_EQ(snmp_oid_compare(v->name, v->name_length, expected, 13), 0) << "column " << columns[i];
        if (texts[i]) {
            EXPECT_EQ(v->type, ASN_OCTET_STR);
            EXPECT_EQ(std::string(reinterpret_cast<char *>(v->val.string), v->val_len), texts[i]);
        } else {
            EXPECT_EQ(v->type, ASN_INTEGER);
            EXPECT_EQ(*v->val.integer, columns[i] == 1 ? 3 : 4);
        }
    }
    EXPECT_EQ(v->next_variable, nullptr);

    VarbindList clear;
    fillSensorDataToTrap(temperatureFamily, snap, SENSOR_TRAP_CLEAR, clear);
    EXPECT_EQ(clear.get()->val.objid[10], 2u);
}

// -- value rules -----------------------------------------------------------------------

TEST(SensorValueRules, NegativeAndNaNAreRefusedEverythingElseReadsAsANumber)
{
    // Faults: an empty text (not set) refused; "abc" refused although it
    // reads as 0; a negative number or NaN let through.
    EXPECT_EQ(initJudgeThreshold(""), 1);
    EXPECT_EQ(initJudgeThreshold("0"), 1);
    EXPECT_EQ(initJudgeThreshold("12.6"), 1);
    EXPECT_EQ(initJudgeThreshold("abc"), 1);
    EXPECT_EQ(initJudgeThreshold("N/A"), 1);
    EXPECT_EQ(initJudgeThreshold("-1"), 0);
    EXPECT_EQ(initJudgeThreshold("-0.01"), 0);
    EXPECT_EQ(initJudgeThreshold("nan"), 0);
}

TEST(SensorValueRules, SetThresholdsMustRiseStrictly)
{
    // Faults: equal neighbours accepted; an empty threshold compared as 0;
    // an order across an empty one not checked; "N/A" not read as 0.
    EXPECT_EQ(judgeThresholds("1", "2", "5", "6"), 1);
    EXPECT_EQ(judgeThresholds("1", "2", "4", "6"), 1);
    EXPECT_EQ(judgeThresholds("1", "2", "7", "6"), 0);
    EXPECT_EQ(judgeThresholds("1", "2", "6", "6"), 0);
    EXPECT_EQ(judgeThresholds("", "", "", ""), 1);
    EXPECT_EQ(judgeThresholds("", "", "3", ""), 1);
    EXPECT_EQ(judgeThresholds("", "-10", "85", ""), 1);
    EXPECT_EQ(judgeThresholds("5", "", "", "3"), 0);
    EXPECT_EQ(judgeThresholds("N/A", "N/A", "4", "N/A"), 0);
    EXPECT_EQ(judgeThresholds("abc", "1", "", ""), 1);
    EXPECT_EQ(judgeThresholds("1", "abc", "", ""), 0);
}
