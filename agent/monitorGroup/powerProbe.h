// The power-supply reading: both inputs of the status driver, once a second.
#pragma once

#include "monitorGroup/powerObj.h"

// One reading, as a new record: the switch carried over from `current`,
// state 1 / severity 1 when both inputs are good, 2 / 3 otherwise; all three
// -1 when the device cannot be opened or read. The first good reading also
// becomes the last reported state.
pwrInfo getPowerInfo(const pwrInfo &current);
