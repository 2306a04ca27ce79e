// Lists the bytes as a tokenised TRS-80 BASIC and as a Color BASIC program.
#include <cstdint>
#include <span>

#include "viewer/BasicLister.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        Viewer::ListBasicProgram(std::span<const uint8_t>(data, size));
        Viewer::ListColorBasicProgram(std::span<const uint8_t>(data, size));
    } catch (const std::exception&) {
    }
    return 0;
}
