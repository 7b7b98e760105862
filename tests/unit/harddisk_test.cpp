// SPDX-License-Identifier: BSD-3-Clause
// The SMART tool's output, capacities, raw values, fdisk counts, device node
// checks, and whole refreshes against a scripted SMART tool and fdisk.
#include "mibFrame.h"
#include "groups/disks/hardDiskProbe.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// What vlm_smartctl -a prints for an ATA disk: identity lines, three other
// lines, the attribute rows and an empty line.
const char ATA_DISK[] =
    "Model Family:     Western Digital Blue\n"
    "Device Model:     WDC WD5000AAKX-08U6AA0\n"
    "Serial Number:    WD-WCC2EVP14302\n"
    "Firmware Version: 19.01H19\n"
    "User Capacity:    500,107,862,016 bytes [500 GB]\n"
    "=== START OF READ SMART DATA SECTION ===\n"
    "SMART Attributes Data Structure revision number: 16\n"
    "ID# ATTRIBUTE_NAME          FLAG     VALUE WORST THRESH TYPE      UPDATED  WHEN_FAILED RAW_VALUE\n"
    "  1 Raw_Read_Error_Rate     0x002f   200   200   051    Pre-fail  Always       -       0\n"
    "  9 Power_On_Hours          0x0032   046   046   000    Old_age   Always       -       118134312\n"
    "194 Temperature_Celsius     0x0022   036   045   000    Old_age   Always       -       36 (Min/Max 20/45)\n"
    "202 Unknown_Attribute       0x0030   100   100   000    Old_age   Offline      -       26\n"
    "\n"
    "  5 Reallocated_Sector_Ct   0x0033   200   200   140    Pre-fail  Always       -       7\n";

TEST(HardDiskParse, IdentityAndAttributesOfAnAtaDisk)
{
    const HddDiskInfo info = parseSmartOutput(ATA_DISK, 2);
    EXPECT_EQ(info.disk.hdIndex, 2);
    EXPECT_STREQ(info.disk.hdManufacturer, "Western Digital Blue");
    EXPECT_STREQ(info.disk.hdModel, "WDC WD5000AAKX-08U6AA0");
    EXPECT_STREQ(info.disk.hdSerialNumber, "WD-WCC2EVP14302");
    EXPECT_STREQ(info.disk.hdFirmwareRevision, "19.01H19");
    EXPECT_EQ(info.disk.hdDriverCapactity, 476939);

    // Rows up to the empty line; the line after it is not read.
    ASSERT_EQ(info.smart.size(), 4u);
    const hdSMARTTable_entry &temperature = info.smart[2];
    EXPECT_EQ(temperature.hdsIndex, 3);
    EXPECT_EQ(temperature.hdsAttribID, 194);
    EXPECT_STREQ(temperature.hdsName, "Temperature_Celsius");
    EXPECT_EQ(temperature.hdsValue, 36);
    EXPECT_EQ(temperature.hdsWorst, 45);
    EXPECT_EQ(temperature.hdsThreshold, 0);
    EXPECT_STREQ(temperature.hdsRAWValue, "000000000024");
    EXPECT_STREQ(info.smart[0].hdsRAWValue, "000000000000");
    EXPECT_STREQ(info.smart[1].hdsRAWValue, "0000070A9628");
    EXPECT_STREQ(info.smart[3].hdsName, "Vendor Specific");
    EXPECT_STREQ(info.smart[3].hdsRAWValue, "00000000001A");
}

TEST(HardDiskParse, UnusualOutputs)
{
    // No family line: "N/A" once the capacity is read. A value longer than
    // its field is cut; a damaged attribute row is left out and the rows
    // stay numbered without a gap.
    const std::string longModel(80, 'M');
    const std::string text = "Device Model:     " + longModel +
                             "\nUser Capacity:    1,000,204,886,016 bytes [1.00 TB]\n"
                             "a\nb\nc\n"
                             "  1 Raw_Read_Error_Rate     0x002f   200   200   051    Pre-fail  Always       -       0\n"
                             "  3 Spin_Up_Time\n"
                             " 22 Helium_Level_Percentage_Of_Sealed_Drive_Left 0x0023   100   100   025    Pre-fail  "
                             "Always       -       100\n"
                             "  4 Start_Stop_Count        0x0032   100   100   000    Old_age   Always       -       "
                             "123456789012\n";
    const HddDiskInfo info = parseSmartOutput(text, 1);
    EXPECT_STREQ(info.disk.hdManufacturer, "N/A");
    EXPECT_EQ(std::string(info.disk.hdModel), longModel.substr(0, 59));
    EXPECT_EQ(info.disk.hdDriverCapactity, 953868);
    ASSERT_EQ(info.smart.size(), 3u);   // the output may end without its empty line
    // A name longer than its field is cut, and the row kept.
    EXPECT_EQ(info.smart[1].hdsIndex, 2);
    EXPECT_STREQ(info.smart[1].hdsName, "Helium_Level_Percentage_Of_Sealed_Drive");
    EXPECT_EQ(info.smart[1].hdsThreshold, 25);
    EXPECT_STREQ(info.smart[1].hdsRAWValue, "000000000064");
    EXPECT_EQ(info.smart[2].hdsIndex, 3);
    EXPECT_EQ(info.smart[2].hdsAttribID, 4);
    // Raw values above 32 bits are kept exactly.
    EXPECT_STREQ(info.smart[2].hdsRAWValue, "001CBE991A14");

    // An NVMe device: identity lines only. The disk number is set even
    // without any.
    const HddDiskInfo nvme = parseSmartOutput("Device Model:     Samsung SSD 970 EVO Plus 500GB\n", 3);
    EXPECT_TRUE(nvme.smart.empty());
    EXPECT_STREQ(nvme.disk.hdManufacturer, "");
    EXPECT_EQ(parseSmartOutput("", 4).disk.hdIndex, 4);
}

TEST(HardDiskParse, CapacitiesRawValuesAndCounts)
{
    EXPECT_EQ(convertDiskSize("500,107,862,016 bytes [500 GB]"), 476939);
    EXPECT_EQ(convertDiskSize("1,000,204,886,016 bytes [1.00 TB]"), 953868);
    EXPECT_EQ(convertDiskSize("999,999 bytes"), 0);
    EXPECT_EQ(convertDiskSize("1,000,000 bytes"), 0);   // one million bytes: 0.95 MiB
    EXPECT_EQ(convertDiskSize(""), 0);
    EXPECT_EQ(convertDiskSize("99,999,999,999,999,999,999,999 bytes"), INT32_MAX);

    EXPECT_EQ(smartRawText("26"), "00000000001A");
    EXPECT_EQ(smartRawText("36 (Min/Max 20/45)"), "000000000024");
    EXPECT_EQ(smartRawText("-"), "000000000000");

    // fdisk lines naming the disk: its header line and one per partition.
    EXPECT_EQ(parsePartitionCount("4\n"), 3);
    EXPECT_EQ(parsePartitionCount("1\n"), 0);
    EXPECT_EQ(parsePartitionCount("0\n"), 0);
    EXPECT_EQ(parsePartitionCount(""), -1);

    EXPECT_EQ(parseScanNodes("/dev/sda -d sat # /dev/sda [SAT], ATA device\n\n"
                             "/dev/nvme0 -d nvme # /dev/nvme0, NVMe device\n"),
              (std::vector<std::string>{"/dev/sda", "/dev/nvme0"}));
}

TEST(HardDiskParse, OnlyPlainDevicePathsReachACommand)
{
    for (const char *good : {"/dev/sda", "/dev/nvme0", "/dev/disk/by-id/ata", "/dev/mapper/vg-lv_0"})
        EXPECT_TRUE(isPlainDevicePath(good)) << good;
    for (const char *bad : {"", "sda", "/dev/sd'a", "/dev/sda;reboot", "/dev/$(id)", "/dev/sd a", "/dev/sda\n",
                            "/dev/disk/by-id/ata-", "/dev/`id`", "/dev/sda|x", "/dev/sd*"})
        EXPECT_FALSE(isPlainDevicePath(bad)) << bad;
}

// Refreshes against scripted commands: the exact command line -> output.
class HardDiskRefresh : public ::testing::Test {
protected:
    static inline std::map<std::string, CommandResult> script;
    static inline std::vector<std::string> ran;

    static CommandResult run(const char *command, double)
    {
        ran.push_back(command);
        auto it = script.find(command);
        if (it != script.end())
            return it->second;
        CommandResult missing;
        missing.started = true;
        return missing;   // an unknown command prints nothing
    }

    static void answer(const std::string &command, const std::string &output)
    {
        CommandResult r;
        r.started = true;
        r.status = 0;
        r.output = output;
        script[command] = r;
    }

    static void disk(const std::string &node, const std::string &smart, int fdiskLines)
    {
        answer("/usr/local/sbin/vlm_smartctl -a " + node, smart);
        answer("fdisk -l 2>/dev/null |grep '" + node + "'|wc -l", std::to_string(fdiskLines) + "\n");
    }

    static void scan(const std::vector<std::string> &nodes)
    {
        std::string out;
        for (const std::string &n : nodes)
            out += n + " -d sat # " + n + " [SAT], ATA device\n";
        answer("/usr/local/sbin/vlm_smartctl --scan", out);
        answer("/usr/local/sbin/vlm_smartctl --scan |wc -l", std::to_string(nodes.size()) + "\n");
    }

    void SetUp() override
    {
        saved = hddRunCommand;
        hddRunCommand = run;
        script.clear();
        ran.clear();
        entryHddFlag = 1;
        Global_hddNumber = 0;
    }

    void TearDown() override
    {
        hddRunCommand = saved;
        while (Global_hdTable_head)
            hdTable_removeEntry(Global_hdTable_head);
        while (Global_hdSMARTTable_head)
            hdSMARTTable_removeEntry(Global_hdSMARTTable_head);
        entryHddFlag = 1;
        Global_hddNumber = 0;
    }

    static const hdTable_entry *diskRow(long index) { return findRowByIndex(Global_hdTable_head, index); }

    static size_t smartRows()
    {
        size_t n = 0;
        for (const hdSMARTTable_entry *r = Global_hdSMARTTable_head; r; r = r->next)
            n++;
        return n;
    }

    CommandResult (*saved)(const char *, double);
};

const char SECOND_DISK[] = "Device Model:     ST1000DM003-1CH162\n"
                           "Serial Number:    Z1D4ABCD\n"
                           "User Capacity:    1,000,204,886,016 bytes [1.00 TB]\n"
                           "a\nb\nc\n"
                           "194 Temperature_Celsius     0x0022   030   040   000    Old_age   Always       -       30\n"
                           "\n";

TEST_F(HardDiskRefresh, FirstRefreshSizesTheTablesLaterOnesOverwriteThem)
{
    scan({"/dev/sda", "/dev/sdb"});
    disk("/dev/sda", ATA_DISK, 4);
    disk("/dev/sdb", SECOND_DISK, 2);
    hddInfo_handler();
    EXPECT_EQ(Global_hddNumber, 2);
    ASSERT_NE(diskRow(1), nullptr);
    EXPECT_STREQ(diskRow(1)->hdModel, "WDC WD5000AAKX-08U6AA0");
    EXPECT_EQ(diskRow(1)->hdPartitionNumber, 3);
    ASSERT_NE(diskRow(2), nullptr);
    EXPECT_STREQ(diskRow(2)->hdManufacturer, "N/A");
    EXPECT_EQ(diskRow(2)->hdPartitionNumber, 1);
    EXPECT_EQ(smartRows(), 5u);
    ASSERT_NE(hdSMARTTable_findEntry(2, 1), nullptr);
    EXPECT_EQ(hdSMARTTable_findEntry(2, 1)->hdsValue, 30);

    // Later: new values in place; a third disk, and an attribute row the
    // first refresh did not have, are left out.
    scan({"/dev/sda", "/dev/sdb", "/dev/sdc"});
    disk("/dev/sdc", ATA_DISK, 2);
    std::string sdb = SECOND_DISK;
    sdb.replace(sdb.find("\n\n"), 1, "\n  5 Reallocated_Sector_Ct   0x0033   200   200   140    Pre-fail  Always       -"
                                     "       7\n");
    sdb.replace(sdb.find("030   040"), 9, "031   041");
    disk("/dev/sdb", sdb, 3);
    ran.clear();
    hddInfo_handler();
    EXPECT_EQ(Global_hddNumber, 2);
    EXPECT_EQ(diskRow(3), nullptr);
    EXPECT_EQ(diskRow(2)->hdPartitionNumber, 2);
    EXPECT_EQ(hdSMARTTable_findEntry(2, 1)->hdsValue, 31);
    EXPECT_EQ(hdSMARTTable_findEntry(2, 2), nullptr);
    EXPECT_EQ(smartRows(), 5u);
    // The disks are not counted again, and the third one is never read.
    for (const std::string &c : ran) {
        EXPECT_EQ(c.find("wc -l", c.find("--scan")), std::string::npos) << c;
        EXPECT_EQ(c.find("/dev/sdc"), std::string::npos) << c;
    }
}

TEST_F(HardDiskRefresh, AFailingCommandSkipsTheWholeRefresh)
{
    scan({"/dev/sda", "/dev/sdb"});
    disk("/dev/sda", ATA_DISK, 4);
    disk("/dev/sdb", SECOND_DISK, 2);
    hddInfo_handler();
    ASSERT_EQ(Global_hddNumber, 2);

    // The second disk's SMART tool prints nothing, then hangs, then fdisk
    // hangs: the rows stay as the last good refresh left them, the first
    // disk's included.
    disk("/dev/sda", std::string(ATA_DISK).replace(std::string(ATA_DISK).find("WDC"), 3, "XYZ"), 2);
    disk("/dev/sdb", "", 2);
    hddInfo_handler();
    EXPECT_STREQ(diskRow(1)->hdModel, "WDC WD5000AAKX-08U6AA0");
    EXPECT_EQ(diskRow(1)->hdPartitionNumber, 3);

    CommandResult hung;
    hung.started = true;
    hung.timedOut = true;
    script["/usr/local/sbin/vlm_smartctl -a /dev/sdb"] = hung;
    hddInfo_handler();
    EXPECT_STREQ(diskRow(1)->hdModel, "WDC WD5000AAKX-08U6AA0");

    disk("/dev/sdb", SECOND_DISK, 2);
    script["fdisk -l 2>/dev/null |grep '/dev/sdb'|wc -l"] = hung;
    hddInfo_handler();
    EXPECT_EQ(diskRow(1)->hdPartitionNumber, 3);
    EXPECT_EQ(Global_hddNumber, 2);
}

TEST_F(HardDiskRefresh, AFailedFirstRefreshIsTriedAgain)
{
    CommandResult notStarted;
    script["/usr/local/sbin/vlm_smartctl --scan |wc -l"] = notStarted;
    hddInfo_handler();
    EXPECT_EQ(entryHddFlag, 1);
    EXPECT_EQ(Global_hdTable_head, nullptr);

    scan({"/dev/sda"});
    disk("/dev/sda", ATA_DISK, 1);
    hddInfo_handler();
    EXPECT_EQ(entryHddFlag, 0);
    EXPECT_EQ(Global_hddNumber, 1);
    EXPECT_EQ(diskRow(1)->hdPartitionNumber, 0);
}

TEST_F(HardDiskRefresh, UnsafeNodesAreSkippedAndAtMostFourDisksServed)
{
    scan({"/dev/sda", "/dev/sd'b;touch /tmp/owned'", "/dev/$(reboot)", "/dev/sdc", "/dev/sdd", "/dev/sde",
          "/dev/sdf"});
    for (const char *node : {"/dev/sda", "/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"})
        disk(node, SECOND_DISK, 1);
    hddInfo_handler();
    EXPECT_EQ(Global_hddNumber, 4);
    for (const std::string &c : ran) {
        EXPECT_EQ(c.find("owned"), std::string::npos) << c;
        EXPECT_EQ(c.find("reboot"), std::string::npos) << c;
        EXPECT_EQ(c.find("/dev/sdf"), std::string::npos) << c;
    }
    // The disks are numbered in scan order among those served.
    ASSERT_NE(diskRow(4), nullptr);
    EXPECT_EQ(diskRow(5), nullptr);
}

} // namespace

TEST(HardDiskTable, APassGivesTheSmartRowsInIndexOrderWhateverTheListOrder)
{
    // Fault: the rows handed to the table iterator in list order (new rows
    // go to the head) while the table is registered as sorted: a GETNEXT
    // then stops at the first row past the one asked for and a walk skips
    // every row that stands later in the list with a lower index.
    const int made[][2] = {{2, 1}, {1, 3}, {1, 1}, {2, 2}, {1, 2}};
    for (const auto &r : made)
        ASSERT_NE(hdSMARTTable_createEntry(r[0], r[1], 9, "attr", 100, 100, 0, "0"), nullptr);
    netsnmp_variable_list *index = nullptr;
    snmp_varlist_add_variable(&index, nullptr, 0, ASN_INTEGER, nullptr, 0);
    snmp_varlist_add_variable(&index, nullptr, 0, ASN_INTEGER, nullptr, 0);
    void *loop = nullptr, *data = nullptr;
    std::vector<std::pair<long, long>> seen;
    for (netsnmp_variable_list *v = hdSMARTTable_get_first_data_point(&loop, &data, index, nullptr); v;
         v = hdSMARTTable_get_next_data_point(&loop, &data, index, nullptr))
        seen.emplace_back(*v->val.integer, *v->next_variable->val.integer);
    const std::vector<std::pair<long, long>> inOrder = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}};
    EXPECT_EQ(seen, inOrder);
    snmp_free_varbind(index);
    while (Global_hdSMARTTable_head)
        hdSMARTTable_removeEntry(Global_hdSMARTTable_head);
}
