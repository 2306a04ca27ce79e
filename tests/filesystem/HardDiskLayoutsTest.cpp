// Hard disks laid out as real ones are: LDOS divided by heads under a header that
// understates the cylinders, LS-DOS divided by cylinder ranges past the header's count,
// NEWDOS/80 with eight logical drives, and MULTIDOS partitions. Each opens with every
// partition and every file, and a write to one partition leaves the others' bytes alone.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/HardDiskLayouts.h"
#include "common/TempDir.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/NEWDOS80.h"

using namespace FileSystem;
using namespace HardDiskTest;

namespace {

struct Layout {
    const char* Name;
    TBuiltDisk (*Build)(const std::string& path);
};

const Layout Layouts[] = {
    {"LDOS divided by heads", BuildLDOSDividedByHeads},
    {"LS-DOS divided by cylinders", BuildLSDOSDividedByCylinders},
    {"NEWDOS/80 logical drives", BuildNewdosLogicalDrives},
    {"MULTIDOS partitions", BuildMultidosPartitions},
};

std::vector<std::string> ListedNames(TFileSystem& fs) {
    std::vector<std::string> names;
    for (int file : fs.ListFiles({"*/*"}, ListInvisible | ListSystem)) names.push_back(fs.GetFullFileName(file));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ExpectedNames(const TExpectedPartition& partition) {
    std::vector<std::string> names = partition.SystemFiles;
    for (const auto& [name, data] : partition.Files) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectPartitionHolds(TFileSystem& fs, const TExpectedPartition& expected) {
    EXPECT_EQ(fs.GetDOSName(true), expected.Family);
    EXPECT_EQ(fs.GetDiskName(), expected.DiskName);
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(ListedNames(fs), ExpectedNames(expected));
    for (const auto& [name, data] : expected.Files) {
        const int file = fs.FindFile(name);
        ASSERT_GE(file, 0) << name;
        EXPECT_EQ(fs.GetFileSize(file), static_cast<int>(data.size())) << name;
        EXPECT_TRUE(fs.ReadFile(file) == data) << name << " reads back other bytes";
    }
}

}  // namespace

TEST(HardDiskLayouts, EachOpensWithEveryPartitionAndEveryFile) {
    TestSupport::TempDir folder;
    for (const Layout& layout : Layouts) {
        SCOPED_TRACE(layout.Name);
        const TBuiltDisk built = layout.Build(folder / "disk.hdv");
        MountedDisk disk;
        disk.Open(built.Path);
        ASSERT_EQ(disk.FileSystems.size(), built.Partitions.size());
        for (size_t partition = 0; partition < built.Partitions.size(); ++partition) {
            SCOPED_TRACE("partition " + std::to_string(partition));
            ExpectPartitionHolds(*disk.FileSystems[partition], built.Partitions[partition]);
        }
    }
}

TEST(HardDiskLayouts, WritesLandInTheirPartitionOnly) {
    TestSupport::TempDir folder;
    for (const Layout& layout : Layouts) {
        TBuiltDisk built = layout.Build(folder / "disk.hdv");
        const size_t count = built.Partitions.size();
        // The last partition and the first.
        for (size_t target : {count - 1, size_t{0}}) {
            SCOPED_TRACE(std::string(layout.Name) + ", partition " + std::to_string(target));
            std::vector<std::string> before;
            for (const TExpectedPartition& partition : built.Partitions)
                before.push_back(Sha256OfRanges(built.Path, partition.ByteRanges));

            const std::vector<uint8_t> data = Pattern(9000, static_cast<uint32_t>(target));
            const std::string name = "ADDED" + std::to_string(target) + "/DAT";
            {
                MountedDisk disk;
                disk.Open(built.Path);
                ASSERT_EQ(disk.FileSystems.size(), count);
                ASSERT_TRUE(disk.FileSystems[target]->CreateFile(name, data, FileDate{}));
                disk.Flush();
            }
            for (size_t partition = 0; partition < count; ++partition) {
                const std::string after = Sha256OfRanges(built.Path, built.Partitions[partition].ByteRanges);
                EXPECT_EQ(after == before[partition], partition != target) << "partition " << partition;
            }

            MountedDisk disk;
            disk.Open(built.Path);
            ASSERT_EQ(disk.FileSystems.size(), count);
            for (size_t partition = 0; partition < count; ++partition) {
                TFileSystem& fs = *disk.FileSystems[partition];
                const int added = fs.FindFile(name);
                EXPECT_EQ(added >= 0, partition == target) << "partition " << partition;
                if (added >= 0) {
                    EXPECT_TRUE(fs.ReadFile(added) == data);
                }
            }
            built.Partitions[target].Files[name] = data;
            ExpectPartitionHolds(*disk.FileSystems[target], built.Partitions[target]);
        }
    }
}

TEST(HardDiskLayouts, MultidosPartitionsKeepTheirDatesAndTimes) {
    TestSupport::TempDir folder;
    const TBuiltDisk built = BuildMultidosPartitions(folder / "multidos.hdv");
    MountedDisk disk;
    disk.Open(built.Path);
    ASSERT_EQ(disk.FileSystems.size(), 2u);
    for (auto& fs : disk.FileSystems) {
        const FileDate date = fs->GetFileDate(fs->FindFile("VHDUTL/CMD"));
        EXPECT_TRUE(date.HasDate && date.HasTime);
        EXPECT_EQ(date.Year, 1999);
        EXPECT_EQ(date.Month, 6);
        EXPECT_EQ(date.Day, 8);
        EXPECT_EQ(date.Hour, 16);
        EXPECT_EQ(date.Minute, 9);
        EXPECT_EQ(fs->GetAttributeLetters(fs->FindFile("VHDUTL/CMD")), "");
    }
}

TEST(HardDiskLayouts, NewdosDrivesShowWhereTheyLieInTheirPDriveText) {
    TestSupport::TempDir folder;
    const TBuiltDisk built = BuildNewdosLogicalDrives(folder / "newdos.hdv");
    MountedDisk disk;
    disk.Open(built.Path);
    ASSERT_EQ(disk.FileSystems.size(), 8u);
    auto pdrive = [&](size_t drive) { return dynamic_cast<NEWDOS80&>(*disk.FileSystems[drive]).GetPDriveText(); };
    EXPECT_EQ(pdrive(0), "HDS=(0,1,0,2,32,6,0,64,8,8,15,16)");
    EXPECT_EQ(pdrive(5), "HDS=(0,1,2,2,32,6,1600,64,5,8,16,16)");
}

// A drive of 17 sectors a track: the sectors past 16 lie on the next head.
TEST(HardDiskLayouts, NewdosDriveOfFewerThanThirtyTwoSectorsATrack) {
    TestSupport::TempDir folder;
    TNewdosDrive drive{0, 3, 0, 40, 6, 5, 20};
    drive.SectorsPerTrack = 17;
    const TBuiltDisk built = BuildNewdosDisk(folder / "newdos17.hdv", 40, 3, {drive});
    MountedDisk disk;
    disk.Open(built.Path);
    ASSERT_EQ(disk.FileSystems.size(), 1u);
    ExpectPartitionHolds(*disk.FileSystems[0], built.Partitions[0]);
}
