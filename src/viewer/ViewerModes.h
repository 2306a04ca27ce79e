// The viewer's renderings of a file: which ones fit a file, which comes first, and one
// entry point that produces any of them. Shared by the desktop viewer and qbox.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "viewer/Renderings.h"

namespace Viewer {

// The numbers are the viewer's mode numbers.
enum class ViewMode {
    Hexadecimal = 0,
    Graphics = 1,
    EDTASM = 2,
    BASIC = 3,
    Text = 4,
    Disassembly = 5,
};

// What the viewer knows of the file besides its bytes.
struct ViewedFile {
    std::span<const uint8_t> Bytes;  // the whole file; the caller keeps it alive
    std::string Extension;   // upper case, without the dot
    int Family = FamilyTRSDOS;  // FamilyTRSDOS, FamilyRSDOS or FamilyCPM
    bool LooksLikeText = false;  // the host-transfer text test on this file
};

// The drop-down label: "Hexadecimal", "Graphics", "EDTASM", "BASIC", "Text", "Disassembly".
const char* ViewModeLabel(ViewMode mode);

// What a file is, by the name conventions of its DOS: enough to pick its icon in a
// list without reading it.
enum class FileKind { Program, BASIC, Text, AssemblerSource, Picture, Data };
FileKind KindOfFile(const std::string& extension, size_t size, int family);

// Recognition tests.
bool IsGraphicsFile(const std::string& extension, size_t size);
bool IsEdtasmSource(std::span<const uint8_t> bytes);
bool IsBasicProgram(std::span<const uint8_t> bytes);
// A tokenised Color BASIC program file: FFH and a program length the file can hold.
bool IsColorBasicProgram(std::span<const uint8_t> bytes);

// The renderings offered for the file, the most fitting first (never empty).
std::vector<ViewMode> ChooseViewModes(const ViewedFile& file);

struct Rendering {
    ViewMode Mode = ViewMode::Hexadecimal;  // the mode produced; see RenderView
    std::string Text;                       // every mode but Graphics
    Picture Image;                          // Graphics only
};

// Renders the file in the mode. A Disassembly of bytes that are no valid load module
// falls back to the Hexadecimal dump, and Mode says so. Never fails.
Rendering RenderView(ViewMode mode, const ViewedFile& file);

}  // namespace Viewer
