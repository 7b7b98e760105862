// Power-supply group record.
#pragma once

#include <cstdint>

struct pwrInfo {
    int32_t pwrTrapState;       // 1 enabled, 2 disabled; -1 after a failed reading
    int32_t pwrState;           // 1 both inputs good, 2 one not good, -1 no reading
    int32_t pwrStateSeverity;   // 1 with state 1, 3 with state 2, -1 with state -1
};

// Guarded by sem_pwr_id.
inline pwrInfo Global_pwrInfoVal;
