// The partitions of an LDOS hard disk, found when the image is opened: a disk
// divided by heads and one divided by cylinders.
#include <gtest/gtest.h>

#include "common/LDOSTestDisks.h"
#include "filesystem/MountedDisk.h"

using namespace FileSystem;
using namespace LDOSTest;

namespace {

PartitionLayout Partition(int cylinder, int head, int tracks, int heads, bool descriptor, const std::string& name) {
    PartitionLayout layout;
    layout.FirstCylinder = cylinder;
    layout.FirstHead = head;
    layout.Tracks = tracks;
    layout.Heads = heads;
    layout.Descriptor = descriptor;
    layout.Name = name;
    return layout;
}

std::vector<std::string> PartitionNames(const MountedDisk& disk) {
    std::vector<std::string> names;
    for (const auto& fs : disk.FileSystems) {
        EXPECT_EQ(fs->GetDOSName(true), "LDOS");
        names.push_back(fs->GetDiskName());
    }
    return names;
}

}  // namespace

TEST(LDOSPartitions, DiskDividedByHeadsOpensOnePartitionPerHead) {
    TempFolder folder;
    const std::string path = folder.File("heads.hdv");
    WriteLDOSHardDisk(path, 40, 4,
                      {Partition(0, 0, 40, 1, true, "HEAD0"), Partition(0, 1, 40, 1, true, "HEAD1"),
                       Partition(0, 2, 40, 1, true, "HEAD2"), Partition(0, 3, 40, 1, true, "HEAD3")});
    MountedDisk disk;
    disk.Open(path);
    EXPECT_EQ(PartitionNames(disk), (std::vector<std::string>{"HEAD0", "HEAD1", "HEAD2", "HEAD3"}));

    // A file written to one partition is not seen by its neighbours.
    ASSERT_TRUE(disk.FileSystems[2]->CreateFile("ONLY/TWO", PatternBytes(3000, 2), FileDate{}));
    disk.Flush();
    disk.Close();
    disk.Open(path);
    ASSERT_EQ(disk.FileSystems.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(disk.FileSystems[i]->FindFile("ONLY/TWO") >= 0, i == 2) << "partition " << i;
}

TEST(LDOSPartitions, DiskDividedByCylindersEndsAtTheFirstFailedMount) {
    TempFolder folder;
    const std::string path = folder.File("cylinders.hdv");
    // Two partitions over both heads, then cylinders no partition holds.
    WriteLDOSHardDisk(path, 100, 2, {Partition(0, 0, 35, 2, false, "FIRST"), Partition(35, 0, 40, 2, false, "SECOND")});
    MountedDisk disk;
    disk.Open(path);
    EXPECT_EQ(PartitionNames(disk), (std::vector<std::string>{"FIRST", "SECOND"}));
    EXPECT_EQ(disk.CurrentPartition, 0);
}
