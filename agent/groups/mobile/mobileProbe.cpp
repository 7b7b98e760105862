// SPDX-License-Identifier: BSD-3-Clause
// The mobile broadband refresh: nmcli's device status listing, the modems' AT
// answers and the connection files parsed as text, then the modem list and
// the table refreshed from them.
#include "groups/mobile/mobileProbe.h"

#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "semaphore.h"
#include "startup.h"
#include "groups/mobile/mobileInfoFrame.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace wireless;

std::string nmConnectionDirectory = "/etc/NetworkManager/system-connections";

list_head Global_mobileInfoList = {&Global_mobileInfoList, &Global_mobileInfoList};
list_head Global_mobileEntryList = {&Global_mobileEntryList, &Global_mobileEntryList};
int Global_mobileCounter = 0;
int Global_entryMobileFlag = 0;

namespace {

// The modem lines and the header (see DEV_SHOW for LC_ALL).
const char MODEM_LISTING[] = "LC_ALL=C nmcli -f DEVICE,TYPE,STATE,CON-UUID,CONNECTION dev status "
                             "|grep 'disconnected\\|unavailable\\| connected\\|DEVICE\\|CON-UUID' "
                             "| grep 'cdma\\|gsm\\|CON-UUID'";
const char MODEM_CMD[] = "modem-cmd";

// A modem answers an AT query within a second; one that does not (or a
// modem-cmd waiting for a port that is gone) is given up after this.
constexpr double MODEM_TIME_LIMIT = 3.0;    // seconds
// A connection file is a few hundred bytes; more than this is not one.
constexpr size_t CONNECTION_FILE_MAX = 64 * 1024;

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

// -- the refresh ------------------------------------------------------------------

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
        noteGroupReading(MOBILE_HEALTH_ROW, reading);
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
    noteGroupReading(MOBILE_HEALTH_ROW, reading);
    return 1;
}

void mobileInfoCycle()
{
    getMobileInfo();
}
