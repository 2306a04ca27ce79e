// Opening a path as a disk: the image, the DOS judged to have written it, and
// the partitions of an LDOS hard disk; and creating a new, formatted floppy.
#include "filesystem/MountedDisk.h"

#include <utility>

#include "filesystem/CPM.h"
#include "filesystem/DBLDOS.h"
#include "filesystem/DOSPLUS.h"
#include "filesystem/LDOS.h"
#include "filesystem/MULTIDOS.h"
#include "filesystem/NEWDOS80.h"
#include "filesystem/RSDOS.h"
#include "filesystem/TRSDOS13.h"
#include "filesystem/TRSDOS23.h"
#include "filesystem/TRSDOS28.h"
#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

namespace {

// Recognition never constructs more partitions than this, whatever an image claims.
constexpr int MaxPartitions = 256;

// The size of a TRSDOS-family partition, read from its geometry. Empty when the
// file system does not carry one.
std::optional<PartitionExtent> ExtentOfPartition(TFileSystem& fs) {
    auto* trsdos = dynamic_cast<TRSDOSBase*>(&fs);
    if (!trsdos) return std::nullopt;
    return PartitionExtent{trsdos->GetTracks() * trsdos->GetSides(),
                           trsdos->GetSectorsPerSide() / DiskImage::THardImage::SectorsPerHead};
}

}  // namespace

std::unique_ptr<TFileSystem> ConstructFileSystem(int index, DiskImage::TDiskImage* image) {
    // The candidate table, in the order recognition tries it.
    switch (index) {
        case 0: return std::make_unique<TRSDOS13>(image);
        case 1: return std::make_unique<TRSDOS28>(image);
        case 2: return std::make_unique<DBLDOS>(image);
        case 3: return std::make_unique<NEWDOS80>(image);
        case 4: return std::make_unique<LDOS>(image, 0, 0);
        case 5: return std::make_unique<DOSPLUS>(image);
        case 6: return std::make_unique<MULTIDOS>(image);
        case 7: return std::make_unique<TRSDOS23>(image);
        case 8: return std::make_unique<CPM>(image);
        case 9: return std::make_unique<RSDOS>(image);
        default: throw TFileSystem::EInvalidFormat();
    }
}

std::unique_ptr<TFileSystem> MountBestCandidate(const std::vector<CandidateFactory>& candidates) {
    constexpr int Rejected = 100;
    int bestIndex = -1;
    int bestScore = Rejected;
    for (size_t index = 0; index < candidates.size(); ++index) {
        int score = Rejected;
        try {
            std::unique_ptr<TFileSystem> candidate = candidates[index]();
            if (!candidate) continue;
            if (candidate->Suspicion == 0) return candidate;
            score = candidate->Suspicion;
        } catch (const TFileSystem::Exception&) {
            score = Rejected;
        }
        if (score >= 0 && score < bestScore) {
            bestScore = score;
            bestIndex = static_cast<int>(index);
        }
    }
    if (bestIndex < 0) throw TFileSystem::EInvalidFormat();
    std::unique_ptr<TFileSystem> winner = candidates[bestIndex]();
    if (!winner) throw TFileSystem::EInvalidFormat();
    return winner;
}

std::unique_ptr<TFileSystem> MountFloppy(DiskImage::TDiskImage* image) {
    std::vector<CandidateFactory> candidates;
    for (int index = 0; index < FloppyCandidateCount; ++index)
        candidates.push_back([index, image] { return ConstructFileSystem(index, image); });
    return MountBestCandidate(candidates);
}

std::unique_ptr<TFileSystem> MountHard(DiskImage::TDiskImage* image, int firstCylinder, int firstHead) {
    std::vector<CandidateFactory> candidates = {
        [=]() -> std::unique_ptr<TFileSystem> { return std::make_unique<LDOS>(image, firstCylinder, firstHead); },
        [=]() -> std::unique_ptr<TFileSystem> { return std::make_unique<NEWDOS80>(image); },
    };
    return MountBestCandidate(candidates);
}

std::vector<std::unique_ptr<TFileSystem>> MountPartitions(int imageCylinders, int imageHeads,
                                                          const PartitionMounter& mount,
                                                          const PartitionExtentOf& extentOf) {
    std::vector<std::unique_ptr<TFileSystem>> partitions;
    int cylinder = 0;
    int head = 0;
    while (static_cast<int>(partitions.size()) < MaxPartitions) {
        try {
            partitions.push_back(mount(cylinder, head));
        } catch (const TFileSystem::Exception&) {
            if (partitions.empty()) throw;
            break;  // a disk divided by cylinders ends where the next mount fails
        }
        if (partitions.front()->GetDOSName(true) != "LDOS") break;

        // Each partition is measured by its own geometry, so partitions of
        // different sizes follow one another correctly.
        std::optional<PartitionExtent> extent = extentOf(*partitions.back());
        if (!extent || extent->Cylinders <= 0 || extent->Heads <= 0) break;
        if (extent->Cylinders != imageCylinders) {
            cylinder += extent->Cylinders;
            if (cylinder >= imageCylinders) break;
        } else {
            head += extent->Heads;
            if (head >= imageHeads) break;
        }
    }
    return partitions;
}

MountedDisk::~MountedDisk() { Close(); }

TFileSystem* MountedDisk::Current() const {
    if (CurrentPartition < 0 || CurrentPartition >= static_cast<int>(FileSystems.size())) return nullptr;
    return FileSystems[CurrentPartition].get();
}

void MountedDisk::Open(const std::string& path, bool readOnly) {
    Close();
    CurrentPartition = 0;
    try {
        Image = DiskImage::OpenFloppyImage(path, readOnly);
    } catch (const DiskImage::TDiskImage::Exception&) {
        Image = DiskImage::OpenHardImage(path, readOnly);
    }
    try {
        if (Image->IsHardDisk() == 0) {
            FileSystems.push_back(MountFloppy(Image.get()));
        } else {
            auto* hard = static_cast<DiskImage::THardImage*>(Image.get());
            DiskImage::TDiskImage* image = Image.get();
            FileSystems = MountPartitions(
                hard->GetCylinders(), hard->GetHeads(),
                [image](int cylinder, int head) { return MountHard(image, cylinder, head); }, ExtentOfPartition);
        }
    } catch (const TFileSystem::EInvalidFormat&) {
        const std::string format = Image->GetFormatName();
        Close();
        throw EUnrecognizedFileSystem(format);
    } catch (...) {
        Close();
        throw;
    }
}

void MountedDisk::CreateNew(const std::string& path, int imageType, int tracks, int dosType, int sides,
                            bool doubleDensity, const std::string& diskName, const std::string& diskDate) {
    Close();
    CurrentPartition = 0;
    Image = DiskImage::CreateFloppyImage(path, imageType);
    try {
        std::unique_ptr<TFileSystem> fs;
        switch (dosType) {
            case 0: fs = std::make_unique<TRSDOS23>(Image.get(), diskName, diskDate, tracks); break;
            case 1: fs = std::make_unique<TRSDOS13>(Image.get(), diskName, diskDate); break;
            case 2:
                fs = std::make_unique<LDOS>(Image.get(), diskName, diskDate, tracks, sides, doubleDensity);
                break;
            default: break;
        }
        if (fs) FileSystems.push_back(std::move(fs));
    } catch (...) {
        Close();
        throw;
    }
}

void MountedDisk::Flush() {
    for (auto& fs : FileSystems) fs->Flush();
    if (auto* floppy = dynamic_cast<DiskImage::TFloppyImage*>(Image.get())) {
        if (!floppy->Flush()) {
            const int error = floppy->GetLastHostError();
            throw TFileSystem::EFileError(error != 0 ? error : EIO);
        }
    }
    if (Image) {
        try {
            Image->CommitChange();
        } catch (const DiskImage::TDiskImage::EFileError& error) {
            throw TFileSystem::EFileError(error.ErrorNumber);
        }
    }
}

void MountedDisk::Close() {
    if (Image) Image->DiscardChangeOnClose();
    FileSystems.clear();
    Image.reset();
}

}  // namespace FileSystem
