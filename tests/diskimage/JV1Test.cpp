#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

TEST(JV1, NewImageHoldsOneTrackOfZeroSectorsWithItsSignature) {
    ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("new.dsk"), ImageJV1);
    for (int s = 0; s < 10; ++s) {
        auto result = ImageTest::Read(*image, 0, 0, 0, s);
        ASSERT_TRUE(result.ok) << s;
        std::vector<uint8_t> expected(256, 0);
        if (s == 0) {
            expected[1] = 0xFE;
        }
        EXPECT_EQ(result.data, expected);
        EXPECT_EQ(result.dam, 0xFB);
    }
    // Track 1 lies beyond the end of the file: nothing is there until it is formatted.
    EXPECT_FALSE(ImageTest::Read(*image, 1, 0, 0, 0).ok);
    EXPECT_EQ(image->GetCurrentTrack(), 1);
}

TEST(JV1, TrackZeroKeepsItsSignatureWhateverIsWritten) {
    ScratchDir dir;
    std::string path = dir.File("sig.dsk");
    {
        auto image = CreateFloppyImage(path, ImageJV1);
        ASSERT_TRUE(ImageTest::Write(*image, 0, 0, 0, 0, std::vector<uint8_t>(256, 0)));
        ASSERT_TRUE(image->Flush());
    }
    auto bytes = ImageTest::ReadAll(path);
    ASSERT_EQ(bytes.size(), 2560u);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(OpenFloppyImage(path)->GetFormatName(), "JV1");
}

TEST(JV1, DirectoryTrackSectorsCarryTheDeletedDataMark) {
    ScratchDir dir;
    std::string path = dir.File("dir.dsk");
    std::vector<uint8_t> bytes(18 * 2560, 0);
    bytes[1] = 0xFE;
    ImageTest::WriteAll(path, bytes);
    auto image = OpenFloppyImage(path);
    for (int track : {0, 16, 17}) {
        for (int s = 0; s < 10; ++s) {
            auto result = ImageTest::Read(*image, track, 0, 0, s);
            ASSERT_TRUE(result.ok);
            EXPECT_EQ(result.dam, track == 17 ? 0xFA : 0xFB) << track << "/" << s;
        }
    }
}

TEST(JV1, FormatTrackRefusesWhatTheFileCannotHold) {
    ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("fmt.dsk"), ImageJV1);
    EXPECT_FALSE(image->FormatTrack(1, 18, 1, false, 0xFB, true, 3));  // double density
    EXPECT_FALSE(image->FormatTrack(1, 10, 2, false, 0xFB, false, 2));  // a second side
    EXPECT_FALSE(image->FormatTrack(1, 10, 1, true, 0xFB, false, 2));   // sector 10
    EXPECT_TRUE(image->FormatTrack(1, 10, 1, false, 0xFB, false, 2));
    ASSERT_TRUE(image->Flush());
    image->CommitChange();  // a new image takes its name when the change is committed
    EXPECT_EQ(ImageTest::ReadAll(image->FileName).size(), 2u * 2560);
}
