// SPDX-License-Identifier: BSD-3-Clause
// DateAndTime octets from localtime_r.
#include "lib/dateAndTime.h"

#include <cstdlib>

void dateAndTime(time_t when, unsigned char out[DATE_AND_TIME_LEN])
{
    struct tm tm = {};
    localtime_r(&when, &tm);
    int year = tm.tm_year + 1900;
    out[0] = static_cast<unsigned char>((year >> 8) & 0xff);
    out[1] = static_cast<unsigned char>(year & 0xff);
    out[2] = static_cast<unsigned char>(tm.tm_mon + 1);
    out[3] = static_cast<unsigned char>(tm.tm_mday);
    out[4] = static_cast<unsigned char>(tm.tm_hour);
    out[5] = static_cast<unsigned char>(tm.tm_min);
    // A leap second (60) is shown as 60, as DateAndTime allows.
    out[6] = static_cast<unsigned char>(tm.tm_sec);
    out[7] = 0;
    long offset = tm.tm_gmtoff;   // seconds east of UTC
    out[8] = offset < 0 ? '-' : '+';
    offset = labs(offset);
    out[9] = static_cast<unsigned char>(offset / 3600);
    out[10] = static_cast<unsigned char>((offset % 3600) / 60);
}
