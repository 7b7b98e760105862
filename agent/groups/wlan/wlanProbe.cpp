// SPDX-License-Identifier: BSD-3-Clause
// The Wi-Fi refresh: nmcli's Wi-Fi listing parsed as text, then the interface
// list and the table reconciled with it and with "nmcli dev show".
#include "groups/wlan/wlanProbe.h"

#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "semaphore.h"
#include "groups/wlan/wlanInfoFrame.h"

#include <arpa/inet.h>
#include <cstdlib>

using namespace wireless;

list_head Global_wlanInfoList = {&Global_wlanInfoList, &Global_wlanInfoList};
list_head Global_wlanEntryList = {&Global_wlanEntryList, &Global_wlanEntryList};
int Global_wlanCounter = 0;
int Global_entryWlanFlag = 0;

namespace {

// Only the active connections and the header (see DEV_SHOW for LC_ALL).
const char WIFI_LISTING[] = "LC_ALL=C nmcli -f DEVICE,ACTIVE,SSID,BSSID,MODE,SIGNAL,SECURITY dev wifi list"
                            "| grep 'yes\\|BSSID\\|ACTIVE'";

} // namespace

std::vector<wifiListLine> parseWifiListing(std::string_view text)
{
    enum { DEVICE, ACTIVE, SSID, BSSID, MODE, SIGNAL, SECURITY, COLUMNS };
    static const char *const words[COLUMNS] = {"DEVICE", "ACTIVE", "SSID", "BSSID", "MODE", "SIGNAL", "SECURITY"};
    std::vector<wifiListLine> lines;
    size_t col[COLUMNS];
    bool header = true, valid = false;
    forEachLine(text, [&](std::string_view line) {
        if (header) {
            header = false;
            valid = headerColumns(line, words, col);
            return;
        }
        // Only a connection the listing marks active; a visible network
        // whose name merely contains "yes" is not one.
        if (!valid || trimmed(columnText(line, col[ACTIVE], col[SSID], std::string_view::npos)) != "yes")
            return;
        wifiListLine l;
        l.device = without(columnText(line, col[DEVICE], col[ACTIVE], 19), " ");
        l.ssid = std::string(columnText(line, col[SSID], col[BSSID], 39));
        l.bssid = std::string(columnText(line, col[BSSID], col[MODE], 19));
        std::string_view modeOn = columnText(line, col[MODE], std::string_view::npos, std::string_view::npos);
        l.mode = contains(modeOn, "Infra") ? 0 : contains(modeOn, "Ad-Hoc") ? 1 : 2;
        l.signal = std::string(columnText(line, col[SIGNAL], col[SECURITY], 9));
        l.security = std::string(columnText(line, col[SECURITY], std::string_view::npos, 39));
        lines.push_back(std::move(l));
    });
    return lines;
}

// -- the refresh ----------------------------------------------------------------

namespace {

wlanInfo *findWlan(std::string_view device)
{
    return findByDevice<wlanInfo>(&Global_wlanInfoList, device);
}

void setWlanLine(wlanInfo &e, const wifiListLine &line, int index)
{
    e.index = index;
    setFieldText(e.device, line.device);
    setFieldText(e.ssid, line.ssid);
    setFieldText(e.bssid, line.bssid);
    setFieldText(e.signal, line.signal);
    setFieldText(e.security, line.security);
    e.mode = line.mode;
    e.existFlag = 1;
}

// A new interface at the end of the list; skipped when out of memory.
void appendWlan(const wifiListLine &line, int index)
{
    auto *e = static_cast<wlanInfo *>(calloc(1, sizeof(wlanInfo)));
    if (!e)
        return;
    e->mode = -1;
    setWlanLine(*e, line, index);
    list_add_tail(&e->list, &Global_wlanInfoList);
}

void fillWlanRow(wlanObjTable_entry &row, const wlanInfo &e)
{
    row.wlanIndex = e.index;
    setFieldText(row.wlanName, fieldText(e.name));
    setFieldText(row.wlanSSID, fieldText(e.ssid));
    setFieldText(row.wlanBSSID, fieldText(e.bssid));
    row.wlanMode = e.mode;
    row.wlanIPAddress = addressOf(e.ip);
    row.wlanGateway = addressOf(e.gateway);
    row.wlanSignalStrength = atoi(e.signal);
    setFieldText(row.wlanEncryption, fieldText(e.security));
    row.wlanState = 1;
}

// Remembers a new row in creation order; a row that cannot be remembered is
// taken away again, so that every row can be found when the table shrinks.
void rememberWlanRow(wlanObjTable_entry *row)
{
    if (!row)
        return;
    auto *entry = static_cast<wlanEntryList *>(calloc(1, sizeof(wlanEntryList)));
    if (!entry) {
        wlanObjTable_removeEntry(row);
        return;
    }
    entry->entryIndex = row;
    list_add_tail(&entry->list, &Global_wlanEntryList);
}

// Reconciles the interface list and the table with one listing and the
// device blocks of "nmcli dev show".
void applyWlanRefresh(const std::vector<wifiListLine> &lines, const std::map<std::string, devShowValues> &blocks)
{
    SemHold hold(sem_wlan_id);
    const bool first = !Global_entryWlanFlag;
    if (!first)
        list_for_each(pos, &Global_wlanInfoList) list_entry(pos, wlanInfo, list)->existFlag = 0;

    int index = 0;
    for (const wifiListLine &line : lines) {
        index++;
        // A known interface keeps its name and addresses until its block
        // is read below.
        if (wlanInfo *e = first ? nullptr : findWlan(line.device))
            setWlanLine(*e, line, index);
        else
            appendWlan(line, index);
    }

    list_for_each(pos, &Global_wlanInfoList)
    {
        wlanInfo *e = list_entry(pos, wlanInfo, list);
        auto block = blocks.find(std::string(fieldText(e->device)));
        if (block == blocks.end())
            continue;
        setFieldText(e->name, without(block->second.connection, "\n"));
        setFieldText(e->ip, without(block->second.address, "\n"));
        setFieldText(e->gateway, without(block->second.gateway, "\n"));
    }

    if (!first) {
        for (list_head *pos = Global_wlanInfoList.next; pos != &Global_wlanInfoList;) {
            wlanInfo *e = list_entry(pos, wlanInfo, list);
            pos = pos->next;
            if (!e->existFlag) {
                list_del(&e->list);
                free(e);
            }
        }
    }

    const int n = static_cast<int>(lines.size());
    const int p = Global_wlanCounter;
    if (!first) {
        // Rows for the new lines, or the oldest rows away for the lines gone;
        // all rows are rewritten below.
        for (int k = p + 1; k <= n; k++)
            rememberWlanRow(wlanObjTable_createEntry(k, "", "", "", -1, INADDR_NONE, INADDR_NONE, -1, "", -1));
        for (int k = n; k < p && !list_empty(&Global_wlanEntryList); k++) {
            wlanEntryList *oldest = list_entry(Global_wlanEntryList.next, wlanEntryList, list);
            wlanObjTable_removeEntry(oldest->entryIndex);
            list_del(&oldest->list);
            free(oldest);
        }
    }

    if (first) {
        list_for_each(pos, &Global_wlanInfoList)
        {
            const wlanInfo *e = list_entry(pos, wlanInfo, list);
            wlanObjTable_entry *row = wlanObjTable_createEntry(e->index, "", "", "", -1, 0, 0, -1, "", 1);
            if (row)
                fillWlanRow(*row, *e);
            rememberWlanRow(row);
        }
    } else {
        wlanObjTable_entry *row = Global_wlanTable_head;
        for (list_head *pos = Global_wlanInfoList.next; pos != &Global_wlanInfoList && row;
             pos = pos->next, row = row->next)
            fillWlanRow(*row, *list_entry(pos, wlanInfo, list));
    }

    Global_wlanCounter = n;
    Global_wlanNumber = n;
    Global_entryWlanFlag = 1;
}

} // namespace

int getWlanInfo()
{
    const CommandResult listing = runNmcli(WIFI_LISTING);
    GroupReading reading;
    noteNmcliRun(listing, WIFI_LISTING, reading);
    // A cut listing would drop interfaces that are there.
    if (listing.timedOut) {
        noteGroupReading(WLAN_HEALTH_ROW, reading);
        return 0;
    }
    const std::vector<wifiListLine> lines = parseWifiListing(listing.output);
    noteGroupReading(WLAN_HEALTH_ROW, reading);
    std::map<std::string, devShowValues> blocks;
    if (!lines.empty())
        blocks = parseDevShow(runNmcli(DEV_SHOW).output);
    applyWlanRefresh(lines, blocks);
    return 1;
}

void wlanInfoCycle()
{
    getWlanInfo();
}
