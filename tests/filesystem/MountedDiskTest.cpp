// Recognition: the scoring rule over a candidate table and the partition loop
// of hard disks, with stand-in file systems that report given scores and sizes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <utility>

#include "common/FakeFileSystem.h"
#include "common/LDOSTestDisks.h"
#include "filesystem/MountedDisk.h"

using namespace FileSystem;
using TestSupport::FakeFileSystem;

namespace {

constexpr int Throws = -1;  // the candidate's constructor refuses with an exception
constexpr int Missing = -2;  // the candidate class is not available

struct Recorder {
    std::vector<int> Built;  // candidate indexes in construction order
};

std::vector<CandidateFactory> Candidates(const std::vector<int>& scores, Recorder& recorder) {
    std::vector<CandidateFactory> factories;
    for (size_t i = 0; i < scores.size(); ++i) {
        int score = scores[i];
        int index = static_cast<int>(i);
        factories.push_back([score, index, &recorder]() -> std::unique_ptr<TFileSystem> {
            recorder.Built.push_back(index);
            if (score == Missing) return nullptr;
            if (score == Throws) throw TFileSystem::EInvalidFormat();
            return std::make_unique<FakeFileSystem>(score, "DOS" + std::to_string(index));
        });
    }
    return factories;
}

}  // namespace

TEST(MountBestCandidateTest, ScoreTables) {
    struct Case {
        const char* what;
        std::vector<int> scores;
        int winner;               // -1: refused
        std::vector<int> built;   // construction order
    } cases[] = {
        {"the first certain candidate wins at once", {50, 0, 0, 3}, 1, {0, 1}},
        {"equal scores: the lower index wins, built again", {100, 5, 5, 100}, 1, {0, 1, 2, 3, 1}},
        {"lowest score below 100 wins", {40, 100, 7, 9}, 2, {0, 1, 2, 3, 2}},
        {"100 is a rejection", {100, 100, 250}, -1, {0, 1, 2}},
        {"throwing and missing candidates count as 100", {Throws, Missing, 99}, 2, {0, 1, 2, 2}},
        {"everything refuses", {Throws, Missing, Throws}, -1, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        Recorder recorder;
        if (c.winner < 0) {
            try {
                MountBestCandidate(Candidates(c.scores, recorder));
                ADD_FAILURE() << c.what << ": a disk was mounted";
            } catch (const TFileSystem::EInvalidFormat& error) {
                EXPECT_STREQ(error.what(), "Unrecognized disk format") << c.what;
            }
        } else {
            std::unique_ptr<TFileSystem> fs = MountBestCandidate(Candidates(c.scores, recorder));
            EXPECT_EQ(fs->GetDOSName(true), "DOS" + std::to_string(c.winner)) << c.what;
        }
        EXPECT_EQ(recorder.Built, c.built) << c.what;
    }
}

TEST(ConstructFileSystemTest, IndexOutsideTheTableIsRefused) {
    EXPECT_THROW(ConstructFileSystem(-1, nullptr), TFileSystem::EInvalidFormat);
    EXPECT_THROW(ConstructFileSystem(FloppyCandidateCount, nullptr), TFileSystem::EInvalidFormat);
}

namespace {

// A hard disk laid out as partitions starting at (cylinder, head); mounting
// anywhere else fails, as it does beyond the last partition of a real disk.
struct FakeHardDisk {
    std::string Family = "LDOS";
    std::map<std::pair<int, int>, PartitionExtent> Partitions;
    std::vector<std::pair<int, int>> Mounted;

    PartitionMounter Mounter() {
        return [this](int cylinder, int head) -> std::unique_ptr<TFileSystem> {
            Mounted.emplace_back(cylinder, head);
            if (!Partitions.count({cylinder, head})) throw TFileSystem::EInvalidFormat();
            auto fs = std::make_unique<FakeFileSystem>(0, Family);
            fs->Plant("AT", std::to_string(cylinder) + "-" + std::to_string(head));
            return fs;
        };
    }
    PartitionExtentOf Extents() {
        return [this](TFileSystem& fs) -> std::optional<PartitionExtent> {
            std::string where = fs.GetFileExtension(0);
            size_t dash = where.find('-');
            return Partitions.at({std::stoi(where.substr(0, dash)), std::stoi(where.substr(dash + 1))});
        };
    }
};

}  // namespace

TEST(MountPartitionsTest, DiskDividedByHeadsGivesOnePartitionPerHead) {
    FakeHardDisk disk;
    for (int head = 0; head < 4; ++head) disk.Partitions[{0, head}] = {153, 1};
    auto partitions = MountPartitions(153, 4, disk.Mounter(), disk.Extents());
    EXPECT_EQ(partitions.size(), 4u);
    EXPECT_EQ(disk.Mounted, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
}

TEST(MountPartitionsTest, DiskDividedByCylindersFollowsEachPartitionsOwnSize) {
    FakeHardDisk disk;
    disk.Partitions[{0, 0}] = {100, 4};
    disk.Partitions[{100, 0}] = {50, 4};
    disk.Partitions[{150, 0}] = {30, 4};
    auto partitions = MountPartitions(200, 4, disk.Mounter(), disk.Extents());
    EXPECT_EQ(partitions.size(), 3u);
    // The space after the last partition is tried once and the failure ends the search.
    EXPECT_EQ(disk.Mounted, (std::vector<std::pair<int, int>>{{0, 0}, {100, 0}, {150, 0}, {180, 0}}));
}

TEST(MountPartitionsTest, OnlyLDOSHasFurtherPartitions) {
    FakeHardDisk disk;
    disk.Family = "NEWDOS/80";
    disk.Partitions[{0, 0}] = {100, 4};
    disk.Partitions[{100, 0}] = {100, 4};
    EXPECT_EQ(MountPartitions(200, 4, disk.Mounter(), disk.Extents()).size(), 1u);
}

TEST(MountPartitionsTest, FirstPartitionFailureIsTheCallersError) {
    FakeHardDisk disk;
    EXPECT_THROW(MountPartitions(200, 4, disk.Mounter(), disk.Extents()), TFileSystem::EInvalidFormat);
}

TEST(MountPartitionsTest, ImpossibleSizesEndTheSearch) {
    struct Case {
        const char* what;
        PartitionExtent extent;
        size_t partitions;
    } cases[] = {
        {"no cylinders would loop in place", {0, 4}, 1},
        {"no heads would loop in place", {200, 0}, 1},
        {"negative size", {-5, 1}, 1},
        {"heads beyond the image", {200, 3}, 1},  // 0..2, then 3 of a 4-head disk fails
    };
    for (const Case& c : cases) {
        FakeHardDisk disk;
        disk.Partitions[{0, 0}] = c.extent;
        EXPECT_EQ(MountPartitions(200, 4, disk.Mounter(), disk.Extents()).size(), c.partitions) << c.what;
        EXPECT_LE(disk.Mounted.size(), 2u) << c.what;
    }
}

// Real headers misstate the cylinders: the file's count bounds the search, and both
// ways of dividing a disk are tried, the one the header suggests first.
TEST(MountPartitionsTest, BothWaysAreTriedWithinWhatTheFileHolds) {
    using Place = std::pair<int, int>;
    struct Case {
        const char* what;
        HardDiskSize size;
        std::vector<std::pair<Place, PartitionExtent>> partitions;
        std::vector<Place> mounted;
    } cases[] = {
        {"by heads under a header that understates the cylinders",
         {153, 203, 4},
         {{{0, 0}, {203, 1}}, {{0, 1}, {203, 1}}, {{0, 2}, {203, 1}}, {{0, 3}, {203, 1}}},
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {"by cylinders past the header's count",
         {203, 840, 6},
         {{{0, 0}, {140, 6}}, {{140, 0}, {140, 6}}, {{280, 0}, {140, 6}}, {{420, 0}, {140, 6}}, {{560, 0}, {140, 6}},
          {{700, 0}, {140, 6}}},
         {{0, 0}, {140, 0}, {280, 0}, {420, 0}, {560, 0}, {700, 0}}},
        {"by heads after the header's way finds nothing",
         {200, 200, 2},
         {{{0, 0}, {150, 1}}, {{0, 1}, {150, 1}}},
         {{0, 0}, {150, 0}, {0, 1}, {150, 1}}},
        {"never inside a partition found",
         {60, 100, 3},
         {{{0, 0}, {100, 1}}, {{0, 1}, {60, 1}}},
         {{0, 0}, {0, 1}, {0, 2}}},
    };
    for (const Case& c : cases) {
        FakeHardDisk disk;
        for (const auto& [place, extent] : c.partitions) disk.Partitions[place] = extent;
        auto partitions = MountPartitions(c.size, disk.Mounter(), disk.Extents());
        EXPECT_EQ(partitions.size(), c.partitions.size()) << c.what;
        EXPECT_EQ(disk.Mounted, c.mounted) << c.what;
    }
}

TEST(MountPartitionsTest, MultidosPartitionsFollowOneAnotherAsLDOSOnes) {
    FakeHardDisk disk;
    disk.Family = "MULTIDOS";
    disk.Partitions[{0, 0}] = {40, 2};
    disk.Partitions[{40, 0}] = {40, 2};
    EXPECT_EQ(MountPartitions(80, 2, disk.Mounter(), disk.Extents()).size(), 2u);
}

namespace {

struct PartitionPlace {
    int FirstCylinder, FirstHead, Tracks, Heads;
};

// An HDV1 hard disk with empty LDOS partitions at the given places, opened as users open it.
std::vector<std::string> OpenedVolumeNames(int cylinders, int heads, const std::vector<PartitionPlace>& places) {
    LDOSTest::TempFolder folder;
    const std::string path = folder.File("hard.hdv");
    LDOSTest::WriteBlankHDV1(path, cylinders, heads);
    {
        auto image = DiskImage::OpenHardImage(path);
        int n = 0;
        for (const PartitionPlace& place : places) {
            LDOSTest::PartitionLayout layout;
            layout.FirstCylinder = place.FirstCylinder;
            layout.FirstHead = place.FirstHead;
            layout.Tracks = place.Tracks;
            layout.Heads = place.Heads;
            layout.Name = "PART" + std::to_string(n++);
            LDOSTest::WriteLDOSPartition(*image, layout);
        }
    }
    MountedDisk disk;
    disk.Open(path);
    EXPECT_EQ(disk.CurrentPartition, 0);
    std::vector<std::string> names;
    for (auto& fs : disk.FileSystems) {
        EXPECT_EQ(fs->GetDOSName(true), "LDOS");
        names.push_back(fs->GetDiskName());
    }
    return names;
}

}  // namespace

TEST(MountedDiskOpenTest, LDOSHardDiskWithOnePartitionPerHead) {
    EXPECT_EQ(OpenedVolumeNames(40, 4, {{0, 0, 40, 1}, {0, 1, 40, 1}, {0, 2, 40, 1}, {0, 3, 40, 1}}),
              (std::vector<std::string>{"PART0", "PART1", "PART2", "PART3"}));
}

TEST(MountedDiskOpenTest, LDOSHardDiskDividedByCylindersOfDifferentSizes) {
    EXPECT_EQ(OpenedVolumeNames(130, 1, {{0, 0, 40, 1}, {40, 0, 50, 1}, {90, 0, 35, 1}}),
              (std::vector<std::string>{"PART0", "PART1", "PART2"}));
}

TEST(MountedDiskOpenTest, SinglePartitionFillingTheDisk) {
    EXPECT_EQ(OpenedVolumeNames(40, 2, {{0, 0, 40, 2}}), std::vector<std::string>{"PART0"});
}

// One change per Flush: what a caller changed and flushed stays; what it changed after the
// last Flush is undone when the disk closes, and a new floppy appears only when flushed.
TEST(MountedDiskChangeTest, FlushLandsAChangeAndCloseUndoesAnUnflushedOne) {
    LDOSTest::TempFolder folder;
    const std::string path = folder.File("disk.dsk");
    MountedDisk disk;
    disk.CreateNew(path, DiskImage::ImageJV3, 40, 2, 1, true, "CHANGES", "12/10/26");
    EXPECT_FALSE(std::filesystem::exists(path));
    disk.Flush();
    ASSERT_TRUE(std::filesystem::exists(path));

    ASSERT_TRUE(disk.Current()->CreateFile("KEPT/DAT", LDOSTest::PatternBytes(3000, 1), FileDate{}));
    disk.Flush();
    const std::vector<uint8_t> flushed = LDOSTest::ReadHostFile(path);
    ASSERT_TRUE(disk.Current()->CreateFile("LOST/DAT", LDOSTest::PatternBytes(3000, 2), FileDate{}));
    disk.Current()->DeleteFile(disk.Current()->FindFile("KEPT/DAT"));
    disk.Close();
    EXPECT_EQ(LDOSTest::ReadHostFile(path), flushed);
    EXPECT_FALSE(std::filesystem::exists(path + ".qbjournal"));

    disk.Open(path);
    EXPECT_GE(disk.Current()->FindFile("KEPT/DAT"), 0);
    EXPECT_LT(disk.Current()->FindFile("LOST/DAT"), 0);
}

// An image its container accepts but no DOS claims says which container took it; a file no
// container accepts keeps the container's own refusal.
TEST(MountedDiskOpenTest, RefusalsSayWhetherTheContainerOrTheDOSWasNotRecognised) {
    LDOSTest::TempFolder folder;
    const std::string blank = folder.File("blank.dsk");
    MountedDisk disk;
    disk.CreateNew(blank, DiskImage::ImageJV3, 40, -1, 1, true, "", "");  // a JV3 image with no DOS
    disk.Flush();
    disk.Close();
    try {
        disk.Open(blank);
        ADD_FAILURE() << "a blank image was mounted";
    } catch (const EUnrecognizedFileSystem& error) {
        EXPECT_STREQ(error.what(), "Unrecognized disk format");
        EXPECT_EQ(error.ImageFormat, "JV3");
    }
    EXPECT_FALSE(disk.IsOpen());

    const std::string text = folder.File("notes.txt");
    {
        std::ofstream out(text, std::ios::binary);
        out << "not a disk";
    }
    EXPECT_THROW(disk.Open(text), DiskImage::TDiskImage::EInvalidFormat);
    EXPECT_FALSE(disk.IsOpen());
}
