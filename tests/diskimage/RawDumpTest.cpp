// Raw sector dumps: the layouts a file's size allows, taken only when a DOS recognises the
// disk under one of them, and sector writes that go back only when nothing is lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>

#include "ImageTestSupport.h"
#include "diskimage/RawDump.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

struct Shape {
    int sectors, size;
    bool doubleDensity;
    int sides, tracks;
    bool operator==(const Shape&) const = default;
};

// A dump of sides-interleaved tracks whose sectors hold the usual test pattern.
std::vector<uint8_t> DumpBytes(const Shape& shape, int first) {
    std::vector<uint8_t> bytes;
    for (int track = 0; track < shape.tracks; ++track) {
        for (int side = 0; side < shape.sides; ++side) {
            for (int i = 0; i < shape.sectors; ++i) {
                const auto data = ImageTest::SectorPattern(track, side, first + i, shape.size);
                bytes.insert(bytes.end(), data.begin(), data.end());
            }
        }
    }
    return bytes;
}

size_t SectorOffset(const Shape& shape, int track, int side, int index) {
    return ((size_t(track) * shape.sides + side) * shape.sectors + index) * shape.size;
}

// A DOS check that knows the disk only under one geometry.
TDosCheck KnowsOnly(const RawDump::Geometry& wanted) {
    return [wanted](TFloppyImage& image) {
        const auto* dump = dynamic_cast<RawDump*>(&image);
        return dump != nullptr && dump->GetGeometry() == wanted;
    };
}

// The sectors of one track side of a shape, numbered from first, laid out in reverse order.
std::vector<TTrackSector> SideSectors(const Shape& shape, int track, int side, int first) {
    std::vector<TTrackSector> sectors;
    for (int i = shape.sectors - 1; i >= 0; --i) {
        sectors.push_back({first + i, shape.size, shape.doubleDensity, 0xFB, false,
                           ImageTest::SectorPattern(track, side, first + i, shape.size)});
    }
    return sectors;
}

std::array<std::vector<TTrackSector>, 2> TrackSectors(const Shape& shape, int track, int first) {
    std::array<std::vector<TTrackSector>, 2> sides;
    for (int side = 0; side < shape.sides; ++side) sides[side] = SideSectors(shape, track, side, first);
    return sides;
}

}  // namespace

TEST(RawDumpTest, TheFileSizeGivesEveryLayoutItCouldBe) {
    struct Case {
        int64_t size;
        std::vector<Shape> shapes;  // in the order they are tried; each with sectors from 0 and from 1
    };
    const Case cases[] = {
        {35 * 10 * 256, {{10, 256, false, 1, 35}}},  // TRSDOS 2.3
        {80 * 18 * 128, {{18, 128, false, 1, 80}, {18, 128, false, 2, 40}, {18, 256, true, 1, 40}}},
        {80 * 2 * 10 * 512, {{10, 512, true, 2, 80}, {5, 1024, true, 2, 80}}},
        {77 * 26 * 128, {{26, 128, false, 1, 77}}},  // the 8-inch interchange disk
        {40 * 18 * 256 + 1, {}},                     // a byte too many
        {12345, {}},
        {0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const auto geometries = RawDump::GeometriesFor(c.size);
        ASSERT_EQ(geometries.size(), c.shapes.size() * 2);
        for (size_t i = 0; i < geometries.size(); ++i) {
            const auto& g = geometries[i];
            EXPECT_EQ((Shape{g.SectorsPerTrack, g.SectorSize, g.DoubleDensity, g.Sides, g.Tracks}), c.shapes[i / 2]);
            EXPECT_EQ(g.FirstSector, int(i % 2));
            EXPECT_EQ(int64_t(g.TrackBytes()) * g.Tracks, c.size);
        }
    }
}

TEST(RawDumpTest, ADumpIsTakenOnlyUnderTheGeometryItsDosRecognises) {
    const struct {
        Shape shape;
        int first;
    } cases[] = {
        {{10, 256, false, 1, 35}, 0},
        {{18, 128, false, 1, 80}, 1},
        {{18, 128, false, 2, 40}, 1},
        {{10, 512, true, 2, 80}, 0},
    };
    for (const auto& c : cases) {
        const Shape& s = c.shape;
        SCOPED_TRACE(std::to_string(s.sectors) + "x" + std::to_string(s.size) + ", " + std::to_string(s.sides) +
                     " sides, " + std::to_string(s.tracks) + " tracks");
        ScratchDir dir;
        const auto bytes = DumpBytes(s, c.first);
        ImageTest::WriteAll(dir.File("disk.img"), bytes);
        const RawDump::Geometry wanted{s.sectors, s.size, s.doubleDensity, s.sides, c.first, s.tracks};
        auto image = OpenFloppyImage(dir.File("disk.img"), true, KnowsOnly(wanted));
        ASSERT_EQ(image->GetFormatName(), "raw sector dump");
        for (int track : {0, s.tracks - 1}) {
            ASSERT_TRUE(image->LoadTrack(track));
            for (int side = 0; side < 2; ++side) {
                const auto found = image->ReadTrackSide(side);
                ASSERT_EQ(found.size(), side < s.sides ? size_t(s.sectors) : 0u);
                for (const auto& sector : found) {
                    EXPECT_EQ(sector.Density, s.doubleDensity);
                    EXPECT_EQ(sector.DAM, 0xFB);
                    EXPECT_FALSE(sector.CrcError);
                    EXPECT_EQ(sector.Data, ImageTest::SectorPattern(track, side, sector.Sector, s.size))
                        << "track " << track << " side " << side << " sector " << sector.Sector;
                }
            }
        }
        EXPECT_FALSE(image->LoadTrack(s.tracks));
        image.reset();
        // Nobody recognises it, or no check is offered: the file is not claimed and stays as it was.
        for (const TDosCheck& check : {TDosCheck{}, TDosCheck{[](TFloppyImage&) { return false; }}}) {
            try {
                EXPECT_NE(OpenFloppyImage(dir.File("disk.img"), true, check)->GetFormatName(), "raw sector dump");
            } catch (const TDiskImage::EInvalidFormat&) {
            }
        }
        EXPECT_EQ(ImageTest::ReadAll(dir.File("disk.img")), bytes);
    }
}

// A dump, and a JVC file, answer a DOS's sector reads from the file with no track laid out:
// every answer (for sectors that are there and ones that are not, on tracks past the end
// too) is the laid-out track's. A loaded track changed since it was built is left to the track.
TEST(RawDumpTest, SectorsReadFromTheFileAreThoseOfTheLaidOutTrack) {
    const struct {
        const char* name;
        Shape shape;
        int first;
    } cases[] = {
        {"disk.img", {10, 256, false, 1, 35}, 0},
        {"disk.img", {10, 512, true, 2, 40}, 1},
        {"disk.jvc", {18, 256, true, 1, 35}, 1},
    };
    for (const auto& c : cases) {
        const Shape& s = c.shape;
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(s.sectors) + "x" + std::to_string(s.size));
        ScratchDir dir;
        const std::string path = dir.File(c.name);
        ImageTest::WriteAll(path, DumpBytes(s, c.first));
        auto image = OpenFloppyImage(path, false, KnowsOnly({s.sectors, s.size, s.doubleDensity, s.sides, c.first, s.tracks}));
        ASSERT_EQ(image->GetFormatName(), std::string(c.name) == "disk.jvc" ? "JVC" : "raw sector dump");
        std::vector<uint8_t> stored(TFloppyImage::SectorBufferSize), laid(TFloppyImage::SectorBufferSize);
        for (int track : {0, 1, s.tracks - 1, s.tracks}) {
            for (int side = 0; side < 2; ++side) {
                for (int density = 0; density < 2; ++density) {
                    for (int sector = c.first - 1; sector <= c.first + s.sectors; ++sector) {
                        SCOPED_TRACE("track " + std::to_string(track) + " side " + std::to_string(side) + " density " +
                                     std::to_string(density) + " sector " + std::to_string(sector));
                        int storedSize = -1, laidSize = -1;
                        uint8_t storedMark = 0, laidMark = 0;
                        const auto fromFile =
                            image->ReadStoredSector(track, side, density, sector, storedSize, storedMark, stored.data());
                        ASSERT_TRUE(fromFile.has_value());
                        const bool fromTrack = image->LoadTrack(track) &&
                                               image->ReadSector(track, side, density, sector, laidSize, laidMark,
                                                                 laid.data(), true, false);
                        ASSERT_EQ(*fromFile, fromTrack);
                        if (!fromTrack) continue;
                        EXPECT_EQ(storedSize, laidSize);
                        EXPECT_EQ(storedMark, laidMark);
                        EXPECT_TRUE(std::equal(stored.begin(), stored.begin() + laidSize, laid.begin()));
                    }
                }
            }
        }
        ASSERT_TRUE(image->LoadTrack(3));
        const std::vector<uint8_t> data(s.size, 0x5A);
        ASSERT_TRUE(image->WriteSector(3, 0, s.doubleDensity, c.first, 0xFB, data.data()));
        int size = 0;
        uint8_t mark = 0;
        EXPECT_FALSE(image->ReadStoredSector(3, 0, s.doubleDensity, c.first, size, mark, stored.data()).has_value());
        EXPECT_TRUE(image->ReadStoredSector(4, 0, s.doubleDensity, c.first, size, mark, stored.data()).has_value());
        image->DiscardChangeOnClose();
    }
}

TEST(RawDumpTest, SectorWritesGoBackOnlyWhenTheDumpKeepsThem) {
    const Shape shape{10, 256, false, 1, 35};
    const RawDump::Geometry geometry{10, 256, false, 1, 0, 35};
    ScratchDir dir;
    const auto bytes = DumpBytes(shape, 0);
    ImageTest::WriteAll(dir.File("disk.img"), bytes);
    std::vector<uint8_t> data(256, 0x5A);
    {
        auto image = OpenFloppyImage(dir.File("disk.img"), false, KnowsOnly(geometry));
        ASSERT_TRUE(image->LoadTrack(17));
        ASSERT_TRUE(image->WriteSector(17, 0, 0, 3, 0xFB, data.data()));
        ASSERT_TRUE(image->Flush());
        image->CommitChange();
    }
    auto expected = bytes;
    std::copy(data.begin(), data.end(), expected.begin() + SectorOffset(shape, 17, 0, 3));
    EXPECT_EQ(ImageTest::ReadAll(dir.File("disk.img")), expected);

    // A new layout, a track past the end or a directory mark has no place in the file:
    // refused, and nothing written.
    auto image = OpenFloppyImage(dir.File("disk.img"), false, KnowsOnly(geometry));
    EXPECT_FALSE(image->FormatTrack(20, 18, 1, false, 0xFB, true, 1));
    EXPECT_FALSE(image->FormatTrack(35, 10, 1, false, 0xFB, false, 1));
    ASSERT_TRUE(image->LoadTrack(17));
    ASSERT_TRUE(image->WriteSector(17, 0, 0, 4, 0xFA, data.data()));
    EXPECT_FALSE(image->Flush());
    image.reset();
    EXPECT_EQ(ImageTest::ReadAll(dir.File("disk.img")), expected);

    // The dump's own layout formats: the track's sectors hold what the formatter writes.
    image = OpenFloppyImage(dir.File("disk.img"), false, KnowsOnly(geometry));
    ASSERT_TRUE(image->FormatTrack(20, 10, 1, false, 0xFB, false, 1));
    ASSERT_TRUE(image->Flush());
    image->CommitChange();
    image.reset();
    const auto after = ImageTest::ReadAll(dir.File("disk.img"));
    ASSERT_EQ(after.size(), expected.size());
    const size_t start = SectorOffset(shape, 20, 0, 0), end = SectorOffset(shape, 21, 0, 0);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + start, expected.begin()));
    EXPECT_TRUE(std::equal(after.begin() + end, after.end(), expected.begin() + end));
    EXPECT_FALSE(std::equal(after.begin() + start, after.begin() + end, expected.begin() + start));
}

// A new dump takes the layout of the first track laid out on it, and keeps every track in
// order, sides interleaved, exactly as a dump of that layout is read.
TEST(RawDumpTest, ANewDumpTakesTheLayoutOfItsFirstTrack) {
    const std::pair<Shape, int> cases[] = {
        {{10, 256, false, 1, 3}, 0},  // Model I single density, sectors from 0
        {{10, 512, true, 2, 3}, 1},   // CP/M double density, two sides, sectors from 1
        {{26, 128, false, 1, 2}, 1},  // the 8-inch interchange layout
    };
    for (const auto& [shape, first] : cases) {
        SCOPED_TRACE(std::to_string(shape.sectors) + " x " + std::to_string(shape.size));
        ScratchDir dir;
        {
            auto image = CreateFloppyImage(dir.File("new.img"), ImageRaw);
            for (int track = 0; track < shape.tracks; ++track) {
                ASSERT_TRUE(image->LayOutTrack(track, TrackSectors(shape, track, first)));
                ASSERT_TRUE(image->Flush());
            }
            image->CommitChange();
        }
        EXPECT_EQ(ImageTest::ReadAll(dir.File("new.img")), DumpBytes(shape, first));
    }
}

// Once the first track has set the layout, a side the dump cannot keep whole is refused,
// and the reason names the first sector at fault.
TEST(RawDumpTest, ANewDumpRefusesTracksOfAnotherLayout) {
    const Shape shape{10, 256, false, 1, 1};
    struct Fault {
        const char* what;
        std::function<void(std::array<std::vector<TTrackSector>, 2>&)> change;
        const char* reason;
    };
    const Fault faults[] = {
        {"directory mark", [](auto& sides) { sides[0][5].DAM = 0xFA; }, "sector 4 would lose its data address mark"},
        {"CRC error", [](auto& sides) { sides[0][2].CrcError = true; }, "sector 7 has a CRC error"},
        {"other size", [](auto& sides) { sides[0][0].Size = 128, sides[0][0].Data.resize(128); }, "sector 9 (single-density, 128 bytes)"},
        {"other density", [](auto& sides) { sides[0][9].Density = true; }, "sector 0 (double-density, 256 bytes)"},
        {"missing sector", [](auto& sides) { sides[0].erase(sides[0].begin() + 1); }, "sector 8 is missing"},
        {"second side", [](auto& sides) { sides[1] = sides[0]; }, "sector 9 would be lost"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        ScratchDir dir;
        auto image = CreateFloppyImage(dir.File("new.img"), ImageRaw);
        ASSERT_TRUE(image->LayOutTrack(0, TrackSectors(shape, 0, 0)));
        ASSERT_TRUE(image->Flush());
        auto sides = TrackSectors(shape, 1, 0);
        fault.change(sides);
        const RawDump::Geometry geometry = static_cast<RawDump&>(*image).GetGeometry();
        std::string reason;
        for (int side = 0; side < 2 && reason.empty(); ++side) reason = RawDump::SideLoss(geometry, side, sides[side]);
        EXPECT_NE(reason.find(fault.reason), std::string::npos) << reason;
        EXPECT_FALSE(image->LayOutTrack(1, sides));
        image->CommitChange();
        image.reset();
        EXPECT_EQ(ImageTest::ReadAll(dir.File("new.img")), DumpBytes(shape, 0));
    }
}
