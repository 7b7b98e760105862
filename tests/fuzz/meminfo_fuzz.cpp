// Feeds arbitrary text to the /proc/meminfo parser: usage must stay a
// percentage whatever the figures.
#include "monitorGroup/memoryProbe.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    memInfo current = {};
    memInfo m = parseMeminfo(std::string_view(reinterpret_cast<const char *>(data), size), current);
    if (m.memUsedPercentage < 0 || m.memUsedPercentage > 100 || m.memTotal < 0)
        __builtin_trap();
    return 0;
}
