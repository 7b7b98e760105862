/* SPDX-License-Identifier: BSD-3-Clause */
// Whether octets received in a SET can be stored as text in the XML
// configuration file and read back unchanged.
#pragma once

#include <cstddef>

// True for well-formed UTF-8 without control characters (C0, DEL) and without
// the code points XML excludes (U+FFFE, U+FFFF). Anything else would make a
// file the next start cannot read, or would not come back as it was sent.
bool isStorableText(const unsigned char *data, std::size_t len);
