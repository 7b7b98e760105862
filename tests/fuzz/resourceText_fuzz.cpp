// Feeds arbitrary text to the parsers of df output, /proc/stat, the
// watchdog file, lsusb listings, device event headers, the SMART tool,
// fdisk, nmcli, modem answers and connection files, as a broken tool, driver
// or device would produce it.
#include "hwdWatcher.h"
#include "monitorGroup/cpuProbe.h"
#include "monitorGroup/storageProbe.h"
#include "peripheralGroup/hardDiskProbe.h"
#include "peripheralGroup/hwdProbe.h"
#include "peripheralGroup/watchdogProbe.h"
#include "wireless/wirelessProbe.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    parseDfOutput(text);
    CpuTicks ticks;
    parseCpuStatLine(text, ticks);
    parseWdtInfo(text);
    for (const UsbBlock &block : parseUsbBlocks(text, watcherReadLimits))
        usbInventoryType(block);
    parseUsbBlocks(text, inventoryReadLimits);
    classifyUevent(std::string(text).c_str());
    parseSmartOutput(text, 1);
    convertDiskSize(text);
    for (const std::string &node : parseScanNodes(text))
        isPlainDevicePath(node);
    parsePartitionCount(text);
    parseWifiListing(text);
    parseDevShow(text);
    parseModemListing(text);
    const std::string line = firstLine(text);
    csqSignal(line);
    copsOperator(line);
    cgsnImei(line);
    cnumNumber(line);
    std::string apn;
    connectionApn(text, apn);
    return 0;
}
