// SPDX-License-Identifier: BSD-3-Clause
// UTF-8 validation for text stored in the configuration file.
#include "lib/textCheck.h"

bool isStorableText(const unsigned char *s, std::size_t len)
{
    std::size_t i = 0;
    while (i < len) {
        unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7f)
                return false;
            i++;
            continue;
        }
        std::size_t extra;
        unsigned long cp;
        if (c >= 0xc2 && c <= 0xdf) {
            extra = 1;
            cp = c & 0x1f;
        } else if (c >= 0xe0 && c <= 0xef) {
            extra = 2;
            cp = c & 0x0f;
        } else if (c >= 0xf0 && c <= 0xf4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;   // continuation byte first, overlong lead, or > U+10FFFF
        }
        if (len - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; k++) {
            if ((s[i + k] & 0xc0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        // Overlong forms, UTF-16 surrogates, values past U+10FFFF, non-characters.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10ffff ||
            (cp >= 0xd800 && cp <= 0xdfff) || cp == 0xfffe || cp == 0xffff)
            return false;
        i += extra + 1;
    }
    return true;
}
