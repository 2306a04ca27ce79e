// Every format holds a whole disk: format 40 tracks, write every sector, reopen, read back.
#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

struct Layout {
    int type;
    const char* name;
    bool density;
    int sides;
    size_t fileSize;
};

constexpr int Tracks = 40;

int SectorsPerSide(bool density) { return density ? 18 : 10; }

std::vector<uint8_t> Contents(int track, int side, int sector) {
    auto data = ImageTest::SectorPattern(track, side, sector, 256);
    if (track == 0 && side == 0 && sector == 0) {
        data[0] = 0x00;  // what every boot sector starts with; JV1 insists on it
        data[1] = 0xFE;
    }
    return data;
}

void FormatAndFill(const std::string& path, const Layout& layout) {
    auto image = CreateFloppyImage(path, layout.type);
    for (int t = 0; t < Tracks; ++t) {
        ASSERT_TRUE(image->FormatTrack(t, SectorsPerSide(layout.density), layout.sides, false, 0xFB,
                                       layout.density, layout.density ? 3 : 2))
            << "track " << t;
        for (int side = 0; side < layout.sides; ++side) {
            for (int s = 0; s < SectorsPerSide(layout.density); ++s) {
                ASSERT_TRUE(ImageTest::Write(*image, t, side, layout.density, s, Contents(t, side, s)))
                    << t << "/" << side << "/" << s;
            }
        }
    }
}

}  // namespace

class FloppyRoundTrip : public testing::TestWithParam<Layout> {};

TEST_P(FloppyRoundTrip, EverySectorReadsBackAfterReopening) {
    const Layout& layout = GetParam();
    ScratchDir dir;
    std::string path = dir.File("disk.img");
    FormatAndFill(path, layout);
    if (HasFatalFailure()) {
        return;
    }
    EXPECT_EQ(ImageTest::ReadAll(path).size(), layout.fileSize);
    auto image = OpenFloppyImage(path);
    EXPECT_EQ(image->GetFormatName(), layout.name);
    // Read in an order that loads every track more than once.
    for (int pass = 0; pass < 2; ++pass) {
        for (int t = pass ? Tracks - 1 : 0; pass ? t >= 0 : t < Tracks; t += pass ? -1 : 1) {
            for (int side = 0; side < layout.sides; ++side) {
                for (int s = 0; s < SectorsPerSide(layout.density); ++s) {
                    auto result = ImageTest::Read(*image, t, side, layout.density, s);
                    ASSERT_TRUE(result.ok) << t << "/" << side << "/" << s;
                    ASSERT_EQ(result.data, Contents(t, side, s)) << t << "/" << side << "/" << s;
                }
            }
        }
    }
    // Nothing beyond what was formatted.
    EXPECT_FALSE(ImageTest::Read(*image, 0, 0, layout.density, SectorsPerSide(layout.density)).ok);
    if (layout.sides == 1) {
        EXPECT_FALSE(ImageTest::Read(*image, 5, 1, layout.density, 0).ok);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FloppyRoundTrip,
    testing::Values(Layout{ImageJV1, "JV1", false, 1, 40 * 2560},
                    Layout{ImageJV3, "JV3", false, 1, 8704 + 400 * 256},
                    Layout{ImageJV3, "JV3", false, 2, 8704 + 800 * 256},
                    Layout{ImageJV3, "JV3", true, 1, 8704 + 720 * 256},
                    Layout{ImageJV3, "JV3", true, 2, 8704 + 1440 * 256},
                    Layout{ImageDMK, "DMK", false, 1, 16 + 40 * 2 * 6400},
                    Layout{ImageDMK, "DMK", false, 2, 16 + 40 * 2 * 6400},
                    Layout{ImageDMK, "DMK", true, 1, 16 + 40 * 2 * 6400},
                    Layout{ImageDMK, "DMK", true, 2, 16 + 40 * 2 * 6400},
                    // A header of 32 bytes; per track side 5 bytes, the numbering map, a record byte and the data
                    Layout{ImageIMD, "IMD", false, 1, 32 + 40 * (5 + 10 * 258)},
                    Layout{ImageIMD, "IMD", false, 2, 32 + 80 * (5 + 10 * 258)},
                    Layout{ImageIMD, "IMD", true, 1, 32 + 40 * (5 + 18 * 258)},
                    Layout{ImageIMD, "IMD", true, 2, 32 + 80 * (5 + 18 * 258)},
                    // A header block, a track list block, then 49 blocks a track (12,544 bytes a side)
                    Layout{ImageHFE, "HFE", false, 1, 1024 + 40 * 49 * 512},
                    Layout{ImageHFE, "HFE", false, 2, 1024 + 40 * 49 * 512},
                    Layout{ImageHFE, "HFE", true, 1, 1024 + 40 * 49 * 512},
                    Layout{ImageHFE, "HFE", true, 2, 1024 + 40 * 49 * 512}),
    [](const testing::TestParamInfo<Layout>& info) {
        return std::string(info.param.name) + (info.param.density ? "DD" : "SD") + std::to_string(info.param.sides) +
               "Side";
    });

// The stored bytes of a DMK track: ID pointers with bit 15 for double density,
// each pointing at the 0xFE of its ID; single-density bytes stored twice.
TEST(DMKLayout, StoredTrackMatchesTheFileLayout) {
    for (bool density : {false, true}) {
        SCOPED_TRACE(density ? "double density" : "single density");
        ScratchDir dir;
        std::string path = dir.File("layout.dmk");
        FormatAndFill(path, Layout{ImageDMK, "DMK", density, 2, 0});
        if (HasFatalFailure()) {
            return;
        }
        auto bytes = ImageTest::ReadAll(path);
        ASSERT_EQ(bytes.size(), 16u + Tracks * 2 * 6400);
        EXPECT_EQ(bytes[1], Tracks);
        EXPECT_EQ(bytes[2] | (bytes[3] << 8), 0x1900);
        EXPECT_EQ(bytes[4], 0);
        for (int t : {0, 17, Tracks - 1}) {
            for (int side = 0; side < 2; ++side) {
                const uint8_t* stored = bytes.data() + 16 + (t * 2 + side) * 6400;
                std::vector<int> sectorsSeen;
                int p = 0;
                for (; p < 64; ++p) {
                    int pointer = stored[2 * p] | (stored[2 * p + 1] << 8);
                    if (pointer == 0) {
                        break;
                    }
                    EXPECT_EQ((pointer & 0x8000) != 0, density);
                    int offset = pointer & 0x3FFF;
                    ASSERT_LT(offset + 12, 6400);
                    if (density) {
                        EXPECT_EQ(stored[offset - 3], 0xA1);
                        EXPECT_EQ(stored[offset - 2], 0xA1);
                        EXPECT_EQ(stored[offset - 1], 0xA1);
                        EXPECT_EQ(stored[offset], 0xFE);
                        EXPECT_EQ(stored[offset + 1], t);
                        EXPECT_EQ(stored[offset + 2], side);
                        sectorsSeen.push_back(stored[offset + 3]);
                    } else {
                        // Every single-density byte twice: 0xFE 0xFE, track track, side side, sector sector.
                        for (int k = 0; k < 4; ++k) {
                            EXPECT_EQ(stored[offset + 2 * k], stored[offset + 2 * k + 1]);
                        }
                        EXPECT_EQ(stored[offset], 0xFE);
                        EXPECT_EQ(stored[offset + 2], t);
                        EXPECT_EQ(stored[offset + 4], side);
                        sectorsSeen.push_back(stored[offset + 6]);
                    }
                }
                EXPECT_EQ(p, SectorsPerSide(density));
                std::sort(sectorsSeen.begin(), sectorsSeen.end());
                for (int s = 0; s < static_cast<int>(sectorsSeen.size()); ++s) {
                    EXPECT_EQ(sectorsSeen[s], s);
                }
                // The data of sector 0 follows its ID: find it after the data mark.
                if (!density && t == 17 && side == 0) {
                    int offset = (stored[0] | (stored[1] << 8)) & 0x3FFF;
                    const uint8_t* dataMark = stored + offset + 2 * (1 + 6 + 11 + 6);
                    EXPECT_EQ(dataMark[0], 0xFB);
                    EXPECT_EQ(dataMark[1], 0xFB);
                    auto expected = Contents(t, side, stored[offset + 6]);
                    for (int i = 0; i < 256; ++i) {
                        ASSERT_EQ(dataMark[2 + 2 * i], expected[i]);
                        ASSERT_EQ(dataMark[3 + 2 * i], expected[i]);
                    }
                }
            }
        }
    }
}
