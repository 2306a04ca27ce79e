#include "filesystem/DiskMap.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "diskimage/DiskImage.h"
#include "filesystem/CPM.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/RSDOS.h"
#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

std::string SectorUseName(TSectorUse use) {
    switch (use) {
        case TSectorUse::System: return "system";
        case TSectorUse::Directory: return "directory";
        case TSectorUse::File: return "file";
        case TSectorUse::Free: return "free";
        case TSectorUse::BadCrc: return "bad CRC";
        case TSectorUse::Missing: return "missing";
        case TSectorUse::Unreadable: return "unreadable";
        case TSectorUse::Outside: return "outside the file system";
    }
    return {};
}

std::array<int, SectorUseCount> TDiskMap::CountUses() const {
    std::array<int, SectorUseCount> counts{};
    for (const TMapSector& sector : Sectors) ++counts[static_cast<size_t>(sector.Use)];
    return counts;
}

std::vector<TMapSector> TDiskMap::SectorsOf(int file) const {
    std::vector<TMapSector> sectors;
    std::copy_if(Sectors.begin(), Sectors.end(), std::back_inserter(sectors),
                 [file](const TMapSector& sector) { return sector.File == file; });
    return sectors;
}

namespace {

using TPlace = TStructureMap::TPlace;
using TOwners = std::map<TPlace, TStructureMap::TOwner>;
using TSystemSides = std::set<std::pair<int, int>>;

// TRSDOS family: each granule's owner from the files' extents, the directory track as
// the system's (GAT and HIT in its first two sectors), granules the GAT marks used that
// no file owns as reserved by the DOS.
void MapTRSDOS(TRSDOSBase& fs, TStructureMap& map) {
    const int tracks = std::max(0, fs.GetTracks());
    const int perTrack = std::max(1, fs.GetGranulesPerTrack());
    const int perGranule = std::max(1, fs.GetSectorsPerGranule());
    std::vector<int> granuleOwner(static_cast<size_t>(tracks) * perTrack, -1);
    for (int dec : ListEveryFile(fs)) {
        for (const TExtent& extent : fs.GetExtents(dec)) {
            for (const auto [track, granule] : fs.GetExtentGranules(extent)) {
                if (track < 0 || track >= tracks || granule >= perTrack) continue;
                int& who = granuleOwner[static_cast<size_t>(track) * perTrack + granule];
                if (who < 0) who = dec;
            }
        }
    }
    std::vector<uint8_t> buffer;
    bool normalData = false;
    for (int track = 0; track < tracks; ++track) {
        for (int granule = 0; granule < perTrack; ++granule) {
            TSectorUse use = TSectorUse::Free;
            const int dec = granuleOwner[static_cast<size_t>(track) * perTrack + granule];
            if (dec >= 0) {
                use = TSectorUse::File;
            } else if (fs.IsGranuleMarkedUsed(track, granule)) {
                use = TSectorUse::System;
            }
            for (int k = 0; k < perGranule; ++k) {
                const int sector = granule * perGranule + k;
                TSectorUse here = use;
                // DIR/SYS, where the DOS lists it, stays the directory's file.
                if (track == fs.GetDirectoryTrack()) {
                    here = sector < 2 ? TSectorUse::System : TSectorUse::Directory;
                }
                map.Claim(fs.LocateSector([&] { return fs.ReadSector(track, sector, normalData, buffer); }), here,
                          dec);
            }
        }
    }
}

// CP/M: the reserved tracks are the system's, the first blocks the directory's, the
// rest each entry's blocks. Logical sectors reach the image through the layout's skew.
void MapCPM(CPM& fs, TStructureMap& map) {
    const CPMFormat& format = fs.GetFormat();
    std::map<int, int> blockOwner;
    for (int file : ListEveryFile(fs)) {
        for (int entry : fs.GetExtentList(file)) {
            if (entry < 0) continue;
            for (int block : fs.GetEntryBlocks(entry)) blockOwner.emplace(block, file);
        }
    }
    auto place = [](const CPMSectorAddress& address) {
        return TFileSystem::TSectorPlace{address.Track, address.Side, address.SectorId, true, false};
    };
    // The reserved tracks come before logical sector 0, in the order of a layout without
    // them; their sectors are often numbered otherwise (boot loaders), so whole sides count.
    CPMFormat reserved = format;
    reserved.OFF = 0;
    CPMSectorAddress address;
    for (int n = 0; n < format.OFF * format.SectorsPerTrack; n += std::max(1, format.SectorsPerTrack)) {
        if (CPM::MapSector(reserved, n, address)) map.SystemSides.emplace(address.Track, address.Side);
    }
    const int perBlock = std::max(1, format.BlockSize() / std::max(1, format.SectorSize()));
    for (int block = 0; block <= format.DSM; ++block) {
        TSectorUse use = TSectorUse::Free;
        int file = -1;
        if (block < fs.GetDirectoryBlockCount()) {
            use = TSectorUse::Directory;
        } else if (auto it = blockOwner.find(block); it != blockOwner.end()) {
            use = TSectorUse::File;
            file = it->second;
        }
        for (int k = 0; k < perBlock; ++k) {
            if (fs.MapSector(block * perBlock + k, address)) map.Claim(place(address), use, file);
        }
    }
}

// RSDOS: granules by their chains; the directory track holds the FAT in sector 2 and the
// entries in sectors 3 to 11, the rest of it kept by the DOS.
void MapRSDOS(RSDOS& fs, TStructureMap& map) {
    std::vector<int> granuleOwner(RSDOS::Granules, -1);
    for (int file : ListEveryFile(fs)) {
        bool complete = false;
        for (int granule : fs.GetGranuleChain(file, complete)) {
            int& who = granuleOwner[static_cast<size_t>(granule)];
            if (who < 0) who = file;
        }
    }
    auto place = [](int track, int sector) { return TFileSystem::TSectorPlace{track, 0, sector, true, false}; };
    for (int sector = 1; sector <= 2 * RSDOS::GranuleSectors; ++sector) {
        const bool entries = sector >= 3 && sector <= 11;
        map.Claim(place(fs.DirectoryTrack, sector), entries ? TSectorUse::Directory : TSectorUse::System);
    }
    for (int granule = 0; granule < RSDOS::Granules; ++granule) {
        TSectorUse use = TSectorUse::Free;
        const int file = granuleOwner[static_cast<size_t>(granule)];
        if (file >= 0) {
            use = TSectorUse::File;
        } else if (fs.GetFATByte(granule) != 0xFF) {
            use = TSectorUse::System;
        }
        const int first = RSDOS::GranuleFirstSector(granule);
        for (int k = 0; k < RSDOS::GranuleSectors; ++k) {
            map.Claim(place(RSDOS::GranuleTrack(granule), first + k), use, file);
        }
    }
}

TMapSector Cell(const TPlace& place, TSectorUse use, int file) {
    return TMapSector{std::get<0>(place), std::get<1>(place), std::get<2>(place), use, file};
}

// On a floppy the image's own tracks say which sectors exist and which fail their CRC.
void MapFloppySectors(DiskImage::TFloppyImage& image, const TOwners& owners, const TSystemSides& systemSides,
                      std::vector<TMapSector>& sectors) {
    for (int track = 0; track <= DiskImage::TFloppyImage::MaxTrackNumber; ++track) {
        if (!image.LoadTrack(track) || image.GetCurrentTrack() != track) continue;
        for (int side = 0; side < 2; ++side) {
            for (const DiskImage::TTrackSector& stored : image.ReadTrackSide(side)) {
                const TPlace place{track, side, stored.Sector};
                TSectorUse use = systemSides.count({track, side}) ? TSectorUse::System : TSectorUse::Outside;
                int file = -1;
                if (auto it = owners.find(place); it != owners.end()) {
                    use = it->second.Use;
                    file = it->second.File;
                    if (!it->second.Read && !it->second.CrcError && !stored.CrcError) use = TSectorUse::Unreadable;
                }
                if (stored.CrcError) use = TSectorUse::BadCrc;
                sectors.push_back(Cell(place, use, file));
            }
        }
    }
    // What the file system lays out and the image lacks.
    std::set<TPlace> stored;
    for (const TMapSector& sector : sectors) stored.insert(TPlace{sector.Track, sector.Side, sector.Sector});
    for (const auto& [place, owner] : owners) {
        if (!stored.count(place)) sectors.push_back(Cell(place, TSectorUse::Missing, owner.File));
    }
}

// On a hard disk the partition is what the file system addresses.
void MapHardDiskSectors(const TOwners& owners, std::vector<TMapSector>& sectors) {
    for (const auto& [place, owner] : owners) {
        TSectorUse use = owner.Use;
        if (owner.CrcError) use = TSectorUse::BadCrc;
        else if (!owner.Read) use = TSectorUse::Missing;
        sectors.push_back(Cell(place, use, owner.File));
    }
}

}  // namespace

void TStructureMap::Claim(const TFileSystem::TSectorPlace& place, TSectorUse use, int file) {
    if (place.Track < 0) return;  // the DOS maps it past the end of the disk
    Owners.emplace(TPlace{place.Track, place.Side, place.Sector}, TOwner{use, file, place.Read, place.CrcError});
}

void TFileSystem::MapStructure(TStructureMap&) {}
void TRSDOSBase::MapStructure(TStructureMap& map) { MapTRSDOS(*this, map); }
void CPM::MapStructure(TStructureMap& map) { MapCPM(*this, map); }
void RSDOS::MapStructure(TStructureMap& map) { MapRSDOS(*this, map); }

TDiskMap MapDisk(TFileSystem& fs) {
    TStructureMap structure;
    fs.MapStructure(structure);
    TDiskMap map;
    if (DiskImage::TFloppyImage* floppy = fs.GetFloppyImage())
        MapFloppySectors(*floppy, structure.Owners, structure.SystemSides, map.Sectors);
    else
        MapHardDiskSectors(structure.Owners, map.Sectors);
    map.HardDisk = fs.GetFloppyImage() == nullptr;
    std::sort(map.Sectors.begin(), map.Sectors.end(), [](const TMapSector& a, const TMapSector& b) {
        return std::tie(a.Track, a.Side, a.Sector) < std::tie(b.Track, b.Side, b.Sector);
    });
    if (!map.Sectors.empty()) {
        map.FirstTrack = map.Sectors.front().Track;
        map.LastTrack = map.Sectors.back().Track;
    }
    for (const TMapSector& sector : map.Sectors) map.Sides = std::max(map.Sides, sector.Side + 1);
    return map;
}

}  // namespace FileSystem
