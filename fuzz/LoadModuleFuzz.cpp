// Parses the bytes as a load module and disassembles it.
#include <cstdint>
#include <span>

#include "viewer/CMDFile.h"
#include "viewer/Z80Disassembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    CMDFile::StartsLikeLoadModule(bytes);
    try {
        CMDFile::MergeLoadBlocks(CMDFile::ParseLoadFile(bytes));
    } catch (const std::exception&) {
    }
    for (bool characters : {false, true}) {
        try {
            Viewer::DisassembleLoadModule(bytes, characters);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
