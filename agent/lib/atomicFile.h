// Replacing a configuration file so that a crash or power cut at any moment
// leaves either the old or the new file, never a part of one.
#pragma once

#include <string>

// Writes text to a temporary file in target's directory (named target plus a
// dot and six characters), flushes it to disk with the original's mode and
// owner, renames it over target and flushes the directory. On failure the
// temporary is removed, target is untouched, errno tells why, false.
bool replaceFileAtomically(const std::string &target, const std::string &text);
