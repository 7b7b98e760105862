// SPDX-License-Identifier: BSD-3-Clause
// Registration, read routine and write routines of the system information group.
#include "groups/system/sysInfoFrame.h"

#include "groups/system/sysInfoProbe.h"
#include "lib/fieldCopy.h"
#include "mibFrame.h"

namespace {

const oid sysInfo_variables_oid[] = {VLM_ENTERPRISE, 100, 1};

struct variable2 sysInfo_variables[] = {
    {SYS_MODULE_ID, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {1}},
    {SYS_DEVICE_NAME, ASN_OCTET_STR, NETSNMP_OLDAPI_RWRITE, sysInfo_handle, 1, {2}},
    {SYS_DESCR, ASN_OCTET_STR, NETSNMP_OLDAPI_RWRITE, sysInfo_handle, 1, {3}},
    {SYS_IMAGE_VERSION, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {4}},
    {SYS_RELEASE_DATE, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {5}},
    {SYS_FIRST_BOOT_TIME, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {6}},
    {SYS_BOOT_TIME, ASN_OCTET_STR, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {7}},
    {SYS_BOOT_COUNT, ASN_INTEGER, NETSNMP_OLDAPI_RONLY, sysInfo_handle, 1, {8}},
};

// The value handed to the library for the integer object.
long sysInfo_long;

template <size_t N>
SetValue loadText(const char (&field)[N])
{
    SetValue v;
    v.octets = std::string(fieldText(field));
    return v;
}

const WritableScalar deviceNameObject = {
    "atSystem", ASN_OCTET_STR, sizeof sysInfo.deviceName, nullptr, nullptr,
    [] { return loadText(sysInfo.deviceName); },
    [](const SetValue &v) { setFieldOctets(sysInfo.deviceName, v.octets.data(), v.octets.size()); },
    SYSTEM_CONFIG_GROUP, SYS_DEVICE_NAME_KEY,
};

const WritableScalar descrObject = {
    "atSystem", ASN_OCTET_STR, sizeof sysInfo.descr, nullptr, nullptr,
    [] { return loadText(sysInfo.descr); },
    [](const SetValue &v) { setFieldOctets(sysInfo.descr, v.octets.data(), v.octets.size()); },
    SYSTEM_CONFIG_GROUP, SYS_DESCR_KEY,
};

template <size_t N>
u_char *textValue(const char (&field)[N], size_t *var_len)
{
    *var_len = strnlen(field, N);
    return reinterpret_cast<u_char *>(const_cast<char *>(field));
}

} // namespace

void init_sysInfo()
{
    REGISTER_SCALARS("sysInfoFrame", sysInfo_variables, variable2, sysInfo_variables_oid);
}

void init_atSystem()
{
    // Read once, at start-up: the group's status is that of this reading.
    GroupReading reading;
    get_moduleId(reading);
    get_imageVersion(reading);
    get_releaseDate(reading);
    noteGroupReading(SYSTEM_HEALTH_ROW, reading);
}

u_char *sysInfo_handle(struct variable *vp, oid *name, size_t *length, int exact, size_t *var_len,
                       WriteMethod **write_method)
{
    VLM_TRACE();
    if (header_generic(vp, name, length, exact, var_len, write_method) == MATCH_FAILED)
        return nullptr;

    switch (vp->magic) {
    case SYS_MODULE_ID:
        return textValue(sysInfo.moduleId, var_len);
    case SYS_DEVICE_NAME:
        *write_method = write_sysDeviceName;
        return textValue(sysInfo.deviceName, var_len);
    case SYS_DESCR:
        *write_method = write_sysDescr;
        return textValue(sysInfo.descr, var_len);
    case SYS_IMAGE_VERSION:
        return textValue(sysInfo.imageVersion, var_len);
    case SYS_RELEASE_DATE:
        return textValue(sysInfo.releaseDate, var_len);
    case SYS_FIRST_BOOT_TIME:
        *var_len = sizeof sysInfo.firstBootTime;
        return sysInfo.firstBootTime;
    case SYS_BOOT_TIME:
        *var_len = sizeof sysInfo.bootTime;
        return sysInfo.bootTime;
    case SYS_BOOT_COUNT:
        sysInfo_long = sysInfo.bootCount;
        return reinterpret_cast<u_char *>(&sysInfo_long);
    default:
        VLM_DEBUG("snmpd", "unknown sub-id %d in vlmCommonMib/atSystem\n", vp->magic);
    }
    return nullptr;
}

int write_sysDeviceName(int action, u_char *var_val, u_char var_val_type, size_t var_val_len,
                        u_char *statP, oid *name, size_t name_len)
{
    return scalarWrite(deviceNameObject, action, var_val, var_val_type, var_val_len);
}

int write_sysDescr(int action, u_char *var_val, u_char var_val_type, size_t var_val_len, u_char *statP,
                   oid *name, size_t name_len)
{
    return scalarWrite(descrObject, action, var_val, var_val_type, var_val_len);
}
