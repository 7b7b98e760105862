// SPDX-License-Identifier: BSD-3-Clause
// The sensor tables' handler driven phase by phase as the agent library
// drives it: GET answers, the checks of RESERVE1, ACTION writing row,
// threshold source and configuration file, UNDO putting all three back.
#include "groups/sensors/sensorCycle.h"
#include "groups/sensors/sensorProbe.h"
#include "groups/sensors/sensorTable.h"
#include "groups/sensors/sensors.h"
#include "configStore.h"
#include "setJournal.h"
#include "testFiles.h"

#include <gtest/gtest.h>
#include <string>
#include <variant>
#include <vector>

namespace {

const std::string sensorConfig = configDoc(
    "<subtype id=\"5VSB\"/><detail name=\"vtHigh\">5</detail><detail name=\"vtLow\">2</detail>"
    "<detail name=\"vtHighHigh\">6</detail><detail name=\"vtLowLow\">1</detail><detail name=\"vtState\">1</detail>"
    "<subtype id=\"VBAT\"/><detail name=\"vtHigh\">3.4</detail><detail name=\"vtLow\">2.8</detail>"
    "<detail name=\"vtHighHigh\">3.6</detail><detail name=\"vtLowLow\">2.5</detail><detail name=\"vtState\">1</detail>"
    "<subtype id=\"Temp CPU\"/><detail name=\"tpHigh\">85</detail><detail name=\"tpLow\"></detail>"
    "<detail name=\"tpHighHigh\">95</detail><detail name=\"tpLowLow\"></detail><detail name=\"tpState\">1</detail>");

// One varbind of a request: the row index (0: no row), the column, the value.
struct Varbind {
    long index;
    int column;
    std::variant<std::string, long> value;
};

class SensorTable : public testing::Test {
protected:
    void SetUp() override
    {
        std::string text = cfg.read();
        ASSERT_EQ(loadConfiguration(text.data(), static_cast<int>(text.size())), 1);
        setJournal::begin(++transaction);
        for (const SensorFamily *f : {&temperatureFamily, &voltageFamily}) {
            while (*f->tableHead)
                removeSensorRow(*f, *f->tableHead);
        }
        // 5VSB at index 2 (index 1 was a filtered feature), VDD without a group.
        publish(voltageFamily, {{2, "5VSB"}, {3, "VBAT"}, {4, "VDD"}});
        publish(temperatureFamily, {{1, "Temp CPU"}, {2, "Temp CPU board"}});
    }
    void TearDown() override
    {
        for (const SensorFamily *f : {&temperatureFamily, &voltageFamily})
            while (*f->tableHead)
                removeSensorRow(*f, *f->tableHead);
    }

    static void publish(const SensorFamily &f, std::vector<std::pair<long, const char *>> sensors)
    {
        std::vector<sensorEntry> nodes;
        for (auto &[index, name] : sensors) {
            sensorEntry n{};
            n.index = index;
            setSensorText(n.name, n.name_len, name);
            setSensorText(n.unit, n.unit_len, f.unit);
            setSensorText(n.value, n.value_len, "  5.00");
            attachThresholds(f, n);
            nodes.push_back(n);
        }
        publishSensorRows(f, nodes);
    }

    // One phase over the varbinds; the error status of each.
    std::vector<int> phase(const SensorFamily &f, int mode, const std::vector<Varbind> &vbs)
    {
        std::vector<netsnmp_request_info> requests(vbs.size());
        std::vector<netsnmp_table_request_info> tables(vbs.size());
        std::vector<netsnmp_variable_list *> vars(vbs.size());
        for (size_t i = 0; i < vbs.size(); i++) {
            requests[i] = netsnmp_request_info{};
            tables[i] = netsnmp_table_request_info{};
            tables[i].colnum = static_cast<unsigned>(vbs[i].column);
            netsnmp_variable_list *list = nullptr;
            oid name[] = {1, 3, 6, 1, 4, 1, 42424, 200, 2, 2, 2, 1, static_cast<oid>(vbs[i].column),
                          static_cast<oid>(vbs[i].index)};
            if (auto *s = std::get_if<std::string>(&vbs[i].value))
                vars[i] = snmp_varlist_add_variable(&list, name, OID_LENGTH(name), ASN_OCTET_STR, s->data(),
                                                    s->size());
            else
                vars[i] = snmp_varlist_add_variable(&list, name, OID_LENGTH(name), ASN_INTEGER,
                                                    &std::get<long>(vbs[i].value), sizeof(long));
            requests[i].requestvb = vars[i];
            if (vbs[i].index)
                netsnmp_request_add_list_data(
                    &requests[i], netsnmp_create_data_list(TABLE_ITERATOR_NAME, sensorIndexContext(vbs[i].index),
                                                           nullptr));
            netsnmp_request_add_list_data(&requests[i],
                                          netsnmp_create_data_list(TABLE_HANDLER_NAME, &tables[i], nullptr));
            if (i)
                requests[i - 1].next = &requests[i];
        }
        netsnmp_agent_request_info reqinfo{};
        reqinfo.mode = mode;
        sensorTableHandler(f, &reqinfo, &requests[0]);
        std::vector<int> status;
        for (size_t i = 0; i < vbs.size(); i++) {
            status.push_back(mode == MODE_GET && vars[i]->type >= SNMP_NOSUCHOBJECT ? vars[i]->type
                                                                                     : requests[i].status);
            if (mode == MODE_GET && status.back() == 0)
                answers.push_back(vars[i]);
            else
                snmp_free_varbind(vars[i]);
            netsnmp_free_request_data_sets(&requests[i]);
        }
        return status;
    }

    // RESERVE1 of a request of one varbind.
    int check(const SensorFamily &f, long index, int column, std::variant<std::string, long> value)
    {
        return phase(f, MODE_SET_RESERVE1, {{index, column, std::move(value)}})[0];
    }

    // A whole SET that passes RESERVE1 and ACTION, then COMMIT and FREE.
    void set(const SensorFamily &f, const std::vector<Varbind> &vbs)
    {
        for (int s : phase(f, MODE_SET_RESERVE1, vbs))
            ASSERT_EQ(s, 0);
        for (int s : phase(f, MODE_SET_ACTION, vbs))
            ASSERT_EQ(s, 0);
        phase(f, MODE_SET_COMMIT, vbs);
        phase(f, MODE_SET_FREE, vbs);
    }

    ThresholdConfig fileGroup(const char *name)
    {
        for (const ThresholdConfig &g : reread(cfg).voltage)
            if (g.name == name)
                return g;
        return ThresholdConfig{};
    }

    ~SensorTable() override
    {
        for (netsnmp_variable_list *v : answers)
            snmp_free_varbind(v);
    }

    TempConfig cfg{sensorConfig};
    std::vector<netsnmp_variable_list *> answers;
    static long transaction;
    static constexpr int ok = SNMP_ERR_NOERROR;
};
long SensorTable::transaction = 500;

std::string octets(const netsnmp_variable_list *v)
{
    return std::string(reinterpret_cast<const char *>(v->val.string), v->val_len);
}

} // namespace

TEST_F(SensorTable, GetAnswersRowsAndRefusesWhatIsNotThere)
{
    // Faults: a text served with its field's size; GetTime not 11 octets;
    // a missing row or an unknown column answered with something.
    std::vector<int> s = phase(voltageFamily, MODE_GET,
                               {{2, COLUMN_SENSOR_NAME, 0L}, {2, COLUMN_SENSOR_UNIT, 0L},
                                {2, COLUMN_SENSOR_LOWLOW, 0L}, {2, COLUMN_SENSOR_GETTIME, 0L},
                                {4, COLUMN_SENSOR_HIGH, 0L}, {2, COLUMN_SENSOR_INDEX, 0L},
                                {99, COLUMN_SENSOR_VALUE, 0L}, {0, COLUMN_SENSOR_VALUE, 0L},
                                {2, 12, 0L}});
    EXPECT_EQ(s, (std::vector<int>{ok, ok, ok, ok, ok, ok, SNMP_NOSUCHINSTANCE, SNMP_NOSUCHINSTANCE,
                                   SNMP_NOSUCHOBJECT}));
    ASSERT_EQ(answers.size(), 6u);
    EXPECT_EQ(octets(answers[0]), "5VSB");
    EXPECT_EQ(octets(answers[1]), "Volt");
    EXPECT_EQ(octets(answers[2]), "1");
    EXPECT_EQ(answers[3]->val_len, 11u);
    EXPECT_EQ(octets(answers[4]), "N/A");
    EXPECT_EQ(*answers[5]->val.integer, 2);
}

TEST_F(SensorTable, ThresholdsMustKeepTheirOrder)
{
    // Row 5VSB: LowLow 1, Low 2, High 5, HighHigh 6. Faults: a value
    // checked against the wrong neighbours; equal neighbours accepted.
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_HIGH, std::string("4")), ok);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_HIGH, std::string("7")), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_HIGH, std::string("6")), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_LOWLOW, std::string("2")), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_HIGHHIGH, std::string("")), ok);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_LOW, std::string("abc")), SNMP_ERR_WRONGVALUE);
}

TEST_F(SensorTable, AThresholdIsADecimalNumber)
{
    // Fault: texts read as far as atof goes, so that "0x10" stood for 16,
    // "12,6" for 12 and "abc" for 0, all between LowLow -40 and HighHigh 95.
    for (const char *text : {"abc", "0x10", "12,6", "5e0", "-", "1.2.3", "5.3abc", ".", "  ", "1 2", "+-1"})
        EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, std::string(text)), SNMP_ERR_WRONGVALUE) << text;
    // What the agent serves, padded as a reading is, can be set back.
    for (const char *text : {"  85.0", "84. ", ".5", "-0.5", "+80", ""})
        EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, std::string(text)), ok) << text;
}

TEST_F(SensorTable, TheOrderIsJudgedOnWhatTheWholeRequestLeaves)
{
    // Fault: High 5.8 and HighHigh 5.5 each checked only against the row
    // as it is (High 5, HighHigh 6), leaving High above HighHigh. The
    // request is refused at its first varbind of the row.
    std::vector<int> s = phase(voltageFamily, MODE_SET_RESERVE1,
                               {{2, COLUMN_SENSOR_HIGH, std::string("5.8")},
                                {2, COLUMN_SENSOR_HIGHHIGH, std::string("5.5")}});
    EXPECT_EQ(s, (std::vector<int>{SNMP_ERR_WRONGVALUE, ok}));
    // Fault: each varbind checked against the others as they are, so that
    // the band moved up as a whole (1/2/5/6 to 6/7/8/9) was refused.
    s = phase(voltageFamily, MODE_SET_RESERVE1,
              {{2, COLUMN_SENSOR_HIGHHIGH, std::string("9")}, {2, COLUMN_SENSOR_HIGH, std::string("8")},
               {2, COLUMN_SENSOR_LOW, std::string("7")}, {2, COLUMN_SENSOR_LOWLOW, std::string("6")}});
    EXPECT_EQ(s, (std::vector<int>{ok, ok, ok, ok}));
    // Different rows of one kind do not constrain each other.
    s = phase(voltageFamily, MODE_SET_RESERVE1,
              {{2, COLUMN_SENSOR_HIGH, std::string("5.8")}, {3, COLUMN_SENSOR_HIGH, std::string("3.5")}});
    EXPECT_EQ(s, (std::vector<int>{ok, ok}));
}

TEST_F(SensorTable, ValueRulesPerFamily)
{
    // Faults: a negative voltage let through, a negative temperature
    // refused; a state other than 1 or 2; the length limit off by one (10
    // octets leave no room for the terminator); a wrong type accepted;
    // octets the file cannot give back stored.
    EXPECT_EQ(check(voltageFamily, 3, COLUMN_SENSOR_LOWLOW, std::string("-1")), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_LOW, std::string("-10")), ok);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_STATE, 3L), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_STATE, 0L), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_STATE, 2L), ok);
    EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, std::string("86.000000")), ok);
    EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, std::string("86.0000000")), SNMP_ERR_WRONGLENGTH);
    EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, 86L), SNMP_ERR_WRONGTYPE);
    EXPECT_EQ(check(voltageFamily, 2, COLUMN_SENSOR_STATE, std::string("1")), SNMP_ERR_WRONGTYPE);
    EXPECT_EQ(check(temperatureFamily, 1, COLUMN_SENSOR_HIGH, std::string("8\n6")), SNMP_ERR_WRONGVALUE);
}

TEST_F(SensorTable, ReadOnlyColumnsMissingRowsAndSensorsWithoutAGroup)
{
    // Faults: the level or value writable; a SET creating or addressing a
    // row that is not there; a sensor without a group accepting a write that
    // nothing can keep.
    for (int column : {1, 2, 3, 4, 7, 11})
        EXPECT_EQ(check(voltageFamily, 2, column, std::string("1")), SNMP_ERR_NOTWRITABLE) << column;
    EXPECT_EQ(check(voltageFamily, 0, COLUMN_SENSOR_HIGH, std::string("4")), SNMP_ERR_NOCREATION);
    EXPECT_EQ(check(voltageFamily, 0, COLUMN_SENSOR_STATE, 1L), SNMP_ERR_NOCREATION);
    EXPECT_EQ(check(voltageFamily, 4, COLUMN_SENSOR_HIGH, std::string("4")), SNMP_ERR_WRONGVALUE);
    EXPECT_EQ(check(voltageFamily, 4, COLUMN_SENSOR_STATE, 2L), SNMP_ERR_NOTWRITABLE);
    // Nothing of the refused requests reached the rows or the file.
    EXPECT_STREQ(findSensorRow(voltageFamily, 2)->high, "5");
    EXPECT_EQ(cfg.read().find(">4<"), std::string::npos);
}

TEST_F(SensorTable, ActionWritesRowSourceAndTheSensorsOwnGroup)
{
    // Faults: the file written in another group (the first voltage group,
    // or a fixed one); the threshold source left as it was, so the next
    // cycle brings the old value back; the file written only at COMMIT.
    ASSERT_EQ(phase(voltageFamily, MODE_SET_ACTION, {{3, COLUMN_SENSOR_STATE, 2L}})[0], ok);
    EXPECT_EQ(fileGroup("VBAT").state, 2);
    EXPECT_EQ(fileGroup("5VSB").state, 1);
    EXPECT_EQ(findSensorRow(voltageFamily, 3)->state, 2);
    EXPECT_EQ(parseThresholdState(Global_writableVtHead, "VBAT"), 2);
    phase(voltageFamily, MODE_SET_COMMIT, {{3, COLUMN_SENSOR_STATE, 2L}});

    set(voltageFamily, {{2, COLUMN_SENSOR_HIGH, std::string("4.5")}});
    EXPECT_EQ(fileGroup("5VSB").high, "4.5");
    EXPECT_EQ(fileGroup("VBAT").high, "3.4");
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "5VSB", SENSOR_HIGH), "4.5");
    EXPECT_STREQ(findSensorRow(voltageFamily, 2)->high, "4.5");
    EXPECT_EQ(findSensorRow(voltageFamily, 2)->high_len, 3u);
}

TEST_F(SensorTable, ATemperatureWriteChangesTheSharedSet)
{
    // Faults: the temperature thresholds persisted under the row's label
    // ("Temp CPU board") instead of "Temp CPU"; the shared set untouched.
    set(temperatureFamily, {{2, COLUMN_SENSOR_LOW, std::string("-10")}});
    ConfigValues cv = reread(cfg);
    EXPECT_EQ(cv.tp[1], "-10");
    EXPECT_STREQ(Global_tpLow, "-10");
    publish(temperatureFamily, {{1, "Temp CPU"}, {2, "Temp CPU board"}});
    EXPECT_STREQ(findSensorRow(temperatureFamily, 1)->low, "-10");
}

TEST_F(SensorTable, UndoPutsBackRowSourceAndFileOfEveryVarbind)
{
    // Faults: only the row restored, so the next cycle and the next start
    // bring the refused value back; the second write of one object undone
    // to the first one's value instead of the value before the request.
    std::vector<Varbind> vbs = {{2, COLUMN_SENSOR_HIGH, std::string("4.5")},
                                {2, COLUMN_SENSOR_STATE, 2L},
                                {1, COLUMN_SENSOR_HIGH, std::string("80")}};
    ASSERT_EQ(phase(voltageFamily, MODE_SET_ACTION, {vbs[0], vbs[1]}), (std::vector<int>{ok, ok}));
    ASSERT_EQ(phase(temperatureFamily, MODE_SET_ACTION, {vbs[2]})[0], ok);
    ASSERT_EQ(phase(voltageFamily, MODE_SET_ACTION, {{2, COLUMN_SENSOR_HIGH, std::string("4.7")}})[0], ok);
    phase(voltageFamily, MODE_SET_UNDO, {vbs[0], vbs[1]});
    phase(temperatureFamily, MODE_SET_UNDO, {vbs[2]});

    const sensorEntry *row = findSensorRow(voltageFamily, 2);
    EXPECT_STREQ(row->high, "5");
    EXPECT_EQ(row->state, 1);
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "5VSB", SENSOR_HIGH), "5");
    EXPECT_EQ(parseThresholdState(Global_writableVtHead, "5VSB"), 1);
    EXPECT_STREQ(Global_tpHigh, "85");
    ThresholdConfig g = fileGroup("5VSB");
    EXPECT_EQ(g.high, "5");
    EXPECT_EQ(g.state, 1);
    EXPECT_EQ(reread(cfg).tp[0], "85");
}

TEST_F(SensorTable, UndoWorksEvenWhenTheRowWentAway)
{
    // Fault: UNDO finding its record through the row, so a sensor freed by
    // the sensor thread between ACTION and UNDO keeps the refused value in
    // its threshold source and the file (or the undo touches freed memory).
    ASSERT_EQ(phase(voltageFamily, MODE_SET_ACTION, {{3, COLUMN_SENSOR_HIGH, std::string("3.5")}})[0], ok);
    publish(voltageFamily, {{2, "5VSB"}});
    phase(voltageFamily, MODE_SET_UNDO, {{3, COLUMN_SENSOR_HIGH, std::string("3.5")}});
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "VBAT", SENSOR_HIGH), "3.4");
    EXPECT_EQ(fileGroup("VBAT").high, "3.4");
}

TEST_F(SensorTable, AFileThatCannotBeWrittenFailsTheSetAndChangesNothing)
{
    // Fault: the row and the threshold source keep a value the file never
    // got, so the next start silently loses it.
    cfg.write("<config><type>");   // no longer well-formed
    EXPECT_EQ(phase(voltageFamily, MODE_SET_ACTION, {{2, COLUMN_SENSOR_HIGH, std::string("4.5")}})[0],
              SNMP_ERR_COMMITFAILED);
    EXPECT_STREQ(findSensorRow(voltageFamily, 2)->high, "5");
    EXPECT_STREQ(parseThreshold(Global_writableVtHead, "5VSB", SENSOR_HIGH), "5");
    EXPECT_EQ(phase(temperatureFamily, MODE_SET_ACTION, {{1, COLUMN_SENSOR_STATE, 2L}})[0],
              SNMP_ERR_COMMITFAILED);
    EXPECT_EQ(Global_tpState, 1);
    EXPECT_EQ(findSensorRow(temperatureFamily, 1)->state, 1);
}

// The iterator's steps: each pass yields the rows as they were at its first
// step, in list order, even when a polling thread changes the list (or a pass
// over another table runs) in the middle; the next pass sees the change.
TEST_F(SensorTable, APassWalksTheRowsItFoundAtItsStart)
{
    auto pass = [](const SensorFamily &f, size_t steps, std::vector<long> &seen, void **loop) {
        netsnmp_variable_list index{};
        void *data = nullptr;
        for (size_t i = 0; i < steps; i++) {
            netsnmp_variable_list *got = *loop ? sensorNextDataPoint(f, loop, &data, &index)
                                               : sensorFirstDataPoint(f, loop, &data, &index);
            if (!got)
                return false;
            EXPECT_EQ(*got->val.integer, reinterpret_cast<uintptr_t>(data));
            seen.push_back(*got->val.integer);
            snmp_set_var_value(&index, nullptr, 0);
        }
        return true;
    };
    std::vector<long> temperatures, voltages;
    void *tpLoop = nullptr, *vtLoop = nullptr;
    ASSERT_TRUE(pass(temperatureFamily, 1, temperatures, &tpLoop));
    removeSensorRow(temperatureFamily, *temperatureFamily.tableHead);
    EXPECT_FALSE(pass(voltageFamily, 10, voltages, &vtLoop));
    EXPECT_FALSE(pass(temperatureFamily, 10, temperatures, &tpLoop));
    ASSERT_EQ(temperatures.size(), 2u);
    EXPECT_NE(temperatures[0], temperatures[1]);
    EXPECT_EQ(voltages.size(), 3u);

    std::vector<long> again;
    void *loop = nullptr;
    EXPECT_FALSE(pass(temperatureFamily, 10, again, &loop));
    EXPECT_EQ(again.size(), 1u);
}
