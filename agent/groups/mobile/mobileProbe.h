/* SPDX-License-Identifier: BSD-3-Clause */
// The mobile broadband probe: the modems from nmcli's device status listing,
// "nmcli dev show", the NetworkManager connection files and the modems' AT
// commands (through modem-cmd).
//
// A refresh runs its commands with time limits and no semaphore held, then
// applies what they printed to the rows and counters under sem_mobile_id, so
// that a modem or an nmcli that does not answer holds only the polling
// thread, never the group's requests. The element lists (mobileInfo and the
// entry list) belong to the polling thread.
#pragma once

#include "groups/mobile/mobileObjTable.h"
#include "groups/wireless/nmcli.h"
#include "lib/list.h"

#include <string>
#include <string_view>
#include <vector>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int MOBILE_HEALTH_ROW = 13;

// One modem line of "nmcli -f DEVICE,TYPE,STATE,CON-UUID,CONNECTION dev
// status": a gsm or cdma device in state connected, disconnected or
// unavailable.
struct modemListLine {
    std::string device;       // blanks removed, at most 19 characters
    std::string state;        // blanks removed, at most 39
    std::string connection;   // from its column to the end of the line, as printed
};
// The modem lines in order (a line's position is its index); the first line
// is the header, and without its DEVICE, TYPE, STATE, CON-UUID and CONNECTION
// there are none. Pure.
std::vector<modemListLine> parseModemListing(std::string_view text);

// The answer rules, each on a first line (firstLine) with its newline. Pure.
std::string csqSignal(std::string_view line);     // "+CSQ: 18,99" -> "18"
std::string copsOperator(std::string_view line);  // the quoted operator name
std::string cgsnImei(std::string_view line);      // the IMEI, or "" unless a digit starts the line
std::string cnumNumber(std::string_view line);    // the number, or "" unless 4 double quotes
// The access point name a connection file gives: the text after "apn=" on
// the last line that begins with it, newline excluded; false when none does.
bool connectionApn(std::string_view fileText, std::string &apn);

// Where NetworkManager keeps its connection files; the tests point it elsewhere.
extern std::string nmConnectionDirectory;

// A connection file's text, read directly (no shell): refused (false) for an
// empty name, a name with '/' or one starting with '.', and for anything but
// a regular file. The name's surrounding blanks and newlines do not count.
bool readConnectionFile(std::string_view name, std::string &text);

// One modem listed at the first refresh.
struct __mobile {
    int index;             // position of its line in the latest listing, from 1
    char devFd[20];        // AT command port: second node of the matching pair
    char baseDevFd[20];    // "/dev/" and the device name
    char device[20];
    char state[40];        // "connected", "disconnected", "unavailable"
    char uuid[40];         // not kept
    char mobileName[40];   // active connection, empty when there is none
    char apn[20];
    char msisdn[20];
    char imei[20];
    char signal[10];       // first value of AT+CSQ
    char ipsName[40];      // operator name
    char ip[20];
    char gateway[20];
    int existFlag;         // not kept
    list_head list;
};
using mobileInfo = __mobile;

struct __mobileEntry_list {
    mobileObjTable_entry *entryIndex;
    list_head list;
};
using mobileEntryList = __mobileEntry_list;

// The polling thread's lists, in the order the refreshes build them.
extern list_head Global_mobileInfoList;
extern list_head Global_mobileEntryList;
// Rows after the last refresh and whether a refresh has finished; guarded by
// sem_mobile_id.
extern int Global_mobileCounter;
extern int Global_entryMobileFlag;

// One mobile broadband refresh: the modem listing, "nmcli dev show", the
// connection file and the AT commands of each modem; then the table under
// sem_mobile_id. A listing that does not end within its time limit leaves
// everything as it was (0); 1 otherwise.
int getMobileInfo();

// The polling thread's cycle: nmcli and the AT commands run first; the
// group's semaphore is taken only to apply what they printed, so that a
// modem that does not answer holds the thread, not the requests.
void mobileInfoCycle();
