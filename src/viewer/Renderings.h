// Renderings of a file's bytes as text or as a picture: plain text, a hexadecimal dump,
// EDTASM source and hi-res graphics. None of them fails on any input.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace Viewer {

// File-system families, as the file systems report them.
constexpr int FamilyTRSDOS = 0;
constexpr int FamilyRSDOS = 1;
constexpr int FamilyCPM = 2;

// Sizes of the two uncompressed picture files.
constexpr size_t FullScreenPictureSize = 19200;   // 640 x 240, 80 bytes a row
constexpr size_t BankedScreenPictureSize = 12288; // 512 x 192 in 12 banks of 1024 bytes

// A monochrome picture: packed rows top to bottom, Width / 8 bytes per row, the most
// significant bit the leftmost pixel, a 1 bit a lit (white) pixel.
struct Picture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;

    int BytesPerRow() const { return Width / 8; }
    bool PixelLit(int x, int y) const;
};

// Expands each tab to blanks up to the next multiple of 8 columns; a carriage return
// starts column 0 again.
std::string ExpandTabs(std::span<const uint8_t> bytes);

// Text with tabs expanded; a final 1AH of a file of 4 bytes or more is dropped. CP/M files
// (family 2) end at their first 1AH and have bit 7 of every byte cleared.
std::string RenderText(std::span<const uint8_t> bytes, int fileSystemFamily);

// 16 bytes a line: offset, the bytes in hexadecimal and as characters.
std::string RenderHexDump(std::span<const uint8_t> bytes);
// The characters of one line of the dump.
constexpr size_t HexDumpLineLength = 75;

// Where an editor-assembler source's lines start: after the D3H-and-name header, if any.
size_t EdtasmSourceStart(std::span<const uint8_t> bytes);

// Editor-assembler source: line numbers without their bit 7, the source text at column 8.
std::string RenderEdtasm(std::span<const uint8_t> bytes);

// Hi-res picture: 19200 bytes are a 640 x 240 screen, 12288 bytes a banked 512 x 192
// screen, anything else a run-length-coded 640 x 240 screen. Rows are doubled for display.
Picture RenderGraphics(std::span<const uint8_t> bytes);

// The picture as a binary portable bitmap (P4), in which a 1 bit is black: lit pixels
// come out white.
std::string EncodePortableBitmap(const Picture& picture);

}  // namespace Viewer
