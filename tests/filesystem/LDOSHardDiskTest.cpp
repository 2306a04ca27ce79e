// LDOS on hard-disk images: sector mapping of a partition and a round trip on
// a partition that shares its HDV image with others.
#include <gtest/gtest.h>

#include "common/LDOSTestDisks.h"

using namespace FileSystem;
using namespace LDOSTest;

namespace {

// Lets the test set the number of sides, which only a GAT of a large disk gives.
struct MappingProbe : LDOS {
    using LDOS::LDOS;
    void SetSides(int sides) { Sides = sides; }
};

void OpenPartition(LDOSDisk& disk, const std::string& path, int firstCylinder, int firstHead) {
    disk.Close();
    disk.Image = DiskImage::OpenHardImage(path);
    disk.FS = std::make_unique<LDOS>(disk.Image.get(), firstCylinder, firstHead);
}

}  // namespace

TEST(LDOSHardDisk, MapsLogicalSectorsIntoThePartition) {
    TempFolder folder;
    const std::string path = folder.File("map.hdv");
    PartitionLayout layout;
    layout.FirstCylinder = 5;
    layout.FirstHead = 1;
    layout.Heads = 2;
    WriteLDOSHardDisk(path, 50, 4, {layout});
    auto image = DiskImage::OpenHardImage(path);
    MappingProbe fs(image.get(), 5, 1);
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetSectorsPerTrack(), 64);

    struct Row {
        int Sides, Track, Sector, Side;
        int Cylinder, Head, PhysicalSector;
    };
    const Row rows[] = {
        {1, 0, 0, 0, 5, 1, 0},   {1, 3, 40, 0, 8, 2, 8},  {1, 3, 31, 0, 8, 1, 31},
        {2, 3, 40, 0, 11, 2, 8}, {2, 3, 40, 1, 12, 2, 8}, {2, 0, 63, 1, 6, 2, 31},
    };
    for (const Row& row : rows) {
        fs.SetSides(row.Sides);
        int track = row.Track, sector = row.Sector, side = row.Side;
        fs.MapHardDiskSector(track, sector, side);
        EXPECT_EQ(track, row.Cylinder) << row.Sides << " sides, track " << row.Track << " sector " << row.Sector;
        EXPECT_EQ(side, row.Head) << row.Sides << " sides, track " << row.Track << " sector " << row.Sector;
        EXPECT_EQ(sector, row.PhysicalSector);
    }
}

TEST(LDOSHardDisk, GeometryFromDescriptorOrHeads) {
    struct Row {
        bool Descriptor;
        int ImageHeads, PartitionHeads, GranulesPerSide;
        int SectorsPerTrack, SectorsPerGranule;
    };
    const Row rows[] = {
        {true, 4, 1, 4, 32, 8},
        {true, 4, 2, 8, 64, 8},
        {false, 2, 2, 4, 64, 16},  // without descriptor: every head of the image
        {false, 1, 1, 8, 32, 4},
    };
    TempFolder folder;
    int n = 0;
    for (const Row& row : rows) {
        const std::string path = folder.File("geometry" + std::to_string(n++) + ".hdv");
        PartitionLayout layout;
        layout.Descriptor = row.Descriptor;
        layout.Heads = row.PartitionHeads;
        layout.GranulesPerSide = row.GranulesPerSide;
        WriteLDOSHardDisk(path, 40, row.ImageHeads, {layout});
        LDOSDisk disk;
        OpenPartition(disk, path, 0, 0);
        EXPECT_EQ(disk.FS->Suspicion, 0) << path;
        EXPECT_EQ(disk.FS->GetSectorsPerTrack(), row.SectorsPerTrack) << path;
        EXPECT_EQ(disk.FS->GetSectorsPerGranule(), row.SectorsPerGranule) << path;
        EXPECT_EQ(disk.FS->GetTracks(), 40);
        EXPECT_EQ(disk.FS->GetDOSDescription(), "LDOS 5.3 (date converted)");
    }
}

// An HDV1 disk of more than 203 cylinders pairs its cylinders into two-sided tracks.
TEST(LDOSHardDisk, LargeHDV1TakesTwoCylindersPerTrack) {
    TempFolder folder;
    const std::string path = folder.File("large.hdv");
    PartitionLayout layout;
    layout.Tracks = 105;
    layout.Sides = 2;
    layout.DirectoryTrack = 52;
    WriteLDOSHardDisk(path, 210, 1, {layout});
    LDOSDisk disk;
    OpenPartition(disk, path, 0, 0);
    EXPECT_EQ(disk.FS->Suspicion, 0);
    EXPECT_EQ(disk.FS->GetSides(), 2);
    EXPECT_EQ(disk.FS->GetSectorsPerTrack(), 64);
    EXPECT_EQ(disk.FS->GetGranulesPerTrack(), 8);
    const std::vector<uint8_t> bytes = PatternBytes(70000, 5);
    ASSERT_TRUE(disk.FS->CreateFile("BIG/DAT", bytes, FileDate{}));
    OpenPartition(disk, path, 0, 0);
    EXPECT_TRUE(disk.FS->ReadFile(disk.FS->FindFile("BIG/DAT")) == bytes);
    ExpectConsistentAllocation(*disk.FS);
}

TEST(LDOSHardDisk, RoundTripOnOnePartitionLeavesTheOthersAlone) {
    TempFolder folder;
    const std::string path = folder.File("shared.hdv");
    constexpr int Cylinders = 40, Heads = 4, PartitionHead = 2;
    PartitionLayout layout;
    layout.FirstHead = PartitionHead;
    WriteLDOSHardDisk(path, Cylinders, Heads, {layout});
    LDOSDisk disk;
    OpenPartition(disk, path, 0, PartitionHead);
    RunRoundTrip(disk, [&] { OpenPartition(disk, path, 0, PartitionHead); }, 99);
    disk.Close();

    // Every sector outside head 2 is still zero.
    const std::vector<uint8_t> bytes = ReadHostFile(path);
    ASSERT_EQ(bytes.size(), 256u + Cylinders * Heads * 32 * 256);
    for (int cylinder = 0; cylinder < Cylinders; ++cylinder) {
        for (int head = 0; head < Heads; ++head) {
            if (head == PartitionHead)
                continue;
            const size_t start = 256 + static_cast<size_t>((cylinder * Heads + head) * 32) * 256;
            const bool untouched =
                std::all_of(bytes.begin() + start, bytes.begin() + start + 32 * 256, [](uint8_t b) { return b == 0; });
            EXPECT_TRUE(untouched) << "cylinder " << cylinder << " head " << head;
        }
    }
}

TEST(LDOSHardDisk, BlankPartitionIsRejected) {
    TempFolder folder;
    const std::string path = folder.File("blank.hdv");
    WriteBlankHDV1(path, 40, 1);
    auto image = DiskImage::OpenHardImage(path);
    try {
        LDOS fs(image.get(), 0, 0);
        EXPECT_GE(fs.Suspicion, 100);
    } catch (const TFileSystem::Exception&) {
    }
}
