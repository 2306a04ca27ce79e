// Converting floppy images between JV1, JV3 and DMK: what goes across, what is
// refused, and that a refusal leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ImageTestSupport.h"
#include "diskimage/ImageConvert.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

TTrackSector MakeSector(int track, int side, int number, int size, bool density, uint8_t dam = 0xFB,
                        bool crcError = false) {
    TTrackSector sector;
    sector.Sector = number;
    sector.Size = size;
    sector.Density = density;
    sector.DAM = dam;
    sector.CrcError = crcError;
    sector.Data = ImageTest::SectorPattern(track, side, number, size);
    return sector;
}

// Writes an image of the type whose tracks hold exactly the given sectors.
void WriteImage(const std::string& path, int imageType, const std::vector<TTrackContents>& tracks) {
    auto image = CreateFloppyImage(path, imageType);
    for (const auto& track : tracks) {
        ASSERT_TRUE(image->LayOutTrack(track.Track, track.Sides)) << "track " << track.Track;
    }
    ASSERT_TRUE(image->Flush());
}

std::vector<TTrackContents> ReadBack(const std::string& path) {
    auto image = OpenFloppyImage(path, true);
    return ReadAllTracks(*image);
}

// Every sector of a, in the same physical order, is in b and nothing else is.
void ExpectSameSectors(const std::vector<TTrackContents>& a, const std::vector<TTrackContents>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t t = 0; t < a.size(); ++t) {
        ASSERT_EQ(a[t].Track, b[t].Track);
        for (int side = 0; side < 2; ++side) {
            const auto& sa = a[t].Sides[side];
            const auto& sb = b[t].Sides[side];
            ASSERT_EQ(sa.size(), sb.size()) << "track " << a[t].Track << " side " << side;
            for (size_t i = 0; i < sa.size(); ++i) {
                EXPECT_TRUE(SameSector(sa[i], sb[i])) << "track " << a[t].Track << " side " << side << " #" << i;
            }
        }
    }
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A disk of odd things DMK and JV3 both keep: mixed densities on one track, both
// sides, 128 and 512-byte sectors, a deleted-data mark and a sector with a CRC error.
std::vector<TTrackContents> MixedDisk() {
    std::vector<TTrackContents> tracks(3);
    for (int t = 0; t < 3; ++t) tracks[t].Track = t;
    for (int s : {0, 5, 1, 6, 2, 7, 3, 8, 4, 9}) tracks[0].Sides[0].push_back(MakeSector(0, 0, s, 256, false));
    tracks[1].Sides[0] = {MakeSector(1, 0, 3, 128, false), MakeSector(1, 0, 1, 512, true, 0xF8),
                          MakeSector(1, 0, 2, 256, true, 0xFB, true), MakeSector(1, 0, 7, 128, false, 0xFA)};
    tracks[1].Sides[1] = {MakeSector(1, 1, 17, 1024, true), MakeSector(1, 1, 18, 256, true)};
    for (int s = 1; s <= 18; ++s) tracks[2].Sides[1].push_back(MakeSector(2, 1, s, 256, true));
    return tracks;
}

}  // namespace

TEST(ImageConvertTest, LayOutTrackKeepsOrderMarksAndCrcErrors) {
    ScratchDir dir;
    const auto disk = MixedDisk();
    WriteImage(dir.File("mixed.dmk"), ImageDMK, disk);
    auto back = ReadBack(dir.File("mixed.dmk"));
    ExpectSameSectors(disk, back);
    // Physical order across both densities of a track, and the exact marks, stay as laid out.
    ASSERT_EQ(back[1].Sides[0].size(), 4u);
    EXPECT_EQ(back[1].Sides[0][0].Sector, 3);
    EXPECT_FALSE(back[1].Sides[0][0].Density);
    EXPECT_EQ(back[1].Sides[0][1].DAM, 0xF8);
    EXPECT_TRUE(back[1].Sides[0][2].CrcError);
}

TEST(ImageConvertTest, DMKAndJV3RoundTripsGiveBackTheSameSectors) {
    ScratchDir dir;
    const auto disk = MixedDisk();
    WriteImage(dir.File("start.dmk"), ImageDMK, disk);
    auto result = ConvertImage(dir.File("start.dmk"), dir.File("middle.jv3"), ImageJV3);
    EXPECT_EQ(result.Tracks, 3);
    EXPECT_EQ(result.Sectors, 10 + 4 + 2 + 18);
    ConvertImage(dir.File("middle.jv3"), dir.File("end.dmk"), ImageDMK);
    ConvertImage(dir.File("end.dmk"), dir.File("again.jv3"), ImageJV3);
    // JV3 keeps only "0xFB or not" for the data mark: compare by kind through SameSector.
    for (const char* name : {"middle.jv3", "end.dmk", "again.jv3"}) {
        SCOPED_TRACE(name);
        auto back = ReadBack(dir.File(name));
        ASSERT_EQ(back.size(), disk.size());
        for (size_t t = 0; t < disk.size(); ++t) {
            for (int side = 0; side < 2; ++side) {
                // JV3 stores single-density sectors of a side before double-density ones,
                // and lays 18 consecutive sectors out with interleave 3: compare as sets.
                ASSERT_EQ(back[t].Sides[side].size(), disk[t].Sides[side].size());
                for (const auto& sector : disk[t].Sides[side]) {
                    bool found = false;
                    for (const auto& copy : back[t].Sides[side]) found = found || SameSector(sector, copy);
                    EXPECT_TRUE(found) << "track " << t << " side " << side << " sector " << sector.Sector;
                }
            }
        }
    }
    // Once a disk has been through JV3, further copies keep even the physical order.
    ExpectSameSectors(ReadBack(dir.File("end.dmk")), ReadBack(dir.File("again.jv3")));
}

TEST(ImageConvertTest, JV1ThroughDMKAndJV3GivesBackTheSameFile) {
    ScratchDir dir;
    std::vector<TTrackContents> disk(40);
    for (int t = 0; t < 40; ++t) {
        disk[t].Track = t;
        for (int s : {0, 5, 1, 6, 2, 7, 3, 8, 4, 9}) {
            disk[t].Sides[0].push_back(MakeSector(t, 0, s, 256, false, t == 17 ? 0xFA : 0xFB));
        }
    }
    disk[0].Sides[0][0].Data[0] = 0x00;
    disk[0].Sides[0][0].Data[1] = 0xFE;
    WriteImage(dir.File("start.jv1"), ImageJV1, disk);
    ConvertImage(dir.File("start.jv1"), dir.File("middle.dmk"), ImageDMK);
    ConvertImage(dir.File("middle.dmk"), dir.File("middle.jv3"), ImageJV3);
    ConvertImage(dir.File("middle.jv3"), dir.File("end.jv1"), ImageJV1);
    ExpectSameSectors(disk, ReadBack(dir.File("middle.dmk")));
    EXPECT_EQ(ImageTest::ReadAll(dir.File("start.jv1")), ImageTest::ReadAll(dir.File("end.jv1")));
}

TEST(ImageConvertTest, LossyConversionsAreRefusedNamingTheSectorAndLeaveNoFile) {
    struct Case {
        const char* what;
        int type;
        TTrackSector sector;
        int track, side;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"double density into JV1", ImageJV1, MakeSector(3, 0, 4, 256, true), 3, 0, "track 3, side 0, sector 4"},
        {"side 1 into JV1", ImageJV1, MakeSector(2, 1, 0, 256, false), 2, 1, "track 2, side 1, sector 0"},
        {"sector 10 into JV1", ImageJV1, MakeSector(1, 0, 10, 256, false), 1, 0, "track 1, side 0, sector 10"},
        {"128 bytes into JV1", ImageJV1, MakeSector(1, 0, 2, 128, false), 1, 0, "track 1, side 0, sector 2"},
        {"CRC error into JV1", ImageJV1, MakeSector(1, 0, 2, 256, false, 0xFB, true), 1, 0, "CRC error"},
        {"deleted mark into JV1", ImageJV1, MakeSector(5, 0, 2, 256, false, 0xF8), 5, 0, "data address mark"},
        {"2048 bytes into JV3", ImageJV3, MakeSector(4, 0, 1, 2048, true), 4, 0, "track 4, side 0, sector 1"},
        {"mark 0xF9 into JV3", ImageJV3, MakeSector(4, 0, 1, 256, true, 0xF9), 4, 0, "data address mark"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::vector<TTrackContents> disk(1);
        disk[0].Track = c.track;
        disk[0].Sides[c.side].push_back(c.sector);
        WriteImage(dir.File("in.dmk"), ImageDMK, disk);
        try {
            ConvertImage(dir.File("in.dmk"), dir.File("out.img"), c.type);
            ADD_FAILURE() << "not refused";
        } catch (const EConversionRefused& refusal) {
            EXPECT_NE(std::string(refusal.what()).find(c.expected), std::string::npos) << refusal.what();
        }
        EXPECT_EQ(FolderEntries(dir.Path), std::vector<std::string>{"in.dmk"});
    }
}

TEST(ImageConvertTest, ExistingOutputIsKeptUnlessOverwriting) {
    ScratchDir dir;
    std::vector<TTrackContents> disk(1);
    disk[0].Sides[0].push_back(MakeSector(0, 0, 1, 256, true));
    WriteImage(dir.File("in.dmk"), ImageDMK, disk);
    ImageTest::WriteAll(dir.File("out.jv3"), {1, 2, 3});
    EXPECT_THROW(ConvertImage(dir.File("in.dmk"), dir.File("out.jv3"), ImageJV3), EConversionRefused);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("out.jv3")), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_THROW(ConvertImage(dir.File("in.dmk"), dir.File("in.dmk"), ImageJV3, true), EConversionRefused);
    ConvertImage(dir.File("in.dmk"), dir.File("out.jv3"), ImageJV3, true);
    ExpectSameSectors(disk, ReadBack(dir.File("out.jv3")));
}

// An image already open (as the desktop program holds it) converts as its file does,
// is refused as its file is, and never replaces itself.
TEST(ImageConvertTest, AnOpenImageConvertsAsItsFileDoes) {
    ScratchDir dir;
    const auto disk = MixedDisk();
    WriteImage(dir.File("start.dmk"), ImageDMK, disk);
    const auto byPath = ConvertImage(dir.File("start.dmk"), dir.File("by-path.jv3"), ImageJV3);
    auto source = OpenFloppyImage(dir.File("start.dmk"), true);
    const auto open = ConvertImage(*source, dir.File("start.dmk"), dir.File("open.jv3"), ImageJV3);
    EXPECT_EQ(open.Tracks, byPath.Tracks);
    EXPECT_EQ(open.Sectors, byPath.Sectors);
    ExpectSameSectors(ReadBack(dir.File("by-path.jv3")), ReadBack(dir.File("open.jv3")));
    EXPECT_THROW(ConvertImage(*source, dir.File("start.dmk"), dir.File("open.jv1"), ImageJV1), EConversionRefused);
    EXPECT_FALSE(std::filesystem::exists(dir.File("open.jv1")));
    EXPECT_THROW(ConvertImage(*source, dir.File("start.dmk"), dir.File("start.dmk"), ImageDMK, true),
                 EConversionRefused);
}

// Every real floppy image either converts to each other format with every sector
// intact, or is refused with the reason; nothing in between.
TEST(ImageConvertTest, RealImagesConvertLosslesslyOrAreRefused) {
    const char* env = std::getenv("QB_FIXTURES_DIR");
    std::filesystem::path root = std::filesystem::path(env ? env : QB_FIXTURES_DIR) / "real";
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no real fixtures";
    int converted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("jv1-", 0) != 0 && name.rfind("jv3-", 0) != 0 && name.rfind("dmk-", 0) != 0) continue;
        std::vector<TTrackContents> source;
        try {
            source = ReadBack(entry.path().string());
        } catch (const TDiskImage::Exception&) {
            continue;  // not a floppy image the containers accept
        }
        for (int type : {ImageJV1, ImageJV3, ImageDMK}) {
            SCOPED_TRACE(name + " -> " + ImageTypeName(type));
            ScratchDir dir;
            const std::string loss = FindConversionLoss(source, type);
            if (!loss.empty()) {
                EXPECT_THROW(ConvertImage(entry.path().string(), dir.File("out"), type), EConversionRefused);
                EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
                continue;
            }
            ConvertImage(entry.path().string(), dir.File("out"), type);
            auto copy = ReadBack(dir.File("out"));
            ASSERT_EQ(copy.size(), source.size());
            for (size_t t = 0; t < source.size(); ++t) {
                for (int side = 0; side < 2; ++side) {
                    for (const auto& sector : source[t].Sides[side]) {
                        bool found = false;
                        for (const auto& c : copy[t].Sides[side]) found = found || SameSector(sector, c);
                        EXPECT_TRUE(found) << "track " << source[t].Track << " side " << side << " sector "
                                           << sector.Sector;
                    }
                }
            }
            ++converted;
        }
    }
    EXPECT_GT(converted, 0);
}
