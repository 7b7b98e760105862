// The power-supply reading and the polling cycle.
#include "monitorGroup/powerProbe.h"

#include "monitorGroup/powerTrap.h"
#include "monitorGroup/vmspsustatus.h"
#include "semaphore.h"
#include "thread.h"

#include <cstdio>

namespace {

constexpr pwrInfo NO_READING = {-1, -1, -1};

} // namespace

pwrInfo getPowerInfo(const pwrInfo &current)
{
    int handle = -1;
    if (PSUStatus_DeviceOpen(&handle) != 0)
        return NO_READING;
    unsigned char pwr1 = 0, pwr2 = 0;
    if (PSUStatus_Get(handle, 1, &pwr1) < 0) {
        puts("\t Get PWR1 status Failed! error.");
        PSUStatus_DeviceClose(handle);
        return NO_READING;
    }
    if (PSUStatus_Get(handle, 2, &pwr2) < 0) {
        puts("\t Get PWR2 status Failed! error.");
        PSUStatus_DeviceClose(handle);
        return NO_READING;
    }
    pwrInfo reading = current;
    const bool good = pwr1 == 1 && pwr2 == 1;
    reading.pwrState = good ? 1 : 2;
    reading.pwrStateSeverity = good ? 1 : 3;
    notePowerReading(reading.pwrState);
    PSUStatus_DeviceClose(handle);
    return reading;
}

bool powerInfoCycle()
{
    int32_t state;
    {
        SemHold hold(sem_pwr_id);
        Global_pwrInfoVal = getPowerInfo(Global_pwrInfoVal);
        state = Global_pwrInfoVal.pwrState;
    }
    if (state == -1)
        return false;   // no driver: the group stays without values
    send_power_trap();
    return true;
}
