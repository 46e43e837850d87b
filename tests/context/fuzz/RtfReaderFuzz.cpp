#include "context/RtfReader.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// libFuzzer entry: any bytes, with and without the RTF header the reader insists on.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::u16string> text = readRtfText(bytes);
    // The output never outgrows the input: every unit comes from at least one input byte.
    if (text && text->size() > size * 2 + 2)
        __builtin_trap();
    std::string withHeader = "{\\rtf1\\ansi ";
    withHeader.append(bytes);
    readRtfText(withHeader);
    return 0;
}
