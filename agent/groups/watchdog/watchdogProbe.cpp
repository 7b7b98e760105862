// SPDX-License-Identifier: BSD-3-Clause
// The watchdog state from the driver's /proc/vlmwdtinfo, and the watchdog
// thread's cycle: the command runs first, the record is stored under
// sem_wdt_id afterwards, so a stuck driver never holds up a request.
#include "groups/watchdog/watchdogProbe.h"

#include "lib/command.h"
#include "lib/fieldCopy.h"
#include "semaphore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {

// Where a line's value starts.
constexpr size_t valueOffset = 13;
// The timeout's text is read from a 10-byte field.
constexpr size_t timeoutTextMax = 9;

bool contains(std::string_view line, std::string_view what)
{
    return line.find(what) != std::string_view::npos;
}

// The decimal number at the start of `text` as atoi takes it: blanks
// skipped, an optional sign, then digits; 0 without digits.
long leadingDecimal(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
        value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

} // namespace

wdtInfo parseWdtInfo(std::string_view text)
{
    wdtInfo w{};
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);

        const std::string_view value = line.substr(std::min(line.size(), valueOffset));
        if (contains(line, "name"))
            setFieldText(w.wdChipSet, value);
        else if (contains(line, "timeout"))
            w.wdTimeoutInterval = leadingDecimal(value.substr(0, timeoutTextMax));
        else if (contains(line, "is_enable"))
            w.wdtState = contains(line, "No") ? 2 : 1;
        w.wdMode = 2;
        w.wdLogEvent = 2;
    }
    return w;
}

wdtInfo getWdtInfo(GroupReading &reading)
{
    const CommandResult r = runCommand(wdtInfoCommand, wdtInfoCommandTimeout, 1 << 16);
    if (!r.started) {
        fputs("Erro to popen\n", stderr);
        reading.fail(commandFailure(wdtInfoCommand, r, wdtInfoCommandTimeout));
        return wdtInfo{};
    }
    if (!r.succeeded()) {
        // cat fails on a file that is not there: the driver is not loaded.
        if (r.notInstalled())
            reading.absent(commandFailure(wdtInfoCommand, r, wdtInfoCommandTimeout));
        else if (!r.timedOut && access(wdtInfoPath, F_OK) != 0 && errno == ENOENT)
            reading.openFailed(wdtInfoPath, ENOENT);
        else
            reading.fail(commandFailure(wdtInfoCommand, r, wdtInfoCommandTimeout));
        return wdtInfo{};
    }
    if (r.output.empty())
        reading.fail(std::string(wdtInfoPath) + ": empty");
    return parseWdtInfo(r.output);
}

void wdtInfoCycle()
{
    GroupReading reading;
    const wdtInfo next = getWdtInfo(reading);
    noteGroupReading(WATCHDOG_HEALTH_ROW, reading);
    SemHold hold(sem_wdt_id);
    Global_wdtInfoVal = next;
}
