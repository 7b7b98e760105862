// SPDX-License-Identifier: BSD-3-Clause
// The entity view's rows: readings and thresholds in thousandths, the oper
// status, and the entries' indexes and containment.
#include "groups/entity/entityRows.h"

#include <gtest/gtest.h>

TEST(EntityRows, ThresholdTextsReadAsThousandthsOrNotAtAll)
{
    EXPECT_EQ(milliUnits("  45.5"), 45500);
    EXPECT_EQ(milliUnits("5.30"), 5300);
    EXPECT_EQ(milliUnits("-0.25"), -250);
    EXPECT_EQ(milliUnits("-40"), -40000);
    EXPECT_EQ(milliUnits("1.23456"), 1234);   // past the third decimal: dropped
    EXPECT_EQ(milliUnits("1000000"), 1000000000);
    for (const char *none : {"", "N/A", "-", ".", "4x", "1.2.3", "1000001", "99999999999999999999"})
        EXPECT_FALSE(milliUnits(none).has_value()) << none;
}

TEST(EntityRows, StatusIsUnavailableWithoutAReadingAndNonoperationalOnlyBeyondTheOuterThresholds)
{
    EXPECT_EQ(sensorStatus(std::nullopt, "95", "-40"), SensorStatus::Unavailable);
    EXPECT_EQ(sensorStatus(95000, "95", "-40"), SensorStatus::Ok);            // equal is not beyond
    EXPECT_EQ(sensorStatus(95001, "95", "-40"), SensorStatus::Nonoperational);
    EXPECT_EQ(sensorStatus(-40500, "95", "-40"), SensorStatus::Nonoperational);
    EXPECT_EQ(sensorStatus(999000, "N/A", ""), SensorStatus::Ok);          // no thresholds set
}

TEST(EntityRows, EntriesKeepTheirIndexesWhateverTheOrderAndOnlyEntriesMoveTheChangeTime)
{
    BoardReading board;
    board.product = "VLM-7000";
    board.imageVersion = "2.1";
    board.disks = {{2, "N/A", "ST1000", "CC43", "Z9"}};
    board.powerInputs = {{1, 1}, {2, -1}};
    board.sensors = {{EntitySensorKind::Current, 1, "Current", 1500, "5.0", ""},
                     {EntitySensorKind::Voltage, 3, "VBAT", std::nullopt, "3.6", "2.5"},
                     {EntitySensorKind::Temperature, 1, "Temp CPU", -12500, "95", "-40"},
                     {EntitySensorKind::Voltage, 4, "HUGE", 2000000000, "", ""}};
    const std::vector<EntityRow> rows = buildEntityRows(board);
    std::vector<long> indexes;
    for (const EntityRow &r : rows)
        indexes.push_back(r.index);
    EXPECT_EQ(indexes, (std::vector<long>{1, 1001, 2003, 2004, 3001, 4001, 4002, 4101, 4102, 5002}));

    EXPECT_EQ(rows[0].cls, EntityClass::Chassis);
    EXPECT_EQ(rows[0].softwareRev, "2.1");
    EXPECT_EQ(rows[1].sensor->value, -12500);
    EXPECT_EQ(rows[1].sensor->type, SensorDataType::Celsius);
    EXPECT_EQ(rows[2].sensor->status, SensorStatus::Unavailable);
    EXPECT_EQ(rows[3].sensor->status, SensorStatus::Unavailable);   // beyond what the column can hold
    EXPECT_EQ(rows[8].containedIn, 4002);
    EXPECT_EQ(rows[8].sensor->type, SensorDataType::TruthValue);
    EXPECT_EQ(rows[8].sensor->status, SensorStatus::Unavailable);   // the input was not read
    EXPECT_EQ(rows[9].cls, EntityClass::StorageDrive);
    EXPECT_EQ(rows[9].serial, "Z9");
    EXPECT_EQ(rows[9].descr, "Hard disk: ST1000");                  // no "N/A" family

    BoardReading later = board;
    later.sensors[2].milli = 80000;
    later.powerInputs[1].good = 2;
    EXPECT_FALSE(entityRowsDiffer(rows, buildEntityRows(later)));
    later.disks[0].serial = "Z10";   // another disk in the same place
    EXPECT_TRUE(entityRowsDiffer(rows, buildEntityRows(later)));
    later = board;
    later.sensors.pop_back();
    EXPECT_TRUE(entityRowsDiffer(rows, buildEntityRows(later)));
}
