// DBLDOS: double-density disks read as 10-sector logical tracks packed into
// 18-sector physical tracks from physical track 1 on.
#pragma once

#include <string>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class DBLDOS : public TRSDOSBase {
public:
    explicit DBLDOS(DiskImage::TDiskImage* image);

    std::string GetDOSName(bool family) override;
    bool ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) override;
    bool WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;

    // Physical position of a logical sector.
    static void MapSector(int track, int sector, int& physicalTrack, int& physicalSector);
};

}  // namespace FileSystem
