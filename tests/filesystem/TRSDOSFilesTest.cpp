// File operations of the TRSDOS family on freshly formatted disks: names,
// creation with extents and extension records, reading, rewriting,
// deleting, renaming, the failures that must leave no trace, damaged chains.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "common/TRSDOSScratch.h"

using namespace FileSystem;
using TRSDOSTest::PatternBytes;
using TRSDOSTest::TFreshDisk;
using TRSDOSTest::TProbe;

namespace {

constexpr int GranuleBytes = 5 * 256;

TEST(IsValidFilename, AcceptsEightPlusThreeLettersAndDigits) {
    TFreshDisk disk;
    struct Case {
        const char* name;
        bool valid;
    };
    for (const Case& c : {Case{"GAME", true}, Case{"GAME/BAS", true}, Case{"game.bas", true}, Case{"ABCDEFGH/XYZ", true},
                          Case{"A1/B2", true}, Case{"GAME/", true}, Case{"", false}, Case{"1GAME", false},
                          Case{"ABCDEFGHI", false}, Case{"GAME/ABCD", false}, Case{"GA-ME", false},
                          Case{"GA ME", false}, Case{"A/B/C", false}, Case{"/BAS", false}, Case{"GAME:1", false}})
        EXPECT_EQ(disk.Fs->IsValidFilename(c.name), c.valid) << c.name;
}

TEST(FindFile, IgnoresCaseTrailingSeparatorsAndTheSeparatorUsed) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("GAME/BAS", {1}, {}));
    ASSERT_TRUE(fs.CreateFile("README", {2}, {}));
    const int game = fs.FindFile("GAME/BAS");
    ASSERT_GE(game, 2);
    EXPECT_EQ(fs.FindFile("game.bas"), game);
    EXPECT_EQ(fs.FindFile("Game/Bas/"), game);
    const int readme = fs.FindFile("README");
    ASSERT_GE(readme, 2);
    EXPECT_EQ(fs.FindFile("readme/"), readme);
    EXPECT_EQ(fs.FindFile("README."), readme);
    EXPECT_EQ(fs.FindFile("GAME"), -1);
    EXPECT_EQ(fs.FindFile("DIR/SYS"), 1);  // system files are found too
}

TEST(ListFiles, AcceptsDotOrSlashPatternsInDirectoryOrder) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    for (const char* name : {"ONE/BAS", "TWO/CMD", "THREE/BAS"}) ASSERT_TRUE(fs.CreateFile(name, {}, {}));
    const std::vector<int> bas = fs.ListFiles({"*.bas"}, 0);
    ASSERT_EQ(bas.size(), 2u);
    EXPECT_TRUE(std::is_sorted(bas.begin(), bas.end()));
    EXPECT_EQ(fs.ListFiles({"*/CMD"}, 0), std::vector<int>{fs.FindFile("TWO/CMD")});
    EXPECT_EQ(fs.ListFiles({"*/*"}, 0).size(), 3u);
}

TEST(CreateFile, StoresSizesAsEndingRecordNumberAndEof) {
    struct Case {
        size_t size;
        int ern;
        int eof;
        int granules;
    };
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    for (const Case& c : {Case{0, 0, 0, 0}, Case{256, 1, 0, 1}, Case{257, 2, 1, 1}, Case{1280, 5, 0, 1},
                          Case{1281, 6, 1, 2}}) {
        const std::string name = "S" + std::to_string(c.size);
        const int freeBefore = fs.GetFreeSpace();
        const std::vector<uint8_t> data = PatternBytes(c.size, static_cast<uint32_t>(c.size));
        ASSERT_TRUE(fs.CreateFile(name, data, {}));
        const int dec = fs.FindFile(name);
        const uint8_t* record = fs.GetDirectoryRecord(dec);
        EXPECT_EQ(record[20] | (record[21] << 8), c.ern) << c.size;
        EXPECT_EQ(record[3], c.eof) << c.size;
        EXPECT_EQ(record[0], 0x10) << c.size;
        EXPECT_EQ(record[16], 0x5A);
        EXPECT_EQ(record[19], 0x17);
        EXPECT_EQ(fs.HIT[static_cast<size_t>(dec)], TRSDOSBase::HashFilename(name));
        EXPECT_EQ(freeBefore - fs.GetFreeSpace(), c.granules * GranuleBytes) << c.size;
        if (c.size == 0) {
            EXPECT_EQ(record[22], 0xFF) << "an empty file has no extent";
        }
        EXPECT_EQ(fs.ReadFile(dec), data) << c.size;
    }
}

TEST(CreateFile, SplitsLongRunsIntoExtentsOfAtMostThirtyTwoGranules) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    const std::vector<uint8_t> data = PatternBytes(40 * GranuleBytes, 40);
    ASSERT_TRUE(fs.CreateFile("BIG/DAT", data, {}));
    const int dec = fs.FindFile("BIG/DAT");
    const std::vector<TExtent> extents = fs.GetExtents(dec);
    int total = 0;
    for (const TExtent& e : extents) {
        EXPECT_LE(e.Count, 32);
        total += e.Count;
    }
    EXPECT_EQ(total, 40);
    EXPECT_EQ(extents.front().Count, 32);  // track 0 granule 1 onward is free up to the directory track
    EXPECT_EQ(fs.GetDirectoryRecord(dec)[23] & 31, 31);  // stored as count minus one
    EXPECT_EQ(fs.ReadFile(dec), data);
}

TEST(CreateFile, TakesTheFirstRunLongEnoughForTheWholeNeed) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    // Free: granule 3 alone, then granules 10-12; everything else used.
    for (int t = 0; t < 35; ++t) fs.GAT[static_cast<size_t>(t)] = 0xFF;
    fs.FreeGranules(1, 1, 1);
    fs.FreeGranules(5, 0, 3);
    ASSERT_TRUE(fs.CreateFile("SIX", PatternBytes(6 * 256, 6), {}));
    const std::vector<TExtent> extents = fs.GetExtents(fs.FindFile("SIX"));
    ASSERT_EQ(extents.size(), 1u);
    EXPECT_EQ(extents[0].Track, 5u);
    EXPECT_EQ(extents[0].Sector, 0u);
    EXPECT_EQ(extents[0].Count, 2);
}

// Leaves every other granule free from track 20 on, so each granule of a
// new file becomes an extent of its own.
void Fragment(TProbe& fs) {
    for (int t = 0; t < 35; ++t) fs.GAT[static_cast<size_t>(t)] = 0xFF;
    for (int t = 20; t < 35; ++t) fs.FreeGranules(t, 0, 1);
}

TEST(CreateFile, FourFullExtentsGetAnEmptyExtensionRecord) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    Fragment(fs);
    const std::vector<uint8_t> data = PatternBytes(4 * GranuleBytes, 4);
    ASSERT_TRUE(fs.CreateFile("FOUR", data, {}));
    const int dec = fs.FindFile("FOUR");
    const uint8_t* record = fs.GetDirectoryRecord(dec);
    ASSERT_EQ(record[30], 0xFE);
    const int next = record[31];
    const uint8_t* extension = fs.GetDirectoryRecord(next);
    EXPECT_EQ(extension[0], 0x90);
    EXPECT_EQ(extension[1], dec);
    EXPECT_EQ(extension[22], 0xFF);
    EXPECT_EQ(extension[30], 0xFF);
    EXPECT_EQ(fs.HIT[static_cast<size_t>(next)], fs.HIT[static_cast<size_t>(dec)]);
    EXPECT_EQ(fs.GetExtents(dec).size(), 4u);
    EXPECT_EQ(fs.ListFiles({"*/*"}, ListInvisible | ListSystem).size(), 3u);  // extension records are not files
    EXPECT_EQ(fs.ReadFile(dec), data);
}

TEST(CreateFile, ChainsExtensionRecordsForManyExtentsAndDeleteFreesThemAll) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    Fragment(fs);
    const int freeBefore = fs.GetFreeSpace();
    const std::vector<uint8_t> hitBefore = fs.HIT;
    const std::vector<uint8_t> data = PatternBytes(10 * GranuleBytes - 3, 10);
    ASSERT_TRUE(fs.CreateFile("TEN/DAT", data, {}));
    const int dec = fs.FindFile("TEN/DAT");
    EXPECT_EQ(fs.GetRecordChain(dec).size(), 3u);  // 4 + 4 + 2 extents
    EXPECT_EQ(fs.GetExtents(dec).size(), 10u);
    disk.Reopen();
    auto& again = *disk.Fs;
    const int reopened = again.FindFile("TEN/DAT");
    EXPECT_EQ(again.ReadFile(reopened), data);
    ASSERT_TRUE(again.DeleteFile(reopened));
    EXPECT_EQ(again.GetFreeSpace(), freeBefore);
    EXPECT_EQ(again.HIT, hitBefore);
    EXPECT_EQ(again.FindFile("TEN/DAT"), -1);
}

TEST(CreateFile, ExistingNameInAnotherCaseIsRefused) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("GAME/BAS", {1, 2}, {}));
    const std::vector<uint8_t> directory = fs.Directory;
    EXPECT_THROW(fs.CreateFile("game/bas", {3}, {}), TFileSystem::EFileExists);
    EXPECT_THROW(fs.CreateFile("game.BAS", {3}, {}), TFileSystem::EFileExists);
    EXPECT_EQ(fs.Directory, directory);
    EXPECT_THROW(fs.CreateFile("BAD NAME", {3}, {}), TFileSystem::EInvalidFilename);
}

TEST(CreateFile, DiskFullLeavesNoTrace) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("FIRST", PatternBytes(30 * GranuleBytes, 1), {}));
    const TRSDOSTest::TDirectoryState before = TRSDOSTest::DirectoryState(fs);
    const int freeSpace = fs.GetFreeSpace();
    EXPECT_THROW(fs.CreateFile("SECOND", PatternBytes(static_cast<size_t>(freeSpace) + 1, 2), {}),
                 TFileSystem::EDiskFull);
    EXPECT_TRUE(TRSDOSTest::DirectoryState(fs) == before);
    disk.Reopen();
    EXPECT_EQ(disk.Fs->GetFreeSpace(), freeSpace);
    EXPECT_EQ(disk.Fs->FindFile("SECOND"), -1);
    // The disk still takes a file that fits exactly.
    const std::vector<uint8_t> exact = PatternBytes(static_cast<size_t>(freeSpace), 3);
    ASSERT_TRUE(disk.Fs->CreateFile("THIRD", exact, {}));
    EXPECT_EQ(disk.Fs->GetFreeSpace(), 0);
    EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("THIRD")), exact);
}

TEST(CreateFile, TooManyFilesLeavesNoTrace) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    // Eight directory sectors of eight records, less BOOT/SYS and DIR/SYS.
    for (int i = 0; i < 62; ++i) ASSERT_TRUE(fs.CreateFile("F" + std::to_string(i), {}, {})) << i;
    const TRSDOSTest::TDirectoryState before = TRSDOSTest::DirectoryState(fs);
    EXPECT_THROW(fs.CreateFile("ONEMORE", {1}, {}), TFileSystem::ETooManyFiles);
    EXPECT_TRUE(TRSDOSTest::DirectoryState(fs) == before);
}

TEST(CreateFile, NoRecordForAnExtensionLeavesNoTrace) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    for (int i = 0; i < 61; ++i) ASSERT_TRUE(fs.CreateFile("F" + std::to_string(i), {}, {})) << i;
    Fragment(fs);
    fs.Flush();
    const TRSDOSTest::TDirectoryState before = TRSDOSTest::DirectoryState(fs);
    EXPECT_THROW(fs.CreateFile("LAST", PatternBytes(5 * GranuleBytes, 5), {}), TFileSystem::ETooManyFiles);
    EXPECT_TRUE(TRSDOSTest::DirectoryState(fs) == before);
}

TEST(RewriteFile, OverwritesInPlaceOnlyWithTheSameSize) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("DATA", PatternBytes(3000, 1), {}));
    ASSERT_TRUE(fs.CreateFile("EMPTY", {}, {}));
    const int dec = fs.FindFile("DATA");
    const int freeSpace = fs.GetFreeSpace();
    EXPECT_FALSE(fs.RewriteFile(dec, PatternBytes(2999, 2)));
    EXPECT_EQ(fs.ReadFile(dec), PatternBytes(3000, 1));
    ASSERT_TRUE(fs.RewriteFile(dec, PatternBytes(3000, 2)));
    EXPECT_EQ(fs.ReadFile(dec), PatternBytes(3000, 2));
    EXPECT_EQ(fs.GetFreeSpace(), freeSpace);
    EXPECT_TRUE(fs.GetFileDate(dec).HasDate);
    const int empty = fs.FindFile("EMPTY");
    EXPECT_TRUE(fs.RewriteFile(empty, {}));
    EXPECT_FALSE(fs.RewriteFile(empty, {1, 2, 3}));  // an empty file has no granules to take them
}

TEST(RenameFile, RenamesTheWholeChainAndRefusesTakenOrBadNames) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    Fragment(fs);
    ASSERT_TRUE(fs.CreateFile("OLD/TXT", PatternBytes(6 * GranuleBytes, 7), {}));
    ASSERT_TRUE(fs.CreateFile("OTHER", {}, {}));
    const int dec = fs.FindFile("OLD/TXT");
    EXPECT_THROW(fs.RenameFile(dec, "other"), TFileSystem::EFileExists);
    EXPECT_THROW(fs.RenameFile(dec, "9LIVES"), TFileSystem::EInvalidFilename);
    ASSERT_TRUE(fs.RenameFile(dec, "new.doc"));
    EXPECT_EQ(fs.GetFullFileName(dec), "NEW/DOC");
    for (int d : fs.GetRecordChain(dec)) EXPECT_EQ(fs.HIT[static_cast<size_t>(d)], TRSDOSBase::HashFilename("NEW/DOC"));
    disk.Reopen();
    EXPECT_EQ(disk.Fs->FindFile("OLD/TXT"), -1);
    EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("NEW/DOC")), PatternBytes(6 * GranuleBytes, 7));
}

TEST(DeleteFile, FreesGranulesAndRefusesARecordNotInUse) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    const int freeSpace = fs.GetFreeSpace();
    ASSERT_TRUE(fs.CreateFile("GONE", PatternBytes(5000, 1), {}));
    const int dec = fs.FindFile("GONE");
    ASSERT_TRUE(fs.DeleteFile(dec));
    EXPECT_EQ(fs.GetFreeSpace(), freeSpace);
    EXPECT_TRUE(fs.HasAttribute(dec, AttrDeleted));
    EXPECT_EQ(fs.HIT[static_cast<size_t>(dec)], 0);
    EXPECT_FALSE(fs.DeleteFile(dec));
    disk.Reopen();
    EXPECT_EQ(disk.Fs->GetFreeSpace(), freeSpace);
    EXPECT_TRUE(disk.Fs->ListFiles({"*/*"}, 0).empty());
}

TEST(WriteProtection, RefusesEveryChangeAndLeavesImageAndDirectoryAlone) {
    TFreshDisk disk(DiskImage::ImageDMK);
    ASSERT_TRUE(disk.Fs->CreateFile("KEEP/TXT", PatternBytes(2000, 1), {}));
    disk.Image->SetWriteProtect(true);
    auto& fs = *disk.Fs;
    ASSERT_NE(fs.GetImage()->GetWriteProtect(), 0);
    const int dec = fs.FindFile("KEEP/TXT");
    const auto sectors = TRSDOSTest::SnapshotSectors(fs, 35, 1, 10, 0);
    const TRSDOSTest::TDirectoryState before = TRSDOSTest::DirectoryState(fs);
    const FileDate date = TRSDOSTest::MakeDate(1985, 1, 1);
    EXPECT_THROW(fs.CreateFile("NEW", {1, 2, 3}, {}), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.DeleteFile(dec), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.RenameFile(dec, "OTHER"), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.RewriteFile(dec, PatternBytes(2000, 2)), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.SetAttribute(dec, AttrInvisible, true), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.SetFileDate(dec, date), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.SetDiskName("X"), TFileSystem::EWriteProtected);
    EXPECT_THROW(fs.SetDiskDate("X"), TFileSystem::EWriteProtected);
    std::vector<uint8_t> sector(256, 0xAA);
    EXPECT_THROW(fs.WriteDiskSector(5, 0, 0, 0, 0xFB, sector), TFileSystem::EWriteProtected);
    EXPECT_TRUE(TRSDOSTest::DirectoryState(fs) == before);
    EXPECT_FALSE(fs.Modified);
    EXPECT_EQ(TRSDOSTest::SnapshotSectors(fs, 35, 1, 10, 0), sectors);
    EXPECT_EQ(fs.ReadFile(dec), PatternBytes(2000, 1));
}

// A chain whose link points back into itself or out of the directory.
TEST(DamagedChains, EndWhereTheLinkGoesWrong) {
    struct Case {
        const char* what;
        int link;  // -1: the extension record links back to the primary
    };
    for (const Case& c : {Case{"loop back to the primary", -1}, Case{"link to itself", -2},
                          Case{"link beyond the directory", 0x1F}, Case{"link to a primary record", 1}}) {
        TFreshDisk disk;
        auto& fs = *disk.Fs;
        Fragment(fs);
        const std::vector<uint8_t> data = PatternBytes(6 * GranuleBytes, 6);
        ASSERT_TRUE(fs.CreateFile("LOOP", data, {}));
        const int dec = fs.FindFile("LOOP");
        const int extension = fs.GetDirectoryRecord(dec)[31];
        uint8_t* record = fs.GetDirectoryRecord(extension);
        record[30] = 0xFE;
        record[31] = static_cast<uint8_t>(c.link == -1 ? dec : c.link == -2 ? extension : c.link);
        EXPECT_EQ(fs.GetRecordChain(dec).size(), 2u) << c.what;
        EXPECT_EQ(fs.GetExtents(dec).size(), 6u) << c.what;
        EXPECT_EQ(fs.ReadFile(dec), data) << c.what;
        ASSERT_TRUE(fs.DeleteFile(dec)) << c.what;
        EXPECT_EQ(fs.FindFile("DIR/SYS"), 1) << c.what;  // the other file was left alone
    }
}

// Many files of random sizes created, some deleted and renamed, then the disk
// is closed and opened again: every file must come back byte for byte, and
// the allocation map must agree exactly with the extents.
TEST(RoundTrip, RandomFilesSurviveReopeningAndTheMapMatchesTheExtents) {
    TFreshDisk disk;
    std::mt19937 random(20261209u);
    std::map<std::string, std::vector<uint8_t>> expected;
    const int capacity = disk.Fs->GetFreeSpace();
    for (int i = 0; i < 40; ++i) {
        auto& fs = *disk.Fs;
        const int roll = static_cast<int>(random() % 10);
        if (roll < 6 || expected.empty()) {
            const size_t size = random() % 3 == 0 ? random() % 600u : random() % static_cast<unsigned>(capacity / 3 + 2000);
            const std::string name = "F" + std::to_string(i) + "/D" + std::to_string(random() % 10);
            std::vector<uint8_t> data = PatternBytes(size, static_cast<uint32_t>(random()));
            try {
                ASSERT_TRUE(fs.CreateFile(name, data, {}));
                expected[name] = std::move(data);
            } catch (const TFileSystem::EDiskFull&) {
                EXPECT_GT(size, static_cast<size_t>(fs.GetFreeSpace()));
            }
        } else {
            auto it = std::next(expected.begin(), static_cast<long>(random() % expected.size()));
            const int dec = fs.FindFile(it->first);
            ASSERT_GE(dec, 0);
            if (roll < 8) {
                ASSERT_TRUE(fs.DeleteFile(dec));
                expected.erase(it);
            } else {
                const std::string newName = "R" + std::to_string(i);
                ASSERT_TRUE(fs.RenameFile(dec, newName));
                expected[newName] = std::move(it->second);
                expected.erase(it);
            }
        }
        if (i % 10 == 9) disk.Reopen();
    }
    disk.Reopen();
    auto& fs = *disk.Fs;
    EXPECT_EQ(fs.Suspicion, 0);
    const std::vector<int> listed = fs.ListFiles({"*/*"}, 0);
    EXPECT_EQ(listed.size(), expected.size());
    std::vector<int> owner(70, -1);
    auto claim = [&](int dec) {
        for (const TExtent& e : fs.GetExtents(dec))
            for (int g = 0; g < e.Count; ++g) {
                const int granule = static_cast<int>(e.Track) * 2 + static_cast<int>(e.Sector) / 5 + g;
                ASSERT_LT(granule, 70);
                EXPECT_EQ(owner[static_cast<size_t>(granule)], -1) << "granule " << granule << " allocated twice";
                owner[static_cast<size_t>(granule)] = dec;
            }
    };
    claim(0);
    claim(1);
    int fileGranules = 0;
    for (const auto& [name, data] : expected) {
        const int dec = fs.FindFile(name);
        ASSERT_GE(dec, 0) << name;
        EXPECT_EQ(fs.ReadFile(dec), data) << name;
        claim(dec);
        fileGranules += static_cast<int>((data.size() + GranuleBytes - 1) / GranuleBytes);
    }
    for (int g = 0; g < 70; ++g) {
        const bool used = fs.GAT[static_cast<size_t>(g / 2)] & (1 << (g % 2));
        EXPECT_EQ(used, owner[static_cast<size_t>(g)] != -1) << "granule " << g;
    }
    EXPECT_EQ(fs.GetFreeSpace(), fs.GetCapacity() - (3 + fileGranules) * GranuleBytes);
}

}  // namespace

namespace {

// Random bytes over the HIT and directory of a disk with files: every class
// of the family either refuses the disk or lists, reads, dates and deletes
// its files without reading out of bounds or looping.
TEST(DamagedDirectory, NeverCrashesOrHangs) {
    std::mt19937 random(3u);
    for (int round = 0; round < 12; ++round) {
        TFreshDisk disk(DiskImage::ImageDMK);
        auto& fs = *disk.Fs;
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(fs.CreateFile("F" + std::to_string(i), PatternBytes(3000, i), {}));
        // Every record of the directory marked in use in the HIT.
        for (int d = 0; d < 256; ++d)
            fs.HIT[static_cast<size_t>(d)] = (d & 31) < 8 ? static_cast<uint8_t>(random() | 1) : 0;
        for (size_t i = 0; i < fs.Directory.size(); ++i)
            if (random() % 3 == 0) fs.Directory[i] = static_cast<uint8_t>(random());
        if (round % 2 == 0)
            for (int t = 0; t < 96; ++t) fs.GAT[static_cast<size_t>(t)] = static_cast<uint8_t>(random());
        fs.Modified = true;
        disk.Close();
        auto image = DiskImage::OpenFloppyImage(disk.Path);
        try {
            TProbe damaged(image.get());
            const std::vector<int> files = damaged.ListFiles({"*/*"}, ListInvisible | ListSystem);
            EXPECT_FALSE(files.empty());
            for (int dec : files) {
                damaged.ReadFile(dec);
                damaged.GetFileDate(dec);
                damaged.GetAttributeLetters(dec);
                damaged.DeleteFile(dec);
            }
            damaged.GetFreeSpace();
            damaged.CreateFile("AFTER", PatternBytes(4000, 1), {});
        } catch (const TFileSystem::Exception&) {
            // Refusing a damaged disk or running out of room are both fine.
        }
    }
}

}  // namespace
