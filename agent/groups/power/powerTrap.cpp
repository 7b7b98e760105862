// SPDX-License-Identifier: BSD-3-Clause
// Change detection and the power-supply notification.
#include "groups/power/powerTrap.h"

#include "lib/dateAndTime.h"
#include "mibFrame.h"
#include "semaphore.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>

int32_t pwrLastReportedState = 1;
bool pwrReadingSeen = false;

namespace {

constexpr unsigned powerTrap = 105;

const oid pwrStateOid[] = {VLM_ENTERPRISE, 200, 2, 8, 2, 0};
const oid pwrStateSeverityOid[] = {VLM_ENTERPRISE, 200, 2, 8, 3, 0};
const oid pwrStateGetTimeOid[] = {VLM_ENTERPRISE, 200, 2, 8, 4, 0};

} // namespace

void notePowerReading(int32_t pwrState)
{
    if (pwrReadingSeen)
        return;
    pwrReadingSeen = true;
    pwrLastReportedState = pwrState;
}

bool judgePowerTrap(const pwrInfo &info)
{
    // While notifications are off the last reported state stays, so a change
    // that lasts is announced once they are on again.
    if (info.pwrTrapState != 1 || info.pwrState == pwrLastReportedState)
        return false;
    pwrLastReportedState = info.pwrState;
    return true;
}

void send_power_trap()
{
    SemHold hold(sem_pwr_id);
    if (judgePowerTrap(Global_pwrInfoVal))
        send_pwr_notification(copyPwrNodeSnap(Global_pwrInfoVal));
}

std::unique_ptr<pwrInfo> copyPwrNodeSnap(const pwrInfo &info)
{
    std::unique_ptr<pwrInfo> snap(new (std::nothrow) pwrInfo{});
    if (!snap) {
        printf("can not allocate memory\n");
        exit(1);
    }
    snap->pwrState = info.pwrState;
    snap->pwrStateSeverity = info.pwrStateSeverity;
    return snap;
}

void fillPowerDataToTrap(const pwrInfo &snapshot, VarbindList &vars)
{
    unsigned char now[DATE_AND_TIME_LEN];
    dateAndTime(time(nullptr), now);
    vars.addNotificationOid(powerTrap);
    vars.addInteger(pwrStateOid, OID_LENGTH(pwrStateOid), snapshot.pwrState);
    vars.addInteger(pwrStateSeverityOid, OID_LENGTH(pwrStateSeverityOid), snapshot.pwrStateSeverity);
    vars.addOctets(pwrStateGetTimeOid, OID_LENGTH(pwrStateGetTimeOid), now, sizeof now);
}

void send_pwr_notification(std::unique_ptr<pwrInfo> snapshot)
{
    VarbindList vars;
    fillPowerDataToTrap(*snapshot, vars);
    queueNotification(vars);
}
