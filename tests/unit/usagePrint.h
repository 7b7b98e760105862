/* SPDX-License-Identifier: BSD-3-Clause */
// Readable names of the usage notifications in test failure messages.
#pragma once

#include "lib/usageThresholds.h"

#include <ostream>

inline void PrintTo(UsageNotification n, std::ostream *os)
{
    *os << (n == UsageNotification::Raise ? "raise" : n == UsageNotification::Clear ? "clear" : "none");
}
