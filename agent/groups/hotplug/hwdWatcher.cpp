// SPDX-License-Identifier: BSD-3-Clause
// The hot-plug watcher's handling of one kernel device event.
#include "groups/hotplug/hwdWatcher.h"

#include "lib/dateAndTime.h"
#include "lib/fieldCopy.h"
#include "groups/hotplug/hwdObj.h"
#include "groups/hotplug/hwdTrap.h"
#include "groups/hotplug/hwdProbe.h"
#include "semaphore.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/netlink.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

int hwd_overflow_index = 0;

HwdWatcherIo hwdWatcherIo = {listUsbDevices, [](unsigned us) { usleep(us); }};

namespace {

const char USB_GUID[] = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
const char DISK_GUID[] = "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";
const char HID_GUID[] = "{4D1E55B2-F16F-11CF-88CB-001111000030}";

// In the order the header is tested: a USB disk announces its scsi_disk
// device, a keyboard the LED of its Caps Lock key, a mouse its mouse device.
const HwdKind hwdKinds[] = {
    {"scsi_disk", "Mass Storage", "u-disk", HWD_TYPE_USB, USB_GUID, "USB Mass Storage Device", HWD_TYPE_DISK,
     DISK_GUID, nullptr},
    {"capslock", "Keyboard", "keyboard", HWD_TYPE_USB, USB_GUID, "USB Composite Device", HWD_TYPE_HID, HID_GUID,
     "HID Keyboard Device"},
    {"mouse", "Mouse", "mouse", HWD_TYPE_USB, USB_GUID, "USB Input Device", HWD_TYPE_HID, HID_GUID,
     "HID-compliant mouse"},
};

constexpr unsigned SETTLE_PAUSE_US = 200000;

// Kinds with a removal event whose listing was not whole, each with the time
// of its first such event: judged at the next whole listing. Touched by the
// hot-plug thread alone.
std::vector<std::pair<const HwdKind *, std::array<u_char, DATE_AND_TIME_LEN>>> pendingRemovals;
constexpr int UEVENT_BUFFER_SIZE = 51200;

bool hasType(const hwInfo &device, const HwdKind &kind)
{
    return strstr(device.type, kind.type) != nullptr;
}

bool nameContains(const hwInfo &device, const std::string &name)
{
    return fieldText(device.rawName).find(name) != std::string_view::npos;
}

// Waits until a listing holds no "error" (a device still being set up),
// at most HWD_SETTLE_TRIES listings.
void waitSettledList()
{
    for (int tries = 0; tries < HWD_SETTLE_TRIES; tries++) {
        const bool settled = hwdWatcherIo.listDevices().output.find("error") == std::string::npos;
        hwdWatcherIo.pause(SETTLE_PAUSE_US);
        if (settled)
            return;
    }
}

// Numbers and writes one row, replacing the row that had its index, and
// queues its notification when the switch is on. sem_hwd_id is held.
void recordRow(long deviceType, const char *guid, const char *name, const char *friendly, long event,
               const u_char stamp[DATE_AND_TIME_LEN])
{
    const long index = hwdNextRowIndex(Global_hwdInfoVal, hwd_overflow_index);
    if (hwdTable_entry *old = hwdTable_findEntry(index))
        hwdTable_removeEntry(old);
    hwdTable_hwdCreateEntry(index, stamp, deviceType, guid, name, friendly, event);
    if (Global_hwdInfoVal.trapEnable == 1)
        send_hwd_notification(copyHwdNodeSnap(deviceType, event, friendly));
}

void recordPair(const HwdKind &kind, long event, const char *name, const char *ownFriendly,
                const u_char stamp[DATE_AND_TIME_LEN])
{
    recordRow(kind.firstType, kind.firstGuid, name, kind.firstFriendly, event, stamp);
    recordRow(kind.secondType, kind.secondGuid, name, kind.secondFriendly ? kind.secondFriendly : ownFriendly,
              event, stamp);
}

// The device that arrived is the first block of the kind whose name no known
// device of the kind has; when every block is known, the last block of the
// kind (or nothing, if the listing has none) stands for it.
void arrival(const HwdKind &kind, const std::vector<UsbBlock> &blocks, const u_char stamp[DATE_AND_TIME_LEN])
{
    std::string name, friendly;
    const bool ownFriendly = kind.secondFriendly == nullptr;
    for (const UsbBlock &block : blocks) {
        if (!block.contains(kind.keyword))
            continue;
        name = block.rawName;
        friendly = ownFriendly ? block.friendlyName : std::string();
        bool known = false;
        list_for_each(pos, &Global_hwList.list) {
            const hwInfo *device = list_entry(pos, hwInfo, list);
            if (hasType(*device, kind) && nameContains(*device, name)) {
                known = true;
                break;
            }
        }
        if (!known)
            break;
    }

    addKnownDevice(&Global_hwList.list, name, friendly, kind.type);
    SemHold hold(sem_hwd_id);
    recordPair(kind, HWD_EVENT_ARRIVAL, name.c_str(), friendly.c_str(), stamp);
}

// Every known device of the kind that no block of the listing names has gone:
// each gets its pair of rows and leaves the list.
void removal(const HwdKind &kind, const std::vector<UsbBlock> &blocks, const u_char stamp[DATE_AND_TIME_LEN])
{
    for (const UsbBlock &block : blocks) {
        if (!block.contains(kind.keyword))
            continue;
        list_for_each(pos, &Global_hwList.list) {
            hwInfo *device = list_entry(pos, hwInfo, list);
            if (nameContains(*device, block.rawName))
                device->existFlag = 1;
        }
    }

    for (list_head *pos = Global_hwList.list.next, *next = pos->next; pos != &Global_hwList.list;
         pos = next, next = pos->next) {
        hwInfo *device = list_entry(pos, hwInfo, list);
        if (device->existFlag || !hasType(*device, kind))
            continue;
        {
            SemHold hold(sem_hwd_id);
            recordPair(kind, HWD_EVENT_REMOVAL, device->rawName, device->friendlyName, stamp);
        }
        list_del(&device->list);
        free(device);
    }

    list_for_each(pos, &Global_hwList.list)
        list_entry(pos, hwInfo, list)->existFlag = 0;
}

} // namespace

HwdEvent classifyUevent(const char *header)
{
    HwdEvent e;
    for (const HwdKind &kind : hwdKinds) {
        if (!strstr(header, kind.header))
            continue;
        if (strstr(header, "add"))
            e = {&kind, HWD_EVENT_ARRIVAL};
        else if (strstr(header, "remove"))
            e = {&kind, HWD_EVENT_REMOVAL};
        return e;
    }
    return e;
}

long hwdNextRowIndex(hwdInfo &info, int &overflowIndex)
{
    if (info.maxTableRow > info.number)
        return ++info.number;
    // Past `number` the index can only be after numbering ran without a limit
    // (maxTableRow 0) and a limit was set since: start over at 1 as well.
    if (overflowIndex == info.number || (info.number > 0 && overflowIndex > info.number))
        overflowIndex = 0;
    return ++overflowIndex;
}

void hwd_handler(const char *buf)
{
    const HwdEvent e = classifyUevent(buf);
    if (!e.kind)
        return;

    u_char stamp[DATE_AND_TIME_LEN];
    dateAndTime(time(nullptr), stamp);
    waitSettledList();
    const UsbListing listing = hwdWatcherIo.listDevices();
    noteGroupReading(HOTPLUG_HEALTH_ROW, listing.reading);
    const std::vector<UsbBlock> blocks = parseUsbBlocks(listing.output, watcherReadLimits);

    if (!listing.reading.ok()) {
        // An empty or cut listing would make every known device of the kind
        // look removed: keep them, and judge when a listing can be trusted.
        if (e.event == HWD_EVENT_REMOVAL) {
            const bool known = std::any_of(pendingRemovals.begin(), pendingRemovals.end(),
                                           [&e](const auto &p) { return p.first == e.kind; });
            if (!known) {
                pendingRemovals.emplace_back(e.kind, std::array<u_char, DATE_AND_TIME_LEN>{});
                memcpy(pendingRemovals.back().second.data(), stamp, DATE_AND_TIME_LEN);
            }
            return;
        }
    } else {
        // Devices that went while the listing could not be read, first, at
        // the time of the event that could not be judged.
        for (const auto &[kind, when] : pendingRemovals)
            removal(*kind, blocks, when.data());
        pendingRemovals.clear();
    }
    if (e.event == HWD_EVENT_ARRIVAL)
        arrival(*e.kind, blocks, stamp);
    else
        removal(*e.kind, blocks, stamp);
}

int openUeventSocket()
{
    int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    int size = UEVENT_BUFFER_SIZE;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl addr = {};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = static_cast<__u32>(getpid());
    addr.nl_groups = 1;   // the kernel's own broadcasts
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        // The process id is taken as a port already (another netlink socket
        // of this process): let the kernel choose one.
        addr.nl_pid = 0;
        if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

namespace {
constexpr unsigned HWD_SOCKET_RETRY_SECONDS = 60;
}

void *hwdInfoThread(void *)
{
    sleep(1);
    int fd = -1;
    bool socketFailed = false;
    for (;;) {
        if (fd < 0) {
            fd = openUeventSocket();
            if (fd < 0) {
                // No socket (no netlink in this kernel, or no memory): the
                // group hears no device event. Try again later instead of
                // spinning on a failed select.
                GroupReading reading;
                reading.fail(std::string("uevent socket: ") + strerror(errno));
                noteGroupReading(HOTPLUG_HEALTH_ROW, reading);
                socketFailed = true;
                sleep(HWD_SOCKET_RETRY_SECONDS);
                continue;
            }
            if (socketFailed)
                noteGroupReading(HOTPLUG_HEALTH_ROW, GroupReading{});
            socketFailed = false;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval timeout = {3600, 0};
        const int ready = select(fd + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0 && errno != EINTR)
            sleep(1);
        if (ready <= 0 || !FD_ISSET(fd, &readable))
            continue;
        // Only the header, the message's first string, is looked at; the
        // last byte stays 0 so that it is always terminated.
        char buf[512] = {};
        if (recv(fd, buf, sizeof buf - 1, 0) < 2)
            continue;
        hwd_handler(buf);
    }
}
