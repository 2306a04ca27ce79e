// TRSDOS 2.3 and ULTRADOS disks: recognition, naming, sector reading and the
// layout of new disks.
#include "filesystem/TRSDOS23.h"

namespace FileSystem {

TRSDOS23::TRSDOS23(DiskImage::TDiskImage* image) : TRSDOSBase(image) {
    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    const bool bootRead = ReadBootSector(0, 0, dam, boot);
    if (!bootRead || dam != 0xFB) Suspicion += 1;
    if (!bootRead) {
        Suspicion += 10;
    } else if ((boot[0] == 0x00 && boot[1] == 0xFE) || (boot[0] == 0xF3 && boot[1] == 0xFE) ||
               (boot[0] == 0x00 && boot[1] == 0x1E)) {
        if (boot[2] >= 1 && boot[2] <= 40)
            DirectoryTrack = boot[2];
        else
            Suspicion += 10;
    } else {
        Suspicion += 20;
    }
    LoadGAT();
    LoadHIT();
    if (GAT[GatVersion] != '!' && GAT[GatVersion] != 'U') Suspicion += 10;
    LoadDirectory(true);
}

TRSDOS23::TRSDOS23(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate,
                   int tracks)
    : TRSDOSBase(image) {
    if (tracks < MinimumTracks || tracks > MaximumTracks) throw Exception("Unsupported track count");
    Tracks = tracks;
    Format(diskName, diskDate);
}

std::string TRSDOS23::GetDOSName(bool) { return GAT[GatVersion] == 'U' ? "ULTRADOS" : "TRSDOS 2.3"; }

bool TRSDOS23::ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) {
    return ReadPhysicalSector(track, sector, 0, 0, normalData, buffer);
}

void TRSDOS23::InitGAT(const std::string& diskName, const std::string& diskDate) {
    TRSDOSBase::InitGAT(diskName, diskDate);
    GAT[GatVersion] = '!';
}

}  // namespace FileSystem
