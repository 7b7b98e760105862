// SPDX-License-Identifier: BSD-3-Clause
// System information: banner and release parsing, DateAndTime octets.
#include "groups/system/sysInfoProbe.h"
#include "lib/dateAndTime.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

TEST(IssueBanner, VersionIsTheLineWithoutItsEscapes)
{
    EXPECT_EQ(parseIssueLine("Debian GNU/Linux 9 \\n \\l\n"), "Debian GNU/Linux 9");
    EXPECT_EQ(parseIssueLine("Debian GNU/Linux 12 \\n \\l\n"), "Debian GNU/Linux 12");
    // A banner without the escapes says nothing we can rely on.
    EXPECT_EQ(parseIssueLine("Welcome to the board\n"), "");
    EXPECT_EQ(parseIssueLine(""), "");
    // Too short to carry the escapes and a name: never an out-of-range cut.
    EXPECT_EQ(parseIssueLine("\\n \\l"), "");
}

TEST(ReleaseLine, ReleaseIsEverythingAfterTheLabelNewlineIncluded)
{
    EXPECT_EQ(parseReleaseLine("Release:\t9.4\n"), "9.4\n");
    EXPECT_EQ(parseReleaseLine("Release:\t12\n"), "12\n");
    EXPECT_EQ(parseReleaseLine("No LSB modules are available.\n"), "");
    EXPECT_EQ(parseReleaseLine("Release"), "");
}

TEST(DateAndTimeOctets, LocalTimeWithItsOffsetFromUtc)
{
    const char *saved = getenv("TZ");
    std::string savedTz = saved ? saved : "";
    // 2023-11-14 22:13:20 UTC
    setenv("TZ", "UTC", 1);
    tzset();
    unsigned char utc[11];
    dateAndTime(1700000000, utc);
    const unsigned char expectUtc[11] = {0x07, 0xE7, 11, 14, 22, 13, 20, 0, '+', 0, 0};
    EXPECT_EQ(memcmp(utc, expectUtc, 11), 0);

    // West of Greenwich the direction is '-' and the day may differ.
    setenv("TZ", "XST5:30", 1);
    tzset();
    unsigned char west[11];
    dateAndTime(1700000000, west);
    const unsigned char expectWest[11] = {0x07, 0xE7, 11, 14, 16, 43, 20, 0, '-', 5, 30};
    EXPECT_EQ(memcmp(west, expectWest, 11), 0);

    if (saved)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}
