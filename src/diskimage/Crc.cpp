#include <array>

#include "diskimage/DiskImage.h"

namespace DiskImage {

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

// Slice k: the CRC, from zero, of byte b followed by k zero bytes. Eight slices take eight
// bytes per step with one dependency on the running CRC instead of eight.
using CrcSlices = std::array<std::array<uint16_t, 256>, 8>;
constexpr CrcSlices MakeCrcSlices(const std::array<uint16_t, 256>& table) {
    CrcSlices slices{};
    slices[0] = table;
    for (int k = 1; k < 8; ++k) {
        for (int b = 0; b < 256; ++b) {
            uint16_t crc = slices[k - 1][b];
            slices[k][b] = static_cast<uint16_t>((crc << 8) ^ table[crc >> 8]);
        }
    }
    return slices;
}

}  // namespace

// Declared in DiskImage.h, where CrcStep reads it.
constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

namespace {
constexpr CrcSlices Slices = MakeCrcSlices(CrcTable);
}  // namespace

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t preset) {
    uint16_t crc = preset;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        // The running CRC folds into the first two bytes; the rest go through their slices.
        const uint8_t* b = data + i;
        crc = static_cast<uint16_t>(Slices[7][b[0] ^ (crc >> 8)] ^ Slices[6][b[1] ^ (crc & 0xFF)] ^ Slices[5][b[2]] ^
                                    Slices[4][b[3]] ^ Slices[3][b[4]] ^ Slices[2][b[5]] ^ Slices[1][b[6]] ^
                                    Slices[0][b[7]]);
    }
    for (; i < length; ++i) {
        crc = CrcStep(crc, data[i]);
    }
    return crc;
}

}  // namespace DiskImage
