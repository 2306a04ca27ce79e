#include "viewer/Renderings.h"

#include <algorithm>
#include <cstdio>

namespace Viewer {

namespace {

constexpr uint8_t CarriageReturn = 0x0D;
constexpr uint8_t Tab = 0x09;
constexpr uint8_t EndOfFile = 0x1A;
constexpr size_t TabWidth = 8;

// Hexadecimal dump layout.
constexpr size_t DumpBytesPerLine = 16;
constexpr size_t DumpOffsetWidth = 9;   // "%06X:  "
constexpr size_t DumpCharactersColumn = 59;

// EDTASM source lines.
constexpr uint8_t EdtasmHeaderMark = 0xD3;
constexpr size_t EdtasmHeaderSize = 7;
constexpr size_t EdtasmLineNumberDigits = 5;

// Picture sizes.
constexpr int FullWidth = 640, FullHeight = 240;
constexpr int BankedWidth = 512, BankedHeight = 192;
constexpr size_t BankCount = 12, BankSize = 1024;

std::string ExpandTabsOf(const std::string& text) {
    return ExpandTabs(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Every row twice, for the display's aspect.
Picture DoubledRows(int width, int height, const std::vector<uint8_t>& rows) {
    Picture picture;
    picture.Width = width;
    picture.Height = height * 2;
    const size_t rowBytes = static_cast<size_t>(width / 8);
    picture.Pixels.reserve(rows.size() * 2);
    for (int y = 0; y < height; ++y) {
        const auto row = rows.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * rowBytes);
        for (int copy = 0; copy < 2; ++copy) {
            picture.Pixels.insert(picture.Pixels.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
        }
    }
    return picture;
}

std::vector<uint8_t> UnbankRows(std::span<const uint8_t> bytes) {
    const size_t rowBytes = BankedWidth / 8;
    std::vector<uint8_t> rows;
    rows.reserve(BankedScreenPictureSize);
    for (size_t r = 0; r < BankedHeight; ++r) {
        const size_t offset = (r % BankCount) * BankSize + (r / BankCount) * rowBytes;
        rows.insert(rows.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                    bytes.begin() + static_cast<std::ptrdiff_t>(offset + rowBytes));
    }
    return rows;
}

// Control bytes: bit 7 set repeats the next byte n times, clear copies the next n bytes
// (n = the low 7 bits). Data that end early or overrun the screen stop the decoding;
// what was decoded stays.
std::vector<uint8_t> DecodeRunLength(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> screen(FullScreenPictureSize, 0);
    size_t out = 0, in = 0;
    while (out < FullScreenPictureSize && in < bytes.size()) {
        const uint8_t control = bytes[in++];
        const size_t count = control & 0x7F;
        const size_t room = FullScreenPictureSize - out;
        if (control & 0x80) {
            if (in >= bytes.size()) break;
            const uint8_t value = bytes[in++];
            std::fill_n(screen.begin() + static_cast<std::ptrdiff_t>(out), std::min(count, room), value);
            if (count > room) break;
            out += count;
        } else {
            const size_t available = std::min(count, bytes.size() - in);
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(in), std::min(available, room),
                        screen.begin() + static_cast<std::ptrdiff_t>(out));
            if (available < count || count > room) break;
            in += count;
            out += count;
        }
    }
    return screen;
}

}  // namespace

bool Picture::PixelLit(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height) return false;
    const size_t index = static_cast<size_t>(y) * static_cast<size_t>(BytesPerRow()) + static_cast<size_t>(x / 8);
    return index < Pixels.size() && (Pixels[index] & (0x80 >> (x % 8))) != 0;
}

std::string ExpandTabs(std::span<const uint8_t> bytes) {
    std::string output;
    output.reserve(bytes.size());
    size_t column = 0;
    for (const uint8_t b : bytes) {
        if (b == CarriageReturn) {
            output.push_back('\r');
            column = 0;
        } else if (b == Tab) {
            do {
                output.push_back(' ');
                ++column;
            } while (column % TabWidth != 0);
        } else {
            output.push_back(static_cast<char>(b));
            ++column;
        }
    }
    return output;
}

std::string RenderText(std::span<const uint8_t> bytes, int fileSystemFamily) {
    if (bytes.size() >= 4 && bytes.back() == EndOfFile) bytes = bytes.first(bytes.size() - 1);
    std::string text = ExpandTabs(bytes);
    if (fileSystemFamily == FamilyCPM) {
        const size_t end = text.find(static_cast<char>(EndOfFile));
        if (end != std::string::npos) text.resize(end);
        for (char& c : text) c = static_cast<char>(c & 0x7F);
    }
    return text;
}

std::string RenderHexDump(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string output;
    output.reserve(bytes.size() * 78 / 16 + HexDumpLineLength + 1);
    std::string line(HexDumpLineLength, ' ');
    for (size_t start = 0; start < bytes.size(); start += DumpBytesPerLine) {
        const size_t count = std::min(DumpBytesPerLine, bytes.size() - start);
        char offset[24];
        const int offsetLength = std::snprintf(offset, sizeof offset, "%06zX:  ", start);
        for (size_t k = 0; k < count; ++k) {
            const uint8_t b = bytes[start + k];
            line[DumpOffsetWidth + 3 * k] = digits[b >> 4];
            line[DumpOffsetWidth + 3 * k + 1] = digits[b & 0x0F];
            line[DumpCharactersColumn + k] = b >= 0x20 && b <= 0x7F ? static_cast<char>(b) : '.';
        }
        // Offsets past FFFFFFH take more digits and widen their lines.
        output.append(offset, static_cast<size_t>(offsetLength));
        output.append(line, DumpOffsetWidth, std::string::npos);
        if (count == DumpBytesPerLine) {
            output.push_back('\n');
            std::fill(line.begin(), line.end(), ' ');
        }
    }
    return output;
}

size_t EdtasmSourceStart(std::span<const uint8_t> bytes) {
    return !bytes.empty() && bytes[0] == EdtasmHeaderMark ? EdtasmHeaderSize : 0;
}

std::string RenderEdtasm(std::span<const uint8_t> bytes) {
    const size_t start = EdtasmSourceStart(bytes);
    std::string source;
    source.reserve(bytes.size());
    size_t column = 0;
    for (size_t i = start; i < bytes.size(); ++i) {
        const uint8_t b = bytes[i];
        if (b == CarriageReturn) {
            source.push_back('\r');
            column = 0;
            continue;
        }
        if (i + 1 == bytes.size() && b == EndOfFile) continue;
        if (column < EdtasmLineNumberDigits) {
            source.push_back(static_cast<char>(b & 0x7F));
        } else if (column == EdtasmLineNumberDigits) {
            source.push_back('\t');  // the separator brings the source text to column 8
        } else {
            source.push_back(static_cast<char>(b));
        }
        ++column;
    }
    return ExpandTabsOf(source);
}

Picture RenderGraphics(std::span<const uint8_t> bytes) {
    if (bytes.size() == FullScreenPictureSize) {
        return DoubledRows(FullWidth, FullHeight, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    if (bytes.size() == BankedScreenPictureSize) return DoubledRows(BankedWidth, BankedHeight, UnbankRows(bytes));
    return DoubledRows(FullWidth, FullHeight, DecodeRunLength(bytes));
}

std::string EncodePortableBitmap(const Picture& picture) {
    std::string file = "P4\n" + std::to_string(picture.Width) + " " + std::to_string(picture.Height) + "\n";
    const size_t size = static_cast<size_t>(picture.BytesPerRow()) * static_cast<size_t>(std::max(picture.Height, 0));
    file.reserve(file.size() + size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t lit = i < picture.Pixels.size() ? picture.Pixels[i] : 0x00;
        file.push_back(static_cast<char>(~lit));
    }
    return file;
}

}  // namespace Viewer
