// MULTIDOS: recognition, the choice among the three date forms, the date
// forms themselves, passwords per form, and the real MULTIDOS data disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TRSDOSScratch.h"
#include "filesystem/MULTIDOS.h"

using namespace FileSystem;
using TRSDOSTest::TExposed;
using TRSDOSTest::TScratchFolder;
using TMultiProbe = TExposed<MULTIDOS>;
using TRSDOSTest::ExpectDate;
using TRSDOSTest::MakeDate;

namespace {

// A double-density 40-track disk with the given version byte and, besides
// BOOT/SYS and DIR/SYS, the given number of empty user files.
class TMultiDisk {
public:
    TMultiDisk(uint8_t version, int userFiles) {
        Path = Folder.File("m.dmk");
        Image = DiskImage::CreateFloppyImage(Path, DiskImage::ImageDMK);
        TRSDOSTest::TLayoutFormatter formatter(Image.get(), 40, 1, true, version);
        for (int i = 0; i < userFiles; ++i) formatter.CreateFile("U" + std::to_string(i), {}, {});
    }
    std::unique_ptr<TMultiProbe> Open() {
        Image->Flush();
        return std::make_unique<TMultiProbe>(Image.get());
    }
    // Sets two bytes of every user file's record, through the generic core.
    void PatchUserRecords(int offset, uint8_t high, uint8_t low) {
        auto fs = Open();
        for (int dec : fs->ListFiles({"U*"}, 0)) {
            fs->GetDirectoryRecord(dec)[offset] = high;
            fs->GetDirectoryRecord(dec)[offset + 1] = low;
        }
        fs->Modified = true;
    }

    TScratchFolder Folder;
    std::string Path;
    std::unique_ptr<DiskImage::TFloppyImage> Image;
};

TEST(MULTIDOSRecognition, NamesVersionsAndJudgesTheVersionByte) {
    struct Case {
        uint8_t version;
        int suspicion;
        const char* name;
    };
    for (const Case& c : {Case{0x13, 0, "MULTIDOS 1.3"}, Case{0x17, 0, "MULTIDOS 1.7"}, Case{0xFF, 0, "MULTIDOS"},
                          Case{0x00, 0, "MULTIDOS"}, Case{'!', 10, "MULTIDOS"}}) {
        TMultiDisk disk(c.version, 1);
        auto fs = disk.Open();
        EXPECT_EQ(fs->Suspicion, c.suspicion) << int(c.version);
        EXPECT_EQ(fs->GetDOSName(false), c.name);
        EXPECT_EQ(fs->GetDOSName(true), "MULTIDOS");
        EXPECT_EQ(fs->GetTracks(), 40);
        EXPECT_EQ(fs->GetDensity(), 1);
        EXPECT_EQ(fs->GetSectorsPerGranule(), 6);
        EXPECT_FALSE(fs->SupportsAttribute(AttrCreated));
    }
}

TEST(MULTIDOSDateMode, FollowsWhereTheNoPasswordValueLies) {
    // Fresh records carry 0x5A17 in bytes 16-19 and nothing in bytes 1-2.
    {
        TMultiDisk disk(0x17, 2);
        EXPECT_EQ(disk.Open()->GetDateMode(), 0);
    }
    {
        // Six of eight files without the value in bytes 18-19: below 26 %.
        TMultiDisk disk(0x17, 6);
        disk.PatchUserRecords(18, 0x00, 0x00);
        EXPECT_EQ(disk.Open()->GetDateMode(), 1);
    }
    {
        // One file of four with the value in bytes 1-2: a quarter.
        TMultiDisk disk(0x17, 2);
        {
            auto fs = disk.Open();
            const int dec = fs->FindFile("U0");
            fs->GetDirectoryRecord(dec)[1] = 0x5A;
            fs->GetDirectoryRecord(dec)[2] = 0x17;
            fs->Modified = true;
        }
        EXPECT_EQ(disk.Open()->GetDateMode(), 2);
    }
}

TEST(MULTIDOSDates, FormOneKeepsDateAndTimeOfNewFiles) {
    TMultiDisk disk(0x17, 6);
    disk.PatchUserRecords(18, 0x00, 0x00);
    {
        auto fs = disk.Open();
        ASSERT_EQ(fs->GetDateMode(), 1);
        ASSERT_TRUE(fs->CreateFile("NEW/DAT", {1, 2, 3}, MakeDate(1999, 12, 31, 23, 59)));
    }
    auto fs = disk.Open();
    ASSERT_EQ(fs->GetDateMode(), 1);
    const int dec = fs->FindFile("NEW/DAT");
    ExpectDate(fs->GetFileDate(dec), MakeDate(1999, 12, 31, 23, 59));
    const uint8_t* record = fs->GetDirectoryRecord(dec);
    EXPECT_EQ(record[18], 23 * 8 + 7);
    EXPECT_EQ(record[19], (3 << 5) | 19);
    // A record still holding the no-password value has a plain date, no time.
    fs->SetAccessPassword(dec, 0x1234);
    EXPECT_EQ(record[18], 23 * 8 + 7) << "form 1 keeps the time in the password field";
    fs->GetDirectoryRecord(dec)[18] = 0x5A;
    fs->GetDirectoryRecord(dec)[19] = 0x17;
    const FileDate plain = fs->GetFileDate(dec);
    EXPECT_TRUE(plain.HasDate);
    EXPECT_FALSE(plain.HasTime);
    EXPECT_EQ(plain.Year, 1980 + (1999 - 1980) % 8);
}

TEST(MULTIDOSDates, FormTwoStoresFullDateAndTimeAndPasswordInBytesOneAndTwo) {
    TMultiDisk disk(0x00, 2);  // blank version byte with 0xCC != 0xCD starts in form 2
    {
        auto fs = disk.Open();
        const int dec = fs->FindFile("U0");
        fs->GetDirectoryRecord(dec)[1] = 0x5A;
        fs->GetDirectoryRecord(dec)[2] = 0x17;
        fs->Modified = true;
    }
    auto fs = disk.Open();
    ASSERT_EQ(fs->GetDateMode(), 2);
    ASSERT_TRUE(fs->CreateFile("TWO", {9}, MakeDate(2011, 9, 14, 17, 45, 31)));
    const int dec = fs->FindFile("TWO");
    uint8_t* record = fs->GetDirectoryRecord(dec);
    EXPECT_EQ(record[1], 0x5A);
    EXPECT_EQ(record[2], 0x17);
    EXPECT_EQ(record[16], 2 * 31 + 1);
    EXPECT_EQ(record[17], 14 + 32 * 1);
    ExpectDate(fs->GetFileDate(dec), MakeDate(2011, 9, 14, 17, 45, 30));
    fs->SetUpdatePassword(dec, 0x1111);
    EXPECT_EQ(record[16], 2 * 31 + 1) << "the update password is not stored in form 2";
    fs->SetAccessPassword(dec, 0x2233);
    EXPECT_EQ(record[1], 0x22);
    EXPECT_EQ(record[2], 0x33);
    EXPECT_EQ(fs->GetFileDate(dec).Day, 14);
}

TEST(MULTIDOSRecognition, UnreadableBootSectorRefusesTheImage) {
    TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("blank.dmk"), DiskImage::ImageDMK);
    EXPECT_THROW(MULTIDOS fs(image.get()), TFileSystem::EInvalidFormat);
}

TEST(MULTIDOSRealDisk, OpensListsAndReadsEveryFile) {
    const std::string path = std::string(QB_FIXTURES_DIR) + "/real/dmk-dd40-multidos-data-frehd-utils.dmk";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent";
    auto image = DiskImage::OpenFloppyImage(path);
    MULTIDOS fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(false), "MULTIDOS");
    EXPECT_GT(TRSDOSTest::ExpectEveryFileReads(fs), 2u);
    EXPECT_GE(fs.FindFile("EXPORT2/CMD"), 0);
}

}  // namespace
