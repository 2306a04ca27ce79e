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

}  // namespace

// Declared in DiskImage.h, where CrcStep reads it.
constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();

uint16_t Crc16(const uint8_t* data, size_t length, uint16_t preset) {
    uint16_t crc = preset;
    for (size_t i = 0; i < length; ++i) {
        crc = CrcStep(crc, data[i]);
    }
    return crc;
}

}  // namespace DiskImage
