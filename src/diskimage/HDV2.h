// HDV2: a 9-byte header, then one record per cylinder and head holding a
// table of 32 sector entries and their 256-byte data blocks.
#pragma once

#include "diskimage/DiskImage.h"

namespace DiskImage {

class HDV2 : public THardImage {
public:
    static constexpr int HeaderBytes = 9;
    static constexpr int EntryTableBytes = 64;
    static constexpr int TrackRecordBytes = EntryTableBytes + SectorsPerHead * SectorSize;
    static constexpr int MaxHeads = 8;
    static constexpr int MaxCylinders = 1024;

    HDV2(THostFile& file, bool readOnly, const std::string& path);

    std::string GetFormatName() const override { return "HDV2"; }
    void SetWriteProtect(bool on) override;
    bool ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) override;
    bool WriteSector(int cylinder, int head, int sector, const uint8_t* data) override;
    int GetCylinders() const override { return Cylinders; }
    int GetHeads() const override { return Heads; }

private:
    // File offset of the sector's data, or -1 when the track record names no such sector.
    int64_t SectorOffset(int cylinder, int head, int sector) const;
};

}  // namespace DiskImage
