// Tracks longer than a 5.25-inch track: 8-inch DMK images, DMK tracks of the format's
// full length, and JV3 sides that hold more than a 5.25-inch track.
#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "common/DMKWriter.h"
#include "diskimage/DMK.h"
#include "diskimage/ImageConvert.h"
#include "diskimage/JV3.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

constexpr int ModelIITracks = 77;
constexpr int ModelIISectors = 16;

// 77 tracks of 16 double-density 256-byte sectors numbered 1 to 16, spread over the
// whole of a 10,560-byte DMK track the way an 8-inch disk has them: the last of them lie
// far beyond the 6,272 bytes of a 5.25-inch track.
void WriteModelIIDMK(const std::string& path) {
    TestSupport::DMKWriter writer(DMK::THeader::MaxTrackBytes);
    for (int track = 0; track < ModelIITracks; ++track) {
        std::vector<std::pair<int, std::vector<uint8_t>>> sectors;
        for (int id = 1; id <= ModelIISectors; ++id) sectors.emplace_back(id, ImageTest::SectorPattern(track, 0, id, 256));
        ASSERT_TRUE(writer.AddTrack(sectors, 330));
    }
    ASSERT_TRUE(writer.WriteTo(path));
}

void ExpectEveryModelIISector(TFloppyImage& image) {
    for (int track = 0; track < ModelIITracks; ++track) {
        for (int id = 1; id <= ModelIISectors; ++id) {
            auto result = ImageTest::Read(image, track, 0, 1, id);
            ASSERT_TRUE(result.ok) << "track " << track << " sector " << id;
            ASSERT_EQ(result.data, ImageTest::SectorPattern(track, 0, id, 256)) << "track " << track << " sector " << id;
        }
    }
}

TTrackSector Sector(int number, int size, int track) {
    TTrackSector sector;
    sector.Sector = number;
    sector.Size = size;
    sector.Density = true;
    sector.Data = ImageTest::SectorPattern(track, 0, number, size);
    return sector;
}

}  // namespace

TEST(LongTracks, EightInchDMKReadsWritesAndConvertsWhole) {
    ScratchDir dir;
    const std::string path = dir.File("model2.dmk");
    WriteModelIIDMK(path);
    const std::vector<uint8_t> original = ImageTest::ReadAll(path);
    {
        auto image = OpenFloppyImage(path);
        ASSERT_EQ(image->GetFormatName(), "DMK");
        ExpectEveryModelIISector(*image);
        EXPECT_EQ(image->RawSide(0).Length(), DMK::THeader::MaxTrackBytes - DMK::PointerTableBytes);
        // Every track built from the file and written back unchanged gives the same bytes.
        for (int track = 0; track < ModelIITracks; ++track) {
            ASSERT_TRUE(image->LoadTrack(track));
            TRawTrack& side = image->RawSide(0);
            side.Set(0, side.At(0));
            ASSERT_TRUE(image->IsTrackDirty());
            ASSERT_TRUE(image->Flush());
        }
    }
    EXPECT_EQ(ImageTest::ReadAll(path), original);

    // Into DMK: the copy keeps the track length and every sector; copied again it is the
    // same file byte for byte.
    ConvertImage(path, dir.File("copy.dmk"), ImageDMK);
    const std::vector<uint8_t> copy = ImageTest::ReadAll(dir.File("copy.dmk"));
    EXPECT_EQ(copy[2] | (copy[3] << 8), DMK::THeader::MaxTrackBytes);
    ExpectEveryModelIISector(*OpenFloppyImage(dir.File("copy.dmk"), true));
    ConvertImage(dir.File("copy.dmk"), dir.File("again.dmk"), ImageDMK);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("again.dmk")), copy);

    // Into JV3: sixteen 256-byte sectors fit a JV3 track side.
    auto result = ConvertImage(path, dir.File("copy.jv3"), ImageJV3);
    EXPECT_EQ(result.Sectors, ModelIITracks * ModelIISectors);
    ExpectEveryModelIISector(*OpenFloppyImage(dir.File("copy.jv3"), true));
    // And back into DMK, sector for sector.
    ConvertImage(dir.File("copy.jv3"), dir.File("back.dmk"), ImageDMK);
    ExpectEveryModelIISector(*OpenFloppyImage(dir.File("back.dmk"), true));
}

TEST(LongTracks, DMKMadeHereConvertsToItselfByteForByte) {
    ScratchDir dir;
    const std::string path = dir.File("made.dmk");
    {
        auto image = CreateFloppyImage(path, ImageDMK, TRawTrack::EightInchCells);
        for (int track = 0; track < 4; ++track) {
            std::array<std::vector<TTrackSector>, 2> sides;
            for (int id = 1; id <= 16; ++id) sides[0].push_back(Sector(id, 512, track));
            for (int id = 1; id <= 26; ++id) {
                sides[1].push_back(Sector(id, 128, track));
                sides[1].back().Density = false;
            }
            ASSERT_TRUE(image->LayOutTrack(track, sides)) << track;
        }
        ASSERT_TRUE(image->Flush());
    }
    const std::vector<uint8_t> original = ImageTest::ReadAll(path);
    EXPECT_EQ(original[2] | (original[3] << 8), DMK::PointerTableBytes + TRawTrack::EightInchCells);
    ConvertImage(path, dir.File("copy.dmk"), ImageDMK);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("copy.dmk")), original);
}

TEST(LongTracks, JV3RefusalNamesTheFirstSectorItCannotHold) {
    // Fits a DMK track of the format's full length, but not the longest JV3 track.
    ScratchDir dir;
    const std::string path = dir.File("full.dmk");
    std::array<std::vector<TTrackSector>, 2> sides;
    for (int id = 1; id <= 8; ++id) sides[0].push_back(Sector(id, 1024, 5));
    for (int id = 9; id <= 12; ++id) sides[0].push_back(Sector(id, 256, 5));
    sides[0].push_back(Sector(13, 128, 5));
    {
        auto image = CreateFloppyImage(path, ImageDMK, DMK::THeader::MaxTrackBytes - DMK::PointerTableBytes);
        ASSERT_TRUE(image->LayOutTrack(5, sides));
        ASSERT_TRUE(image->Flush());
    }
    try {
        ConvertImage(path, dir.File("out.jv3"), ImageJV3);
        ADD_FAILURE() << "not refused";
    } catch (const EConversionRefused& refusal) {
        EXPECT_NE(std::string(refusal.what()).find("track 5, side 0, sector 13"), std::string::npos)
            << refusal.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.jv3")));
    // Without its last sector the track converts, into a JV3 side of 8-inch length.
    sides[0].pop_back();
    {
        auto image = OpenFloppyImage(path);
        ASSERT_TRUE(image->LayOutTrack(5, sides));
    }
    ConvertImage(path, dir.File("out.jv3"), ImageJV3);
    auto jv3 = OpenFloppyImage(dir.File("out.jv3"), true);
    ASSERT_TRUE(jv3->LoadTrack(5));
    EXPECT_EQ(jv3->RawSide(0).Length(), JV3::MaxTrackCells);
    EXPECT_EQ(jv3->ReadTrackSide(0).size(), 12u);
}

TEST(LongTracks, NewEightInchDMKHoldsEightInchTracks) {
    ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("new.dmk"), ImageDMK, TRawTrack::EightInchCells);
    EXPECT_EQ(image->RawSide(0).Length(), TRawTrack::EightInchCells);
    // 26 single-density 128-byte sectors (the IBM 3740 track) and 16 double-density 512-byte ones.
    EXPECT_TRUE(image->HoldsTrack(26, 128, false));
    EXPECT_TRUE(image->HoldsTrack(16, 512, true));
    EXPECT_FALSE(image->HoldsTrack(33, 256, true));
    auto fiveInch = CreateFloppyImage(dir.File("five.dmk"), ImageDMK);
    EXPECT_FALSE(fiveInch->HoldsTrack(26, 128, false));
    EXPECT_FALSE(fiveInch->HoldsTrack(16, 512, true));
}

TEST(LongTracks, StoredSectorsAreCountedPerTrackSide) {
    ScratchDir dir;
    const std::string path = dir.File("model2.dmk");
    WriteModelIIDMK(path);
    {
        auto image = OpenFloppyImage(path);
        ASSERT_TRUE(image->LoadTrack(3));
        EXPECT_EQ(image->StoredSectorCount(0), ModelIISectors);
        EXPECT_EQ(image->StoredSectorCount(1), 0);  // single-sided
        ASSERT_TRUE(image->LoadTrack(ModelIITracks));
        EXPECT_EQ(image->StoredSectorCount(0), 0);  // beyond the stored tracks
    }
    ConvertImage(path, dir.File("copy.jv3"), ImageJV3);
    auto jv3 = OpenFloppyImage(dir.File("copy.jv3"), true);
    ASSERT_TRUE(jv3->LoadTrack(76));
    EXPECT_EQ(jv3->StoredSectorCount(0), ModelIISectors);
    EXPECT_EQ(jv3->StoredSectorCount(1), 0);
}
