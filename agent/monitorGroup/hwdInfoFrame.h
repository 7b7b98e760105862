// Hardware-detect group record.
#pragma once

struct __hwd_Info {
    long trapEnable;    // 1: a notification per new row; anything else: none
    long maxTableRow;   // rows numbered in sequence before numbering starts over
    long number;        // rows numbered so far, at most maxTableRow
};
using hwdInfo = __hwd_Info;

// Guarded by sem_hwd_id.
inline hwdInfo Global_hwdInfoVal;
