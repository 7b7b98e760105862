// Feeds arbitrary first lines to the issue banner and release parsers.
#include "atSystem/sysInfoProbe.h"
#include "lib/textCheck.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string line(reinterpret_cast<const char *>(data), size);
    if (parseIssueLine(line).size() > line.size() || parseReleaseLine(line).size() > line.size())
        __builtin_trap();
    isStorableText(data, size);
    return 0;
}
