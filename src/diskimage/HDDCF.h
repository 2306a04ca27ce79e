// Memory-card image: every 512-byte block carries one 256-byte sector in its even bytes.
#pragma once

#include "diskimage/DiskImage.h"

namespace DiskImage {

class HDDCF : public THardImage {
public:
    static constexpr int BlockBytes = 512;

    HDDCF(THostFile& file, bool readOnly, const std::string& path);

    std::string GetFormatName() const override { return "Memory card image"; }
    void SetWriteProtect(bool) override {}
    bool CanSetWriteProtect() const override { return false; }
    bool ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) override;
    bool WriteSector(int cylinder, int head, int sector, const uint8_t* data) override;
    int GetCylinders() const override { return Cylinders; }
    int GetHeads() const override { return Heads; }

private:
    int64_t BlockOffset(int cylinder, int head, int sector) const;

    int SectorsPerHead = 0;
    int FirstSector = 0;
};

}  // namespace DiskImage
