// SPDX-License-Identifier: BSD-3-Clause
// Storage and NVRAM groups: df lines, size conversion, severity, the
// per-device raise/clear decision, and a whole pass rebuilding the storage
// and NVRAM tables.
#include "groups/storage/storageObj.h"
#include "groups/storage/storageProbe.h"
#include "groups/storage/storageTrap.h"
#include "groups/nvram/nvramObj.h"

#include <algorithm>
#include "usagePrint.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

const std::string dfHeader = "Filesystem     1M-blocks  Used Available Use% Mounted on\n";

// One "df -m" line.
std::string dfLine(const std::string &device, const std::string &size, const std::string &used,
                   const std::string &avail, const std::string &use, const std::string &mount)
{
    return device + "   " + size + " " + used + "  " + avail + "   " + use + " " + mount + "\n";
}

using StorageLine = std::tuple<std::string, int32_t, int32_t>;   // path, MB, use

std::vector<StorageLine> storageLines(const dfReport &r)
{
    std::vector<StorageLine> out;
    for (const dfStorageLine &l : r.storage)
        out.emplace_back(l.storageDescr, l.storageSize, l.storageUsedPercentage);
    return out;
}

storageInfo thresholds(int th1, int th2, int th3, int th4, int trapEnable = 1)
{
    storageInfo s{};
    s.siUsageTh1 = th1;
    s.siUsageTh2 = th2;
    s.siUsageTh3 = th3;
    s.siUsageTh4 = th4;
    s.trapEnable = trapEnable;
    return s;
}

} // namespace

// -- df lines --------------------------------------------------------------------

TEST(DfOutput, StorageLinesGivePathSizeAndUseInOrder)
{
    // Faults: the header or a pseudo file system (tmpfs, udev) taken as a
    // device; the used or available column read as the size or the use;
    // lines reordered.
    const std::string text = dfHeader + dfLine("udev", "1955", "0", "1955", "0%", "/dev") +
                             dfLine("/dev/sda1", "1000000", "10000", "990000", "1%", "/") +
                             dfLine("tmpfs", "394", "2", "393", "1%", "/run") +
                             dfLine("/dev/sdb1", "500", "450", "50", "90%", "/data");
    EXPECT_EQ(storageLines(parseDfOutput(text)),
              (std::vector<StorageLine>{{"/dev/sda1", 1000000, 1}, {"/dev/sdb1", 500, 90}}));
    EXPECT_TRUE(parseDfOutput(text).nvram.empty());
}

TEST(DfOutput, UseColumnEdgesAndDamagedLines)
{
    // Faults: "100%" cut to 10; "-" (no figure) read as anything but 0; a
    // line without enough columns making a row of leftovers; CR LF endings
    // or tabs breaking the columns.
    const std::string text = dfLine("/dev/sda1", "100", "100", "0", "100%", "/") +
                             dfLine("/dev/sr0", "0", "0", "0", "-", "/media/cdrom") +
                             "/dev/sdc1 200 100\n" + "/dev/sdd1\t300\t30\t270\t10%\t/srv\r\n";
    EXPECT_EQ(storageLines(parseDfOutput(text)),
              (std::vector<StorageLine>{{"/dev/sda1", 100, 100}, {"/dev/sr0", 0, 0}, {"/dev/sdd1", 300, 10}}));
}

TEST(DfOutput, NvramLinesGoToTheirOwnListWithSizeAndFree)
{
    // Faults: an NVRAM disk counted as storage (a storage row and siNumber
    // too many); the used column served as free space; a device merely
    // containing "vlmnvram" elsewhere taken for one.
    const std::string text = dfLine("/dev/sda1", "1000", "10", "990", "1%", "/") +
                             dfLine("/dev/vlmnvram0", "64", "4", "60", "7%", "/mnt/nvram0") +
                             dfLine("/dev/vlmnvram1", "128", "28", "100", "22%", "/mnt/nvram1") +
                             dfLine("/dev/mapper/vlmnvram", "50", "5", "45", "10%", "/x");
    dfReport r = parseDfOutput(text);
    ASSERT_EQ(r.nvram.size(), 2u);
    EXPECT_EQ(std::make_tuple(r.nvram[0].device, r.nvram[0].totalSize, r.nvram[0].diskFreeSize),
              std::make_tuple(std::string("/dev/vlmnvram0"), 64, 60));
    EXPECT_EQ(std::make_tuple(r.nvram[1].device, r.nvram[1].totalSize, r.nvram[1].diskFreeSize),
              std::make_tuple(std::string("/dev/vlmnvram1"), 128, 100));
    EXPECT_EQ(storageLines(r), (std::vector<StorageLine>{{"/dev/sda1", 1000, 1}, {"/dev/mapper/vlmnvram", 50, 10}}));
}

TEST(DfOutput, LongPathIsKeptWhole)
{
    // Fault: a path cut before the pass, so that two long LVM paths with
    // the same first 19 characters become one device.
    const std::string text = dfLine("/dev/mapper/vg0-lv_root_long", "1000", "10", "990", "1%", "/");
    EXPECT_EQ(storageLines(parseDfOutput(text)),
              (std::vector<StorageLine>{{"/dev/mapper/vg0-lv_root_long", 1000, 1}}));
}

// -- size conversion ------------------------------------------------------------

TEST(SizeText, UnitLettersScaleToMegabytesAndKilobytes)
{
    // Faults: the letter not dropped (atof still reads the number, but a
    // wrong factor or rounding up would show); K not ruling over G; values
    // beyond the INTEGER range wrapping negative.
    EXPECT_EQ(storageTranslate_MSize("2G"), 2048);
    EXPECT_EQ(storageTranslate_MSize("512K"), 0);
    EXPECT_EQ(storageTranslate_MSize("1536K"), 1);
    EXPECT_EQ(storageTranslate_MSize("1.5G"), 1536);
    EXPECT_EQ(storageTranslate_MSize("64M"), 64);
    EXPECT_EQ(storageTranslate_MSize("1000000"), 1000000);
    EXPECT_EQ(storageTranslate_KSize("2G"), 2097152);
    EXPECT_EQ(storageTranslate_KSize("3M"), 3072);
    EXPECT_EQ(storageTranslate_KSize("512K"), 512);
    EXPECT_EQ(storageTranslate_KSize("64"), 64);
    EXPECT_EQ(storageTranslate_MSize("9999999999"), INT32_MAX);
    EXPECT_EQ(storageTranslate_KSize("9999G"), INT32_MAX);
    EXPECT_EQ(storageTranslate_MSize(""), 0);
}

// -- severity -------------------------------------------------------------------

TEST(Severity, HighestUsedThresholdStrictlyBelowUsage)
{
    // Faults: equal taken as above; -1 compared as a value (any use above
    // -1); a lower band winning over a higher one.
    const storageInfo t = thresholds(80, 90, 95, -1);
    EXPECT_EQ(judgeUsageSeverity(t, 80), 1);
    EXPECT_EQ(judgeUsageSeverity(t, 81), 2);
    EXPECT_EQ(judgeUsageSeverity(t, 91), 3);
    EXPECT_EQ(judgeUsageSeverity(t, 100), 4);
    EXPECT_EQ(judgeUsageSeverity(thresholds(-1, -1, -1, -1), 100), 1);
    EXPECT_EQ(judgeUsageSeverity(thresholds(-1, 50, -1, 70), 60), 3);
    EXPECT_EQ(judgeUsageSeverity(thresholds(-1, 50, -1, 70), 71), 5);
}

// -- raise and clear --------------------------------------------------------------

namespace {

// The check of one device as the passes run it, one line after another.
class StorageCheck : public testing::Test {
protected:
    StorageNotification at(int usage, int trapEnable = 1)
    {
        device.storageUsedPercentage = usage;
        device.storageTrapState = trapEnable;
        return judgeStorageTrap(device);
    }

    storageCombination device = [] {
        storageCombination c{};
        c.storageDescr = "/dev/sdb1";
        c.siUsageTh1 = 80;
        c.siUsageTh2 = 90;
        c.siUsageTh3 = 95;
        c.siUsageTh4 = -1;
        c.tmpstorageTrapState = 1;
        return c;
    }();
    static constexpr StorageNotification none = StorageNotification::None;
    static constexpr StorageNotification raise = StorageNotification::Raise;
    static constexpr StorageNotification clear = StorageNotification::Clear;
};

} // namespace

TEST_F(StorageCheck, EachNewBandRaisesOnceAndLeavingAllClears)
{
    // Faults: a raise repeated while usage stays in a band; a move down to
    // a lower band not raised; no clear on return, or a second one.
    EXPECT_EQ(at(90), raise);   // first sight, already above: raised at once
    EXPECT_EQ(at(90), none);
    EXPECT_EQ(at(96), raise);
    EXPECT_EQ(at(85), raise);
    EXPECT_EQ(at(70), clear);
    EXPECT_EQ(at(70), none);
}

TEST_F(StorageCheck, SwitchOffSilencesAndTurningItOnInABandRaisesOnce)
{
    // Faults: a notification while the switch is off; turning the switch on
    // while usage stays in a band never raising (even when the band was
    // entered with the switch off), or raising at every pass; a clear
    // sent while off.
    EXPECT_EQ(at(85, 2), none);
    EXPECT_EQ(at(85, 1), raise);
    EXPECT_EQ(at(85, 1), none);
    EXPECT_EQ(at(85, 2), none);
    EXPECT_EQ(at(85, 1), raise);
    EXPECT_EQ(at(50, 2), none);
    EXPECT_EQ(at(50, 1), none);
}

// -- a whole pass ------------------------------------------------------------------

namespace {

struct Sent {
    unsigned number;
    std::string path;
    long used, severity;
    bool operator==(const Sent &o) const
    {
        return std::tie(number, path, used, severity) == std::tie(o.number, o.path, o.used, o.severity);
    }
};
std::ostream &operator<<(std::ostream &os, const Sent &s)
{
    return os << s.number << " " << s.path << " " << s.used << "% sev " << s.severity;
}

std::vector<Sent> sent;
void collect(netsnmp_variable_list *vars)
{
    // snmpTrapOID.0, path, use, severity, Th1..Th4.
    std::vector<netsnmp_variable_list *> vb;
    for (netsnmp_variable_list *v = vars; v; v = v->next_variable)
        vb.push_back(v);
    ASSERT_EQ(vb.size(), 8u);
    sent.push_back({static_cast<unsigned>(vb[0]->val.objid[vb[0]->val_len / sizeof(oid) - 1]),
                    std::string(reinterpret_cast<const char *>(vb[1]->val.string), vb[1]->val_len),
                    *vb[2]->val.integer, *vb[3]->val.integer});
}

using Row = std::tuple<long, std::string, long, long, long>;   // index, descr, size, use, severity
using NvramRow = std::tuple<long, long, long, long>;             // index, total, disk, free

class StoragePass : public testing::Test {
protected:
    void SetUp() override
    {
        Global_storageInfoVal = thresholds(80, -1, -1, -1);
        Global_storageCombinations.clear();
        applyStorageReport({});
        drain();
    }
    void TearDown() override { applyStorageReport({}); }

    static std::vector<Sent> drain()
    {
        sent.clear();
        deliverQueuedNotifications(collect);
        return sent;
    }
    static std::vector<Sent> pass(const std::string &dfText)
    {
        applyStorageReport(parseDfOutput(dfHeader + dfText));
        return drain();
    }
    static std::vector<Row> rows()
    {
        std::vector<Row> out;
        for (const storageTable_entry *r = Global_storageTable_head; r; r = r->next)
            out.emplace_back(r->index, r->storageDescr, r->storageSize, r->storageUsedPercentage,
                             r->storageUsageSeverity);
        std::sort(out.begin(), out.end());
        return out;
    }
    static std::vector<NvramRow> nvramRows()
    {
        std::vector<NvramRow> out;
        for (const nvramTable_entry *r = Global_nvramTable_head; r; r = r->next)
            out.emplace_back(r->index, r->totalSize, r->diskSize, r->diskFreeSize);
        std::sort(out.begin(), out.end());
        return out;
    }

    const std::string sda1 = dfLine("/dev/sda1", "1000000", "10000", "990000", "1%", "/");
    const std::string sdb1 = dfLine("/dev/sdb1", "500", "450", "50", "90%", "/data");
};

} // namespace

TEST_F(StoragePass, RowsFollowDfAndAnUnmountedDeviceLosesItsStateSilently)
{
    // Faults: rows out of df order or with another line's values; siNumber
    // not the row count; the raise sent for the device below the threshold
    // or repeated with the same data; after an unmount a row left behind,
    // an index gap, or a clear for the device that went away; a device that
    // comes back keeping its old band, so that it is not raised again.
    EXPECT_EQ(pass(sdb1 + sda1), (std::vector<Sent>{{103, "/dev/sdb1", 90, 2}}));
    EXPECT_EQ(rows(), (std::vector<Row>{{1, "/dev/sdb1", 500, 90, 2}, {2, "/dev/sda1", 1000000, 1, 1}}));
    EXPECT_EQ(Global_storageInfoVal.siNumber, 2);
    EXPECT_EQ(pass(sdb1 + sda1), std::vector<Sent>{});
    EXPECT_EQ(pass(sda1), std::vector<Sent>{});
    EXPECT_EQ(rows(), (std::vector<Row>{{1, "/dev/sda1", 1000000, 1, 1}}));
    EXPECT_EQ(Global_storageInfoVal.siNumber, 1);
    EXPECT_EQ(pass(sda1 + sdb1), (std::vector<Sent>{{103, "/dev/sdb1", 90, 2}}));
}

TEST_F(StoragePass, LongPathsAreCutForDisplayButKeepTheirOwnState)
{
    // Faults: the row's text not cut to 19 characters (overrunning the
    // field); two long paths with the same first 19 characters sharing one
    // band state, so that the second is never raised or a clear of one is
    // lost to the other.
    const std::string a = "/dev/mapper/vg0-lv_root_long", b = "/dev/mapper/vg0-lv_root_more";
    EXPECT_EQ(pass(dfLine(a, "100", "85", "15", "85%", "/") + dfLine(b, "100", "85", "15", "85%", "/srv")),
              (std::vector<Sent>{{103, a, 85, 2}, {103, b, 85, 2}}));
    EXPECT_EQ(rows(), (std::vector<Row>{{1, a.substr(0, 19), 100, 85, 2}, {2, b.substr(0, 19), 100, 85, 2}}));
    EXPECT_EQ(pass(dfLine(a, "100", "10", "90", "10%", "/") + dfLine(b, "100", "85", "15", "85%", "/srv")),
              (std::vector<Sent>{{104, a, 10, 1}}));
}

TEST_F(StoragePass, NvramRowKHoldsTheKthNvramLine)
{
    // Faults: rows matched to disks by a cursor over a newest-first list, so
    // that after a second disk appears and the first goes, the remaining
    // row carries the gone disk's values or the wrong index; NVRAM disks
    // counted as storage.
    const std::string nv0 = dfLine("/dev/vlmnvram0", "64", "4", "60", "7%", "/mnt/nv0");
    const std::string nv1 = dfLine("/dev/vlmnvram1", "128", "28", "100", "22%", "/mnt/nv1");
    pass(sda1 + nv0);
    EXPECT_EQ(nvramRows(), (std::vector<NvramRow>{{1, 64, 64, 60}}));
    EXPECT_EQ(Global_nvramCounter, 1);
    pass(sda1 + nv0 + nv1);
    EXPECT_EQ(nvramRows(), (std::vector<NvramRow>{{1, 64, 64, 60}, {2, 128, 128, 100}}));
    EXPECT_EQ(Global_nvramCounter, 2);
    pass(sda1 + nv1);
    EXPECT_EQ(nvramRows(), (std::vector<NvramRow>{{1, 128, 128, 100}}));
    EXPECT_EQ(Global_nvramCounter, 1);
    EXPECT_EQ(Global_storageInfoVal.siNumber, 1);
    pass(sda1);
    EXPECT_EQ(nvramRows(), std::vector<NvramRow>{});
    EXPECT_EQ(Global_nvramCounter, 0);
}
