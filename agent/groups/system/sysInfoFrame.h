/* SPDX-License-Identifier: BSD-3-Clause */
// System information group: board product name, operator's device name and
// description, operating system version and release, boot times, boot count.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

// The group's row of the group table (vlmGroupIndex).
inline constexpr int SYSTEM_HEALTH_ROW = 1;

// Filled at start-up; changed afterwards only by SETs on the main thread, so
// no semaphore guards it.
struct sysInfoRecord {
    char moduleId[80];              // board product name
    char deviceName[40];            // a 40-octet name fills the field with no NUL
    char descr[40];                 // likewise
    char imageVersion[20];          // from the issue banner
    char releaseDate[20];           // from the release command, newline included
    unsigned char firstBootTime[11];  // DateAndTime of the first start
    unsigned char bootTime[11];       // DateAndTime of this start
    long bootCount;                 // starts, this one included
};
// The group's keys in the configuration file (subtype "atSystem").
inline constexpr char SYSTEM_CONFIG_GROUP[] = "atSystem";
inline constexpr char SYS_DEVICE_NAME_KEY[] = "sysDeviceName";
inline constexpr char SYS_DESCR_KEY[] = "sysDescr";
inline constexpr char SYS_FIRST_BOOT_TIME_KEY[] = "sysFirstBootTime";
inline constexpr char SYS_BOOT_COUNT_KEY[] = "sysBootCount";

inline sysInfoRecord sysInfo;

// Object numbers under 1.3.6.1.4.1.42424.100.1.
enum sysInfoMagic {
    SYS_MODULE_ID = 1,
    SYS_DEVICE_NAME,
    SYS_DESCR,
    SYS_IMAGE_VERSION,
    SYS_RELEASE_DATE,
    SYS_FIRST_BOOT_TIME,
    SYS_BOOT_TIME,
    SYS_BOOT_COUNT,
};

void init_sysInfo();
void init_atSystem();
FindVarMethod sysInfo_handle;
WriteMethod write_sysDeviceName;
WriteMethod write_sysDescr;
