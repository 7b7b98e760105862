// SPDX-License-Identifier: BSD-3-Clause
// USB device blocks of "lsusb -v" output, the start-up inventory, the
// hardware-detect row numbering, and the watcher's handling of device events
// against captured listings.
#include "groups/hotplug/hwdWatcher.h"
#include "lib/trapList.h"
#include "groups/hotplug/hwdObj.h"
#include "groups/hotplug/hwdProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string fixture(const std::string &name)
{
    std::ifstream in(std::string(VLM_FIXTURE_DIR) + "/lsusb/" + name + ".txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_FALSE(ss.str().empty()) << "missing fixture " << name;
    return ss.str();
}

// A listing as lsusb -v prints it: a blank line before every device.
std::string listing(std::initializer_list<const char *> devices)
{
    std::string out;
    for (const char *d : devices)
        out += "\n" + fixture(d);
    return out;
}

struct Known {
    std::string rawName, friendlyName, type;
};

std::vector<Known> knownDevices(list_head *list)
{
    std::vector<Known> out;
    list_for_each(pos, list) {
        const hwInfo *d = list_entry(pos, hwInfo, list);
        out.push_back({d->rawName, d->friendlyName, d->type});
    }
    return out;
}

void freeKnown(list_head *list)
{
    while (!list_empty(list)) {
        list_head *first = list->next;
        list_del(first);
        free(list_entry(first, hwInfo, list));
    }
}

const char STICK_A[] = "USB#Vid_0781&Pid_5567#SanDisk Cruzer Blade#4C530001230822115234";
const char STICK_B[] = "USB#Vid_0951&Pid_1666#Kingston DataTraveler 3.0#E0D55EA57414F510B8A10CF4";
const char STICK_C[] = "USB#Vid_0781&Pid_5567#SanDisk Cruzer Blade#4C530001160315104495";
const char KEYBOARD_A[] = "USB#Vid_046d&Pid_c31c#Logitech USB Keyboard#";
const char KEYBOARD_B[] = "USB#Vid_413c&Pid_2113# Dell KB216 Wired Keyboard#";
const char COMBO[] = "USB#Vid_046d&Pid_c52b#Logitech USB Receiver#";

TEST(UsbBlocks, InventoryOfACapturedListing)
{
    list_head list;
    recordUsbInventory(&list, listing({"root_hub_2", "stick_a", "camera", "combo", "root_hub_3", "keyboard_a"}));
    const std::vector<Known> known = knownDevices(&list);
    // Newest first: the reverse of the listing. The keyboard is the last
    // device listed, with no blank line after it, and is still recorded.
    ASSERT_EQ(known.size(), 3u);
    EXPECT_EQ(known[0].rawName, KEYBOARD_A);
    EXPECT_EQ(known[0].type, "keyboard");
    EXPECT_EQ(known[0].friendlyName, "Logitech USB Keyboard");
    // A receiver with a keyboard and a mouse interface counts as a mouse.
    EXPECT_EQ(known[1].rawName, COMBO);
    EXPECT_EQ(known[1].type, "mouse");
    EXPECT_EQ(known[2].rawName, STICK_A);
    EXPECT_EQ(known[2].type, "u-disk");
    EXPECT_EQ(known[2].friendlyName, "SanDisk Cruzer Blade");
    freeKnown(&list);
}

TEST(UsbBlocks, NamesOfUnusualDevices)
{
    const std::vector<UsbBlock> blocks =
        parseUsbBlocks(listing({"stick_noserial", "stick_long", "mouse_a"}), inventoryReadLimits);
    ASSERT_EQ(blocks.size(), 4u);   // the empty one before the first blank line, then the three
    EXPECT_EQ(blocks[1].rawName, "USB#Vid_090c&Pid_1000#SMI Corporation USB DISK#");

    // 39 + 1 + 39 characters: every string whole in the instance name, the
    // friendly name cut to 59.
    const std::string manufacturer = "Longsys Industrial Storage Division Ltd";
    const std::string product = "Industrial Wide-Temperature Flash Drive";
    ASSERT_EQ(manufacturer.size(), 39u);
    ASSERT_EQ(product.size(), 39u);
    EXPECT_EQ(blocks[2].rawName, "USB#Vid_346d&Pid_5678#" + manufacturer + " " + product + "#070B2B3C4D5E6F01");
    EXPECT_EQ(blocks[2].friendlyName, (manufacturer + " " + product).substr(0, 59));

    // A product string longer than 39 characters is cut.
    EXPECT_EQ(blocks[3].rawName, "USB#Vid_045e&Pid_0040#Microsoft Microsoft 3-Button Mouse with IntelliEy#");
    EXPECT_TRUE(blocks[3].contains("Mouse"));
}

TEST(UsbBlocks, KeywordsAndEdgeCasesOfTheListing)
{
    // Mass Storage wins whatever else the block names.
    const std::string massAndKeyboard = "\nBus 001 Device 002: ID 1234:abcd\n"
                                        "  idVendor           0x1234 Acme\n"
                                        "  idProduct          0xabcd Stick\n"
                                        "  iManufacturer           1 Acme\n"
                                        "  iProduct                2 Stick\n"
                                        "  iSerial                 3 0001\n"
                                        "      bInterfaceClass         3 Human Interface Device\n"
                                        "      bInterfaceProtocol      1 Keyboard\n"
                                        "      bInterfaceClass         8 Mass Storage\n";
    std::vector<UsbBlock> blocks = parseUsbBlocks(massAndKeyboard, inventoryReadLimits);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_STREQ(usbInventoryType(blocks[1]), "u-disk");
    EXPECT_EQ(blocks[1].rawName, "USB#Vid_1234&Pid_abcd#Acme Stick#0001");

    // Hubs and cameras record nothing; neither does an empty listing.
    list_head list;
    recordUsbInventory(&list, listing({"root_hub_2", "root_hub_3", "camera"}));
    EXPECT_TRUE(list_empty(&list));
    recordUsbInventory(&list, "");
    EXPECT_TRUE(list_empty(&list));

    // Two identical sticks are two devices of the same name.
    recordUsbInventory(&list, listing({"stick_a", "stick_twin"}));
    const std::vector<Known> known = knownDevices(&list);
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].rawName, STICK_A);
    EXPECT_EQ(known[1].rawName, STICK_A);
    freeKnown(&list);

    // A listing that ends with its blank line has no extra block.
    EXPECT_EQ(parseUsbBlocks(listing({"stick_a"}) + "\n", inventoryReadLimits).size(), 2u);
}

TEST(UsbBlocks, LongLinesAreReadInPieces)
{
    // A 600-character line is two pieces for the inventory and three for
    // the watcher; a key in a later piece is read at that piece's columns.
    std::string line(600, 'x');
    line.replace(511, 8, "iSerial ");
    line.replace(511 + 28, 4, "SER1");
    const std::string text = "\n  idVendor           0x1234 Acme\n" + line + "\n  Mass Storage\n";
    std::vector<UsbBlock> blocks = parseUsbBlocks(text, inventoryReadLimits);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].rawName.substr(blocks[1].rawName.rfind('#') + 1, 4), "SER1");
    // The watcher keeps at most 5999 characters of a block: a keyword after
    // that is not seen.
    const std::string big = "\n" + std::string(6100, 'y') + "\n  Keyboard\n";
    blocks = parseUsbBlocks(big, watcherReadLimits);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].text.size(), 5999u);
    EXPECT_FALSE(blocks[1].contains("Keyboard"));
    EXPECT_TRUE(parseUsbBlocks(big, inventoryReadLimits)[1].contains("Keyboard"));
}

TEST(HwdEvents, HeaderDispatch)
{
    struct Case {
        const char *header;
        const char *type;   // null: ignored
        long event;
    } cases[] = {
        {"add@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/scsi_disk/2:0:0:0",
         "u-disk", HWD_EVENT_ARRIVAL},
        {"remove@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/scsi_disk/2:0:0:0",
         "u-disk", HWD_EVENT_REMOVAL},
        {"add@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0001/input/input5/input5::capslock",
         "keyboard", HWD_EVENT_ARRIVAL},
        {"remove@/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:045E:0040.0002/input/input6/mouse0",
         "mouse", HWD_EVENT_REMOVAL},
        // A Caps Lock LED under a mouse's path is a keyboard event: scsi_disk,
        // capslock and mouse are tested in that order.
        {"add@/devices/virtual/mouse/input9/input9::capslock", "keyboard", HWD_EVENT_ARRIVAL},
        {"bind@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/scsi_disk/2:0:0:0",
         nullptr, 0},
        {"change@/devices/virtual/input/input6/mouse0", nullptr, 0},
        {"add@/devices/pci0000:00/0000:00:1c.0/0000:02:00.0/net/eth1", nullptr, 0},
        {"add@/devices/pci0000:00/0000:00:14.0/usb1/1-1", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const Case &c : cases) {
        const HwdEvent e = classifyUevent(c.header);
        if (!c.type) {
            EXPECT_EQ(e.kind, nullptr) << c.header;
            continue;
        }
        ASSERT_NE(e.kind, nullptr) << c.header;
        EXPECT_STREQ(e.kind->type, c.type) << c.header;
        EXPECT_EQ(e.event, c.event) << c.header;
    }
}

std::vector<long> indexes(hwdInfo &info, int &overflow, int count)
{
    std::vector<long> out;
    for (int i = 0; i < count; i++)
        out.push_back(hwdNextRowIndex(info, overflow));
    return out;
}

TEST(HwdEvents, RowNumbering)
{
    hwdInfo info = {1, 3, 0};
    int overflow = 0;
    EXPECT_EQ(indexes(info, overflow, 7), (std::vector<long>{1, 2, 3, 1, 2, 3, 1}));
    EXPECT_EQ(info.number, 3);

    info = {1, 2, 0};
    overflow = 0;
    EXPECT_EQ(indexes(info, overflow, 6), (std::vector<long>{1, 2, 1, 2, 1, 2}));

    // Without a limit the indexes run on.
    info = {1, 0, 0};
    overflow = 0;
    EXPECT_EQ(indexes(info, overflow, 5), (std::vector<long>{1, 2, 3, 4, 5}));
    EXPECT_EQ(info.number, 0);
    // A limit set afterwards numbers 1..3 again and then cycles through them,
    // instead of going on past the old indexes for ever.
    info.maxTableRow = 3;
    EXPECT_EQ(indexes(info, overflow, 6), (std::vector<long>{1, 2, 3, 1, 2, 3}));

    // Raised: numbering goes on from number + 1; lowered: the overflow
    // indexes keep cycling through 1 .. number.
    info = {1, 3, 0};
    overflow = 0;
    indexes(info, overflow, 4);   // 1 2 3 1
    info.maxTableRow = 5;
    EXPECT_EQ(indexes(info, overflow, 5), (std::vector<long>{4, 5, 2, 3, 4}));
    info.maxTableRow = 2;
    EXPECT_EQ(indexes(info, overflow, 3), (std::vector<long>{5, 1, 2}));
    EXPECT_EQ(info.number, 5);
}

// The watcher against listings handed out in turn; the last one repeats.
class Watcher : public ::testing::Test {
protected:
    static inline std::deque<std::string> listings;
    static inline int runs = 0;
    static inline std::vector<std::vector<std::string>> sent;   // each notification, as text
    static inline std::string failure;   // why the listings fail; empty: they are whole

    static UsbListing list()
    {
        runs++;
        UsbListing out{listings.front(), {}};
        if (!failure.empty())
            out.reading.fail(failure);
        if (listings.size() > 1)
            listings.pop_front();
        return out;
    }

    // The hot-plug notifications; the group table's own (106) are left out.
    static void collect(netsnmp_variable_list *vars)
    {
        const size_t n = vars->val_len / sizeof(oid);
        if (vars->type == ASN_OBJECT_ID && n && vars->val.objid[n - 1] == 106)
            return;
        std::vector<std::string> one;
        for (netsnmp_variable_list *v = vars; v; v = v->next_variable) {
            char buf[512];
            snprint_variable(buf, sizeof buf, v->name, v->name_length, v);
            one.push_back(buf);
        }
        sent.push_back(one);
    }

    void SetUp() override
    {
        saved = hwdWatcherIo;
        hwdWatcherIo = {list, [](unsigned) {}};
        listings.clear();
        runs = 0;
        sent.clear();
        failure.clear();
        Global_hwdInfoVal = {1, 100, 0};
        hwd_overflow_index = 0;
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_QUICK_PRINT, 1);
    }

    void TearDown() override
    {
        hwdWatcherIo = saved;
        while (Global_hwdTable_head)
            hwdTable_removeEntry(Global_hwdTable_head);
        freeKnown(&Global_hwList.list);
        deliverQueuedNotifications([](netsnmp_variable_list *) {});
    }

    void startWith(std::initializer_list<const char *> devices) { recordUsbInventory(&Global_hwList.list, listing(devices)); }

    // The listing the watcher sees from now on.
    void nowListing(std::initializer_list<const char *> devices) { listings = {listing(devices)}; }

    void handle(const char *header)
    {
        hwd_handler(header);
        deliverQueuedNotifications(collect);
    }

    struct Row {
        long index, deviceType;
        std::string guid, name, friendly;
        long event;
    };
    static std::vector<Row> rows()   // in index order
    {
        std::vector<Row> out;
        for (const hwdTable_entry *r = Global_hwdTable_head; r; r = r->next)
            out.push_back({r->index, r->deviceType, r->classGUID, r->name, r->friendlyName, r->event});
        std::sort(out.begin(), out.end(), [](const Row &a, const Row &b) { return a.index < b.index; });
        return out;
    }

    HwdWatcherIo saved;
};

const char USB_GUID[] = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
const char DISK_GUID[] = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";
const char HID_GUID[] = "{4D1E55B2-F16F-11CF-88CB-001111000030}";
const char STORAGE_ADD[] = "add@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/"
                           "scsi_disk/2:0:0:0";
const char STORAGE_REMOVE[] = "remove@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/"
                              "2:0:0:0/scsi_disk/2:0:0:0";
const char KEYBOARD_REMOVE[] = "remove@/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:046D:C31C.0001/"
                               "input/input5/input5::capslock";
const char MOUSE_ADD[] = "add@/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/0003:046D:C52B.0003/input/"
                         "input7/mouse1";

TEST_F(Watcher, StickArrivalAmongKnownSticks)
{
    startWith({"root_hub_2", "stick_a", "stick_b"});
    // The new stick is listed between the known ones.
    nowListing({"root_hub_2", "stick_a", "stick_c", "stick_b"});
    handle(STORAGE_ADD);

    const std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].index, 1);
    EXPECT_EQ(r[0].deviceType, HWD_TYPE_USB);
    EXPECT_EQ(r[0].guid, USB_GUID);
    EXPECT_EQ(r[0].friendly, "USB Mass Storage Device");
    EXPECT_EQ(r[1].index, 2);
    EXPECT_EQ(r[1].deviceType, HWD_TYPE_DISK);
    EXPECT_EQ(r[1].guid, DISK_GUID);
    EXPECT_EQ(r[1].friendly, "SanDisk Cruzer Blade");
    for (const Row &row : r) {
        EXPECT_EQ(row.name, STICK_C);
        EXPECT_EQ(row.event, HWD_EVENT_ARRIVAL);
    }
    EXPECT_EQ(Global_hwdInfoVal.number, 2);

    // Known from now on, at the head of the list.
    EXPECT_EQ(knownDevices(&Global_hwList.list).front().rawName, STICK_C);
    // One settled listing and the one that is read.
    EXPECT_EQ(runs, 2);

    ASSERT_EQ(sent.size(), 2u);
    const std::string trapOid = "1.3.6.1.4.1.42424.200.10.0.5";
    for (size_t i = 0; i < 2; i++) {
        ASSERT_EQ(sent[i].size(), 4u);
        EXPECT_NE(sent[i][0].find(trapOid), std::string::npos) << sent[i][0];
        EXPECT_NE(sent[i][1].find("42424.200.3.6.4.1.3 "), std::string::npos) << sent[i][1];
        EXPECT_NE(sent[i][2].find("42424.200.3.6.4.1.7 1"), std::string::npos) << sent[i][2];
        EXPECT_NE(sent[i][3].find("42424.200.3.6.4.1.6 "), std::string::npos) << sent[i][3];
    }
    EXPECT_NE(sent[0][3].find("\"USB Mass Storage Device\""), std::string::npos) << sent[0][3];
    EXPECT_NE(sent[1][3].find("\"SanDisk Cruzer Blade\""), std::string::npos) << sent[1][3];
}

TEST_F(Watcher, LongFriendlyNameIsCutInTheNotificationOnly)
{
    startWith({"root_hub_2"});
    nowListing({"root_hub_2", "stick_long"});
    handle(STORAGE_ADD);
    const std::string full = "Longsys Industrial Storage Division Ltd Industrial Wide-Tem";
    ASSERT_EQ(full.size(), 59u);
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[1].friendly, full);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_NE(sent[1][3].find("\"" + full.substr(0, 40) + "\""), std::string::npos) << sent[1][3];
}

TEST_F(Watcher, MouseArrivalOfAComboAndNoBlockOfTheKind)
{
    startWith({"root_hub_2", "keyboard_a"});
    nowListing({"root_hub_2", "keyboard_a", "combo"});
    handle(MOUSE_ADD);
    std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].friendly, "USB Input Device");
    EXPECT_EQ(r[1].deviceType, HWD_TYPE_HID);
    EXPECT_EQ(r[1].guid, HID_GUID);
    EXPECT_EQ(r[1].friendly, "HID-compliant mouse");
    EXPECT_EQ(r[1].name, COMBO);
    EXPECT_EQ(knownDevices(&Global_hwList.list).front().type, "mouse");

    // A mouse event while no mouse is listed: a device without a name.
    nowListing({"root_hub_2", "keyboard_a"});
    handle(MOUSE_ADD);
    r = rows();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[2].name, "");
    EXPECT_EQ(r[3].name, "");
}

TEST_F(Watcher, RemovalReportsEveryDeviceGone)
{
    startWith({"root_hub_2", "keyboard_a", "keyboard_b", "mouse_a"});
    nowListing({"root_hub_2", "mouse_a"});
    handle(KEYBOARD_REMOVE);
    std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 4u);
    // Newest known first: keyboard_b, then keyboard_a.
    const long types[] = {HWD_TYPE_USB, HWD_TYPE_HID, HWD_TYPE_USB, HWD_TYPE_HID};
    const char *names[] = {KEYBOARD_B, KEYBOARD_B, KEYBOARD_A, KEYBOARD_A};
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(r[i].deviceType, types[i]);
        EXPECT_EQ(r[i].name, names[i]);
        EXPECT_EQ(r[i].event, HWD_EVENT_REMOVAL);
    }
    EXPECT_EQ(r[0].friendly, "USB Composite Device");
    EXPECT_EQ(r[1].friendly, "HID Keyboard Device");
    EXPECT_EQ(sent.size(), 4u);

    // The second keyboard's own event finds nothing left to report; the
    // mouse is still known, with its flag back at 0.
    handle(KEYBOARD_REMOVE);
    EXPECT_EQ(rows().size(), 4u);
    const std::vector<Known> known = knownDevices(&Global_hwList.list);
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].type, "mouse");
    EXPECT_EQ(list_entry(Global_hwList.list.next, hwInfo, list)->existFlag, 0);
}

TEST_F(Watcher, RemovalIsJudgedOnlyFromAWholeListing)
{
    // lsusb fails (or times out) at a stick's removal: an empty listing
    // must not make both known sticks look removed.
    startWith({"root_hub_2", "stick_a", "stick_b"});
    nowListing({});
    failure = "lsusb -v: no answer in 5 s";
    handle(STORAGE_REMOVE);
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(knownDevices(&Global_hwList.list).size(), 2u);

    // The next event whose listing is whole, a mouse arriving, reports the
    // stick that went meanwhile first, and only that one.
    failure.clear();
    nowListing({"root_hub_2", "stick_a", "mouse_a"});
    handle(MOUSE_ADD);
    const std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].name, STICK_B);
    EXPECT_EQ(r[1].event, HWD_EVENT_REMOVAL);
    EXPECT_EQ(r[2].event, HWD_EVENT_ARRIVAL);
    EXPECT_EQ(r[3].friendly, "HID-compliant mouse");
    EXPECT_EQ(sent.size(), 4u);
    EXPECT_EQ(knownDevices(&Global_hwList.list).size(), 2u);   // stick_a and the mouse
}

TEST_F(Watcher, StickRemovalCarriesTheStoredFriendlyName)
{
    startWith({"stick_a", "stick_b"});
    nowListing({"stick_a"});
    handle(STORAGE_REMOVE);
    const std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, STICK_B);
    EXPECT_EQ(r[1].friendly, "Kingston DataTraveler 3.0");
    EXPECT_EQ(r[1].event, HWD_EVENT_REMOVAL);
}

TEST_F(Watcher, SwitchOffAndTableLimit)
{
    Global_hwdInfoVal.trapEnable = 2;
    Global_hwdInfoVal.maxTableRow = 2;
    startWith({});
    nowListing({"stick_a"});
    handle(STORAGE_ADD);
    nowListing({"stick_a", "stick_b"});
    handle(STORAGE_ADD);
    EXPECT_TRUE(sent.empty());
    // The second pair took the first pair's indexes.
    const std::vector<Row> r = rows();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].name, STICK_B);
    EXPECT_EQ(r[1].name, STICK_B);
    EXPECT_EQ(Global_hwdInfoVal.number, 2);
}

TEST_F(Watcher, WaitsForASettledListingButNotForEver)
{
    startWith({});
    // Three listings with an error line, then a good one, then the one read.
    const std::string settling = listing({"stick_a"}) + "can't get device qualifier: error\n";
    listings = {settling, settling, settling, listing({"stick_a"})};
    handle(STORAGE_ADD);
    EXPECT_EQ(runs, 5);
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(rows()[0].name, STICK_A);

    // A device that always reports an error: the watcher goes on after its
    // tries with the listing as it is.
    listings = {settling};
    runs = 0;
    handle(STORAGE_ADD);
    EXPECT_EQ(runs, HWD_SETTLE_TRIES + 1);
    EXPECT_EQ(rows().size(), 4u);

    // Other devices and other actions cost no listing at all.
    runs = 0;
    handle("add@/devices/pci0000:00/0000:00:1c.0/0000:02:00.0/net/eth1");
    handle("bind@/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/scsi_disk/2:0:0:0");
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(rows().size(), 4u);
}

} // namespace
