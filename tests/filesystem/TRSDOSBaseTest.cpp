// The common TRSDOS-family core: name hash, directory placement, GAT and HIT
// layout of new disks, free-run choice, sizes, attributes, dates, loading.
#include <gtest/gtest.h>

#include "common/TRSDOSScratch.h"

using namespace FileSystem;
using TRSDOSTest::TFreshDisk;

namespace {

TEST(HashFilename, MatchesTheKnownValues) {
    struct Case {
        const char* name;
        uint8_t hash;
    };
    for (const Case& c : {Case{"BOOT/SYS", 0xA2}, Case{"DIR/SYS", 0xC4}, Case{"SYS0/SYS", 0x2E},
                          Case{"boot.sys", 0xA2}, Case{"dir/sys", 0xC4}})
        EXPECT_EQ(TRSDOSBase::HashFilename(c.name), c.hash) << c.name;
}

TEST(HashFilename, NeverGivesZero) {
    // Every 11-byte layout hashes to 1..255; zero marks a free HIT entry.
    for (int a = 'A'; a <= 'Z'; ++a)
        for (int b = 'A'; b <= 'Z'; ++b)
            EXPECT_NE(TRSDOSBase::HashFilename(std::string{static_cast<char>(a), static_cast<char>(b)}), 0);
}

TEST(NewDisk, HasTheDefaultLayoutAndSystemFiles) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    EXPECT_EQ(fs.GetCapacity(), 35 * 10 * 256);
    EXPECT_EQ(fs.GetFreeSpace(), 67 * 5 * 256);
    EXPECT_EQ(fs.GAT[0xCB], '!');
    EXPECT_EQ(fs.GAT[0xCC], 0);
    EXPECT_EQ(fs.GAT[0xCE], 0x2C);
    EXPECT_EQ(fs.GAT[0xCF], 0x95);
    EXPECT_EQ(fs.GAT[0xE0], 0x0D);
    EXPECT_EQ(fs.GAT[0], 0xFD);   // granule 0 of track 0 (BOOT/SYS), bits above 2 unusable
    EXPECT_EQ(fs.GAT[17], 0xFF);  // both directory granules
    EXPECT_EQ(fs.GAT[35], 0xFF);  // beyond the last track
    EXPECT_EQ(fs.GAT[0x60 + 17], 0xFC);  // lockout table: the map before any allocation
    EXPECT_EQ(fs.HIT[0], 0xA2);
    EXPECT_EQ(fs.HIT[1], 0xC4);
    EXPECT_EQ(fs.GetDiskName(), "SCRATCH");
    EXPECT_EQ(fs.GetDiskDate(), "12/31/86");

    EXPECT_TRUE(fs.ListFiles({"*/*"}, 0).empty());
    EXPECT_EQ(fs.ListFiles({"*/*"}, ListInvisible | ListSystem), (std::vector<int>{0, 1}));
    EXPECT_EQ(fs.GetFullFileName(1), "DIR/SYS");
    EXPECT_EQ(fs.GetAttributeLetters(1), "IS");
    EXPECT_EQ(fs.GetFileSize(1), 10 * 256);
    EXPECT_EQ(fs.GetProtectionLevel(0), 5);
    EXPECT_EQ(fs.GetDOSName(false), "TRSDOS 2.3");
}

TEST(NewDisk, BootSectorPointsAtTheDirectoryAndRecognitionIsCertain) {
    TFreshDisk disk;
    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    ASSERT_TRUE(disk.Fs->ReadDiskSector(0, 0, 0, 0, dam, boot));
    EXPECT_EQ(boot[1], 0xFE);
    EXPECT_EQ(boot[2], 17);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot[16])), "Not a system disk");
    disk.Reopen();
    EXPECT_EQ(disk.Fs->Suspicion, 0);
    EXPECT_FALSE(disk.Fs->ReadError);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), 67 * 5 * 256);
}

TEST(DiskName, ShortNameIsPaddedWithBlanksAndReadBackTrimmed) {
    TFreshDisk disk;
    disk.Fs->SetDiskName("ABC");
    EXPECT_EQ(std::string(disk.Fs->GAT.begin() + 0xD0, disk.Fs->GAT.begin() + 0xD8), "ABC     ");
    disk.Fs->SetDiskDate("01/02/03");
    disk.Reopen();
    EXPECT_EQ(disk.Fs->GetDiskName(), "ABC");
    EXPECT_EQ(disk.Fs->GetDiskDate(), "01/02/03");
}

TEST(DirectoryRecords, LieAtSectorFromLowBitsAndSlotFromHighBits) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    EXPECT_EQ(fs.GetDirectoryRecord(0x00) - fs.Directory.data(), 0);
    EXPECT_EQ(fs.GetDirectoryRecord(0x23) - fs.Directory.data(), 3 * 256 + 32);
    EXPECT_EQ(fs.GetDirectoryRecord(0xE7) - fs.Directory.data(), 7 * 256 + 224);
    EXPECT_THROW(fs.GetDirectoryRecord(-1), TFileSystem::EIllegalFileIndex);
    EXPECT_THROW(fs.GetDirectoryRecord(256), TFileSystem::EIllegalFileIndex);
}

TEST(FindFreeDirectoryEntry, SkipsSystemRecordsAndSectorsBeyondTheDirectory) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    EXPECT_EQ(fs.FindFreeDirectoryEntry(0), 2);
    EXPECT_EQ(fs.FindFreeDirectoryEntry(40), 64);  // 40 has low bits 8: no such sector
    EXPECT_EQ(fs.FindFreeDirectoryEntry(8), 32);  // low bits 8..31 have no sector
    EXPECT_EQ(fs.FindFreeDirectoryEntry(232), 2);  // wraps past 255 and skips DEC 0 and 1
    std::fill(fs.HIT.begin(), fs.HIT.end(), 0x55);
    EXPECT_EQ(fs.FindFreeDirectoryEntry(40), -1);
}

// The allocation map of a test disk: 35 tracks, 2 granules each, with the
// given granules (counted from 0 across the disk) free and all others used.
void SetFreeGranules(TRSDOSTest::TProbe& fs, const std::vector<int>& freeGranules) {
    for (int t = 0; t < 35; ++t) fs.GAT[static_cast<size_t>(t)] = fs.GAT[static_cast<size_t>(0x60 + t)] = 0xFF;
    for (int g : freeGranules) {
        fs.GAT[static_cast<size_t>(g / 2)] &= static_cast<uint8_t>(~(1 << (g % 2)));
        fs.GAT[static_cast<size_t>(0x60 + g / 2)] &= static_cast<uint8_t>(~(1 << (g % 2)));
    }
}

struct RunCase {
    const char* what;
    std::vector<int> free;
    int wanted;
    bool found;
    int start;  // granule counted across the disk
    int count;
};

TEST(FindFreeGranules, ChoosesRunsByTheFamilyRule) {
    const RunCase cases[] = {
        {"first run that reaches the count wins", {3, 10, 11, 12}, 2, true, 10, 2},
        {"run continues across a track boundary", {5, 6}, 2, true, 5, 2},
        {"longest closed run when none is long enough", {3, 10, 11, 20, 21, 22}, 5, true, 20, 3},
        {"earliest of equally long runs", {3, 4, 10, 11}, 5, true, 3, 2},
        {"open run at the end counts only when it suffices", {3, 68, 69}, 2, true, 68, 2},
        {"open run at the end is not remembered", {3, 67, 68, 69}, 4, true, 3, 1},
        {"nothing free", {}, 1, false, 0, 0},
        {"only an open run that is too short", {68, 69}, 3, false, 0, 0},
    };
    TFreshDisk disk;
    for (const RunCase& c : cases) {
        SetFreeGranules(*disk.Fs, c.free);
        int count = 0, track = 0, granule = 0;
        EXPECT_EQ(disk.Fs->FindFreeGranules(c.wanted, count, track, granule), c.found) << c.what;
        if (!c.found) continue;
        EXPECT_EQ(track * 2 + granule, c.start) << c.what;
        EXPECT_EQ(count, c.count) << c.what;
    }
}

TEST(FindFreeGranules, HonoursTheLockoutTable) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    SetFreeGranules(fs, {10, 11});
    fs.GAT[0x60 + 5] = 0x01;  // granule 10 locked out
    int count = 0, track = 0, granule = 0;
    ASSERT_TRUE(fs.FindFreeGranules(1, count, track, granule));
    EXPECT_EQ(track, 5);
    EXPECT_EQ(granule, 1);
    EXPECT_EQ(fs.GetFreeSpace(), 1 * 5 * 256);
}

TEST(AllocateAndFreeGranules, WalkAcrossTracksAndLeaveTheLockoutTableAlone) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    const std::vector<uint8_t> lockout(fs.GAT.begin() + 0x60, fs.GAT.begin() + 0xC0);
    fs.AllocateGranules(3, 1, 3);  // track 3 granule 1, track 4 granules 0 and 1
    EXPECT_EQ(fs.GAT[3], 0xFE);
    EXPECT_EQ(fs.GAT[4], 0xFF);
    EXPECT_EQ(std::vector<uint8_t>(fs.GAT.begin() + 0x60, fs.GAT.begin() + 0xC0), lockout);
    fs.FreeGranules(3, 1, 3);
    EXPECT_EQ(fs.GAT[3], 0xFC);
    EXPECT_EQ(fs.GAT[4], 0xFC);
    fs.FreeGranules(34, 1, 50);  // never runs past the allocation map
    EXPECT_EQ(fs.GAT[0x60], lockout[0]);
}

TEST(FileSize, FollowsTheEndingRecordNumberRule) {
    struct Case {
        int size;
        int ern;
        int eof;
    };
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    uint8_t* record = fs.GetDirectoryRecord(2);
    for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{255, 1, 255}, Case{256, 1, 0}, Case{257, 2, 1},
                          Case{70000, 274, 0x70}}) {
        fs.SetFileSize(2, c.size);
        EXPECT_EQ(record[20] | (record[21] << 8), c.ern) << c.size;
        EXPECT_EQ(record[3], c.eof) << c.size;
        EXPECT_EQ(fs.GetFileSize(2), c.size);
    }
}

TEST(FileSize, WithoutEofInLastSectorStillReadsBackWhatWasStored) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    fs.EofInLastSector = false;
    for (int size : {0, 1, 255, 256, 257, 511, 512, 70001}) {
        fs.SetFileSize(2, size);
        EXPECT_EQ(fs.GetFileSize(2), size);
    }
}

TEST(Loading, TolerantLoadSwitchesEofInLastSectorOffForOddRecords) {
    TFreshDisk disk;
    ASSERT_TRUE(disk.Fs->CreateFile("ODD/DAT", std::vector<uint8_t>(100, 7), {}));
    const int dec = disk.Fs->FindFile("ODD/DAT");
    uint8_t* record = disk.Fs->GetDirectoryRecord(dec);
    record[20] = 0;  // ERN 0 with EOF 100: written by a DOS that counts whole sectors
    record[21] = 0;
    disk.Fs->Modified = true;
    disk.Reopen();
    auto& fs = *disk.Fs;
    EXPECT_FALSE(fs.EofInLastSector);
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetFileSize(fs.FindFile("ODD/DAT")), 100);
    // Files written on such a disk come back with the size they went in with.
    for (int size : {1, 255, 256, 300, 1280, 1281}) {
        const std::string name = "F" + std::to_string(size);
        const std::vector<uint8_t> data = TRSDOSTest::PatternBytes(static_cast<size_t>(size), static_cast<uint32_t>(size));
        ASSERT_TRUE(fs.CreateFile(name, data, {}));
        EXPECT_EQ(fs.ReadFile(fs.FindFile(name)), data) << size;
    }
    disk.Reopen();
    EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("F300")), TRSDOSTest::PatternBytes(300, 300));
}

TEST(Loading, DirectorySectorsWithTheDataMarkOnlyRaiseSuspicion) {
    TFreshDisk disk(DiskImage::ImageDMK);
    auto& fs = *disk.Fs;
    std::vector<uint8_t> gat, dir;
    uint8_t dam = 0;
    ASSERT_TRUE(fs.ReadDiskSector(17, 0, 0, 0, dam, gat));
    EXPECT_EQ(dam, 0xF8);  // a new directory track carries the directory mark
    ASSERT_TRUE(fs.ReadDiskSector(17, 3, 0, 0, dam, dir));
    ASSERT_TRUE(fs.WriteDiskSector(17, 0, 0, 0, 0xFB, gat));
    ASSERT_TRUE(fs.WriteDiskSector(17, 3, 0, 0, 0xFB, dir));
    disk.Reopen();
    EXPECT_EQ(disk.Fs->Suspicion, 10 + 2);
    EXPECT_TRUE(disk.Fs->ReadError);
    EXPECT_EQ(disk.Fs->ListFiles({"*/*"}, ListInvisible | ListSystem).size(), 2u);
}

TEST(Attributes, MapOntoRecordBitsAndLetters) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("A/B", {1, 2, 3}, {}));
    const int dec = fs.FindFile("A/B");
    EXPECT_EQ(fs.GetAttributeLetters(dec), "");
    fs.SetAttribute(dec, AttrInvisible | AttrSystem, true);
    EXPECT_EQ(fs.GetAttributeLetters(dec), "IS");
    EXPECT_EQ(fs.GetDirectoryRecord(dec)[0] & 0x48, 0x48);
    fs.SetAttribute(dec, AttrCreated, true);
    EXPECT_EQ(fs.GetAttributeLetters(dec), "ISC");
    EXPECT_TRUE(fs.GetDirectoryRecord(dec)[1] & 0x80);
    fs.SetAttribute(dec, AttrSystem, false);
    EXPECT_EQ(fs.GetAttributeLetters(dec), "IC");
    EXPECT_FALSE(fs.HasAttribute(dec, AttrDeleted));
    EXPECT_FALSE(fs.HasAttribute(dec, AttrMOD));  // not offered by TRSDOS 2.3
    EXPECT_FALSE(fs.SupportsAttribute(AttrMOD));
    EXPECT_TRUE(fs.SupportsAttribute(0));
    EXPECT_TRUE(fs.SupportsAttribute(AttrCreated));
    EXPECT_EQ(fs.ListFiles({"*/*"}, 0), std::vector<int>{});
    EXPECT_EQ(fs.ListFiles({"*/*"}, ListInvisible), std::vector<int>{dec});
}

TEST(Dates, KeepMonthDayAndYearModuloEight) {
    TFreshDisk disk;
    auto& fs = *disk.Fs;
    ASSERT_TRUE(fs.CreateFile("DATED", {}, TRSDOSTest::MakeDate(1986, 11, 29, 10)));
    const int dec = fs.FindFile("DATED");
    EXPECT_EQ(fs.GetDirectoryRecord(dec)[1] & 0x0F, 11);
    EXPECT_EQ(fs.GetDirectoryRecord(dec)[2], 29 * 8 + 6);
    TRSDOSTest::ExpectDate(fs.GetFileDate(dec), TRSDOSTest::MakeDate(1986, 11, 29));  // the time is not kept
    fs.SetFileDate(dec, FileDate{});
    EXPECT_FALSE(fs.GetFileDate(dec).HasDate);
}

}  // namespace
