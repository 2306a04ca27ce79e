// The disk map: every sector a file's data lies in is that file's, free space is what the
// file system counts free, and damage on the image shows where it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "common/CPMDisk.h"
#include "common/HardDiskLayouts.h"
#include "common/TRSDOSScratch.h"
#include "common/TempDir.h"
#include "diskimage/DiskImage.h"
#include "filesystem/CPM.h"
#include "filesystem/DiskMap.h"
#include "filesystem/MountedDisk.h"

using namespace FileSystem;

namespace {

int Count(const TDiskMap& map, TSectorUse use) { return map.CountUses()[static_cast<size_t>(use)]; }

// The bytes the image holds for a sector of the map.
std::vector<uint8_t> SectorBytes(DiskImage::TFloppyImage& image, const TMapSector& cell) {
    if (!image.LoadTrack(cell.Track)) return {};
    for (const auto& sector : image.ReadTrackSide(cell.Side)) {
        if (sector.Sector == cell.Sector) return sector.Data;
    }
    return {};
}

bool AllBytesAre(const std::vector<uint8_t>& bytes, uint8_t value) {
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

// Each file is written with bytes of its own: the sectors that hold them must be among
// the file's sectors on the map, and there must be as many as the file fills whole.
void ExpectFilesWhereTheirBytesAre(DiskImage::TFloppyImage& image, const TDiskMap& map,
                                   const std::vector<std::pair<int, uint8_t>>& files, int fileSize, int sectorSize) {
    for (const auto& [file, fill] : files) {
        SCOPED_TRACE("file " + std::to_string(file));
        int holding = 0;
        for (const TMapSector& cell : map.Sectors) {
            const bool holdsIt = AllBytesAre(SectorBytes(image, cell), fill);
            if (holdsIt) {
                EXPECT_EQ(cell.File, file) << "track " << cell.Track << " sector " << cell.Sector;
                EXPECT_EQ(cell.Use, TSectorUse::File);
                ++holding;
            }
        }
        EXPECT_EQ(holding, fileSize / sectorSize);
        EXPECT_GE(static_cast<int>(map.SectorsOf(file).size()), holding);
    }
}

// A 35-track TRSDOS 2.3 disk with two files of 3000 bytes, in a DMK so that damage can be laid out.
struct TRSDOSDisk {
    TRSDOSTest::TFreshDisk disk{DiskImage::ImageDMK};
    int first = -1, second = -1;
    TRSDOSDisk() {
        EXPECT_TRUE(disk.Fs->CreateFile("FIRST/DAT", std::vector<uint8_t>(3000, 0xA1), FileDate{}));
        EXPECT_TRUE(disk.Fs->CreateFile("SECOND/DAT", std::vector<uint8_t>(3000, 0xB2), FileDate{}));
        first = disk.Fs->FindFile("FIRST/DAT");
        second = disk.Fs->FindFile("SECOND/DAT");
        disk.Fs->Flush();
    }
};

}  // namespace

TEST(DiskMap, TRSDOSFilesOwnTheirSectorsAndFreeIsFree) {
    TRSDOSDisk made;
    TDiskMap map = MapDisk(*made.disk.Fs);
    ExpectFilesWhereTheirBytesAre(*made.disk.Image, map, {{made.first, 0xA1}, {made.second, 0xB2}}, 3000, 256);
    // 3000 bytes take twelve sectors: three granules of five.
    EXPECT_EQ(map.SectorsOf(made.first).size(), 15u);
    EXPECT_EQ(Count(map, TSectorUse::Free) * 256, made.disk.Fs->GetFreeSpace());
    EXPECT_EQ(static_cast<int>(map.Sectors.size()), 35 * 10);
    EXPECT_EQ(Count(map, TSectorUse::Directory) + Count(map, TSectorUse::System) > 0, true);
    for (const TMapSector& cell : map.Sectors) {
        if (cell.Track == made.disk.Fs->GetDirectoryTrack()) {
            EXPECT_NE(cell.Use, TSectorUse::Free);
        }
    }
    EXPECT_EQ(Count(map, TSectorUse::Outside) + Count(map, TSectorUse::Missing) + Count(map, TSectorUse::BadCrc), 0);
    EXPECT_EQ(map.FirstTrack, 0);
    EXPECT_EQ(map.LastTrack, 34);
}

TEST(DiskMap, DamagedAndMissingSectorsKeepTheirFile) {
    TRSDOSDisk made;
    const std::vector<TMapSector> sectors = MapDisk(*made.disk.Fs).SectorsOf(made.first);
    ASSERT_GE(sectors.size(), 2u);
    const TMapSector damaged = sectors.front();
    const TMapSector removed = sectors.back();
    ASSERT_NE(damaged.Track, removed.Track) << "two granules on one track would need one layout";
    made.disk.Fs.reset();
    DiskImage::TFloppyImage& image = *made.disk.Image;
    for (const bool damage : {true, false}) {
        const TMapSector& cell = damage ? damaged : removed;
        ASSERT_TRUE(image.LoadTrack(cell.Track));
        std::array<std::vector<DiskImage::TTrackSector>, 2> sides{image.ReadTrackSide(0), image.ReadTrackSide(1)};
        auto& side = sides[static_cast<size_t>(cell.Side)];
        auto it = std::find_if(side.begin(), side.end(), [&](const auto& s) { return s.Sector == cell.Sector; });
        ASSERT_NE(it, side.end());
        if (damage) it->CrcError = true;
        else side.erase(it);
        ASSERT_TRUE(image.LayOutTrack(cell.Track, sides));
    }
    ASSERT_TRUE(image.Flush());
    auto fs = MountFloppy(&image);
    const TDiskMap map = MapDisk(*fs);
    auto find = [&](const TMapSector& cell) {
        return *std::find_if(map.Sectors.begin(), map.Sectors.end(), [&](const TMapSector& s) {
            return s.Track == cell.Track && s.Side == cell.Side && s.Sector == cell.Sector;
        });
    };
    EXPECT_EQ(find(damaged).Use, TSectorUse::BadCrc);
    EXPECT_EQ(find(damaged).File, made.first);
    EXPECT_EQ(find(removed).Use, TSectorUse::Missing);
    EXPECT_EQ(find(removed).File, made.first);
    EXPECT_EQ(Count(map, TSectorUse::BadCrc), 1);
    EXPECT_EQ(Count(map, TSectorUse::Missing), 1);
}

// CP/M: blocks reach the image through the row's skew; the reserved tracks are the system's.
TEST(DiskMap, CPMBlocksLandOnTheirSkewedSectors) {
    TestSupport::CPMDisk disk(0);
    const CPMFormat& format = disk.Format;
    const int blockSize = format.BlockSize();
    const int perBlock = blockSize / format.SectorSize();
    for (int b : {2, 3}) disk.SetBlock(b, std::vector<uint8_t>(static_cast<size_t>(blockSize), 0xC3));
    disk.SetEntry(0, TestSupport::CPMEntry(0, "ONE", "TXT", 0, 0, 2 * blockSize / 128, {2, 3}));
    TestSupport::TempPath path("cpm-map.jv3");
    ASSERT_TRUE(disk.WriteTo(path.str()));
    auto image = DiskImage::OpenFloppyImage(path.str(), true);
    CPM fs(image.get());
    const int file = fs.FindFile("ONE.TXT");
    ASSERT_GE(file, 0);
    const TDiskMap map = MapDisk(fs);
    ExpectFilesWhereTheirBytesAre(*image, map, {{file, 0xC3}}, 2 * blockSize, format.SectorSize());
    EXPECT_EQ(static_cast<int>(map.SectorsOf(file).size()), 2 * perBlock);
    EXPECT_EQ(Count(map, TSectorUse::Free) * format.SectorSize(), fs.GetFreeSpace());
    EXPECT_EQ(Count(map, TSectorUse::System), format.OFF * format.SectorsPerTrack);
    EXPECT_EQ(Count(map, TSectorUse::Directory), fs.GetDirectoryBlockCount() * perBlock);
}

// A hard disk divided by heads: each partition's map lies on its own head, four granules
// of eight sectors to a track, and a file's sectors are where the layout put it.
TEST(DiskMap, HardDiskPartitionsMapOntoTheirHeads) {
    TestSupport::TempDir folder;
    const HardDiskTest::TBuiltDisk built = HardDiskTest::BuildLDOSDividedByHeads(folder / "ldos.hdv");
    MountedDisk disk;
    disk.Open(built.Path, true);
    ASSERT_EQ(disk.FileSystems.size(), 4u);
    for (int head = 0; head < 4; ++head) {
        SCOPED_TRACE("partition " + std::to_string(head));
        TFileSystem& fs = *disk.FileSystems[static_cast<size_t>(head)];
        const TDiskMap map = MapDisk(fs);
        EXPECT_EQ(static_cast<int>(map.Sectors.size()), 203 * 32);
        EXPECT_TRUE(std::all_of(map.Sectors.begin(), map.Sectors.end(),
                                [head](const TMapSector& cell) { return cell.Side == head; }));
        // README (700 bytes) was laid at track 2, granule 0.
        const std::vector<TMapSector> readme = map.SectorsOf(fs.FindFile("README"));
        ASSERT_EQ(readme.size(), 8u);
        for (int k = 0; k < 8; ++k) {
            EXPECT_EQ(readme[static_cast<size_t>(k)].Track, 2);
            EXPECT_EQ(readme[static_cast<size_t>(k)].Sector, k);
        }
        EXPECT_EQ(Count(map, TSectorUse::Free) * 256, fs.GetFreeSpace());
    }
}

namespace {

std::filesystem::path RealFixture(const std::string& name) {
    const char* env = std::getenv("QB_FIXTURES_DIR");
    return std::filesystem::path(env ? env : QB_FIXTURES_DIR) / "real" / name;
}

}  // namespace

// Real disks: the figures a user can hold against qbox info and qbox check (sectors read, free space).
TEST(DiskMap, RealDisksAddUpToWhatInfoSays) {
    struct TCase {
        const char* Name;
        int Sectors, Free, System, Outside;
    };
    const TCase cases[] = {
        // LDOS 5.3.1: 40 tracks of 18; 10752 bytes free.
        {"jv3-dd40-ldos531-m3-system.dsk", 720, 10752 / 256, -1, 0},
        // Montezuma CP/M: two system tracks, then 85 blocks of 2K, two of them the
        // directory's (capacity 169984 bytes: 83 blocks); 2048 bytes free; the last four
        // sectors of the disk make no whole block.
        {"jv3-dd40-cpm22-montezuma-bios230-system.jv3", 720, 2048 / 256, 2 * 18, 4},
        // RSDOS: 35 tracks of 18; 142848 bytes free (62 granules of 9); the directory
        // track's sectors besides the entries (3 to 11) are the system's.
        {"raw-jvc-coco-rsdos-35t-sample.dsk", 630, 142848 / 256, 9, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto path = RealFixture(c.Name);
        if (!std::filesystem::exists(path)) GTEST_SKIP() << "no real fixtures";
        MountedDisk disk;
        disk.Open(path.string(), true);
        TFileSystem* fs = disk.Current();
        const TDiskMap map = MapDisk(*fs);
        EXPECT_EQ(static_cast<int>(map.Sectors.size()), c.Sectors);
        EXPECT_EQ(Count(map, TSectorUse::Free), c.Free);
        if (c.System >= 0) {
            EXPECT_EQ(Count(map, TSectorUse::System), c.System);
        }
        EXPECT_EQ(Count(map, TSectorUse::Outside), c.Outside);
        EXPECT_EQ(Count(map, TSectorUse::BadCrc) + Count(map, TSectorUse::Missing), 0);
        // Every file's sectors hold at least its size.
        for (int file : fs->ListFiles({"*" + std::string(1, fs->GetExtensionSeparator()) + "*"},
                                      ListInvisible | ListSystem)) {
            EXPECT_GE(static_cast<long long>(map.SectorsOf(file).size()) * 256, fs->GetFileSize(file))
                << fs->GetDisplayName(file);
        }
    }
}

// Every DOS of the real and peer disks, hard disks among them: each file's sectors hold its
// size, no file index is one the listing lacks, and no sector of the image is in the map twice.
TEST(DiskMap, EveryRealDiskMapsEachFileOverItsSize) {
    const auto root = RealFixture("").parent_path().parent_path();
    if (!std::filesystem::is_directory(root / "real")) GTEST_SKIP() << "no real fixtures";
    int mapped = 0;
    for (const char* folder : {"real", "peer"}) {
        for (const auto& entry : std::filesystem::directory_iterator(root / folder)) {
            const auto extension = entry.path().extension();
            if (!entry.is_regular_file() || extension == ".md" || extension == ".json") continue;
            SCOPED_TRACE(entry.path().filename().string());
            MountedDisk disk;
            try {
                disk.Open(entry.path().string(), true);
            } catch (const std::exception&) {
                continue;
            }
            for (const auto& fs : disk.FileSystems) {
                const TDiskMap map = MapDisk(*fs);
                ++mapped;
                const std::vector<int> files = fs->ListFiles(
                    {"*" + std::string(1, fs->GetExtensionSeparator()) + "*"}, ListInvisible | ListSystem);
                const auto* cpm = dynamic_cast<const CPM*>(fs.get());
                const long long sectorSize = cpm ? cpm->GetFormat().SectorSize() : 256;
                for (int file : files) {
                    EXPECT_GE(static_cast<long long>(map.SectorsOf(file).size()) * sectorSize, fs->GetFileSize(file))
                        << fs->GetDisplayName(file);
                }
                for (const TMapSector& cell : map.Sectors) {
                    if (cell.File >= 0) {
                        EXPECT_NE(std::find(files.begin(), files.end(), cell.File), files.end());
                    }
                }
                const auto twice = std::adjacent_find(map.Sectors.begin(), map.Sectors.end(),
                                                      [](const auto& a, const auto& b) {
                                                          return a.Track == b.Track && a.Side == b.Side &&
                                                                 a.Sector == b.Sector;
                                                      });
                EXPECT_EQ(twice, map.Sectors.end());
            }
        }
    }
    EXPECT_GT(mapped, 20);
}
