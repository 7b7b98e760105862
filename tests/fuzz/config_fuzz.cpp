// Feeds arbitrary text to the configuration reader and to the editor that
// rewrites one element, as a damaged or hand-edited file would.
#include "parseXml.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    int len = static_cast<int>(size);
    ConfigValues cv;
    if (readConfigValues(text, len, cv)) {
        ConfigWrite result;
        std::string out = applyConfigEdits(text, len, {{"atSystem", "sysDescr", "a&b<c>"}, {"VIN", "vtHigh", "13"}},
                                           result);
        // A document that was read must be written back in a form that reads again.
        ConfigValues again;
        if (!readConfigValues(out.data(), static_cast<int>(out.size()), again))
            __builtin_trap();
        computeBootTimes(cv.firstBootTime, 0);
        nextBootCount(cv.bootCount);
    }
    return 0;
}
