// Renders the bytes as text (every family), hexadecimal, EDTASM source and a picture.
#include <cstdint>
#include <span>

#include "viewer/Renderings.h"
#include "viewer/ViewerModes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    Viewer::ExpandTabs(bytes);
    for (int family : {Viewer::FamilyTRSDOS, Viewer::FamilyRSDOS, Viewer::FamilyCPM}) Viewer::RenderText(bytes, family);
    Viewer::RenderHexDump(bytes);
    Viewer::EdtasmSourceStart(bytes);
    Viewer::RenderEdtasm(bytes);
    Viewer::EncodePortableBitmap(Viewer::RenderGraphics(bytes));
    return 0;
}
