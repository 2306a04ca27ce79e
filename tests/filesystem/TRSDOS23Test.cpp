// TRSDOS 2.3 and ULTRADOS: recognition from boot sector and GAT, naming, the
// formatting form, and the real disks written by the DOS.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TRSDOSScratch.h"
#include "filesystem/DiskCheck.h"

using namespace FileSystem;
using TRSDOSTest::TFreshDisk;
using TRSDOSTest::TProbe;

namespace {

// Rewrites the first bytes of the boot sector, keeping its mark.
void PatchBootSector(TProbe& fs, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    ASSERT_TRUE(fs.ReadDiskSector(0, 0, 0, 0, dam, boot));
    std::copy(bytes.begin(), bytes.end(), boot.begin());
    ASSERT_TRUE(fs.WriteDiskSector(0, 0, 0, 0, dam, boot));
}

TEST(TRSDOS23Recognition, JudgesBootSectorAndVersionByte) {
    struct Case {
        const char* what;
        std::vector<uint8_t> boot;
        uint8_t version;
        int suspicion;
        const char* name;
    };
    const Case cases[] = {
        {"fresh disk", {0x00, 0xFE, 17}, '!', 0, "TRSDOS 2.3"},
        {"ULTRADOS version byte", {0x00, 0xFE, 17}, 'U', 0, "ULTRADOS"},
        {"other version byte", {0x00, 0xFE, 17}, 'X', 10, "TRSDOS 2.3"},
        {"F3 FE boot", {0xF3, 0xFE, 17}, '!', 0, "TRSDOS 2.3"},
        {"00 1E boot with directory track 0", {0x00, 0x1E, 0}, '!', 10, "TRSDOS 2.3"},
        {"unknown boot", {0xC3, 0x00, 17}, '!', 20, "TRSDOS 2.3"},
    };
    for (const Case& c : cases) {
        TFreshDisk disk(DiskImage::ImageDMK);  // a JV1 keeps its boot signature
        PatchBootSector(*disk.Fs, c.boot);
        disk.Fs->GAT[0xCB] = c.version;
        disk.Fs->Modified = true;
        disk.Reopen();
        EXPECT_EQ(disk.Fs->Suspicion, c.suspicion) << c.what;
        EXPECT_EQ(disk.Fs->DirectoryTrack, 17) << c.what;
        EXPECT_EQ(disk.Fs->GetDOSName(false), c.name) << c.what;
        EXPECT_EQ(disk.Fs->GetDOSName(true), c.name) << c.what;
    }
}

TEST(TRSDOS23Recognition, ADiskWithoutFilesIsRejected) {
    TFreshDisk disk;
    disk.Fs->HIT.assign(256, 0);
    disk.Fs->Modified = true;
    disk.Reopen();
    EXPECT_GE(disk.Fs->Suspicion, 100);
}

TEST(TRSDOS23Recognition, UnreadableHitRefusesTheImage) {
    TRSDOSTest::TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("blank.dmk"), DiskImage::ImageDMK);
    EXPECT_THROW(TRSDOS23 fs(image.get()), TFileSystem::EInvalidFormat);
}

TEST(TRSDOS23Format, TakesTheTrackCountAndRefusesImpossibleOnes) {
    TFreshDisk disk(DiskImage::ImageDMK, 40);
    EXPECT_EQ(disk.Fs->GetCapacity(), 40 * 10 * 256);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), 77 * 5 * 256);
    EXPECT_EQ(disk.Fs->GAT[0xCC], 5);
    TRSDOSTest::TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("x.dsk"), DiskImage::ImageJV1);
    EXPECT_THROW(TRSDOS23(image.get(), "X", "Y", 17), TFileSystem::Exception);
    EXPECT_THROW(TRSDOS23(image.get(), "X", "Y", 97), TFileSystem::Exception);
}

TEST(TRSDOS23Format, WorksOnEveryFloppyContainer) {
    for (int type : {DiskImage::ImageJV1, DiskImage::ImageJV3, DiskImage::ImageDMK}) {
        TFreshDisk disk(type);
        ASSERT_TRUE(disk.Fs->CreateFile("HELLO/TXT", TRSDOSTest::PatternBytes(3000, 9), {}));
        disk.Reopen();
        EXPECT_EQ(disk.Fs->Suspicion, 0) << type;
        EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("HELLO/TXT")), TRSDOSTest::PatternBytes(3000, 9)) << type;
    }
}

// Disks of the TRSDOS 2.3 layout on 40 tracks (as NEWDOS+ and others write them, with
// nothing in GAT byte 0xCC) are used with all their tracks: the GAT holds allocation
// bytes for tracks 35 to 39, files lie there, and the disk check finds nothing wrong.
TEST(TRSDOS23Recognition, FortyTrackDisksKeepTheirTracks) {
    TFreshDisk disk(DiskImage::ImageJV1, 40);
    const std::vector<uint8_t> big = TRSDOSTest::PatternBytes(90000, 40);  // reaches track 39
    ASSERT_TRUE(disk.Fs->CreateFile("BIG/DAT", big, {}));
    disk.Fs->GAT[0xCC] = 0;
    disk.Fs->Modified = true;
    disk.Reopen();
    EXPECT_EQ(disk.Fs->Suspicion, 0);
    EXPECT_EQ(disk.Fs->GetTracks(), 40);
    EXPECT_EQ(disk.Fs->GetCapacity(), 40 * 10 * 256);
    EXPECT_EQ(disk.Fs->ReadFile(disk.Fs->FindFile("BIG/DAT")), big);
    EXPECT_TRUE(IsHealthy(CheckTRSDOS(*disk.Fs)));

    // Free tracks past 35 count too, so that new files can go there.
    ASSERT_TRUE(disk.Fs->DeleteFile(disk.Fs->FindFile("BIG/DAT")));
    disk.Reopen();
    EXPECT_EQ(disk.Fs->GetTracks(), 40);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), 77 * 5 * 256);
}

// A GAT that speaks of tracks the image does not hold counts only those it holds.
TEST(TRSDOS23Recognition, TracksTheImageLacksDoNotCount) {
    TFreshDisk disk(DiskImage::ImageJV1, 40);
    ASSERT_TRUE(disk.Fs->CreateFile("SMALL/DAT", TRSDOSTest::PatternBytes(100, 1), {}));
    disk.Close();
    std::filesystem::resize_file(disk.Path, 35 * 10 * 256);
    disk.Reopen();
    EXPECT_EQ(disk.Fs->GetTracks(), 35);
    EXPECT_EQ(disk.Fs->GetFreeSpace(), 67 * 5 * 256 - 5 * 256);
}

// Real disks: they open as TRSDOS 2.3 and every file reads in full.
class TRSDOS23RealDisks : public ::testing::TestWithParam<const char*> {};

TEST_P(TRSDOS23RealDisks, OpenListAndReadEveryFile) {
    const std::string path = std::string(QB_FIXTURES_DIR) + "/real/" + GetParam();
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent: " << path;
    auto image = DiskImage::OpenFloppyImage(path);
    TRSDOS23 fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(false), "TRSDOS 2.3");
    EXPECT_GT(TRSDOSTest::ExpectEveryFileReads(fs), 1u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TRSDOS23RealDisks,
                         ::testing::Values("jv1-sd35-trsdos23layout-data-mrunzip.dsk",
                                           "dmk-sd35-sdonly-trsdos23-m1-system-frehdboot.dmk"));

TEST(TRSDOS23RealDisk, DataDiskHoldsItsProgram) {
    const std::string path = std::string(QB_FIXTURES_DIR) + "/real/jv1-sd35-trsdos23layout-data-mrunzip.dsk";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent";
    auto image = DiskImage::OpenFloppyImage(path);
    TRSDOS23 fs(image.get());
    EXPECT_EQ(fs.GetDiskName(), "MRUNZIP");
    const int dec = fs.FindFile("MRUNZIP/CMD");
    ASSERT_GE(dec, 0);
    const std::vector<uint8_t> data = fs.ReadFile(dec);
    ASSERT_FALSE(data.empty());
    EXPECT_TRUE(data[0] == 0x01 || data[0] == 0x05);  // a load module starts with a block
}

}  // namespace
