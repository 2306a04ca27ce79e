// TRSDOS 2.8: record placement, extents, creation limits, and the searches
// that stay inside the records the directory holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/TRSDOSScratch.h"
#include "diskimage/DiskImage.h"
#include "filesystem/TRSDOS28.h"

using namespace FileSystem;
using TRSDOSTest::PatternBytes;
using TRSDOSTest::TScratchFolder;

namespace {

using TProbe28 = TRSDOSTest::TExposed<TRSDOS28>;

constexpr int GranuleBytes = 3 * 256;

// Lays out an empty TRSDOS 2.8 disk, which the DOS class itself never
// formats: a single-density boot track with sector 0, then double-density
// tracks of 18 sectors numbered from 1, directory on track 17.
class T28Layout : public TRSDOS13 {
public:
    explicit T28Layout(DiskImage::TDiskImage* image) : TRSDOS13(image, NoLoad{}) {
        RecordBytes = RecordSize;
        RecordLimit = 208;
        DataMark = 0xFB;
        DirectoryMark = 0xF8;
        Format("TRSDOS28", "12/09/26");
    }
    bool FormatTrack(int track) override {
        if (track == 0) return FloppyImage->FormatTrack(0, 10, 1, false, 0xFB, false, 1);
        return TRSDOS13::FormatTrack(track);
    }
    void InitHIT() override { HIT.assign(SectorSize, 0); }
    void InitDirectory() override {
        TRSDOS13::InitDirectory();
        AllocateGranules(0, 0, GranulesPerTrack);  // the boot track has other sectors
    }
    bool WriteBootSector() override {
        std::vector<uint8_t> boot(SectorSize, 0);
        boot[0] = 0xFE;
        boot[1] = 0x11;
        boot[255] = 40;
        return WriteDiskSector(0, 0, 0, 0, 0xFB, boot);
    }
};

class TDisk28 {
public:
    TDisk28() {
        Path = Folder.File("trsdos28.dmk");
        Image = DiskImage::CreateFloppyImage(Path, DiskImage::ImageDMK);
        { T28Layout layout(Image.get()); }
        Fs = std::make_unique<TProbe28>(Image.get());
    }
    ~TDisk28() {
        Fs.reset();
        Image.reset();
    }
    std::vector<uint8_t> DirectorySector(int logical) {
        std::vector<uint8_t> data;
        uint8_t dam = 0;
        Fs->ReadDiskSector(17, logical + 1, 0, 1, dam, data);
        return data;
    }
    void Create(const std::string& name, size_t size, uint32_t salt = 1) {
        FileDate date;
        date.HasDate = true;
        date.Year = 1985;
        date.Month = 6;
        Fs->CreateFile(name, PatternBytes(size, salt), date);
    }

    TScratchFolder Folder;
    std::string Path;
    std::unique_ptr<DiskImage::TFloppyImage> Image;
    std::unique_ptr<TProbe28> Fs;
};

}  // namespace

TEST(TRSDOS28, RecognisesItsLayout) {
    TDisk28 disk;
    EXPECT_EQ(disk.Fs->Suspicion, 0);
    EXPECT_EQ(disk.Fs->GetDOSName(false), "TRSDOS 2.8");
    EXPECT_EQ(disk.Fs->GetTracks(), 40);
    EXPECT_EQ(disk.Fs->GetRecordCount(), 128);
}

TEST(TRSDOS28, RecordNineLiesInSectorThreeAtByte32) {
    TDisk28 disk;
    for (int i = 0; i < 10; ++i) disk.Create("FILE" + std::to_string(i), 300, i);
    ASSERT_EQ(disk.Fs->FindFile("FILE9"), 9);
    const std::vector<uint8_t> sector = disk.DirectorySector(3);
    EXPECT_EQ(std::string(sector.begin() + 32 + 5, sector.begin() + 32 + 13), "FILE9   ");
    EXPECT_EQ(sector[32 + 16], 0x6B);
    EXPECT_EQ(sector[32 + 17], 0x3E);
}

TEST(TRSDOS28, ExtentsHoldTheGranuleCountItself) {
    TDisk28 disk;
    const std::vector<uint8_t> data = PatternBytes(32 * GranuleBytes, 3);
    ASSERT_TRUE(disk.Fs->CreateFile("BIG", data, FileDate{}));
    const int dec = disk.Fs->FindFile("BIG");
    const std::vector<TExtent> extents = disk.Fs->GetExtents(dec);
    ASSERT_EQ(extents.size(), 2u);
    EXPECT_EQ(extents[0].Count, 31);
    EXPECT_EQ(extents[1].Count, 1);
    EXPECT_EQ(disk.Fs->GetDirectoryRecord(dec)[23] & 31, 31);
    EXPECT_EQ(disk.Fs->ReadFile(dec), data);
}

TEST(TRSDOS28, FourExtentsFitAndAFifthIsRefusedWithoutTrace) {
    TDisk28 disk;
    for (int i = 0; i < 5; ++i) {
        disk.Create("HOLE" + std::to_string(i), GranuleBytes, i);
        disk.Create("KEEP" + std::to_string(i), GranuleBytes, 10 + i);
    }
    for (int i = 0; disk.Fs->GetFreeSpace() > 0; ++i)
        disk.Create("FILL" + std::to_string(i), std::min(disk.Fs->GetFreeSpace(), 31 * GranuleBytes), 99);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(disk.Fs->DeleteFile(disk.Fs->FindFile("HOLE" + std::to_string(i))));

    const auto gat = disk.Fs->GAT;
    const auto hit = disk.Fs->HIT;
    const auto directory = disk.Fs->Directory;
    try {
        disk.Create("FIVE", 5 * GranuleBytes);
        FAIL() << "a fifth extent was accepted";
    } catch (const TFileSystem::ETooManyExtents& error) {
        EXPECT_STREQ(error.what(), "Too many file extents");
    }
    EXPECT_EQ(disk.Fs->GAT, gat);
    EXPECT_EQ(disk.Fs->HIT, hit);
    EXPECT_EQ(disk.Fs->Directory, directory);

    const std::vector<uint8_t> data = PatternBytes(4 * GranuleBytes, 4);
    ASSERT_TRUE(disk.Fs->CreateFile("FOUR", data, FileDate{}));
    EXPECT_EQ(disk.Fs->GetExtents(disk.Fs->FindFile("FOUR")).size(), 4u);
    EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("FOUR")), data);
}

TEST(TRSDOS28, CreatingAFileLeavesTheNextRecordAlone) {
    TDisk28 disk;
    disk.Create("FIRST", 10);
    disk.Create("SECOND", 10);
    ASSERT_TRUE(disk.Fs->DeleteFile(disk.Fs->FindFile("FIRST")));
    const std::vector<uint8_t> second(disk.Fs->GetDirectoryRecord(1), disk.Fs->GetDirectoryRecord(1) + 32);
    disk.Create("THIRD", 2000);
    EXPECT_EQ(disk.Fs->FindFile("THIRD"), 0);
    EXPECT_EQ(std::vector<uint8_t>(disk.Fs->GetDirectoryRecord(1), disk.Fs->GetDirectoryRecord(1) + 32), second);
}

TEST(TRSDOS28, SearchesStopAtTheLastRecordTheDirectoryHolds) {
    TDisk28 disk;
    disk.Create("KEPT", 10);
    disk.Fs->HIT[150] = 0x42;  // a HIT position with no record behind it
    EXPECT_EQ(disk.Fs->ListFiles({"*/*"}, ListInvisible | ListSystem).size(), 1u);
    EXPECT_EQ(disk.Fs->FindFile("ABSENT"), -1);
    for (int i = 1; i < 128; ++i) disk.Create("F" + std::to_string(i), 0);
    EXPECT_EQ(disk.Fs->ListFiles({"*/*"}, 0).size(), 128u);
    EXPECT_THROW(disk.Create("OVERFLOW", 0), TFileSystem::ETooManyFiles);
}

TEST(TRSDOS28, DeleteAndRenameWorkOnItsRecords) {
    TDisk28 disk;
    disk.Create("OLD/TXT", 4000);
    const int dec = disk.Fs->FindFile("OLD/TXT");
    const int freeBefore = disk.Fs->GetFreeSpace();
    ASSERT_TRUE(disk.Fs->RenameFile(dec, "NEW/TXT"));
    EXPECT_EQ(disk.Fs->FindFile("new.txt"), dec);
    ASSERT_TRUE(disk.Fs->DeleteFile(dec));
    EXPECT_EQ(disk.Fs->GetFreeSpace(), freeBefore + 6 * GranuleBytes);
    EXPECT_EQ(disk.Fs->FindFile("NEW/TXT"), -1);
}
