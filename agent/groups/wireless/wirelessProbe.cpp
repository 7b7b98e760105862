// SPDX-License-Identifier: BSD-3-Clause
// The Wi-Fi and mobile broadband refreshes: nmcli listings, modem AT answers
// and connection files parsed as text, then the element lists and the tables
// reconciled with them.
#include "groups/wireless/wirelessProbe.h"

#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "semaphore.h"
#include "startup.h"
#include "groups/mobile/mobileInfoFrame.h"
#include "groups/wlan/wlanInfoFrame.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CommandResult (*wirelessRunCommand)(const char *, double) = [](const char *command, double timeout) {
    return runCommand(command, timeout);
};
std::string nmConnectionDirectory = "/etc/NetworkManager/system-connections";

list_head Global_wlanInfoList = {&Global_wlanInfoList, &Global_wlanInfoList};
list_head Global_wlanEntryList = {&Global_wlanEntryList, &Global_wlanEntryList};
list_head Global_mobileInfoList = {&Global_mobileInfoList, &Global_mobileInfoList};
list_head Global_mobileEntryList = {&Global_mobileEntryList, &Global_mobileEntryList};
int Global_wlanCounter = 0;
int Global_entryWlanFlag = 0;
int Global_mobileCounter = 0;
int Global_entryMobileFlag = 0;
int charCount = 0;

// -- string utilities ------------------------------------------------------------------

namespace {

// Removes every occurrence of c, moving the rest down: the text only
// shortens, so nothing is written past its terminator.
char *removeChar(char *str, char c)
{
    if (!str)
        return nullptr;
    char *to = str;
    for (const char *from = str; *from; from++)
        if (*from != c)
            *to++ = *from;
    *to = '\0';
    return str;
}

} // namespace

int isNumber(char c)
{
    return c >= '0' && c <= '9' ? 1 : 0;
}

char *delSpace(char *str)
{
    return removeChar(str, ' ');
}

char *delSubtract(char *str)
{
    return removeChar(str, '-');
}

char *delAdd(char *str)
{
    return removeChar(str, '+');
}

char *delEnter(char *str)
{
    return removeChar(str, '\n');
}

char *delQuotes(char *str)
{
    return removeChar(str, '"');
}

char *delReturn(char *str)
{
    return removeChar(str, '\r');
}

int judgeChar(const char *s, char c)
{
    for (; s && *s; s++)
        if (*s == c)
            charCount++;
    return charCount;
}

// -- parsers ---------------------------------------------------------------------------------

namespace {

// The commands run with LC_ALL=C: their column headers and state words are
// translated otherwise, and the parsers look for the English ones.
const char WIFI_LISTING[] = "LC_ALL=C nmcli -f DEVICE,ACTIVE,SSID,BSSID,MODE,SIGNAL,SECURITY dev wifi list"
                            "| grep 'yes\\|BSSID\\|ACTIVE'";
const char DEV_SHOW[] = "LC_ALL=C nmcli dev show";
const char MODEM_LISTING[] = "LC_ALL=C nmcli -f DEVICE,TYPE,STATE,CON-UUID,CONNECTION dev status "
                             "|grep 'disconnected\\|unavailable\\| connected\\|DEVICE\\|CON-UUID' "
                             "| grep 'cdma\\|gsm\\|CON-UUID'";
const char MODEM_CMD[] = "modem-cmd";

// NetworkManager answers at once; one that is stuck is given up after this.
constexpr double NMCLI_TIME_LIMIT = 5.0;    // seconds
// A modem answers an AT query within a second; one that does not (or a
// modem-cmd waiting for a port that is gone) is given up after this.
constexpr double MODEM_TIME_LIMIT = 3.0;    // seconds
// "nmcli dev show" pads every key to this column; the value follows.
constexpr size_t DEV_SHOW_VALUE_COLUMN = 40;
// A line as the modem answers are read: a 1024-byte line buffer.
constexpr size_t LINE_BUFFER = 1024;
// A connection file is a few hundred bytes; more than this is not one.
constexpr size_t CONNECTION_FILE_MAX = 64 * 1024;

// Calls fn with each line of text, without its newline (the last line may
// have none).
template <typename Fn>
void forEachLine(std::string_view text, Fn fn)
{
    size_t pos = 0;
    while (pos < text.size()) {
        size_t newline = text.find('\n', pos);
        size_t end = newline == std::string_view::npos ? text.size() : newline;
        fn(text.substr(pos, end - pos));
        pos = end + 1;
    }
}

bool contains(std::string_view text, std::string_view word)
{
    return text.find(word) != std::string_view::npos;
}

// The text of a column: from `from` up to `to` (npos: the end of the line),
// at most `max` characters; empty when the line ends before the column.
std::string_view columnText(std::string_view line, size_t from, size_t to, size_t max)
{
    if (from >= line.size())
        return {};
    size_t end = to == std::string_view::npos ? line.size() : std::min(to, line.size());
    return line.substr(from, std::min(end - from, max));
}

std::string without(std::string_view text, std::string_view chars)
{
    std::string out;
    for (char c : text)
        if (chars.find(c) == std::string_view::npos)
            out += c;
    return out;
}

std::string_view trimmed(std::string_view text, std::string_view chars = " \t\r\n")
{
    size_t start = text.find_first_not_of(chars);
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(chars) - start + 1);
}

// Where each word first occurs in the header line; false unless every one
// does, in the order given.
template <size_t N>
bool headerColumns(std::string_view header, const char *const (&words)[N], size_t (&columns)[N])
{
    for (size_t i = 0; i < N; i++) {
        columns[i] = header.find(words[i]);
        if (columns[i] == std::string_view::npos || (i > 0 && columns[i] <= columns[i - 1]))
            return false;
    }
    return true;
}

// The text between the first `,"` and the next `",` after it.
std::string quotedAfterComma(std::string_view line)
{
    size_t open = line.find(",\"");
    if (open == std::string_view::npos)
        return {};
    size_t start = open + 2;
    size_t close = line.find("\",", start);
    if (close == std::string_view::npos)
        return {};
    return std::string(line.substr(start, close - start));
}

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

std::map<std::string, devShowValues> parseDevShow(std::string_view text)
{
    std::map<std::string, devShowValues> blocks;
    // Cleared once per output, not per block: a block without a key keeps
    // the value of the block before.
    devShowValues current;
    std::string device;
    auto endBlock = [&] {
        if (!device.empty())
            blocks[device] = current;
        device.clear();
    };
    forEachLine(text, [&](std::string_view line) {
        if (line.empty()) {
            endBlock();
            return;
        }
        std::string_view value = columnText(line, DEV_SHOW_VALUE_COLUMN, std::string_view::npos,
                                            std::string_view::npos);
        if (contains(line, "GENERAL.DEVICE"))
            device = std::string(trimmed(value, " "));
        if (contains(line, "GENERAL.CONNECTION"))
            current.connection = std::string(value);
        else if (contains(line, "IP4.ADDRESS"))
            current.address = std::string(value.substr(0, value.find('/')));
        else if (contains(line, "IP4.GATEWAY"))
            current.gateway = std::string(value);
    });
    // The last block has no blank line after it.
    endBlock();
    return blocks;
}

std::vector<modemListLine> parseModemListing(std::string_view text)
{
    enum { DEVICE, TYPE, STATE, UUID, CONNECTION, COLUMNS };
    static const char *const words[COLUMNS] = {"DEVICE", "TYPE", "STATE", "CON-UUID", "CONNECTION"};
    std::vector<modemListLine> lines;
    size_t col[COLUMNS];
    bool header = true, valid = false;
    forEachLine(text, [&](std::string_view line) {
        if (header) {
            header = false;
            valid = headerColumns(line, words, col);
            return;
        }
        if (!valid)
            return;
        // A GSM or CDMA device in one of the three states; a Wi-Fi whose
        // connection is called "gsm-backup" is no modem.
        std::string_view type = trimmed(columnText(line, col[TYPE], col[STATE], std::string_view::npos));
        modemListLine l;
        l.state = without(columnText(line, col[STATE], col[UUID], 39), " ");
        if ((type != "gsm" && type != "cdma") ||
            !(contains(l.state, "disconnected") || contains(l.state, "unavailable") ||
              l.state.compare(0, 9, "connected") == 0))
            return;
        l.device = without(columnText(line, col[DEVICE], col[TYPE], 19), " ");
        l.connection = std::string(columnText(line, col[CONNECTION], std::string_view::npos, std::string_view::npos));
        lines.push_back(std::move(l));
    });
    return lines;
}

std::string firstLine(std::string_view output)
{
    size_t newline = output.find('\n');
    size_t len = newline == std::string_view::npos ? output.size() : newline + 1;
    return std::string(output.substr(0, std::min(len, LINE_BUFFER - 1)));
}

std::string csqSignal(std::string_view line)
{
    // "+CSQ: 18,99": the text at column 6, as long as the gap between the
    // first blank and the first comma.
    size_t blank = line.find(' ');
    size_t comma = line.find(',');
    if (blank == std::string_view::npos || comma == std::string_view::npos || comma <= blank + 1)
        return {};
    return std::string(columnText(line, 6, std::string_view::npos, std::min<size_t>(comma - blank - 1, 9)));
}

std::string copsOperator(std::string_view line)
{
    const std::string text(line);
    charCount = 0;
    switch (judgeChar(text.c_str(), ',')) {
    case 3:   // mode, format, "name", access technology
        return quotedAfterComma(line).substr(0, 39);
    case 2: {  // mode, format, "name": the rest of the line, newline kept
        size_t second = line.find(',', line.find(',') + 1);
        std::string rest(line.substr(second + 1));
        delReturn(delQuotes(rest.data()));
        rest.resize(strlen(rest.c_str()));
        return rest.substr(0, 39);
    }
    default:
        return {};
    }
}

std::string cgsnImei(std::string_view line)
{
    if (line.empty() || !isNumber(line[0]))
        return {};
    // As many characters as the line has before its newline, taken from
    // the line without its carriage returns: an answer ending in "\r\n"
    // keeps its newline.
    size_t before = std::min(line.find('\n'), line.size());
    std::string text(line);
    delReturn(text.data());
    text.resize(strlen(text.c_str()));
    return text.substr(0, std::min<size_t>(before, 19));
}

std::string cnumNumber(std::string_view line)
{
    const std::string text(line);
    charCount = 0;
    if (judgeChar(text.c_str(), '"') != 4)
        return {};
    return quotedAfterComma(line).substr(0, 19);
}

bool connectionApn(std::string_view fileText, std::string &apn)
{
    bool found = false;
    forEachLine(fileText, [&](std::string_view line) {
        if (line.compare(0, 4, "apn=") == 0) {
            apn = std::string(line.substr(4));
            found = true;
        }
    });
    return found;
}

bool readConnectionFile(std::string_view name, std::string &text)
{
    // Only a file directly in the directory: a name is chosen by whoever may
    // manage connections, and goes to no shell.
    const std::string_view bare = trimmed(name);
    if (bare.empty() || bare.front() == '.' || contains(bare, "/") || contains(bare, std::string_view("\0", 1)))
        return false;
    const std::string path = nmConnectionDirectory + "/" + std::string(bare);
    // Non-blocking: a FIFO put there must not stop the thread.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    text.clear();
    char buf[4096];
    while (ok && text.size() < CONNECTION_FILE_MAX) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        text.append(buf, static_cast<size_t>(got));
    }
    close(fd);
    return ok;
}

// -- Wi-Fi refresh ----------------------------------------------------------------

namespace {

in_addr_t addressOf(const char *text)
{
    in_addr a;
    return inet_aton(text, &a) ? a.s_addr : 0;
}

// The element of an element list (Wi-Fi or modem) for a device name.
template <typename Entry>
Entry *findByDevice(list_head *head, std::string_view device)
{
    list_for_each(pos, head)
    {
        Entry *e = list_entry(pos, Entry, list);
        if (fieldText(e->device) == device)
            return e;
    }
    return nullptr;
}

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

// An nmcli run: "Erro to popen" when the shell cannot be started (the
// output then counts as empty).
CommandResult runNmcli(const char *command)
{
    CommandResult r = wirelessRunCommand(command, NMCLI_TIME_LIMIT);
    if (!r.started)
        fputs("Erro to popen", stderr);
    return r;
}

// What a failed nmcli run means for its group: absent without
// NetworkManager's client, failing otherwise.
void noteNmcliRun(const CommandResult &r, const char *command, GroupReading &reading)
{
    if (!r.succeeded())
        reading.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                    commandFailure(command, r, NMCLI_TIME_LIMIT));
}

} // namespace

int getWlanInfo()
{
    const CommandResult listing = runNmcli(WIFI_LISTING);
    GroupReading reading;
    noteNmcliRun(listing, WIFI_LISTING, reading);
    // A cut listing would drop interfaces that are there.
    if (listing.timedOut) {
        noteGroupReading(GroupId::Wlan, reading);
        return 0;
    }
    const std::vector<wifiListLine> lines = parseWifiListing(listing.output);
    noteGroupReading(GroupId::Wlan, reading);
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

// -- mobile broadband refresh ------------------------------------------------------------

namespace {

mobileInfo *findMobile(std::string_view device)
{
    return findByDevice<mobileInfo>(&Global_mobileInfoList, device);
}

// Refills a modem from its listing line: index, device, state, connection,
// and the AT command port of the command-line pair whose base node the
// device's node contains (the last such pair wins).
void fillMobileLine(mobileInfo &e, const modemListLine &line, int index)
{
    e.index = index;
    setFieldText(e.device, line.device);
    setFieldText(e.baseDevFd, "/dev/" + line.device);
    setFieldText(e.state, line.state);
    setFieldText(e.devFd, "");
    list_for_each(pos, &Global_mobileDevList.list)
    {
        const mobileDev_list *pair = list_entry(pos, mobileDev_list, list);
        if (strstr(e.baseDevFd, pair->baseDevFd))
            setFieldText(e.devFd, fieldText(pair->devFd));
    }
    // nmcli shows "--" for a device without a connection.
    char bare[LINE_BUFFER];
    snprintf(bare, sizeof bare, "%s", line.connection.c_str());
    delSubtract(delEnter(delSpace(bare)));
    setFieldText(e.mobileName, bare[0] ? line.connection : std::string());
}

// The first line a modem gives to one AT command, sent to its AT port.
std::string askModem(const mobileInfo &e, const char *command, GroupReading &reading)
{
    // The port comes from the command line and the command is fixed; both
    // are quoted all the same (the '?' of AT+COPS? is a shell pattern).
    std::string line = MODEM_CMD;
    if (e.devFd[0])
        line += " " + shellQuote(fieldText(e.devFd));
    line += " " + shellQuote(command);
    CommandResult r = wirelessRunCommand(line.c_str(), MODEM_TIME_LIMIT);
    if (!r.started)
        fputs("Error to popen\n", stderr);
    if (!r.succeeded())
        reading.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                    commandFailure(std::string(MODEM_CMD) + " " + command, r, MODEM_TIME_LIMIT));
    return firstLine(r.output);
}

void readApn(mobileInfo &e)
{
    std::string text, apn;
    if (readConnectionFile(fieldText(e.mobileName), text) && connectionApn(text, apn))
        setFieldText(e.apn, apn);
}

// Reads what a modem's device block, connection file and AT answers give.
void readModem(mobileInfo &e, const devShowValues &block, GroupReading &reading)
{
    const bool connected = !strstr(e.state, "disconnected") && !strstr(e.state, "unavailable");
    if (connected) {
        setFieldText(e.ip, without(block.address, "\n"));
        setFieldText(e.gateway, without(block.gateway, "\n"));
        readApn(e);
        setFieldText(e.signal, csqSignal(askModem(e, "AT+CSQ", reading)));
        setFieldText(e.ipsName, copsOperator(askModem(e, "AT+COPS?", reading)));
        setFieldText(e.imei, cgsnImei(askModem(e, "AT+CGSN", reading)));
        setFieldText(e.msisdn, cnumNumber(askModem(e, "AT+CNUM", reading)));
        return;
    }
    setFieldText(e.ip, "");
    setFieldText(e.gateway, "");
    delSubtract(e.mobileName);
    if (!e.mobileName[0]) {
        setFieldText(e.apn, "");
    } else {
        printf("%s mobileName2\n", e.mobileName);
        readApn(e);
    }
    setFieldText(e.signal, "");
    setFieldText(e.ipsName, "");
    setFieldText(e.imei, cgsnImei(askModem(e, "AT+CGSN", reading)));
    if (strstr(e.state, "disconnected"))
        setFieldText(e.msisdn, cnumNumber(askModem(e, "AT+CNUM", reading)));
    else
        setFieldText(e.msisdn, "");
}

void fillMobileRow(mobileObjTable_entry &row, const mobileInfo &e)
{
    row.mbIndex = e.index;
    setFieldText(row.mbAPName, fieldText(e.apn));
    setFieldText(row.mbISPName, fieldText(e.ipsName));
    setFieldText(row.mbMsisdn, fieldText(e.msisdn));
    setFieldText(row.mbIMEI, fieldText(e.imei));
    row.mbSignalStrength = e.signal[0] ? atoi(e.signal) : 0;
    if (e.ip[0]) {
        row.mbIPAddress = addressOf(e.ip);
        row.mbGateway = addressOf(e.gateway);
        row.mbState = 1;
    } else {
        row.mbIPAddress = 0;
        row.mbGateway = 0;
        row.mbState = 2;
    }
}

// Writes the modems into the table: rows made at the first refresh only,
// rewritten later only while the listing has as many modem lines as the
// refresh before.
void applyMobileRefresh(bool first, int lineCount)
{
    SemHold hold(sem_mobile_id);
    if (first) {
        list_for_each(pos, &Global_mobileInfoList)
        {
            const mobileInfo *e = list_entry(pos, mobileInfo, list);
            mobileObjTable_entry *row = mobileObjTable_createEntry(e->index, "", 0, 0, 0, "", "", "", 2);
            if (!row)
                continue;
            fillMobileRow(*row, *e);
            if (auto *entry = static_cast<mobileEntryList *>(calloc(1, sizeof(mobileEntryList)))) {
                entry->entryIndex = row;
                list_add_tail(&entry->list, &Global_mobileEntryList);
            }
        }
    } else if (lineCount == Global_mobileCounter) {
        mobileObjTable_entry *row = Global_mobileTable_head;
        for (list_head *pos = Global_mobileInfoList.next; pos != &Global_mobileInfoList && row;
             pos = pos->next, row = row->next)
            fillMobileRow(*row, *list_entry(pos, mobileInfo, list));
    }
    Global_mobileCounter = lineCount;
    Global_mobileNumber = lineCount;
    Global_entryMobileFlag = 1;
}

} // namespace

int getMobileInfo()
{
    const CommandResult listing = runNmcli(MODEM_LISTING);
    GroupReading reading;
    noteNmcliRun(listing, MODEM_LISTING, reading);
    if (listing.timedOut) {
        noteGroupReading(GroupId::Mobile, reading);
        return 0;
    }
    const std::vector<modemListLine> lines = parseModemListing(listing.output);
    if (lines.empty() && reading.ok())
        reading.absent("no modem");
    bool first;
    {
        SemHold hold(sem_mobile_id);
        first = !Global_entryMobileFlag;
    }

    // Modems are taken on only at the first refresh, at most two; later
    // lines refill the modem of their device and are otherwise ignored.
    int index = 0;
    for (const modemListLine &line : lines) {
        index++;
        mobileInfo *e = nullptr;
        if (!first) {
            e = findMobile(line.device);
        } else if (index <= 2) {
            e = static_cast<mobileInfo *>(calloc(1, sizeof(mobileInfo)));
            if (e)
                list_add_tail(&e->list, &Global_mobileInfoList);
        }
        if (e)
            fillMobileLine(*e, line, index);
    }

    if (!list_empty(&Global_mobileInfoList)) {
        const std::map<std::string, devShowValues> blocks = parseDevShow(runNmcli(DEV_SHOW).output);
        list_for_each(pos, &Global_mobileInfoList)
        {
            mobileInfo *e = list_entry(pos, mobileInfo, list);
            auto block = blocks.find(std::string(fieldText(e->device)));
            if (block != blocks.end())
                readModem(*e, block->second, reading);
        }
    }

    applyMobileRefresh(first, static_cast<int>(lines.size()));
    noteGroupReading(GroupId::Mobile, reading);
    return 1;
}

void mobileInfoCycle()
{
    getMobileInfo();
}
