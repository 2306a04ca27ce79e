// DBLDOS disks: recognition and the logical-to-physical sector mapping.
#include "filesystem/DBLDOS.h"

namespace FileSystem {

namespace {
constexpr int LogicalSectors = 10;
constexpr int PhysicalSectors = 18;
constexpr int DoubleDensity = 1;
}  // namespace

DBLDOS::DBLDOS(DiskImage::TDiskImage* image) : TRSDOSBase(image) {
    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    if (!ReadBootSector(0, 0, dam, boot)) throw EInvalidFormat();
    if (dam != 0xFB) Suspicion += 1;
    DirectoryTrack = 17;
    NoLockoutTable = true;
    Density = DoubleDensity;
    LoadGAT();
    LoadHIT();
    // GAT 0xCD counts the physical tracks, 0xCC the whole logical tracks they hold.
    if (GAT[GatVersion] != '!' || GAT[GatTrackCount] != (PhysicalSectors * GAT[GatConfiguration] - PhysicalSectors) / LogicalSectors)
        throw EInvalidFormat();
    Tracks = GAT[GatTrackCount];
    LoadDirectory(false);
}

std::string DBLDOS::GetDOSName(bool) { return "DBLDOS"; }

void DBLDOS::MapSector(int track, int sector, int& physicalTrack, int& physicalSector) {
    const int linear = LogicalSectors * track + sector;
    physicalTrack = linear / PhysicalSectors + 1;
    physicalSector = linear % PhysicalSectors;
}

bool DBLDOS::ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) {
    int physicalTrack = 0, physicalSector = 0;
    MapSector(track, sector, physicalTrack, physicalSector);
    return ReadPhysicalSector(physicalTrack, physicalSector, 0, DoubleDensity, normalData, buffer);
}

bool DBLDOS::WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) {
    int physicalTrack = 0, physicalSector = 0;
    MapSector(track, sector, physicalTrack, physicalSector);
    const uint8_t dam = track == DirectoryTrack ? 0xF8 : 0xFB;
    return WriteDiskSector(physicalTrack, physicalSector, 0, DoubleDensity, dam, SectorSlice(data, offset));
}

void DBLDOS::InitGAT(const std::string& diskName, const std::string& diskDate) {
    TRSDOSBase::InitGAT(diskName, diskDate);
    GAT[GatVersion] = '!';
}

}  // namespace FileSystem
