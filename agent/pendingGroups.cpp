// Cycles of the groups whose probes are not in this build yet: each keeps its
// thread's period and touches nothing. A group's own source replaces its entry.
#include "thread.h"

void wlanInfoCycle() {}
void mobileInfoCycle() {}
