// An open disk: the image and one file system per partition.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"

namespace FileSystem {

// An image that a container format accepted but on which no DOS was recognised.
// The message stays the one of EInvalidFormat; the image's format tells the user more.
class EUnrecognizedFileSystem : public TFileSystem::EInvalidFormat {
public:
    explicit EUnrecognizedFileSystem(std::string imageFormat) : ImageFormat(std::move(imageFormat)) {}
    std::string ImageFormat;  // "JV1", "DMK", "HDV" ...
};

// The DOS a new floppy is formatted for, by the numbers the preferences store.
enum NewFloppyDos {
    NewFloppyNoDos = -1,
    NewFloppyTRSDOS23 = 0,
    NewFloppyTRSDOS13 = 1,
    NewFloppyLDOS = 2,
};

class MountedDisk {
public:
    MountedDisk() = default;
    ~MountedDisk();
    MountedDisk(const MountedDisk&) = delete;
    MountedDisk& operator=(const MountedDisk&) = delete;

    // Replaces whatever is held by the disk at path.
    // readOnly opens the file for reading only: nothing can then be written to it.
    void Open(const std::string& path, bool readOnly = false);
    // Replaces whatever is held by a new floppy image with a fresh file system.
    // dosType: a NewFloppyDos; any other value makes an image with no file system.
    void CreateNew(const std::string& path, int imageType, int tracks, int dosType, int sides, bool doubleDensity,
                   const std::string& diskName, const std::string& diskDate);
    // Ends one change (one qbox verb, one desktop command): the file systems write what
    // they hold, then the image its pending track, and the image file commits, so that
    // the change reaches the disk whole. Throws when it could not be saved.
    void Flush();
    // Destroys the file systems, then the image. Whatever was changed since the last
    // Flush is undone: a change either lands whole through Flush or not at all.
    void Close();

    bool IsOpen() const { return Image != nullptr; }
    TFileSystem* Current() const;

    std::unique_ptr<DiskImage::TDiskImage> Image;
    std::vector<std::unique_ptr<TFileSystem>> FileSystems;
    int CurrentPartition = 0;
};

// The floppy file systems recognition tries, in order; the table is in MountedDisk.cpp.
constexpr int FloppyCandidateCount = 10;
std::unique_ptr<TFileSystem> ConstructFileSystem(int index, DiskImage::TDiskImage* image);
std::unique_ptr<TFileSystem> MountFloppy(DiskImage::TDiskImage* image);
// What the DOS that recognises the floppy makes of it: how a headerless sector image is
// judged under each layout its size allows.
DiskImage::TDosReading JudgeDosReading(DiskImage::TFloppyImage& image);
// The same facts of a file system already mounted.
DiskImage::TDosReading ReadingOf(TFileSystem& fs);
std::unique_ptr<TFileSystem> MountHard(DiskImage::TDiskImage* image, int firstCylinder, int firstHead);

// The judging rule shared by floppies and hard-disk partitions: candidates are
// built in order; the first with score 0 wins at once, else the lowest score
// below 100 (the earlier one on a tie) is built once more and returned. A
// candidate that throws a file-system exception, or that is not available
// (a null result), counts as 100. Throws EInvalidFormat when none qualifies.
using CandidateFactory = std::function<std::unique_ptr<TFileSystem>()>;
std::unique_ptr<TFileSystem> MountBestCandidate(const std::vector<CandidateFactory>& candidates);

using PartitionMounter = std::function<std::unique_ptr<TFileSystem>(int firstCylinder, int firstHead)>;
using PartitionExtentOf = std::function<std::optional<PartitionExtent>(TFileSystem&)>;

// What a hard disk says of its size and what it holds.
struct HardDiskSize {
    int HeaderCylinders = 0;  // the header's count: a hint to how the disk is divided
    int UsableCylinders = 0;  // the cylinders that can be read: partitions start below
    int Heads = 0;
};

// Finds the partitions of a hard disk, starting at cylinder 0, head 0. Only a first
// partition laid out as LDOS's (LDOS, MULTIDOS) leads to further ones. After each
// partition the next is looked for both ways a disk is divided: first the way the
// header's cylinder count suggests (by cylinders when the partition's cylinders differ
// from it, else by heads), then the other (the next head range at the same cylinder, or
// the next cylinder range at head 0). A place is taken only when a DOS recognises a
// partition there; the search ends when neither way finds one. A mount failure of the
// first partition is the caller's.
std::vector<std::unique_ptr<TFileSystem>> MountPartitions(const HardDiskSize& size, const PartitionMounter& mount,
                                                          const PartitionExtentOf& extentOf);
// The same on a disk whose header and file agree.
std::vector<std::unique_ptr<TFileSystem>> MountPartitions(int imageCylinders, int imageHeads,
                                                          const PartitionMounter& mount,
                                                          const PartitionExtentOf& extentOf);

class NEWDOS80;
// The further logical drives of a NEWDOS/80 hard disk whose first volume is given: one
// per entry of its drive-parameter data that describes a volume found on the disk, in
// drive order, leaving out any that would share sectors with a volume already taken.
std::vector<std::unique_ptr<TFileSystem>> MountNewdosDrives(DiskImage::TDiskImage* image, const NEWDOS80& first);

}  // namespace FileSystem
