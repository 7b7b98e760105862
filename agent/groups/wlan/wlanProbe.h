/* SPDX-License-Identifier: BSD-3-Clause */
// The Wi-Fi probe: the interfaces with an active connection, from nmcli's
// Wi-Fi listing and "nmcli dev show".
//
// A refresh runs its commands with time limits and no semaphore held, then
// applies what they printed to the rows and counters under sem_wlan_id, so
// that an nmcli that does not answer holds only the polling thread, never the
// group's requests. The element lists (wlanInfo and the entry list) belong to
// the polling thread.
#pragma once

#include "groups/wireless/nmcli.h"
#include "groups/wlan/wlanObjTable.h"
#include "lib/list.h"

#include <string>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int WLAN_HEALTH_ROW = 12;

// One active connection of the Wi-Fi listing (the columns of its header):
// device without blanks; SSID, BSSID and signal columns with their filler
// blanks, cut to their fields; security to the end of the line.
struct wifiListLine {
    std::string device;     // at most 19 characters
    std::string ssid;       // at most 39
    std::string bssid;      // at most 19
    int mode;               // 0 Infra, 1 Ad-Hoc, 2 anything else
    std::string signal;     // at most 9
    std::string security;   // at most 39
};
// The lines of "nmcli -f DEVICE,ACTIVE,SSID,BSSID,MODE,SIGNAL,SECURITY dev
// wifi list" whose ACTIVE column reads yes, in order (a line's position is
// its index). The first line is the header; without all seven words in that
// order there are none. Pure.
std::vector<wifiListLine> parseWifiListing(std::string_view text);

// One Wi-Fi interface with an active connection.
struct __wlan {
    int index;             // position of its line in the latest listing, from 1
    char device[20];
    char name[40];         // connection name
    char ssid[40];
    char bssid[20];
    int mode;              // 0 infrastructure, 1 ad hoc, 2 other; -1 not yet parsed
    char signal[10];
    char security[40];
    char ip[20];
    char gateway[20];
    int existFlag;         // listed in the current refresh
    list_head list;
};
using wlanInfo = __wlan;

// Every Wi-Fi table row, in creation order, so that surplus rows can be found.
struct __wlanEntry_list {
    wlanObjTable_entry *entryIndex;
    list_head list;
};
using wlanEntryList = __wlanEntry_list;

// The polling thread's lists, in the order the refreshes build them.
extern list_head Global_wlanInfoList;
extern list_head Global_wlanEntryList;
// Rows after the last refresh and whether a refresh has finished; guarded by
// sem_wlan_id.
extern int Global_wlanCounter;
extern int Global_entryWlanFlag;

// One Wi-Fi refresh: the listing and, when it shows an active connection,
// "nmcli dev show"; then the interface list and the table reconciled with
// them under sem_wlan_id. A listing that does not end within its time limit
// leaves everything as it was (0); 1 otherwise.
int getWlanInfo();

// The polling thread's cycle: nmcli runs first; the group's semaphore is
// taken only to apply what it printed.
void wlanInfoCycle();
