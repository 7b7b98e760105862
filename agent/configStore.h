/* SPDX-License-Identifier: BSD-3-Clause */
// The XML configuration file as a store of group -> key -> text: reading,
// escaping, edits that stay in their group, atomic replacement. It knows no
// group of the agent: each group reads its own keys at start-up (its
// descriptor's configure) and writes them back through writeConfigEdits.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Where the file lives; the unit tests point it elsewhere.
extern std::string configFilePath;

// One key change for the file: the `detail` named `key` that follows the
// `subtype` whose id is `group`.
struct ConfigEdit {
    std::string group;
    std::string key;
    std::string value;
};

// Outcome of a rewrite of the file.
enum class ConfigWrite {
    Saved,          // the element was changed (or added) and the file replaced
    SavedNoMatch,   // the file has no `details` element to hold the key
    OpenFailed,     // the file could not be opened
    ReadFailed,     // the file is empty or could not be read
    NotWellFormed,  // the file is not well-formed XML; left as it was
    SaveFailed,     // the new file could not be written; the old one stands
};

// Applies the edits to the file in one atomic replacement: a temporary file in
// the same directory is written, flushed to disk and renamed over the
// original, keeping its mode. A crash at any moment leaves either the old or
// the new file. An edit changes only the `detail` of its key within its own
// group (from the group's `subtype` to the next one); a key the group lacks
// is added to it, a group the file lacks is added at its end.
ConfigWrite writeConfigEdits(const std::vector<ConfigEdit> &edits);

// Reads the whole file into text: Saved when it was read, OpenFailed (after
// "openError: FILE: why" on standard error) or ReadFailed (after "read file
// error: FILE: why") otherwise.
ConfigWrite readConfigFile(std::string &text, const char *openError = "openf file error");

// The edits of one in-memory document: returns the new text, or an empty
// string with `result` NotWellFormed. Pure; used by writeConfigEdits.
std::string applyConfigEdits(const char *buf, int len, const std::vector<ConfigEdit> &edits,
                             ConfigWrite &result);

// What the file holds, knowing no group: its groups (a `subtype` and the
// `detail`s after it, up to the next `subtype`) in file order, each with its
// keys and texts in file order. Details before the first `subtype` form a
// group with an empty id. Element names are matched without regard to case,
// attributes and keys exactly.
struct ConfigGroup {
    std::string id;
    std::vector<std::pair<std::string, std::string>> details;
};

class ConfigStore {
public:
    // Reads the file's text; false when it is not well-formed XML, and
    // `where` (if given) gets "FILE:LINE: what is wrong".
    bool read(const char *buf, int len, std::string *where = nullptr);
    const std::vector<ConfigGroup> &groups() const { return groups_; }
    // The text of the last `key` of the file, whatever group it stands in
    // (the agent has always read its keys that way), or null.
    const std::string *last(std::string_view key) const;
    // The last `key` as a decimal number (configNumber), 0 when it is absent.
    long number(std::string_view key) const;

private:
    std::vector<ConfigGroup> groups_;
};

// Decimal text as atoi reads it, limited to the range of a 32-bit INTEGER so
// that a huge number cannot wrap.
long configNumber(const std::string &text);

// Loads the file's text into every group the agent is built with (each reads
// its own keys; the system group also counts this boot and writes it back).
// 1 on success, -1 when the text is not well-formed XML, and `where` (if
// given) gets "FILE:LINE: what is wrong".
int loadConfiguration(const char *buf, int len, std::string *where = nullptr);
