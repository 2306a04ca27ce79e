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

// A Color Computer disk often begins with a file's own bytes (the first granule is track 0,
// sector 1), and those can read as a JV3 list of sectors. The data such a list names lies past
// the end of the file, so the disk is still taken for the JVC its DOS knows.
TEST(JVCTest, FileDataAtTheStartIsNotTakenForAJV3List) {
    ScratchDir dir;
    const Layout coco = Layouts[0];
    WriteDisk(dir.File("disk.dsk"), coco);
    auto bytes = ImageTest::ReadAll(dir.File("disk.dsk"));
    // A file whose first 8704 bytes list every sector of the disk, as a JV3 header would.
    std::fill(bytes.begin(), bytes.begin() + 8704, 0xFF);
    size_t at = 0;
    for (int track = 0; track < coco.tracks; ++track) {
        for (int sector = 1; sector <= coco.sectors; ++sector, at += 3) {
            bytes[at] = static_cast<uint8_t>(track);
            bytes[at + 1] = static_cast<uint8_t>(sector);
            bytes[at + 2] = 0x80;  // double density, 256 bytes
        }
    }
    ImageTest::WriteAll(dir.File("disk.dsk"), bytes);
    const auto recognised = OpenFloppyImage(dir.File("disk.dsk"), true, [](TFloppyImage& image) {
        return image.GetFormatName() == "JVC";
    });
    EXPECT_EQ(recognised->GetFormatName(), "JVC");
    // With no DOS to say so, the last guess still opens the file as a JV3 cut short.
    EXPECT_EQ(OpenedFormat(dir.File("disk.dsk")), "JV3");
}
