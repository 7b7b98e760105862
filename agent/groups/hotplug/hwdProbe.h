/* SPDX-License-Identifier: BSD-3-Clause */
// The known USB devices and the reading of "lsusb -v" output: the device
// blocks, the names built from their descriptor lines, and the inventory
// taken once at start-up. The hot-plug watcher reads the same blocks to work
// out which device came or went.
#pragma once

#include "lib/groupHealth.h"
#include "lib/list.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int HOTPLUG_HEALTH_ROW = 9;

struct __hwList_entry {
    char rawName[200];       // "USB#Vid_vvvv&Pid_pppp#manufacturer product#serial"
    char friendlyName[60];   // "manufacturer product", at most 59 characters
    char type[20];           // "u-disk", "mouse" or "keyboard"
    int existFlag;           // 1 while the watcher finds the device still listed
    list_head list;
};
using hwInfo = __hwList_entry;

// The known-device list, newest first; only `list` of the head is used.
// Filled at start-up, then touched by the hot-plug thread alone.
extern hwInfo Global_hwList;

// One device block of "lsusb -v" output. The descriptor values are carried
// over from block to block until a line of the same key replaces them, so a
// block's names are built from the latest value of each key.
struct UsbBlock {
    std::string rawName;        // "USB#Vid_" vid "&Pid_" pid "#" manufacturer " " product "#" serial
    std::string friendlyName;   // manufacturer " " product, cut to 59 characters
    std::string text;           // the block's lines, up to the reader's capacity

    bool contains(const char *keyword) const { return text.find(keyword) != std::string::npos; }
};

// How much of the output a reader keeps: lines are read in pieces of at most
// linePiece characters, and a block keeps at most blockText characters.
struct UsbReadLimits {
    std::size_t linePiece;
    std::size_t blockText;
};
constexpr UsbReadLimits inventoryReadLimits = {511, 53999};
constexpr UsbReadLimits watcherReadLimits = {299, 5999};

// Splits "lsusb -v" output into device blocks. A blank line ends a block, and
// so does the end of the output (lsusb puts the blank line before each
// device, so the last device is followed by none). Pure.
std::vector<UsbBlock> parseUsbBlocks(std::string_view output, const UsbReadLimits &limits);

// The type an inventory records a block as: "u-disk" for a block naming Mass
// Storage (whatever else it names), else "mouse", else "keyboard"; null for
// other devices (hubs, cameras ...).
const char *usbInventoryType(const UsbBlock &block);

// A new known device at the head of the list; null when out of memory.
hwInfo *addKnownDevice(list_head *list, std::string_view rawName, std::string_view friendlyName,
                       const char *type);

// Records every mouse, keyboard and mass-storage block of one listing in
// `list` (initialised empty first). The list ends up in the reverse order of
// the listing.
void recordUsbInventory(list_head *list, std::string_view output);

// One "lsusb -v" listing: its output, and whether it was read whole.
struct UsbListing {
    std::string output;     // empty when lsusb could not be started or did not end in time
    GroupReading reading;   // ok when lsusb ended with status 0 and listed a device
};

// Whether the text lists at least one device (a device descriptor): a
// board always has its root hubs, so a listing without one was cut short.
bool listsUsbDevice(std::string_view output);

// Runs "lsusb -v" with a time limit ("Erro to popen" on standard error when
// it cannot be started).
UsbListing listUsbDevices();

// The start-up inventory of attached devices into Global_hwList; the
// listing's outcome is the hot-plug group's first reading.
void getHwInfo();
