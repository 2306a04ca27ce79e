// A read-only health check of a disk: every sector of every floppy track is read,
// then the file system's own structures are checked against each other.
#pragma once

#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace DiskImage {
class TFloppyImage;
}

namespace FileSystem {
class MountedDisk;
}

namespace FileSystem {

class TRSDOSBase;
class CPM;
class RSDOS;

enum class TSeverity { Info, Warning, Error };

struct TFinding {
    TSeverity Severity = TSeverity::Info;
    std::string Message;
};

// "info", "warning" or "error".
std::string SeverityName(TSeverity severity);

// Healthy when nothing worse than information was found.
bool IsHealthy(const std::vector<TFinding>& findings);

// Track sides whose file holds more sectors than can be read, sectors whose data CRC
// is wrong, tracks between the first and the last that hold no readable sector, and
// sectors a track lacks that the other tracks of the same side and density have.
std::vector<TFinding> CheckFloppyTracks(DiskImage::TFloppyImage& image);

// The sectors read with an error (data CRC) or not at all: the directory's as it was
// loaded, then those of every file, read whole.
std::vector<TFinding> CheckSectorsRead(TFileSystem& fs);
// CheckSectorsRead, then the checks of the file system's own structures (CheckStructure).
std::vector<TFinding> CheckFileSystem(TFileSystem& fs);

// TRSDOS family: granules used by two files, granules the GAT marks used that no file
// owns, granules of files that the GAT marks free, extents past the last track, HIT
// bytes that disagree with the directory, and sizes larger than the extents hold.
// A hard disk whose DOS keeps a system file (BOOT/SYS) without extents reserves its
// system area in the GAT: that file's size and the granules marked used before the
// first one a file owns are the DOS's own, told as information.
std::vector<TFinding> CheckTRSDOS(TRSDOSBase& fs);
// CP/M: blocks claimed by two entries, by an entry and the directory, or past DSM.
std::vector<TFinding> CheckCPM(CPM& fs);
// RSDOS: broken granule chains, granules in two chains, granules in use that no chain owns.
std::vector<TFinding> CheckRSDOS(RSDOS& fs);

// The findings of one part of a disk: "Tracks", then one a partition under its DOS's name
// ("Partition 1 (LDOS 6.3)" when there are several).
struct TCheckSection {
    std::string Title;
    std::vector<TFinding> Findings;
    int Partition = -1;  // the partition the findings are about, -1 for the tracks
};
// The whole check of an open disk, as qbox check reports it: the floppy's tracks, then
// every partition's file system. Reads only.
std::vector<TCheckSection> CheckMountedDisk(MountedDisk& disk);

// Every file of a file system, invisible and system files included.
std::vector<int> ListEveryFile(TFileSystem& fs);

}  // namespace FileSystem
