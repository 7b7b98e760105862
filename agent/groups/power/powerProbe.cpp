// SPDX-License-Identifier: BSD-3-Clause
// The power-supply reading and the polling cycle.
#include "groups/power/powerProbe.h"

#include "groups/power/powerTrap.h"
#include "groups/power/powerDevice.h"
#include "semaphore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr char PSU_DEVICE[] = "/dev/vlmpsustatus";
constexpr unsigned MAX_RETRY_SECONDS = 30;

} // namespace

std::optional<PowerInputs> readPowerInputs(GroupReading &reading)
{
    int handle = -1;
    if (PSUStatus_DeviceOpen(&handle) != 0) {
        reading.openFailed(PSU_DEVICE, errno);
        return std::nullopt;
    }
    unsigned char level[2] = {0, 0};
    for (unsigned char input = 1; input <= 2; input++) {
        if (PSUStatus_Get(handle, input, &level[input - 1]) < 0) {
            const int err = errno;
            reading.fail("Get PWR" + std::to_string(input) + " status Failed! error. (" + PSU_DEVICE + ": " +
                         strerror(err) + ")");
            PSUStatus_DeviceClose(handle);
            return std::nullopt;
        }
    }
    PSUStatus_DeviceClose(handle);
    return PowerInputs{{level[0] == 1, level[1] == 1}};
}

void storePowerReading(pwrInfo &record, const std::optional<PowerInputs> &inputs)
{
    if (!inputs) {
        record.pwrState = -1;
        record.pwrStateSeverity = -1;
        record.pwrInputGood[0] = record.pwrInputGood[1] = -1;
        return;
    }
    const int32_t state = inputs->state();
    record.pwrState = state;
    record.pwrStateSeverity = state == 1 ? 1 : 3;
    for (int i = 0; i < 2; i++)
        record.pwrInputGood[i] = inputs->good[i] ? 1 : 2;
    record.pwrInputsSeen = true;
    notePowerReading(state);
}

unsigned powerRetryDelay(unsigned failures)
{
    if (failures == 0)
        return 1;
    return failures >= 5 ? MAX_RETRY_SECONDS : std::min(MAX_RETRY_SECONDS, 1u << failures);
}

bool powerInfoCycle()
{
    GroupReading reading;
    const std::optional<PowerInputs> inputs = readPowerInputs(reading);
    noteGroupReading(POWER_HEALTH_ROW, reading);
    {
        SemHold hold(sem_pwr_id);
        storePowerReading(Global_pwrInfoVal, inputs);
    }
    // A state that changed while the inputs could not be read differs from
    // the last one announced: it is announced now, once.
    if (inputs)
        send_power_trap();
    return inputs.has_value();
}

void *powerInfoThread(void *)
{
    sleep(1);
    // A device that cannot be read (missing, held by another process, an
    // input that fails) is tried again, less often the longer it lasts.
    unsigned failures = 0;
    for (;;) {
        sleep(powerRetryDelay(failures));
        failures = powerInfoCycle() ? 0 : failures + 1;
    }
}
