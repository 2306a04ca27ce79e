// An open disk: the image and one file system per partition.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"

namespace FileSystem {

class MountedDisk {
public:
    MountedDisk() = default;
    ~MountedDisk();
    MountedDisk(const MountedDisk&) = delete;
    MountedDisk& operator=(const MountedDisk&) = delete;

    // Replaces whatever is held by the disk at path.
    void Open(const std::string& path);
    // Replaces whatever is held by a new floppy image with a fresh file system.
    // dosType: 0 TRSDOS 2.3, 1 TRSDOS 1.3, 2 LDOS / LS-DOS, other: no file system.
    void CreateNew(const std::string& path, int imageType, int tracks, int dosType, int sides, bool doubleDensity,
                   const std::string& diskName, const std::string& diskDate);
    // Destroys the file systems (each flushes), then the image.
    void Close();

    bool IsOpen() const { return Image != nullptr; }
    TFileSystem* Current() const;

    std::unique_ptr<DiskImage::TDiskImage> Image;
    std::vector<std::unique_ptr<TFileSystem>> FileSystems;
    int CurrentPartition = 0;
};

// The floppy candidate table: 0 TRSDOS13, 1 TRSDOS28, 2 DBLDOS, 3 NEWDOS80, 4 LDOS,
// 5 DOSPLUS, 6 MULTIDOS, 7 TRSDOS23, 8 CPM, 9 RSDOS.
constexpr int FloppyCandidateCount = 10;
std::unique_ptr<TFileSystem> ConstructFileSystem(int index, DiskImage::TDiskImage* image);
std::unique_ptr<TFileSystem> MountFloppy(DiskImage::TDiskImage* image);
std::unique_ptr<TFileSystem> MountHard(DiskImage::TDiskImage* image, int firstCylinder, int firstHead);

}  // namespace FileSystem
