// SPDX-License-Identifier: BSD-3-Clause
// The Wi-Fi and mobile broadband probes' common parts: the command hook, the
// string utilities, "nmcli dev show" and the column helpers.
#include "groups/wireless/nmcli.h"

#include <arpa/inet.h>
#include <cstdio>

CommandResult (*wirelessRunCommand)(const char *, double) = [](const char *command, double timeout) {
    return runCommand(command, timeout);
};

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
    int count = 0;
    for (; s && *s; s++)
        if (*s == c)
            count++;
    return count;
}

// -- helpers ---------------------------------------------------------------------------------

namespace wireless {

const char DEV_SHOW[] = "LC_ALL=C nmcli dev show";

bool contains(std::string_view text, std::string_view word)
{
    return text.find(word) != std::string_view::npos;
}

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

std::string_view trimmed(std::string_view text, std::string_view chars)
{
    size_t start = text.find_first_not_of(chars);
    if (start == std::string_view::npos)
        return {};
    return text.substr(start, text.find_last_not_of(chars) - start + 1);
}

in_addr_t addressOf(const char *text)
{
    in_addr a;
    return inet_aton(text, &a) ? a.s_addr : 0;
}

CommandResult runNmcli(const char *command)
{
    CommandResult r = wirelessRunCommand(command, NMCLI_TIME_LIMIT);
    if (!r.started)
        fputs("Erro to popen\n", stderr);
    return r;
}

void noteNmcliRun(const CommandResult &r, const char *command, GroupReading &reading)
{
    if (!r.succeeded())
        reading.add(r.notInstalled() ? GroupStatus::Absent : GroupStatus::Failing,
                    commandFailure(command, r, NMCLI_TIME_LIMIT));
}

} // namespace wireless

// -- nmcli dev show -----------------------------------------------------------------------

namespace {

// "nmcli dev show" pads every key to this column; the value follows.
constexpr size_t DEV_SHOW_VALUE_COLUMN = 40;

} // namespace

using namespace wireless;

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

std::string firstLine(std::string_view output)
{
    size_t newline = output.find('\n');
    size_t len = newline == std::string_view::npos ? output.size() : newline + 1;
    return std::string(output.substr(0, std::min(len, LINE_BUFFER - 1)));
}
