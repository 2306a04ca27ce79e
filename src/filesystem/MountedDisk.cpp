// Opening a path as a disk: the image, the DOS judged to have written it, and
// the partitions of a hard disk; and creating a new, formatted floppy.
#include "filesystem/MountedDisk.h"

#include <algorithm>
#include <array>
#include <utility>

#include "filesystem/CPM.h"
#include "filesystem/DBLDOS.h"
#include "filesystem/DiskCheck.h"
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

std::optional<PartitionExtent> ExtentOfPartition(TFileSystem& fs) { return fs.GetPartitionExtent(); }

}  // namespace

namespace {

using FloppyConstructor = std::unique_ptr<TFileSystem> (*)(DiskImage::TDiskImage*);

template <class Dos>
std::unique_ptr<TFileSystem> Construct(DiskImage::TDiskImage* image) {
    return std::make_unique<Dos>(image);
}

std::unique_ptr<TFileSystem> ConstructLDOSFloppy(DiskImage::TDiskImage* image) {
    return std::make_unique<LDOS>(image, 0, 0);
}

// The floppy file systems, in the order recognition tries them.
constexpr auto FloppyCandidates = std::to_array<FloppyConstructor>({
    Construct<TRSDOS13>,
    Construct<TRSDOS28>,
    Construct<DBLDOS>,
    Construct<NEWDOS80>,
    ConstructLDOSFloppy,
    Construct<DOSPLUS>,
    Construct<MULTIDOS>,
    Construct<TRSDOS23>,
    Construct<CPM>,
    Construct<RSDOS>,
});
static_assert(FloppyCandidates.size() == FloppyCandidateCount);

}  // namespace

std::unique_ptr<TFileSystem> ConstructFileSystem(int index, DiskImage::TDiskImage* image) {
    if (index < 0 || index >= FloppyCandidateCount) throw TFileSystem::EInvalidFormat();
    return FloppyCandidates[static_cast<size_t>(index)](image);
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

DiskImage::TDosReading ReadingOf(TFileSystem& fs) {
    DiskImage::TDosReading reading(true);
    reading.ListsFiles = !ListEveryFile(fs).empty();
    reading.ReadsCleanly = !fs.ReadError && fs.GetDirectoryProblems().empty();
    return reading;
}

DiskImage::TDosReading JudgeDosReading(DiskImage::TFloppyImage& image) {
    try {
        return ReadingOf(*MountFloppy(&image));
    } catch (const std::exception&) {
        return {};  // a disk no DOS can read is simply not recognised
    }
}

std::unique_ptr<TFileSystem> MountHard(DiskImage::TDiskImage* image, int firstCylinder, int firstHead) {
    std::vector<CandidateFactory> candidates = {
        [=]() -> std::unique_ptr<TFileSystem> { return std::make_unique<LDOS>(image, firstCylinder, firstHead); },
    };
    // NEWDOS/80 describes its volumes from the start of the disk; anywhere else it
    // would only find the first one again.
    if (firstCylinder == 0 && firstHead == 0)
        candidates.push_back([=]() -> std::unique_ptr<TFileSystem> { return std::make_unique<NEWDOS80>(image); });
    candidates.push_back(
        [=]() -> std::unique_ptr<TFileSystem> { return std::make_unique<MULTIDOS>(image, firstCylinder, firstHead); });
    return MountBestCandidate(candidates);
}

namespace {

// The cylinders and heads a partition takes.
struct PartitionArea {
    int Cylinder = 0, Head = 0;
    PartitionExtent Extent;

    bool Holds(int cylinder, int head) const {
        return cylinder >= Cylinder && cylinder - Cylinder < Extent.Cylinders && head >= Head &&
               head - Head < Extent.Heads;
    }
};

bool HasLDOSPartitions(TFileSystem& fs) {
    const std::string family = fs.GetDOSName(true);
    return family == "LDOS" || family == "MULTIDOS";
}

}  // namespace

std::vector<std::unique_ptr<TFileSystem>> MountPartitions(const HardDiskSize& size, const PartitionMounter& mount,
                                                          const PartitionExtentOf& extentOf) {
    std::vector<std::unique_ptr<TFileSystem>> partitions;
    partitions.push_back(mount(0, 0));
    if (!HasLDOSPartitions(*partitions.front())) return partitions;

    // Every partition takes at least one cylinder of one head, and each starts past
    // the one before (a later cylinder, or a later head of the same one): the search
    // ends after at most as many steps as the disk has places.
    const long long diskPlaces = static_cast<long long>(std::max(size.UsableCylinders, 0)) * std::max(size.Heads, 0);
    const size_t limit = static_cast<size_t>(std::min<long long>(MaxPartitions, diskPlaces));
    std::vector<PartitionArea> taken;
    int cylinder = 0;
    int head = 0;
    while (partitions.size() < limit) {
        // Each partition is measured by its own geometry, so partitions of
        // different sizes follow one another correctly.
        const std::optional<PartitionExtent> extent = extentOf(*partitions.back());
        if (!extent || extent->Cylinders <= 0 || extent->Heads <= 0) break;
        taken.push_back({cylinder, head, *extent});

        const std::pair<int, int> byCylinders{cylinder + extent->Cylinders, head};
        const std::pair<int, int> byHeads{cylinder, head + extent->Heads};
        const std::pair<int, int> nextRangeAtHeadZero{cylinder + extent->Cylinders, 0};
        std::vector<std::pair<int, int>> candidates;
        if (extent->Cylinders != size.HeaderCylinders)
            candidates = {byCylinders, byHeads};
        else
            candidates = {byHeads, nextRangeAtHeadZero};

        bool found = false;
        for (const auto& place : candidates) {
            const int nextCylinder = place.first;
            const int nextHead = place.second;
            if (nextCylinder >= size.UsableCylinders || nextHead >= size.Heads) continue;
            const bool inside = std::any_of(taken.begin(), taken.end(), [&](const PartitionArea& area) {
                return area.Holds(nextCylinder, nextHead);
            });
            if (inside) continue;
            try {
                partitions.push_back(mount(nextCylinder, nextHead));
            } catch (const TFileSystem::Exception&) {
                continue;  // nothing a DOS recognises here
            }
            cylinder = nextCylinder;
            head = nextHead;
            found = true;
            break;
        }
        if (!found) break;  // a disk divided by cylinders ends where the next mount fails
    }
    return partitions;
}

std::vector<std::unique_ptr<TFileSystem>> MountPartitions(int imageCylinders, int imageHeads,
                                                          const PartitionMounter& mount,
                                                          const PartitionExtentOf& extentOf) {
    return MountPartitions(HardDiskSize{imageCylinders, imageCylinders, imageHeads}, mount, extentOf);
}

namespace {

bool HeadsMeet(const NEWDOS80::TVolumePlace& a, const NEWDOS80::TVolumePlace& b) {
    return a.FirstHead < b.FirstHead + b.Heads && b.FirstHead < a.FirstHead + a.Heads;
}

// Whether two volumes share a sector. Volumes over the same heads are compared
// sector by sector; others by the cylinders they reach into.
bool VolumesOverlap(const NEWDOS80::TVolumePlace& a, const NEWDOS80::TVolumePlace& b) {
    if (!HeadsMeet(a, b)) return false;
    const bool sameCount = a.FirstHead == b.FirstHead && a.Heads == b.Heads && a.SectorsPerHead == b.SectorsPerHead &&
                           a.SectorsPerCylinder == b.SectorsPerCylinder;
    auto span = [&](const NEWDOS80::TVolumePlace& v) -> std::pair<long long, long long> {
        if (sameCount) return {v.FirstSector, v.FirstSector + v.Sectors};
        return {v.FirstSector / v.SectorsPerCylinder,
                (v.FirstSector + v.Sectors + v.SectorsPerCylinder - 1) / v.SectorsPerCylinder};
    };
    const auto [aStart, aEnd] = span(a);
    const auto [bStart, bEnd] = span(b);
    return aStart < bEnd && bStart < aEnd;
}

}  // namespace

std::vector<std::unique_ptr<TFileSystem>> MountNewdosDrives(DiskImage::TDiskImage* image, const NEWDOS80& first) {
    std::vector<std::unique_ptr<TFileSystem>> drives;
    const std::vector<uint8_t>& table = first.GetDriveParameters();
    std::vector<NEWDOS80::TVolumePlace> taken = {first.GetVolumePlace()};
    for (int drive = 0; drive < NEWDOS80::DriveEntries; ++drive) {
        const size_t offset = static_cast<size_t>(drive) * NEWDOS80::DriveEntryBytes;
        if (offset + NEWDOS80::DriveEntryBytes > table.size()) break;
        const auto start = table.begin() + static_cast<std::ptrdiff_t>(offset);
        const std::vector<uint8_t> entry(start, start + NEWDOS80::DriveEntryBytes);
        std::unique_ptr<NEWDOS80> volume;
        try {
            volume = std::make_unique<NEWDOS80>(image, entry);
        } catch (const TFileSystem::Exception&) {
            continue;  // a floppy drive, another disk, or no volume where the entry says
        }
        if (volume->Suspicion >= 100) continue;
        const NEWDOS80::TVolumePlace place = volume->GetVolumePlace();
        // A drive that describes a volume already taken (often drive 0 itself) adds nothing.
        if (std::any_of(taken.begin(), taken.end(),
                        [&](const NEWDOS80::TVolumePlace& other) { return VolumesOverlap(place, other); }))
            continue;
        taken.push_back(place);
        drives.push_back(std::move(volume));
    }
    return drives;
}

std::vector<std::unique_ptr<TFileSystem>> TFileSystem::MountFurtherDrives() { return {}; }

std::vector<std::unique_ptr<TFileSystem>> NEWDOS80::MountFurtherDrives() {
    return MountNewdosDrives(GetImage(), *this);
}

MountedDisk::~MountedDisk() { Close(); }

TFileSystem* MountedDisk::Current() const {
    if (CurrentPartition < 0 || CurrentPartition >= static_cast<int>(FileSystems.size())) return nullptr;
    return FileSystems[CurrentPartition].get();
}

void MountedDisk::Open(const std::string& path, bool readOnly) {
    Close();
    CurrentPartition = 0;
    // A file with nothing of its own to show what it holds (a raw dump, a JVC without a
    // header) is taken under the layout a DOS reads best; the file system mounted for the
    // last layout judged, which is the one the disk opens with, is not mounted a second time.
    std::unique_ptr<TFileSystem> recognised;
    auto recognise = [&recognised](DiskImage::TFloppyImage& image) -> DiskImage::TDosReading {
        try {
            recognised = MountFloppy(&image);
        } catch (const std::exception&) {
            recognised.reset();  // a disk no DOS can read is simply not recognised
            return {};
        }
        return ReadingOf(*recognised);
    };
    try {
        Image = DiskImage::OpenFloppyImage(path, readOnly, recognise);
    } catch (const DiskImage::TDiskImage::Exception&) {
        Image = DiskImage::OpenHardImage(path, readOnly);
    }
    try {
        if (Image->IsHardDisk() == 0) {
            const bool mountedAlready = recognised && recognised->GetImage() == Image.get();
            FileSystems.push_back(mountedAlready ? std::move(recognised) : MountFloppy(Image.get()));
        } else {
            auto* hard = static_cast<DiskImage::THardImage*>(Image.get());
            DiskImage::TDiskImage* image = Image.get();
            const HardDiskSize size{hard->GetCylinders(), hard->GetUsableCylinders(), hard->GetHeads()};
            FileSystems = MountPartitions(
                size, [image](int cylinder, int head) { return MountHard(image, cylinder, head); },
                ExtentOfPartition);
            for (auto& drive : FileSystems.front()->MountFurtherDrives()) FileSystems.push_back(std::move(drive));
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
            case NewFloppyTRSDOS23: fs = std::make_unique<TRSDOS23>(Image.get(), diskName, diskDate, tracks); break;
            case NewFloppyTRSDOS13: fs = std::make_unique<TRSDOS13>(Image.get(), diskName, diskDate); break;
            case NewFloppyLDOS:
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
    if (Image) Image->CommitChange();
}

void MountedDisk::Close() {
    if (Image) Image->DiscardChangeOnClose();
    FileSystems.clear();
    Image.reset();
}

}  // namespace FileSystem
