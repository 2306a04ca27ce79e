// TRSDOS 2.3 and ULTRADOS disks: recognition, naming, sector reading and the
// layout of new disks.
#include "filesystem/TRSDOS23.h"

#include <algorithm>

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
    Tracks = TracksOfDisk();
}

// TRSDOS 2.3 itself knows 35 tracks, but disks of its layout written by other systems on
// 40 (or more) tracks say so in the GAT, whose bytes for the tracks past 35 are then
// allocation bytes (the bits of granules a track does not have set) rather than 0xFF, and
// in extents that lie on those tracks. Only tracks the image holds count.
int TRSDOS23::TracksOfDisk() {
    const int unusableBits = 0xFF & ~((1 << GranulesPerTrack) - 1);
    int tracks = StandardTracks;
    for (int t = StandardTracks; t < MaximumTracks; ++t) {
        const uint8_t map = GAT[static_cast<size_t>(t)];
        if ((map & unusableBits) != unusableBits) break;  // not an allocation byte: the map ends
        if (map != 0xFF) tracks = t + 1;                   // 0xFF is a full track or no track at all
    }
    try {
        for (int dec : ListFiles({"*/*"}, ListInvisible | ListSystem)) {
            for (const TExtent& extent : GetExtents(dec)) {
                const int granules = static_cast<int>(extent.Sector) / SectorsPerGranule + extent.Count;
                const int last = static_cast<int>(extent.Track) + (granules - 1) / GranulesPerTrack;
                if (last < MaximumTracks) tracks = std::max(tracks, last + 1);
            }
        }
    } catch (const TFileSystem::Exception&) {
        // A directory that cannot be walked shows nothing.
    }
    std::vector<uint8_t> sector;
    bool normalData = false;
    while (tracks > StandardTracks && !ReadSector(tracks - 1, 0, normalData, sector)) --tracks;
    return tracks;
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
