/* SPDX-License-Identifier: BSD-3-Clause */
// Replacing a configuration file so that a crash or power cut at any moment
// leaves either the old or the new file, never a part of one.
#pragma once

#include <string>

// The file a path names once its symbolic links are followed (also a link
// whose target does not exist yet); the path itself when it is no link.
// A board may keep its configuration on persistent storage behind a link:
// the link must stay and the file behind it be replaced.
std::string followLinks(const std::string &path);

// Writes text to a temporary file beside the file `target` names (links
// followed), named after it plus ".vlmtmp-" and six characters, flushes it
// to disk with the original's mode and owner, renames it over the original
// and flushes the directory. On failure the temporary is removed, the
// original is untouched, errno tells why, false.
bool replaceFileAtomically(const std::string &target, const std::string &text);

// Removes the temporaries a replacement interrupted by a crash or power cut
// left beside the file `target` names: exactly the names
// replaceFileAtomically makes, nothing an operator may have put there.
void removeStaleTemporaries(const std::string &target);
