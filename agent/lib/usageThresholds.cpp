// SPDX-License-Identifier: BSD-3-Clause
// The rules the memory and storage groups share for their four usage
// thresholds: the order they must keep, and the band check of a usage.
#include "lib/usageThresholds.h"

int judgeIntThres(long th1, long th2, long th3, long th4)
{
    const long th[4] = {th1, th2, th3, th4};
    bool seen = false;
    long previous = 0;
    for (long t : th) {
        if (t == -1)
            continue;
        if (seen && t <= previous)
            return 0;
        previous = t;
        seen = true;
    }
    return 1;
}

UsageNotification judgeUsageBand(int bandFlags[4], int &lastSwitch, int32_t used, const int32_t th[4],
                                 int32_t trapSwitch, int32_t &severity)
{
    // The highest threshold in use that usage is above; equal is not above.
    int band = 0;
    for (int i = 3; i >= 0 && !band; i--)
        if (th[i] != -1 && used > th[i])
            band = i + 1;

    if (band) {
        severity = band + 1;
        if (bandFlags[band - 1]) {
            if (trapSwitch == lastSwitch)
                return UsageNotification::None;
            lastSwitch = trapSwitch;
            return trapSwitch == 1 ? UsageNotification::Raise : UsageNotification::None;
        }
        // A new band, from below, from above or from normal. The switch is
        // taken as seen even when off, so that turning it on while usage
        // stays in this band still raises at the next check.
        lastSwitch = trapSwitch;
        for (int i = 0; i < 4; i++)
            bandFlags[i] = i + 1 == band ? 1 : 0;
        return trapSwitch == 1 ? UsageNotification::Raise : UsageNotification::None;
    }

    if (!bandFlags[0] && !bandFlags[1] && !bandFlags[2] && !bandFlags[3])
        return UsageNotification::None;
    severity = 1;
    for (int i = 0; i < 4; i++)
        bandFlags[i] = 0;
    return trapSwitch == 1 ? UsageNotification::Clear : UsageNotification::None;
}
