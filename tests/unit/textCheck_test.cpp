// SPDX-License-Identifier: BSD-3-Clause
// Which SET octets can be stored as text in the configuration file.
#include "lib/textCheck.h"

#include <gtest/gtest.h>
#include <string>

namespace {
bool storable(const std::string &s)
{
    return isStorableText(reinterpret_cast<const unsigned char *>(s.data()), s.size());
}
} // namespace

TEST(StorableText, AcceptsPrintableUtf8)
{
    EXPECT_TRUE(storable(""));
    EXPECT_TRUE(storable("Line 3, cabinet <A> & B"));
    EXPECT_TRUE(storable("Schaltschrank \xC3\xBC" "ber Halle 2"));   // ü
    EXPECT_TRUE(storable("\xE2\x82\xAC 5"));                          // €
    EXPECT_TRUE(storable("\xF0\x9F\x94\x8C"));                        // U+1F50C
}

TEST(StorableText, RefusesWhatXmlCannotCarryOrWouldChange)
{
    EXPECT_FALSE(storable(std::string("\xFF\xFE", 2)));         // not UTF-8
    EXPECT_FALSE(storable("\x80"));                              // lone continuation
    EXPECT_FALSE(storable("\xC0\xAF"));                          // overlong '/'
    EXPECT_FALSE(storable("\xED\xA0\x80"));                      // surrogate
    EXPECT_FALSE(storable("\xE2\x82"));                          // cut sequence
    EXPECT_FALSE(storable("\xF4\x90\x80\x80"));                  // past U+10FFFF
    EXPECT_FALSE(storable("\xEF\xBF\xBF"));                      // U+FFFF
    EXPECT_FALSE(storable(std::string("a\0b", 3)));              // NUL would cut the text
    EXPECT_FALSE(storable("tab\there"));
    EXPECT_FALSE(storable("line\n"));
    EXPECT_FALSE(storable("\x7F"));
}
