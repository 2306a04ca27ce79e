#include "viewer/ViewerModes.h"

#include <cctype>
#include <initializer_list>

#include "viewer/BasicLister.h"
#include "viewer/CMDFile.h"
#include "viewer/Z80Disassembler.h"

namespace Viewer {

namespace {

constexpr uint16_t HighestBasicLoadAddress = 0x8500;

bool IsDecimalDigitWithBit7(uint8_t b) { return b >= 0xB0 && b <= 0xB9; }

}  // namespace

const char* ViewModeLabel(ViewMode mode) {
    switch (mode) {
    case ViewMode::Hexadecimal: return "Hexadecimal";
    case ViewMode::Graphics: return "Graphics";
    case ViewMode::EDTASM: return "EDTASM";
    case ViewMode::BASIC: return "BASIC";
    case ViewMode::Text: return "Text";
    case ViewMode::Disassembly: return "Disassembly";
    }
    return "";
}

bool IsGraphicsFile(const std::string& extension, size_t size) {
    if ((extension == "HR" || extension == "HRG") && size == FullScreenPictureSize) return true;
    if ((extension == "HR" || extension == "HRX") && size == BankedScreenPictureSize) return true;
    return extension == "SHR" || extension == "CHR";
}

FileKind KindOfFile(const std::string& extension, size_t size, int family) {
    std::string upper;
    for (char c : extension) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    auto any = [&upper](std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (upper == name) return true;
        }
        return false;
    };
    if (family != FamilyRSDOS && IsGraphicsFile(upper, size)) return FileKind::Picture;
    if (any({"CMD", "COM", "SYS", "CIM", "BIN", "PRL", "DVR", "FLT"})) return FileKind::Program;
    if (upper == "BAS") return FileKind::BASIC;
    if (any({"ASM", "SRC", "EDT", "Z80", "MAC", "DEF", "EQU", "LIB"})) return FileKind::AssemblerSource;
    if (any({"TXT", "DOC", "ASC", "JCL", "HLP", "ME", "LST", "PRN", "FIX", "TEX"})) return FileKind::Text;
    return FileKind::Data;
}

bool IsEdtasmSource(std::span<const uint8_t> bytes) {
    const size_t start = EdtasmSourceStart(bytes);
    if (bytes.size() < start + 6) return false;
    for (size_t i = start; i < start + 5; ++i) {
        if (!IsDecimalDigitWithBit7(bytes[i])) return false;
    }
    return bytes[start + 5] == ' ' || bytes[start + 5] == '\t';
}

bool IsBasicProgram(std::span<const uint8_t> bytes) {
    if (bytes.size() < 3 || bytes[0] != BasicFileMarker) return false;
    return (bytes[1] | (bytes[2] << 8)) <= HighestBasicLoadAddress;
}

bool IsColorBasicProgram(std::span<const uint8_t> bytes) {
    if (bytes.size() < ColorBasicHeaderSize || bytes[0] != BasicFileMarker) return false;
    // Disk BASIC counts the program without the header; some tools count the header too.
    const size_t length = (bytes[1] << 8) | bytes[2];
    return length > 0 && length <= bytes.size();
}

std::vector<ViewMode> ChooseViewModes(const ViewedFile& file) {
    using enum ViewMode;
    const bool trsdosFamily = file.Family == FamilyTRSDOS;
    if (file.Family == FamilyRSDOS && IsColorBasicProgram(file.Bytes)) return {BASIC, Hexadecimal};
    if (trsdosFamily && IsGraphicsFile(file.Extension, file.Bytes.size())) return {Graphics, Hexadecimal};
    if (trsdosFamily && IsEdtasmSource(file.Bytes)) return {EDTASM, Hexadecimal};
    if (trsdosFamily && IsBasicProgram(file.Bytes)) return {BASIC, Hexadecimal};
    if (trsdosFamily && CMDFile::StartsLikeLoadModule(file.Bytes)) return {Disassembly, Hexadecimal, Text};
    if (!file.Bytes.empty() && file.LooksLikeText) return {Text, Hexadecimal};
    return {Hexadecimal, Text};
}

Rendering RenderView(ViewMode mode, const ViewedFile& file) {
    Rendering rendering;
    rendering.Mode = mode;
    switch (mode) {
    case ViewMode::Graphics:
        rendering.Image = RenderGraphics(file.Bytes);
        break;
    case ViewMode::EDTASM:
        rendering.Text = RenderEdtasm(file.Bytes);
        break;
    case ViewMode::BASIC:
        rendering.Text =
            file.Family == FamilyRSDOS ? ListColorBasicProgram(file.Bytes) : ListBasicProgram(file.Bytes);
        break;
    case ViewMode::Text:
        rendering.Text = RenderText(file.Bytes, file.Family);
        break;
    case ViewMode::Disassembly:
        try {
            rendering.Text = DisassembleLoadModule(file.Bytes);
            break;
        } catch (const CMDFile::Exception&) {
            rendering.Mode = ViewMode::Hexadecimal;
        }
        [[fallthrough]];
    case ViewMode::Hexadecimal:
        rendering.Text = RenderHexDump(file.Bytes);
        break;
    }
    return rendering;
}

}  // namespace Viewer
