#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "ImageTestSupport.h"
#include "diskimage/DMK.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

std::vector<uint8_t> NewJV1Bytes() {
    std::vector<uint8_t> bytes(2560, 0);
    bytes[1] = 0xFE;
    return bytes;
}

std::vector<uint8_t> NewDMKBytes() {
    std::vector<uint8_t> bytes(16, 0);
    bytes[3] = 0x19;
    return bytes;
}

}  // namespace

TEST(Openers, NewImagesHaveTheirEmptySizeAndOpenAgain) {
    struct Case {
        int type;
        const char* name;
        size_t size;
    };
    const Case cases[] = {{ImageJV1, "JV1", 2560}, {ImageJV3, "JV3", 8704}, {ImageDMK, "DMK", 16}, {7, "DMK", 16}};
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string path = dir.File("new.img");
        {
            auto image = CreateFloppyImage(path, c.type);
            EXPECT_EQ(image->GetFormatName(), c.name);
            EXPECT_EQ(image->GetWriteProtect(), 0);
            EXPECT_EQ(image->GetCurrentTrack(), 0);
        }
        EXPECT_EQ(ImageTest::ReadAll(path).size(), c.size) << c.name;
        auto reopened = OpenFloppyImage(path);
        EXPECT_EQ(reopened->GetFormatName(), c.name);
        EXPECT_EQ(reopened->FileName, path);
    }
}

TEST(Openers, PathWithoutExtensionTriesTheExtensionsInOrder) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path / "disks.old");
    ImageTest::WriteAll(dir.File("disks.old/game.jv1"), NewJV1Bytes());
    ImageTest::WriteAll(dir.File("disks.old/game.dmk"), NewDMKBytes());
    // The only '.' lies in the folder name: the name still has no extension.
    auto image = OpenFloppyImage(dir.File("disks.old/game"));
    EXPECT_EQ(image->GetFormatName(), "DMK");
    EXPECT_EQ(image->FileName, dir.File("disks.old/game.dmk"));
    // A name with an extension is taken as it is.
    EXPECT_THROW(OpenFloppyImage(dir.File("disks.old/game.x")), TDiskImage::EFileError);
}

TEST(Openers, FirstTwoBytesOfJV1WinOverDMK) {
    ScratchDir dir;
    std::string path = dir.File("both.dsk");
    ImageTest::WriteAll(path, NewJV1Bytes());  // also a valid DMK header: zero tracks of length 0
    {
        THostFile file;
        bool readOnly = false;
        ASSERT_EQ(file.OpenExisting(path, readOnly), 0);
        EXPECT_NO_THROW(DMK(file, false, path));
    }
    EXPECT_EQ(OpenFloppyImage(path)->GetFormatName(), "JV1");
}

TEST(Openers, EmptyFileIsNotRecognisedByAnyFormat) {
    ScratchDir dir;
    std::string path = dir.File("empty.dsk");
    ImageTest::WriteAll(path, {});
    try {
        OpenFloppyImage(path);
        FAIL() << "the floppy opener accepted an empty file";
    } catch (const TDiskImage::EInvalidFormat& error) {
        EXPECT_STREQ(error.what(), "Not a recognized virtual disk file");
    }
    EXPECT_THROW(OpenHardImage(path), TDiskImage::EInvalidFormat);
}

TEST(Openers, MissingFileReportsTheHostError) {
    ScratchDir dir;
    for (auto open : {+[](const std::string& p) { OpenFloppyImage(p); }, +[](const std::string& p) { OpenHardImage(p); }}) {
        try {
            open(dir.File("nothing"));
            FAIL() << "a missing file opened";
        } catch (const TDiskImage::EFileError& error) {
            EXPECT_EQ(error.ErrorNumber, ENOENT);
            EXPECT_STREQ(error.what(), std::strerror(ENOENT));
        }
    }
}

TEST(Openers, FoldersAndPipesAreRefusedAtOnce) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path / "folder.dsk");
    ASSERT_EQ(::mkfifo(dir.File("pipe.dsk").c_str(), 0600), 0);
    for (const char* name : {"folder.dsk", "pipe.dsk"}) {
        EXPECT_THROW(OpenFloppyImage(dir.File(name)), TDiskImage::EFileError) << name;
        EXPECT_THROW(OpenHardImage(dir.File(name)), TDiskImage::EFileError) << name;
        EXPECT_THROW(CreateFloppyImage(dir.File(name), ImageJV1), TDiskImage::EFileError) << name;
    }
}

TEST(Openers, FileHeldByAnotherWriterOpensReadOnly) {
    ScratchDir dir;
    std::string path = dir.File("shared.dmk");
    ImageTest::WriteAll(path, NewDMKBytes());
    auto first = OpenFloppyImage(path);
    EXPECT_EQ(first->GetWriteProtect(), 0);
    auto second = OpenFloppyImage(path);
    EXPECT_EQ(second->GetWriteProtect(), 2);
    // Once the writer is gone, the file opens for writing again.
    first.reset();
    second.reset();
    EXPECT_EQ(OpenFloppyImage(path)->GetWriteProtect(), 0);
    // Creating over an image that is open elsewhere does not destroy it.
    auto holder = OpenFloppyImage(path);
    EXPECT_THROW(CreateFloppyImage(path, ImageJV1), TDiskImage::EFileError);
    EXPECT_EQ(ImageTest::ReadAll(path).size(), 16u);
}

TEST(Openers, ReadOnlyFileOpensWithWriteProtectTwo) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind the superuser";
    }
    ScratchDir dir;
    std::string path = dir.File("locked.jv1");
    ImageTest::WriteAll(path, NewJV1Bytes());
    ::chmod(path.c_str(), 0444);
    auto image = OpenFloppyImage(path);
    EXPECT_EQ(image->GetWriteProtect(), 2);
    image->SetWriteProtect(false);
    EXPECT_EQ(image->GetWriteProtect(), 2);
}

TEST(Openers, WriteProtectStatesFollowTheFlags) {
    ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("wp.dsk"), ImageJV1);
    EXPECT_TRUE(image->CanSetWriteProtect());
    image->SetWriteProtect(true);
    EXPECT_EQ(image->GetWriteProtect(), 1);
    EXPECT_EQ(image->Flags, TDiskImage::FlagWriteProtected);
    image->SetWriteProtect(false);
    EXPECT_EQ(image->GetWriteProtect(), 0);
    image->Flags |= TDiskImage::FlagReadOnlyFile | TDiskImage::FlagWriteProtected;
    EXPECT_EQ(image->GetWriteProtect(), 2);
}
