// SPDX-License-Identifier: BSD-3-Clause
// The libFuzzer targets: one per parser of text or bytes that comes from a
// file, a tool, a driver, a device or the firmware. This file is compiled
// once per target, with FUZZ_PARSER naming the function below that the
// target feeds. Each function also checks what its parser promises about
// its result whatever the input; a broken promise stops the run like a crash.
#include "groups/trapServers/trapServerProbe.h"
#include "groups/system/sysInfoProbe.h"
#include "groups/hotplug/hwdWatcher.h"
#include "lib/textCheck.h"
#include "lib/trapList.h"
#include "groups/cpu/cpuProbe.h"
#include "groups/memory/memoryProbe.h"
#include "groups/storage/storageProbe.h"
#include "groups/sensors/sensorConfig.h"
#include "groups/system/sysInfoFrame.h"
#include "groups/system/systemConfig.h"
#include "configStore.h"
#include "groups/disks/hardDiskProbe.h"
#include "groups/hotplug/hwdProbe.h"
#include "groups/watchdog/watchdogProbe.h"
#include "groups/mobile/mobileProbe.h"
#include "groups/wireless/nmcli.h"
#include "groups/wlan/wlanProbe.h"

extern "C" {
#include "bios_name.h"
}

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifndef FUZZ_PARSER
#error "FUZZ_PARSER names the parser this target feeds"
#endif

namespace fuzz {

void require(bool promise)
{
    if (!promise)
        __builtin_trap();
}

// A NUL-terminated field that the parser filled: its text must end inside it.
template <size_t N>
void requireTerminated(const char (&field)[N])
{
    require(strnlen(field, N) < N);
}

// The configuration file: read, one element rewritten, the result read again.
void config(std::string_view text)
{
    int len = static_cast<int>(text.size());
    ConfigStore store;
    if (!store.read(text.data(), len))
        return;
    // Every group reads its keys from what was read.
    configureSensors(store);
    ConfigWrite result;
    std::string out =
        applyConfigEdits(text.data(), len, {{"atSystem", "sysDescr", "a&b<c>"}, {"VIN", "vtHigh", "13"}}, result);
    // A document that was read must be written back in a form that reads again.
    ConfigStore again;
    require(again.read(out.data(), static_cast<int>(out.size())));
    const std::string *firstBoot = store.last(SYS_FIRST_BOOT_TIME_KEY);
    const std::string *bootCount = store.last(SYS_BOOT_COUNT_KEY);
    BootTimes boot = computeBootTimes(firstBoot ? *firstBoot : std::string(), 0);
    require(boot.firstBootText.size() == 22);
    nextBootCount(bootCount ? *bootCount : std::string());
}

// snmpd.conf: every destination the reader lists can have its host changed
// by the editor, and the edited file lists the new host in its place with
// the same community and port (a port in the address word stays). Lines
// that reach the reader's 99th character, where a cut word or a shifted
// keyword change what the line says, and hosts that hold the keyword
// themselves are left out.
void trapSink(std::string_view text)
{
    const std::string conf(text);
    const std::vector<TrapSinkLine> lines = parseTrapSinkLines(conf);
    std::vector<size_t> lineLength;
    for (size_t start = 0; start <= conf.size();) {
        size_t end = std::min(conf.find('\n', start), conf.size());
        lineLength.push_back(end - start);
        start = end + 1;
    }
    for (size_t i = 0; i < lines.size() && i < 4; i++) {
        const std::string &host = lines[i].host;
        if (host.empty() || host.find("trapsink") != std::string::npos || lineLength[lines[i].lineNumber - 1] > 80)
            continue;
        const std::string edited = editTrapSinkHost(conf, static_cast<long>(i + 1), host, "192.0.2.1");
        require(!edited.empty());
        const std::vector<TrapSinkLine> after = parseTrapSinkLines(edited);
        require(after.size() == lines.size() && after[i].host == "192.0.2.1");
        require(after[i].community == lines[i].community && after[i].port == lines[i].port);
    }
}

// /proc/stat: whatever the counters, a load is a percentage.
void procStat(std::string_view text)
{
    CpuTicks ticks = {}, zero = {};
    if (!parseCpuStatLine(text, ticks))
        return;
    for (int32_t load : {cpuLoadPercent(zero, ticks), cpuLoadPercent(ticks, zero), cpuLoadPercent(ticks, ticks)})
        require(load >= 0 && load <= 100);
}

// /proc/meminfo: usage stays a percentage whatever the figures.
void meminfo(std::string_view text)
{
    memInfo current = {};
    memInfo m = parseMeminfo(text, current);
    require(m.memUsedPercentage >= 0 && m.memUsedPercentage <= 100 && m.memTotal >= 0);
}

// df -m, and the size texts of the storage thresholds.
void df(std::string_view text)
{
    dfReport report = parseDfOutput(text);
    for (const dfStorageLine &l : report.storage)
        require(l.storageDescr.compare(0, 4, "/dev") == 0);
    storageTranslate_MSize(text);
    storageTranslate_KSize(text);
}

// lsusb -v, with the capacities of the inventory and of the hot-plug watcher.
void lsusb(std::string_view text)
{
    for (const UsbReadLimits &limits : {inventoryReadLimits, watcherReadLimits})
        for (const UsbBlock &block : parseUsbBlocks(text, limits)) {
            require(block.friendlyName.size() <= 59 && block.text.size() <= limits.blockText);
            usbInventoryType(block);
        }
}

// The header of a kernel device event, a NUL-terminated string.
void uevent(std::string_view text)
{
    HwdEvent e = classifyUevent(std::string(text).c_str());
    require(!e.kind || e.event != 0);
}

// vlm_smartctl -a: identity fields and attribute rows fit their records.
void smart(std::string_view text)
{
    HddDiskInfo info = parseSmartOutput(text, 1);
    requireTerminated(info.disk.hdManufacturer);
    requireTerminated(info.disk.hdModel);
    requireTerminated(info.disk.hdFirmwareRevision);
    requireTerminated(info.disk.hdSerialNumber);
    for (const hdSMARTTable_entry &row : info.smart) {
        requireTerminated(row.hdsName);
        requireTerminated(row.hdsRAWValue);
        require(strlen(row.hdsRAWValue) >= 12);
    }
    require(convertDiskSize(text) >= 0);
    const std::string raw = smartRawText(text);
    require(raw.size() >= 12 && raw.find_first_not_of("0123456789ABCDEF") == std::string::npos);
}

// vlm_smartctl --scan: the nodes the refresh would hand to the tool again.
void smartScan(std::string_view text)
{
    for (const std::string &node : parseScanNodes(text))
        if (isPlainDevicePath(node))
            require(node[0] == '/' && node.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                             "0123456789/-_") == std::string::npos);
}

// The partition count from fdisk's lines.
void fdisk(std::string_view text) { require(parsePartitionCount(text) >= -1); }

// /proc/vlmwdtinfo.
void watchdog(std::string_view text)
{
    wdtInfo w = parseWdtInfo(text);
    requireTerminated(w.wdChipSet);
    require(w.wdtState >= 0 && w.wdtState <= 2);
}

// nmcli's Wi-Fi and device status listings: every field within its column.
void nmcliListing(std::string_view text)
{
    for (const wifiListLine &l : parseWifiListing(text))
        require(l.device.size() <= 19 && l.ssid.size() <= 39 && l.bssid.size() <= 19 && l.signal.size() <= 9 &&
                l.security.size() <= 39 && l.mode >= 0 && l.mode <= 2);
    for (const modemListLine &l : parseModemListing(text))
        require(l.device.size() <= 19 && l.state.size() <= 39);
}

// nmcli dev show.
void nmcliBlocks(std::string_view text)
{
    for (const auto &[device, values] : parseDevShow(text))
        require(values.connection.find('\n') == std::string::npos && values.address.find('\n') == std::string::npos &&
                values.gateway.find('\n') == std::string::npos);
}

// A modem's answer to the AT commands, through the string utilities the
// mobile thread applies to the fields.
void modem(std::string_view text)
{
    const std::string line = firstLine(text);
    require(line.size() <= text.size());
    for (std::string field : {csqSignal(line), copsOperator(line), cgsnImei(line), cnumNumber(line)}) {
        require(field.size() <= line.size());
        std::vector<char> buf(field.begin(), field.end());
        buf.push_back('\0');
        require(judgeChar(buf.data(), '"') <= static_cast<int>(field.size()));
        delReturn(delEnter(delQuotes(delAdd(delSubtract(delSpace(buf.data()))))));
        require(strlen(buf.data()) <= field.size());
    }
}

// A NetworkManager connection file.
void connection(std::string_view text)
{
    std::string apn;
    if (connectionApn(text, apn))
        require(apn.find('\n') == std::string::npos);
}

// The first lines of /etc/issue and of lsb_release's output.
void releaseLines(std::string_view text)
{
    const std::string line(text);
    require(parseIssueLine(line).size() <= line.size() && parseReleaseLine(line).size() <= line.size());
    isStorableText(reinterpret_cast<const unsigned char *>(text.data()), text.size());
}

// The product-name driver's search of a BIOS segment. The input is the
// segment; a structure table is mapped as a buffer of exactly the length
// asked for, its bytes taken cyclically from the input from the table
// address on, so that the sanitizer sees any read past either buffer.
int mapFromInput(bios_mem *mem, u32 addr, u32 len, const u8 **buf);
void unmapFromInput(bios_mem *, const u8 *buf) { free(const_cast<u8 *>(buf)); }

struct InputMem {
    bios_mem mem = {mapFromInput, unmapFromInput};
    std::string_view input;
};

int mapFromInput(bios_mem *mem, u32 addr, u32 len, const u8 **buf)
{
    std::string_view input = reinterpret_cast<InputMem *>(mem)->input;
    u8 *table = static_cast<u8 *>(malloc(len));
    if (!table)
        return -12;
    for (u32 i = 0; i < len; i++)
        table[i] = static_cast<u8>(input[(static_cast<size_t>(addr) + i) % input.size()]);
    *buf = table;
    return 0;
}

// The name is zero after its length and never longer than its buffer.
void requireName(const char *name, int n)
{
    require(n >= 0 && n <= BIOS_NAME_LEN);
    for (int i = n; i < BIOS_NAME_LEN; i++)
        require(name[i] == 0);
}

void biosName(std::string_view text)
{
    const u8 *bytes = reinterpret_cast<const u8 *>(text.data());
    char name[BIOS_NAME_LEN];
    requireName(name, smbios_product_name(bytes, text.size(), name));
    requireName(name, bios_prefix_name(bytes, text.size(), name));
    if (text.empty())
        return;
    InputMem mem;
    mem.input = text;
    require(bios_find_product_name(bytes, text.size(), &mem.mem, name) == 0);
    requireName(name, static_cast<int>(strnlen(name, BIOS_NAME_LEN)));
}

} // namespace fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::FUZZ_PARSER(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}
