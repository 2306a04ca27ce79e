// TRSDOS 1.3: new disks, record placement, sizes and extents, limits, dates,
// round trips on JV3 and DMK, and the real system disks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/TRSDOSScratch.h"
#include "diskimage/DiskImage.h"
#include "filesystem/TRSDOS13.h"
#include "filesystem/TRSDOS28.h"

using namespace FileSystem;
using TRSDOSTest::PatternBytes;
using TRSDOSTest::TScratchFolder;

namespace {

using TProbe13 = TRSDOSTest::TExposed<TRSDOS13>;

constexpr int GranuleBytes = 3 * 256;

FileDate DateOf(int year, int month) {
    FileDate date;
    date.HasDate = true;
    date.Year = year;
    date.Month = month;
    date.Day = 17;
    return date;
}

// A freshly formatted TRSDOS 1.3 disk that can be closed and recognised again.
class TNew13Disk {
public:
    explicit TNew13Disk(int imageType = DiskImage::ImageJV3) {
        Path = Folder.File("new13.dsk");
        Image = DiskImage::CreateFloppyImage(Path, imageType);
        Fs = std::make_unique<TProbe13>(Image.get(), "NEW13", "12/09/26");
    }
    ~TNew13Disk() { Close(); }

    void Close() {
        Fs.reset();
        if (Image) Image->Flush();
        Image.reset();
    }
    void Reopen() {
        Close();
        Image = DiskImage::OpenFloppyImage(Path);
        Fs = std::make_unique<TProbe13>(Image.get());
    }
    // Directory-track sector as stored: logical sector n is physical n + 1.
    std::vector<uint8_t> DirectorySector(int logical, uint8_t* mark = nullptr) {
        std::vector<uint8_t> data;
        uint8_t dam = 0;
        Fs->ReadDiskSector(17, logical + 1, 0, 1, dam, data);
        if (mark != nullptr) *mark = dam;
        return data;
    }
    void Create(const std::string& name, size_t size, uint32_t salt = 1) {
        Fs->CreateFile(name, PatternBytes(size, salt), DateOf(1983, 4));
    }

    TScratchFolder Folder;
    std::string Path;
    std::unique_ptr<DiskImage::TFloppyImage> Image;
    std::unique_ptr<TProbe13> Fs;
};

// Everything of the directory track that a failed operation must leave alone.
struct TDirectoryState {
    std::vector<uint8_t> GAT, HIT, Directory;
    std::vector<int> Files;
    bool operator==(const TDirectoryState&) const = default;
};

TDirectoryState StateOf(TProbe13& fs) {
    return {fs.GAT, fs.HIT, fs.Directory, fs.ListFiles({"*/*"}, ListInvisible | ListSystem)};
}

// Makes every free granule a run of one: alternate one-granule files to be
// deleted with one-granule files that stay, fill the rest, then delete.
void LeaveSingleGranuleHoles(TNew13Disk& disk, int holes) {
    for (int i = 0; i < holes; ++i) {
        disk.Create("HOLE" + std::to_string(i), GranuleBytes, i);
        disk.Create("KEEP" + std::to_string(i), GranuleBytes, 100 + i);
    }
    disk.Create("FILLER", static_cast<size_t>(disk.Fs->GetFreeSpace()), 999);
    ASSERT_EQ(disk.Fs->GetFreeSpace(), 0);
    for (int i = 0; i < holes; ++i) ASSERT_TRUE(disk.Fs->DeleteFile(disk.Fs->FindFile("HOLE" + std::to_string(i))));
}

}  // namespace

TEST(TRSDOS13, NewDiskHasTheDOSLayout) {
    TNew13Disk disk;
    TRSDOS13& fs = *disk.Fs;
    EXPECT_EQ(fs.GetDOSName(false), "TRSDOS 1.3");
    EXPECT_EQ(fs.GetDiskName(), "NEW13");
    EXPECT_TRUE(fs.ListFiles({"*/*"}, ListInvisible | ListSystem).empty());
    // 40 tracks of 6 granules, less the boot granule and the six of the directory.
    EXPECT_EQ(fs.GetFreeSpace(), (240 - 7) * GranuleBytes);

    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    ASSERT_TRUE(fs.ReadDiskSector(0, 1, 0, 1, dam, boot));
    EXPECT_NE(dam, 0xFB);  // 0xF8, which a JV3 image keeps as 0xFA
    EXPECT_EQ(boot[0], 0xFE);
    EXPECT_EQ(boot[1], 17);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot[16])), "Not a system disk");
    EXPECT_EQ(boot[254], 0x13);
    EXPECT_EQ(boot[255], 40);

    uint8_t mark = 0;
    std::vector<uint8_t> hit = disk.DirectorySector(1, &mark);
    EXPECT_EQ(mark, 0xFB);
    EXPECT_TRUE(std::all_of(hit.begin() + 224, hit.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(disk.DirectorySector(0)[0xCE], 0x4E);

    disk.Reopen();
    EXPECT_EQ(disk.Fs->Suspicion, 0);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), (240 - 7) * GranuleBytes);
}

TEST(TRSDOS13, NewDiskIsRefusedByASingleDensityContainer) {
    TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("new13.jv1"), DiskImage::ImageJV1);
    EXPECT_THROW(TRSDOS13(image.get(), "NEW13", "12/09/26"), TFileSystem::EInvalidFormat);
}

TEST(TRSDOS13, RecordSevenLiesInSectorThreeAtByte96) {
    TNew13Disk disk;
    for (int i = 0; i < 8; ++i) disk.Create("FILE" + std::to_string(i), 10, i);
    ASSERT_EQ(disk.Fs->FindFile("FILE7"), 7);
    const std::vector<uint8_t> sector = disk.DirectorySector(3);
    EXPECT_EQ(std::string(sector.begin() + 96 + 5, sector.begin() + 96 + 13), "FILE7   ");
    // The last 16 bytes of a directory sector belong to no record.
    EXPECT_TRUE(std::all_of(sector.begin() + 240, sector.end(), [](uint8_t b) { return b == 0; }));
}

TEST(TRSDOS13, LargeFileKeepsItsTwentyFourBitSizeAndSplitsIntoExtents) {
    TNew13Disk disk;
    const std::vector<uint8_t> data = PatternBytes(70000, 7);
    ASSERT_TRUE(disk.Fs->CreateFile("BIG/DAT", data, DateOf(1984, 2)));
    const int dec = disk.Fs->FindFile("big.dat");
    ASSERT_GE(dec, 0);
    const uint8_t* record = disk.Fs->GetDirectoryRecord(dec);
    EXPECT_EQ(record[3], 0x70);
    EXPECT_EQ(record[20], 0x11);
    EXPECT_EQ(record[21], 0x01);
    std::vector<int> counts;
    for (const TExtent& extent : disk.Fs->GetExtents(dec)) counts.push_back(extent.Count);
    EXPECT_EQ(counts, (std::vector<int>{31, 31, 30}));

    disk.Reopen();
    const int reopened = disk.Fs->FindFile("BIG/DAT");
    EXPECT_EQ(disk.Fs->GetFileSize(reopened), 70000);
    EXPECT_EQ(disk.Fs->ReadFile(reopened), data);
}

TEST(TRSDOS13, TwelveExtentsFitAndAThirteenthLeavesNoTrace) {
    TNew13Disk disk;
    LeaveSingleGranuleHoles(disk, 14);

    const TDirectoryState before = StateOf(*disk.Fs);
    const auto beforeOnDisk = disk.DirectorySector(0);
    EXPECT_THROW(disk.Create("TOOMANY", 13 * GranuleBytes), TFileSystem::ETooManyExtents);
    EXPECT_EQ(StateOf(*disk.Fs), before);
    EXPECT_EQ(disk.DirectorySector(0), beforeOnDisk);
    EXPECT_EQ(disk.Fs->FindFile("TOOMANY"), -1);

    const std::vector<uint8_t> data = PatternBytes(12 * GranuleBytes, 12);
    ASSERT_TRUE(disk.Fs->CreateFile("TWELVE", data, DateOf(1983, 1)));
    const int dec = disk.Fs->FindFile("TWELVE");
    EXPECT_EQ(disk.Fs->GetExtents(dec).size(), 12u);
    EXPECT_EQ(disk.Fs->ReadFile(dec), data);

    // Two holes left: a file of three granules does not fit and changes nothing.
    const TDirectoryState full = StateOf(*disk.Fs);
    EXPECT_THROW(disk.Create("NOROOM", 3 * GranuleBytes), TFileSystem::EDiskFull);
    EXPECT_EQ(StateOf(*disk.Fs), full);
}

TEST(TRSDOS13, EightyFilesFillTheDirectory) {
    TNew13Disk disk;
    for (int i = 0; i < 80; ++i) disk.Create("F" + std::to_string(i), 0);
    const TDirectoryState before = StateOf(*disk.Fs);
    EXPECT_EQ(before.Files.size(), 80u);
    try {
        disk.Create("ONEMORE", 0);
        FAIL() << "an 81st file was accepted";
    } catch (const TFileSystem::ETooManyFiles& error) {
        EXPECT_STREQ(error.what(), "Too many files");
    }
    EXPECT_EQ(StateOf(*disk.Fs), before);
}

TEST(TRSDOS13, DatesKeepMonthAndYearOnly) {
    struct Case {
        int year;
        uint8_t stored;
        int readBack;
    };
    const Case cases[] = {{2008, 8, 2008}, {1985, 85, 1985}, {2070, 70, 2070}, {1971, 71, 1971}};
    TNew13Disk disk;
    disk.Create("DATED", 5);
    const int dec = disk.Fs->FindFile("DATED");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.year);
        disk.Fs->SetFileDate(dec, DateOf(c.year, 11));
        EXPECT_EQ(disk.Fs->GetDirectoryRecord(dec)[1], 11);
        EXPECT_EQ(disk.Fs->GetDirectoryRecord(dec)[2], c.stored);
        const FileDate date = disk.Fs->GetFileDate(dec);
        EXPECT_TRUE(date.HasDate);
        EXPECT_FALSE(date.HasTime);
        EXPECT_EQ(date.Year, c.readBack);
        EXPECT_EQ(date.Month, 11);
        EXPECT_EQ(date.Day, 1);
        EXPECT_FALSE(date.HasDay);  // the month and year only
    }
    FileDate none;
    disk.Fs->SetFileDate(dec, none);
    EXPECT_FALSE(disk.Fs->GetFileDate(dec).HasDate);
}

TEST(TRSDOS13, RenameAndDeleteKeepNamesHashesAndGranulesConsistent) {
    TNew13Disk disk;
    disk.Create("ALPHA/TXT", 2000, 1);
    disk.Create("BETA/TXT", 10, 2);
    const int alpha = disk.Fs->FindFile("ALPHA/TXT");
    const int freeBefore = disk.Fs->GetFreeSpace();

    EXPECT_THROW(disk.Fs->RenameFile(alpha, "beta.txt"), TFileSystem::EFileExists);
    EXPECT_THROW(disk.Fs->RenameFile(alpha, "9LIVES"), TFileSystem::EInvalidFilename);
    EXPECT_THROW(disk.Fs->RenameFile(alpha, "TOOLONGNAME"), TFileSystem::EInvalidFilename);
    ASSERT_TRUE(disk.Fs->RenameFile(alpha, "gamma/bas"));
    EXPECT_EQ(disk.Fs->GetFullFileName(alpha), "GAMMA/BAS");
    EXPECT_EQ(disk.Fs->HIT[static_cast<size_t>(alpha)], TRSDOSBase::HashFilename("GAMMA/BAS"));
    EXPECT_EQ(disk.Fs->FindFile("ALPHA/TXT"), -1);

    ASSERT_TRUE(disk.Fs->DeleteFile(alpha));
    EXPECT_FALSE(disk.Fs->DeleteFile(alpha));
    EXPECT_EQ(disk.Fs->HIT[static_cast<size_t>(alpha)], 0);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), freeBefore + 3 * GranuleBytes);
    EXPECT_FALSE(disk.Fs->RenameFile(alpha, "DELTA"));
}

TEST(TRSDOS13, StrayHitBytesPastTheLastRecordAreIgnored) {
    TNew13Disk disk;
    disk.Create("REAL", 100);
    disk.Fs->HIT[100] = 0x55;
    disk.Fs->HIT[223] = 0x66;
    EXPECT_EQ(disk.Fs->FindFile("MISSING"), -1);
    EXPECT_EQ(disk.Fs->ListFiles({"*/*"}, 0).size(), 1u);
    EXPECT_NO_THROW(disk.Create("SECOND", 10));
}

// Many files, deletions and renames, then recognition again: every file reads
// back byte for byte and GAT, extents and free space agree.
class TRSDOS13RoundTrip : public testing::TestWithParam<int> {};

TEST_P(TRSDOS13RoundTrip, SurvivesReopening) {
    TNew13Disk disk(GetParam());
    std::map<std::string, std::vector<uint8_t>> expected;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "FILE" + std::to_string(i) + "/DAT";
        expected[name] = PatternBytes(static_cast<size_t>((i * 2711) % 9000), static_cast<uint32_t>(i));
        ASSERT_TRUE(disk.Fs->CreateFile(name, expected[name], DateOf(1981 + i % 10, 1 + i % 12)));
    }
    for (int i = 0; i < 30; i += 3) {
        const std::string name = "FILE" + std::to_string(i) + "/DAT";
        ASSERT_TRUE(disk.Fs->DeleteFile(disk.Fs->FindFile(name)));
        expected.erase(name);
    }
    for (int i = 1; i < 30; i += 6) {
        const std::string from = "FILE" + std::to_string(i) + "/DAT";
        const std::string to = "MOVED" + std::to_string(i) + "/TXT";
        ASSERT_TRUE(disk.Fs->RenameFile(disk.Fs->FindFile(from), to));
        expected[to] = expected[from];
        expected.erase(from);
    }
    for (int i = 0; i < 8; ++i) {
        const std::string name = "LATE" + std::to_string(i);
        expected[name] = PatternBytes(static_cast<size_t>(5000 + 1000 * i), static_cast<uint32_t>(50 + i));
        ASSERT_TRUE(disk.Fs->CreateFile(name, expected[name], DateOf(1990, 5)));
    }

    disk.Reopen();
    TProbe13& fs = *disk.Fs;
    EXPECT_EQ(fs.Suspicion, 0);
    const std::vector<int> files = fs.ListFiles({"*/*"}, ListInvisible | ListSystem);
    ASSERT_EQ(files.size(), expected.size());
    std::set<std::pair<int, int>> used;
    int usedGranules = 0;
    for (int dec : files) {
        const std::string name = fs.GetFileName(dec) + (fs.GetFileExtension(dec).empty() ? "" : "/" + fs.GetFileExtension(dec));
        ASSERT_TRUE(expected.count(name)) << name;
        EXPECT_EQ(fs.ReadFile(dec), expected[name]) << name;
        for (const TExtent& extent : fs.GetExtents(dec)) {
            int track = static_cast<int>(extent.Track);
            int granule = static_cast<int>(extent.Sector) / 3;
            for (int g = 0; g < extent.Count; ++g, ++usedGranules) {
                EXPECT_TRUE(used.insert({track, granule}).second) << "granule shared by two files";
                EXPECT_NE(fs.GAT[static_cast<size_t>(track)] & (1 << granule), 0);
                if (++granule == 6) {
                    granule = 0;
                    ++track;
                }
            }
        }
    }
    EXPECT_EQ(fs.GetFreeSpace(), (240 - 7 - usedGranules) * GranuleBytes);
}

INSTANTIATE_TEST_SUITE_P(Containers, TRSDOS13RoundTrip, testing::Values(DiskImage::ImageJV3, DiskImage::ImageDMK),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == DiskImage::ImageJV3 ? std::string("JV3") : std::string("DMK");
                         });

TEST(TRSDOS13, RealSystemDisksOpenAndEveryFileReads) {
    const std::string real = std::string(QB_FIXTURES_DIR) + "/real/";
    for (const char* name : {"jv3-dd40-trsdos13-m3-system.dsk", "dmk-dd40-trsdos13-m3-system.dmk"}) {
        SCOPED_TRACE(name);
        if (!std::filesystem::exists(real + name)) GTEST_SKIP() << "real fixtures absent";
        auto image = DiskImage::OpenFloppyImage(real + name);
        TRSDOS13 fs(image.get());
        EXPECT_LT(fs.Suspicion, 100);
        const std::vector<int> files = fs.ListFiles({"*/*"}, ListInvisible | ListSystem);
        EXPECT_FALSE(files.empty());
        for (int dec : files) {
            SCOPED_TRACE(fs.GetFullFileName(dec));
            EXPECT_EQ(fs.ReadFile(dec).size(), static_cast<size_t>(fs.GetFileSize(dec)));
        }
    }
}

// Both are tried before every other DOS, so they must refuse the disks of the others.
TEST(TRSDOS13And28, ClaimNoDiskOfAnotherDOS) {
    const std::filesystem::path fixtures(QB_FIXTURES_DIR);
    if (!std::filesystem::exists(fixtures / "real")) GTEST_SKIP() << "fixtures absent";
    int tried = 0;
    for (const char* folder : {"real", "peer"}) {
        if (!std::filesystem::exists(fixtures / folder)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(fixtures / folder)) {
            const std::string name = entry.path().filename().string();
            const std::string extension = entry.path().extension().string();
            if (extension == ".md" || extension == ".json" || !entry.is_regular_file()) continue;
            std::unique_ptr<DiskImage::TFloppyImage> image;
            try {
                image = DiskImage::OpenFloppyImage(entry.path().string());
            } catch (const DiskImage::TDiskImage::Exception&) {
                continue;  // not a floppy image
            }
            SCOPED_TRACE(name);
            ++tried;
            const bool isTRSDOS13 = name.find("trsdos13") != std::string::npos;
            auto score = [&](auto construct) {
                try {
                    return construct()->Suspicion;
                } catch (const TFileSystem::Exception&) {
                    return 100;
                }
            };
            const int score13 = score([&] { return std::make_unique<TRSDOS13>(image.get()); });
            const int score28 = score([&] { return std::make_unique<TRSDOS28>(image.get()); });
            if (isTRSDOS13)
                EXPECT_EQ(score13, 0);
            else
                EXPECT_GE(score13, 100);
            EXPECT_GE(score28, 100);
        }
    }
    EXPECT_GT(tried, 10);
}
