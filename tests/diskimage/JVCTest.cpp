// JVC: the header says only what differs from the usual geometry, a file without one is
// taken only when its name or its DOS says what it is, and nothing a JVC file cannot keep
// is ever written to one.
#include <gtest/gtest.h>

#include <filesystem>

#include "ImageTestSupport.h"
#include "diskimage/ImageConvert.h"
#include "diskimage/JVC.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

struct Layout {
    int tracks, sides, sectors, size, first;
    std::vector<uint8_t> header;  // what the writer must put before the sectors
};

std::array<std::vector<TTrackSector>, 2> TrackOf(const Layout& layout, int track) {
    std::array<std::vector<TTrackSector>, 2> sides;
    for (int side = 0; side < layout.sides; ++side) {
        for (int i = 0; i < layout.sectors; ++i) {
            const int number = layout.first + i;
            sides[side].push_back({number, layout.size, true, 0xFB, false,
                                   ImageTest::SectorPattern(track, side, number, layout.size)});
        }
    }
    return sides;
}

void WriteDisk(const std::string& path, const Layout& layout, int imageType = ImageJVC) {
    auto image = CreateFloppyImage(path, imageType);
    for (int track = 0; track < layout.tracks; ++track) ASSERT_TRUE(image->LayOutTrack(track, TrackOf(layout, track)));
    ASSERT_TRUE(image->Flush());
    image->CommitChange();
}

void ExpectDisk(TFloppyImage& image, const Layout& layout) {
    for (int track = 0; track < layout.tracks; ++track) {
        ASSERT_TRUE(image.LoadTrack(track)) << "track " << track;
        for (int side = 0; side < 2; ++side) {
            const auto found = image.ReadTrackSide(side);
            ASSERT_EQ(found.size(), side < layout.sides ? size_t(layout.sectors) : 0u) << "track " << track;
            for (const auto& sector : found) {
                EXPECT_TRUE(sector.Density);
                EXPECT_EQ(sector.DAM, 0xFB);
                EXPECT_EQ(sector.Data, ImageTest::SectorPattern(track, side, sector.Sector, layout.size))
                    << "track " << track << " side " << side << " sector " << sector.Sector;
            }
        }
    }
    if (image.GetFormatName() == "JVC") {
        EXPECT_FALSE(image.LoadTrack(layout.tracks));
    }
}

// The format the opener takes the file for, or "" when it takes it for none.
std::string OpenedFormat(const std::string& path, const TDosCheck& dosCheck = {}) {
    try {
        return OpenFloppyImage(path, true, dosCheck)->GetFormatName();
    } catch (const TDiskImage::EInvalidFormat&) {
        return "";
    }
}

const Layout Layouts[] = {
    {35, 1, 18, 256, 1, {}},                  // the Color Computer's own disk: no header at all
    {40, 2, 18, 256, 0, {18, 2, 1, 0}},       // a TRS-80 double-density layout, both sides
    {80, 1, 10, 512, 1, {10, 1, 2}},          // fewer, larger sectors
    {40, 1, 16, 256, 1, {16}},                // only the sector count differs
    {77, 2, 26, 128, 1, {26, 2, 0}},          // small sectors, tracks of whole multiples of 256 bytes
};

}  // namespace

TEST(JVCTest, WrittenDisksHaveTheShortestHeaderAndReadBackWhole) {
    for (const auto& layout : Layouts) {
        SCOPED_TRACE(std::to_string(layout.sectors) + "x" + std::to_string(layout.size) + ", " +
                     std::to_string(layout.sides) + " sides");
        ScratchDir dir;
        const std::string path = dir.File("disk.dsk");
        WriteDisk(path, layout);
        const auto bytes = ImageTest::ReadAll(path);
        ASSERT_EQ(bytes.size(), layout.header.size() + size_t(layout.tracks) * layout.sides * layout.sectors * layout.size);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + layout.header.size()), layout.header);
        // The first sector's data follows the header directly.
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + layout.header.size(), bytes.begin() + layout.header.size() + 8),
                  std::vector<uint8_t>(ImageTest::SectorPattern(0, 0, layout.first, 8)));

        auto image = OpenFloppyImageAs(path, ImageJVC, true);
        ExpectDisk(*image, layout);
        // A header is enough for the opener; without one the file is only a run of bytes.
        EXPECT_EQ(OpenedFormat(path) == "JVC", !layout.header.empty());
    }
}

TEST(JVCTest, AHeaderlessFileIsTakenOnlyWhenItsNameOrItsDosSaysSo) {
    ScratchDir dir;
    const Layout coco = Layouts[0];
    WriteDisk(dir.File("disk.dsk"), coco);
    std::filesystem::copy_file(dir.File("disk.dsk"), dir.File("disk.jvc"));
    EXPECT_EQ(OpenFloppyImage(dir.File("disk.jvc"), true)->GetFormatName(), "JVC");
    auto recognised = OpenFloppyImage(dir.File("disk.dsk"), true, [](TFloppyImage& image) {
        return image.GetFormatName() == "JVC";  // a DOS that knows the disk in this form only
    });
    EXPECT_EQ(recognised->GetFormatName(), "JVC");
    ExpectDisk(*recognised, coco);
    EXPECT_NE(OpenedFormat(dir.File("disk.dsk"), [](TFloppyImage&) { return false; }), "JVC");
    // What the refused candidate read is handed on whole: the file still opens as it did.
    EXPECT_EQ(ImageTest::ReadAll(dir.File("disk.dsk")).size(), 35u * 18 * 256);
}

TEST(JVCTest, FilesNoGeometryFitsAreRefused) {
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
        size_t payload;
    };
    const Case cases[] = {
        {"sector attribute bytes", {18, 1, 1, 1, 1}, 35u * 18 * 257},
        {"three sides", {18, 3}, 35u * 18 * 256 * 3},
        {"no sectors a track", {0}, 35u * 18 * 256},
        {"a size code past 1024 bytes", {18, 1, 4}, 35u * 18 * 2048},
        {"more sectors than a track holds", {40}, 35u * 40 * 256},
        {"sector numbers past 255", {18, 1, 1, 250}, 35u * 18 * 256},
        {"part of a track", {18}, 35u * 18 * 256 + 256},
        {"a header and no tracks", {18, 1}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<uint8_t> bytes = c.header;
        bytes.resize(c.header.size() + c.payload, 0xE5);
        ImageTest::WriteAll(dir.File("bad.jvc"), bytes);
        EXPECT_THROW(OpenFloppyImageAs(dir.File("bad.jvc"), ImageJVC, true), TDiskImage::EInvalidFormat);
        EXPECT_EQ(ImageTest::ReadAll(dir.File("bad.jvc")), bytes);
    }
}

TEST(JVCTest, ASectorWriteTheFileCannotKeepFailsAndChangesNothing) {
    ScratchDir dir;
    const std::string path = dir.File("disk.jvc");
    WriteDisk(path, Layouts[1]);
    const auto before = ImageTest::ReadAll(path);
    {
        auto image = OpenFloppyImage(path);
        // A deleted mark would come back as plain data.
        ASSERT_TRUE(ImageTest::Write(*image, 3, 1, 1, 5, std::vector<uint8_t>(256, 0x11), 0xF8));
        EXPECT_FALSE(image->Flush());
        image->DiscardChangeOnClose();
    }
    EXPECT_EQ(ImageTest::ReadAll(path), before);
    // Laying out a track of another geometry is refused before anything changes.
    auto image = OpenFloppyImage(path);
    auto odd = TrackOf(Layouts[1], 4);
    odd[0].pop_back();
    EXPECT_FALSE(image->LayOutTrack(4, odd));
    odd = TrackOf(Layouts[1], 4);
    odd[1][2].Density = false;
    EXPECT_FALSE(image->LayOutTrack(4, odd));
    EXPECT_TRUE(image->Flush());
    image.reset();
    EXPECT_EQ(ImageTest::ReadAll(path), before);
}

TEST(JVCTest, ConversionThroughJVCKeepsEverySectorOrIsRefusedNamingIt) {
    ScratchDir dir;
    const Layout layout = Layouts[1];
    WriteDisk(dir.File("start.dmk"), layout, ImageDMK);
    ConvertImage(dir.File("start.dmk"), dir.File("middle.dsk"), ImageJVC);
    ConvertImage(dir.File("middle.dsk"), dir.File("end.dmk"), ImageDMK, false,
                 [](TFloppyImage& image) { return image.GetFormatName() == "JVC"; });
    ExpectDisk(*OpenFloppyImage(dir.File("end.dmk"), true), layout);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("start.dmk")), ImageTest::ReadAll(dir.File("end.dmk")));

    struct Refusal {
        const char* what;
        int track, side, index;
        void (*spoil)(TTrackSector&);
        const char* message;
    };
    const Refusal refusals[] = {
        {"a deleted mark", 5, 1, 3, [](TTrackSector& s) { s.DAM = 0xF8; },
         "track 5, side 1, sector 3 would lose its data address mark in JVC"},
        {"a CRC error", 7, 0, 0, [](TTrackSector& s) { s.CrcError = true; },
         "track 7, side 0, sector 0 has a CRC error, which JVC cannot record"},
        {"a single-density sector", 2, 0, 4,
         [](TTrackSector& s) {
             s.Density = false;
             s.Size = 128;
             s.Data.resize(128);
         },
         "track 2, side 0, sector 4 (single-density, 128 bytes) would be lost"},
        {"another sector number", 9, 1, 17, [](TTrackSector& s) { s.Sector = 40; },
         "track 9, side 1, sector 40 (double-density, 256 bytes) would be lost"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        ScratchDir scratch;
        auto image = CreateFloppyImage(scratch.File("odd.dmk"), ImageDMK);
        for (int track = 0; track < layout.tracks; ++track) {
            auto sides = TrackOf(layout, track);
            if (track == refusal.track) refusal.spoil(sides[refusal.side][refusal.index]);
            ASSERT_TRUE(image->LayOutTrack(track, sides));
        }
        ASSERT_TRUE(image->Flush());
        image->CommitChange();
        image.reset();
        try {
            ConvertImage(scratch.File("odd.dmk"), scratch.File("odd.dsk"), ImageJVC);
            ADD_FAILURE() << "converted";
        } catch (const EConversionRefused& error) {
            EXPECT_NE(std::string(error.what()).find(refusal.message), std::string::npos) << error.what();
        }
        EXPECT_FALSE(std::filesystem::exists(scratch.File("odd.dsk")));
    }
}
