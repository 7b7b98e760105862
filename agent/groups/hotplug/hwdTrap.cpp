// SPDX-License-Identifier: BSD-3-Clause
// The hardware-detect notification.
#include "groups/hotplug/hwdTrap.h"

#include "lib/fieldCopy.h"
#include "mibFrame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr unsigned hwdTrap = 5;
constexpr size_t SNAPSHOT_NAME_MAX = 40;

const oid deviceTypeOid[] = {VLM_ENTERPRISE, 200, 3, 6, 4, 1, 3};
const oid eventOid[] = {VLM_ENTERPRISE, 200, 3, 6, 4, 1, 7};
const oid friendlyNameOid[] = {VLM_ENTERPRISE, 200, 3, 6, 4, 1, 6};

} // namespace

std::unique_ptr<hwdTable_entry> copyHwdNodeSnap(long deviceType, long event, const char *friendlyName)
{
    std::unique_ptr<hwdTable_entry> snap(new (std::nothrow) hwdTable_entry{});
    if (!snap) {
        printf("can not allocate memory\n");
        exit(1);
    }
    snap->deviceType = deviceType;
    snap->event = event;
    setFieldOctets(snap->friendlyName, friendlyName, strnlen(friendlyName, SNAPSHOT_NAME_MAX));
    return snap;
}

void fillhwdDataToTrap(const hwdTable_entry &t_hwdInfo, VarbindList &vars)
{
    vars.addNotificationOid(hwdTrap);
    vars.addInteger(deviceTypeOid, OID_LENGTH(deviceTypeOid), t_hwdInfo.deviceType);
    vars.addInteger(eventOid, OID_LENGTH(eventOid), t_hwdInfo.event);
    vars.addOctets(friendlyNameOid, OID_LENGTH(friendlyNameOid), t_hwdInfo.friendlyName,
                   strnlen(t_hwdInfo.friendlyName, SNAPSHOT_NAME_MAX));
}

void send_hwd_notification(std::unique_ptr<hwdTable_entry> tmpNode)
{
    VarbindList vars;
    fillhwdDataToTrap(*tmpNode, vars);
    queueNotification(vars);
}
