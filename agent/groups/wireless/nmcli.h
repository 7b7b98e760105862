/* SPDX-License-Identifier: BSD-3-Clause */
// What the Wi-Fi and the mobile broadband probes share: how they run their
// commands, the string utilities, "nmcli dev show", and the slicing of
// nmcli's column listings by their header. The Wi-Fi probe is in
// groups/wlan/wlanProbe.h, the mobile one in groups/mobile/mobileProbe.h.
#pragma once

#include "lib/command.h"
#include "lib/fieldCopy.h"
#include "lib/groupHealth.h"
#include "lib/list.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <netinet/in.h>
#include <string>
#include <string_view>

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
// The number of occurrences of c in s (0 for null).
int judgeChar(const char *s, char c);

// -- nmcli dev show -------------------------------------------------------------

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

// The first line of a command's output, with its newline, as a 1024-byte
// line buffer reads it.
std::string firstLine(std::string_view output);

// How the probes run their commands; the tests replace it.
extern CommandResult (*wirelessRunCommand)(const char *command, double timeoutSeconds);

// -- the probes' common parts -------------------------------------------------------

namespace wireless {

// The commands run with LC_ALL=C: their column headers and state words are
// translated otherwise, and the parsers look for the English ones.
extern const char DEV_SHOW[];
// NetworkManager answers at once; one that is stuck is given up after this.
constexpr double NMCLI_TIME_LIMIT = 5.0;    // seconds
// A line as the modem answers are read: a 1024-byte line buffer.
constexpr size_t LINE_BUFFER = 1024;

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

bool contains(std::string_view text, std::string_view word);
// The text of a column: from `from` up to `to` (npos: the end of the line),
// at most `max` characters; empty when the line ends before the column.
std::string_view columnText(std::string_view line, size_t from, size_t to, size_t max);
// The text without any of `chars`.
std::string without(std::string_view text, std::string_view chars);
// The text without leading and trailing `chars`.
std::string_view trimmed(std::string_view text, std::string_view chars = " \t\r\n");

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

// A dotted IPv4 address in network byte order; 0 for anything else.
in_addr_t addressOf(const char *text);

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

// An nmcli run: "Erro to popen" when the shell cannot be started (the
// output then counts as empty).
CommandResult runNmcli(const char *command);

// What a failed nmcli run means for its group: absent without
// NetworkManager's client, failing otherwise.
void noteNmcliRun(const CommandResult &r, const char *command, GroupReading &reading);

} // namespace wireless
