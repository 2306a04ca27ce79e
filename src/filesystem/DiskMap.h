// A map of a disk: for every sector on the image, what owns it. The owners come from
// the file system's own tables (the TRSDOS family's granules and extents, CP/M's blocks,
// RSDOS's granule chains), and each logical sector is placed on the image through the
// DOS's own sector mapping, so interleave, skew, sides and hard-disk partitions land
// where the DOS itself reads them. Reads only.
#pragma once

#include <array>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "filesystem/FileSystem.h"

namespace FileSystem {

enum class TSectorUse {
    System,      // boot sectors, allocation tables, areas the DOS reserves
    Directory,   // the directory's entries
    File,        // a file's, allocated to it whether or not its data reaches that far
    Free,        // free for new files
    BadCrc,      // on the image, but its data fails its CRC
    Missing,     // the file system needs it, the image does not hold it
    Unreadable,  // on the image, but its data cannot be read
    Outside,     // on the image, outside what the file system lays out
};
constexpr int SectorUseCount = 8;

// "system", "directory", "file", "free", "bad CRC", "missing", "unreadable", "outside the file system".
std::string SectorUseName(TSectorUse use);

struct TMapSector {
    int Track = 0;   // cylinder on a hard disk
    int Side = 0;    // head on a hard disk
    int Sector = 0;  // the sector number of its ID field
    TSectorUse Use = TSectorUse::Free;
    int File = -1;  // the owning file's index, kept when the sector is damaged or missing
};

struct TDiskMap {
    // Ordered by track, side and sector number.
    std::vector<TMapSector> Sectors;
    int FirstTrack = 0, LastTrack = -1;
    int Sides = 1;           // sides (heads) up to the last one a sector lies on
    bool HardDisk = false;   // tracks are cylinders and sides heads

    // How many sectors have each use.
    std::array<int, SectorUseCount> CountUses() const;
    // The sectors of one file.
    std::vector<TMapSector> SectorsOf(int file) const;
};

// What a file system's MapStructure claims: each place's use and owner, and how the file
// system's own read of it went.
struct TStructureMap {
    struct TOwner {
        TSectorUse Use = TSectorUse::Free;
        int File = -1;
        bool Read = true;
        bool CrcError = false;
    };
    using TPlace = std::tuple<int, int, int>;  // track, side, sector number
    std::map<TPlace, TOwner> Owners;
    // Track sides the DOS keeps whole for itself, whatever their sectors are numbered.
    std::set<std::pair<int, int>> SystemSides;

    // Records the use of one place (first claim wins); a place the DOS maps past the end of
    // the disk is left out.
    void Claim(const TFileSystem::TSectorPlace& place, TSectorUse use, int file = -1);
};

// The map of the part of the disk a file system covers: on a floppy every sector the
// image holds (those the file system does not lay out as Outside), on a hard disk the
// sectors of the file system's partition.
TDiskMap MapDisk(TFileSystem& fs);

}  // namespace FileSystem
