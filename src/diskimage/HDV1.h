// HDV1: a 256-byte header, then every sector at an address computed from the geometry.
#pragma once

#include "diskimage/DiskImage.h"

namespace DiskImage {

class HDV1 : public THardImage {
public:
    static constexpr int HeaderBytes = 256;

    HDV1(THostFile& file, bool readOnly, const std::string& path);

    std::string GetFormatName() const override { return "HDV1"; }
    void SetWriteProtect(bool on) override;
    bool ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) override;
    bool WriteSector(int cylinder, int head, int sector, const uint8_t* data) override;
    int GetCylinders() const override { return Cylinders; }
    int GetHeads() const override { return Heads; }
    // Headers in the wild understate the cylinders their file holds: the file decides.
    int GetUsableCylinders() const override { return CylindersInFile; }

    // Byte 3 of the header: the sum of bytes 0 to 31 except itself, XOR 0x4C.
    static uint8_t HeaderChecksum(const uint8_t* header);

private:
    int64_t SectorOffset(int cylinder, int head, int sector) const;

    // Cylinders the file holds, a part of one counting whole.
    int CylindersInFile = 0;
};

}  // namespace DiskImage
