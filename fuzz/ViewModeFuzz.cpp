// Chooses the viewer's modes for the bytes and renders each offered mode.
// The first byte picks the extension, family and text flag.
#include <cstdint>
#include <span>
#include <string>

#include "viewer/ViewerModes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const extensions[] = {"", "CMD", "BAS", "TXT", "CHR", "HRG", "HR", "SHR"};
    Viewer::ViewedFile file;
    file.Extension = extensions[data[0] & 7];
    const int families[] = {Viewer::FamilyTRSDOS, Viewer::FamilyRSDOS, Viewer::FamilyCPM};
    file.Family = families[(data[0] >> 3) % 3];
    file.LooksLikeText = (data[0] & 0x80) != 0;
    file.Bytes = std::span<const uint8_t>(data + 1, size - 1);
    for (Viewer::ViewMode mode : Viewer::ChooseViewModes(file)) Viewer::RenderView(mode, file);
    return 0;
}
