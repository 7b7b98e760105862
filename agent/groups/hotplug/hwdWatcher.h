/* SPDX-License-Identifier: BSD-3-Clause */
// The hot-plug watcher: kernel device events (uevents) of USB mass-storage
// devices, keyboards and mice, turned into known-device list updates, pairs
// of hardware-detect rows and notifications.
#pragma once

#include "groups/hotplug/hwdInfoFrame.h"
#include "groups/hotplug/hwdProbe.h"

#include <string>

// One kind of device event: the header text that names it, the keyword of
// its devices' lsusb blocks, the type it has in the known-device list, and
// the two rows every arrival or removal of such a device gets.
struct HwdKind {
    const char *header;          // "scsi_disk", "capslock", "mouse"
    const char *keyword;         // "Mass Storage", "Keyboard", "Mouse"
    const char *type;            // "u-disk", "keyboard", "mouse"
    long firstType;
    const char *firstGuid;
    const char *firstFriendly;
    long secondType;
    const char *secondGuid;
    const char *secondFriendly;  // null: the device's own friendly name
};

// What a message header asks for: a kind and an event code, or nothing
// (kind null) for every other device or action.
struct HwdEvent {
    const HwdKind *kind = nullptr;
    long event = 0;
};
HwdEvent classifyUevent(const char *header);

// The index the next row gets, moving the numbering state on: rows are
// numbered 1, 2 ... until `number` reaches `maxTableRow`, then the overflow
// index cycles through 1 ... number. With maxTableRow 0 the overflow index
// runs on without limit. The caller holds sem_hwd_id.
long hwdNextRowIndex(hwdInfo &info, int &overflowIndex);

// The overflow index of the numbering; guarded by sem_hwd_id.
extern int hwd_overflow_index;

// How the watcher reaches the outside world; the tests replace both.
struct HwdWatcherIo {
    UsbListing (*listDevices)();         // one "lsusb -v" listing
    void (*pause)(unsigned microseconds);
};
extern HwdWatcherIo hwdWatcherIo;

// How many listings the watcher waits for one without "error" in it, 200 ms
// apart, before it goes on with the device list as it is.
constexpr int HWD_SETTLE_TRIES = 50;

// Handles one received message (its first string is the header "action@path").
// Its listing's outcome is a reading of the hot-plug group. A removal is
// judged only from a listing read whole: from one that failed, timed out or
// listed no device nothing is reported and the known devices stay; the
// removal is judged at the next event whose listing is whole.
void hwd_handler(const char *buf);

// The kernel event socket: NETLINK_KOBJECT_UEVENT bound to the kernel's
// broadcast group, or -1.
int openUeventSocket();

// The group's thread: waits for kernel device events on a uevent socket
// (tried again every minute while it cannot be opened) and handles each.
void *hwdInfoThread(void *arg);
