/* SPDX-License-Identifier: BSD-3-Clause */
// The wireless probe: the Wi-Fi and mobile broadband refreshes, built from
// NetworkManager's nmcli, the modems' AT commands (through modem-cmd) and the
// NetworkManager connection files, with the string utilities both share.
//
// A refresh runs its commands with time limits and no semaphore held, then
// applies what they printed to the group's rows and counters under the
// group's semaphore, so that a modem or an nmcli that does not answer holds
// only its own polling thread, never the group's requests. The element lists
// (wlanInfo, mobileInfo and the entry lists) belong to the polling thread.
#pragma once

#include "lib/command.h"
#include "lib/list.h"
#include "groups/mobile/mobileObjTable.h"
#include "groups/wlan/wlanObjTable.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

// -- string utilities ---------------------------------------------------------
// Each works in place on a NUL-terminated text, keeps the order of the
// characters it leaves, never writes past the text's terminator, and returns
// the text (null stays null).

int isNumber(char c);          // 1 for '0'..'9', else 0
char *delSpace(char *str);     // removes every blank
char *delSubtract(char *str);  // removes every '-'
char *delAdd(char *str);       // removes every '+'
char *delEnter(char *str);     // removes every newline
char *delQuotes(char *str);    // removes every double quote
char *delReturn(char *str);    // removes every carriage return
// Adds the number of occurrences of c in s to charCount and returns it;
// callers set charCount to 0 first. Used by the mobile thread only.
extern int charCount;
int judgeChar(const char *s, char c);

// -- what the commands print -----------------------------------------------------

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

// What one device's block of "nmcli dev show" leaves: the connection, IPv4
// address (prefix length dropped) and gateway texts, newlines removed. The
// texts carry over from block to block: a block without one of the keys has
// the value an earlier block of the same output gave.
struct devShowValues {
    std::string connection;
    std::string address;
    std::string gateway;
};
// Device name (the GENERAL.DEVICE value) -> its block's values. A block ends
// at a blank line or at the end of the output; a device named twice takes
// its last block. Pure.
std::map<std::string, devShowValues> parseDevShow(std::string_view text);

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

// The first line of a modem-cmd output, with its newline, as a 1024-byte
// line buffer reads it.
std::string firstLine(std::string_view output);
// The answer rules, each on a first line with its newline. Pure.
std::string csqSignal(std::string_view line);     // "+CSQ: 18,99" -> "18"
std::string copsOperator(std::string_view line);  // the quoted operator name
std::string cgsnImei(std::string_view line);      // the IMEI, or "" unless a digit starts the line
std::string cnumNumber(std::string_view line);    // the number, or "" unless 4 double quotes
// The access point name a connection file gives: the text after "apn=" on
// the last line that begins with it, newline excluded; false when none does.
bool connectionApn(std::string_view fileText, std::string &apn);

// -- the refreshes -------------------------------------------------------------------

// How the refreshes run their commands; the tests replace it.
extern CommandResult (*wirelessRunCommand)(const char *command, double timeoutSeconds);
// Where NetworkManager keeps its connection files; the tests point it elsewhere.
extern std::string nmConnectionDirectory;

// A connection file's text, read directly (no shell): refused (false) for an
// empty name, a name with '/' or one starting with '.', and for anything but
// a regular file. The name's surrounding blanks and newlines do not count.
bool readConnectionFile(std::string_view name, std::string &text);

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

// The polling threads' lists, in the order the refreshes build them.
extern list_head Global_wlanInfoList;
extern list_head Global_wlanEntryList;
extern list_head Global_mobileInfoList;
extern list_head Global_mobileEntryList;
// Rows after the last refresh and whether a refresh has finished; guarded by
// sem_wlan_id and sem_mobile_id.
extern int Global_wlanCounter;
extern int Global_entryWlanFlag;
extern int Global_mobileCounter;
extern int Global_entryMobileFlag;

// One Wi-Fi refresh: the listing and, when it shows an active connection,
// "nmcli dev show"; then the interface list and the table reconciled with
// them under sem_wlan_id. A listing that does not end within its time limit
// leaves everything as it was (0); 1 otherwise.
int getWlanInfo();
// One mobile broadband refresh: the modem listing, "nmcli dev show", the
// connection file and the AT commands of each modem; then the table under
// sem_mobile_id. A listing that does not end within its time limit leaves
// everything as it was (0); 1 otherwise.
int getMobileInfo();

// The polling threads' cycles: nmcli (and for modems the AT commands) run
// first; each takes its group's semaphore only to apply what they printed,
// so that a modem that does not answer holds its thread, not the requests.
void wlanInfoCycle();
void mobileInfoCycle();
