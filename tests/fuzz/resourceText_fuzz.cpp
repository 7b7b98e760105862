// Feeds arbitrary text to the parsers of df output, /proc/stat and the
// watchdog file, as a broken tool or driver would produce it.
#include "monitorGroup/cpuProbe.h"
#include "monitorGroup/storageProbe.h"
#include "peripheralGroup/watchdogProbe.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view text(reinterpret_cast<const char *>(data), size);
    parseDfOutput(text);
    CpuTicks ticks;
    parseCpuStatLine(text, ticks);
    parseWdtInfo(text);
    return 0;
}
