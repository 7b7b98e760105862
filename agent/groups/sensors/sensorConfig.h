/* SPDX-License-Identifier: BSD-3-Clause */
// The sensors' keys of the configuration file: the shared temperature
// thresholds and one threshold set per voltage or current group.
#pragma once

class ConfigStore;

// Fills the temperature thresholds and rebuilds the voltage and current
// threshold lists from the file. A voltage group is a subtype named after a
// voltage rail the sensors judge ("VIN", "5VSB" ... exactly), a current group
// one named "Current"; their `vt*`/`cr*` keys go to the last such group
// before them (keys before the first have no sensor and are ignored). The
// temperature keys are read wherever they stand.
void configureSensors(const ConfigStore &store);
