// IMD: every kind of sector record reads as a controller would see the sector, what a
// raw track cannot show is kept in the file while its track keeps its layout, damaged
// files are refused untouched, and conversions keep every sector or name the one at fault.
#include <gtest/gtest.h>

#include <filesystem>

#include "ImageTestSupport.h"
#include "diskimage/IMD.h"
#include "diskimage/ImageConvert.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

const std::string Comment = "A test disk\r\nsecond line";

std::vector<uint8_t> HeaderBytes() {
    const std::string text = "IMD 1.18: 01/02/2003 04:05:06\r\n" + Comment + "\x1A";
    return {text.begin(), text.end()};
}

void Append(std::vector<uint8_t>& out, std::initializer_list<int> bytes) {
    for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
}

std::vector<uint8_t> Filled(int size, uint8_t value) { return std::vector<uint8_t>(static_cast<size_t>(size), value); }

// Track 0 side 0: one sector of each record kind, numbered after the kind (1-8), then an
// unavailable sector 9. Track 0 side 1: two single-density sectors of 128 and 256 bytes
// (a size table) whose ID fields say head 0. Track 1 side 0: sector 1 with ID cylinder 7.
std::vector<uint8_t> EveryRecordKind() {
    std::vector<uint8_t> file = HeaderBytes();
    Append(file, {5, 0, 0, 9, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    for (int kind = 1; kind <= 8; ++kind) {
        file.push_back(static_cast<uint8_t>(kind));
        if (kind % 2 == 0) {
            file.push_back(static_cast<uint8_t>(0x40 + kind));  // compressed: one byte for all
        } else {
            const auto data = ImageTest::SectorPattern(0, 0, kind, 256);
            file.insert(file.end(), data.begin(), data.end());
        }
    }
    file.push_back(0);  // unavailable
    Append(file, {2, 0, 1 | 0x40, 2, 0xFF, 3, 4, 0, 0, 128, 0, 0, 1, 2, 0x11, 2, 0x22});
    Append(file, {5, 1, 0 | 0x80, 1, 1, 1, 7, 2, 0x33});
    return file;
}

struct Expected {
    int sector;
    bool readable;
    uint8_t dam;
    bool crcError;
};

}  // namespace

TEST(IMDTest, EveryRecordKindReadsAsTheControllerWouldSeeIt) {
    ScratchDir dir;
    const std::string path = dir.File("kinds.imd");
    ImageTest::WriteAll(path, EveryRecordKind());
    auto image = OpenFloppyImage(path);
    ASSERT_EQ(image->GetFormatName(), "IMD");
    auto& imd = dynamic_cast<IMD&>(*image);
    EXPECT_EQ(imd.GetComment(), Comment);
    EXPECT_EQ(imd.UnavailableSectorCount(), 1);
    EXPECT_EQ(image->StoredSectorCount(0), 9);  // the unavailable one counts: a check reports it missing

    const Expected expected[] = {{1, true, 0xFB, false}, {2, true, 0xFB, false}, {3, true, 0xF8, false},
                                 {4, true, 0xF8, false}, {5, true, 0xFB, true},  {6, true, 0xFB, true},
                                 {7, true, 0xF8, true},  {8, true, 0xF8, true},  {9, false, 0, false}};
    for (const auto& e : expected) {
        SCOPED_TRACE("sector " + std::to_string(e.sector));
        auto result = ImageTest::Read(*image, 0, 0, 1, e.sector, false, true);
        ASSERT_EQ(result.ok, e.readable);
        if (!e.readable) continue;
        EXPECT_EQ(result.dam, e.dam);
        EXPECT_EQ(result.data, e.sector % 2 == 0 ? Filled(256, static_cast<uint8_t>(0x40 + e.sector))
                                                 : ImageTest::SectorPattern(0, 0, e.sector, 256));
        std::vector<uint8_t> buffer(TFloppyImage::SectorBufferSize);
        int size = 0;
        uint8_t dam = 0;
        bool crcError = false;
        image->ReadSector(0, 0, 1, e.sector, size, dam, buffer.data(), false, true, &crcError);
        EXPECT_EQ(crcError, e.crcError);
    }
    // The head map: side 1's sectors carry head 0 in their ID fields.
    EXPECT_FALSE(ImageTest::Read(*image, 0, 1, 0, 3).ok);
    EXPECT_EQ(ImageTest::Read(*image, 0, 1, 0, 3, true).data, Filled(128, 0x11));
    EXPECT_EQ(ImageTest::Read(*image, 0, 1, 0, 4, true).data, Filled(256, 0x22));
    // The cylinder map: an ID field of cylinder 7 is not found on track 1, as on the real disk.
    ASSERT_TRUE(image->LoadTrack(1));
    EXPECT_TRUE(image->ReadTrackSide(0).empty());
    EXPECT_EQ(image->StoredSectorCount(0), 1);
}

TEST(IMDTest, WritingKeepsTheCommentMapsAndUnavailableSectorsAndCompressesEqualBytes) {
    ScratchDir dir;
    const std::string path = dir.File("kinds.imd");
    const std::vector<uint8_t> original = EveryRecordKind();
    ImageTest::WriteAll(path, original);
    {
        auto image = OpenFloppyImage(path);
        ASSERT_TRUE(ImageTest::Write(*image, 0, 0, 1, 1, Filled(256, 0x5A)));
        ASSERT_TRUE(image->LoadTrack(1));  // writes track 0 back
        // Written back unchanged, track 0 side 1 keeps its head map and size table byte for byte.
        image->CommitChange();
    }
    const std::vector<uint8_t> written = ImageTest::ReadAll(path);
    // Sector 1 (256 bytes) is now compressed to one: the file is 255 bytes shorter, the rest as it was.
    ASSERT_EQ(written.size(), original.size() - 255);
    const size_t recordStart = HeaderBytes().size() + 5 + 9;
    EXPECT_TRUE(std::equal(original.begin(), original.begin() + recordStart, written.begin()));
    EXPECT_EQ(written[recordStart], 2);
    EXPECT_EQ(written[recordStart + 1], 0x5A);
    EXPECT_TRUE(std::equal(original.begin() + recordStart + 257, original.end(), written.begin() + recordStart + 2));

    auto image = OpenFloppyImage(path);
    const auto& imd = dynamic_cast<IMD&>(*image);
    EXPECT_EQ(imd.GetComment(), Comment);
    ASSERT_NE(imd.FindTrack(0, 0), nullptr);
    EXPECT_FALSE(imd.FindTrack(0, 0)->Sectors.back().Available);
    EXPECT_EQ(ImageTest::Read(*image, 0, 0, 1, 1).data, Filled(256, 0x5A));
}

TEST(IMDTest, DamagedFilesAreRefusedAndLeftAsTheyWere) {
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
    };
    const size_t track0 = HeaderBytes().size();
    const Damage damages[] = {
        {"a record cut short", [](std::vector<uint8_t>& f) { f.resize(f.size() - 1); }},
        {"a track header cut short", [&](std::vector<uint8_t>& f) { f.resize(track0 + 3); }},
        {"no end of the comment", [&](std::vector<uint8_t>& f) { f.resize(track0 - 1); }},
        {"mode 6", [&](std::vector<uint8_t>& f) { f[track0] = 6; }},
        {"head 2", [&](std::vector<uint8_t>& f) { f[track0 + 2] = 2; }},
        {"size code 7", [&](std::vector<uint8_t>& f) { f[track0 + 4] = 7; }},
        {"size code 6: 8192-byte sectors", [&](std::vector<uint8_t>& f) { f[track0 + 4] = 6; }},
        {"record kind 9", [&](std::vector<uint8_t>& f) { f[track0 + 5 + 9] = 9; }},
        {"a sector size of 100 in a table", [](std::vector<uint8_t>& f) {
             const std::vector<uint8_t> table = {128, 0, 0, 1};
             auto at = std::search(f.begin(), f.end(), table.begin(), table.end());
             *at = 100;
         }},
        {"the same track twice", [](std::vector<uint8_t>& f) { Append(f, {5, 0, 0, 1, 1, 1, 2, 0}); }},
        {"another signature", [](std::vector<uint8_t>& f) { f[3] = '!'; }},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        ScratchDir dir;
        const std::string path = dir.File("bad.imd");
        std::vector<uint8_t> bytes = EveryRecordKind();
        damage.spoil(bytes);
        ImageTest::WriteAll(path, bytes);
        EXPECT_THROW(OpenFloppyImageAs(path, ImageIMD), TDiskImage::EInvalidFormat);
        // A file that still says it is IMD is never taken for another format.
        if (std::equal(bytes.begin(), bytes.begin() + 4, "IMD ")) {
            EXPECT_THROW(OpenFloppyImage(path, false, [](TFloppyImage&) { return true; }), TDiskImage::EInvalidFormat);
        }
        EXPECT_EQ(ImageTest::ReadAll(path), bytes);
    }
}

TEST(IMDTest, ConversionKeepsEverySectorOrNamesTheOneIMDCannotKeep) {
    ScratchDir dir;
    // A disk with what IMD keeps and a raw track can show: deleted marks, a CRC error,
    // sectors of two sizes, single density on one track.
    {
        auto image = CreateFloppyImage(dir.File("start.dmk"), ImageDMK);
        for (int track = 0; track < 3; ++track) {
            std::array<std::vector<TTrackSector>, 2> sides;
            const bool density = track != 1;
            for (int s = 0; s < 8; ++s) {
                const int size = s == 3 ? 512 : 256;
                sides[0].push_back({s + 1, size, density, uint8_t(s == 2 ? 0xF8 : 0xFB), s == 5,
                                    ImageTest::SectorPattern(track, 0, s, size)});
            }
            sides[1] = {{1, 256, density, 0xFB, false, Filled(256, 0xE5)}};
            ASSERT_TRUE(image->LayOutTrack(track, sides));
        }
        ASSERT_TRUE(image->Flush());
        image->CommitChange();
    }
    ConvertImage(dir.File("start.dmk"), dir.File("middle.imd"), ImageIMD);
    ConvertImage(dir.File("middle.imd"), dir.File("end.dmk"), ImageDMK);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("start.dmk")), ImageTest::ReadAll(dir.File("end.dmk")));

    struct Refusal {
        const char* what;
        std::vector<TTrackSector> side;
        const char* message;
    };
    const Refusal refusals[] = {
        {"a mark IMD cannot tell", {{4, 256, false, 0xF9, false, Filled(256, 1)}},
         "track 0, side 0, sector 4 would lose its data address mark in IMD"},
        {"two densities on one side",
         {{1, 256, false, 0xFB, false, Filled(256, 1)}, {2, 256, true, 0xFB, false, Filled(256, 2)}},
         "track 0, side 0, sector 2 is of another density"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        ScratchDir scratch;
        {
            auto image = CreateFloppyImage(scratch.File("odd.dmk"), ImageDMK);
            ASSERT_TRUE(image->LayOutTrack(0, {refusal.side, {}}));
            ASSERT_TRUE(image->Flush());
            image->CommitChange();
        }
        try {
            ConvertImage(scratch.File("odd.dmk"), scratch.File("odd.imd"), ImageIMD);
            ADD_FAILURE() << "converted";
        } catch (const EConversionRefused& error) {
            EXPECT_NE(std::string(error.what()).find(refusal.message), std::string::npos) << error.what();
        }
        EXPECT_FALSE(std::filesystem::exists(scratch.File("odd.imd")));
        // Laid out on an IMD image directly, the track is refused and nothing is written.
        auto image = CreateFloppyImage(scratch.File("direct.imd"), ImageIMD);
        EXPECT_FALSE(image->LayOutTrack(0, {refusal.side, {}}));
    }
}

// A CP/M Plus boot disk archived from a real drive: 80 cylinders, two heads, ten 512-byte
// sectors a side, normal and compressed records.
TEST(IMDTest, TheRealArchivedDiskReadsWholeAndSurvivesARoundTripThroughDMK) {
    const std::string fixture = (ImageTest::RealImagesDir() / "imd-mfm80ds-512b-cpm3-genie3s-boot.imd").string();
    if (!std::filesystem::exists(fixture)) GTEST_SKIP() << "fixtures not present";
    auto image = OpenFloppyImage(fixture, true);
    ASSERT_EQ(image->GetFormatName(), "IMD");
    EXPECT_EQ(dynamic_cast<IMD&>(*image).GetComment().rfind("Genie IIIs", 0), 0u);
    const auto tracks = ReadAllTracks(*image);
    ASSERT_EQ(tracks.size(), 80u);
    int sectors = 0;
    for (const auto& track : tracks) {
        for (const auto& side : track.Sides) {
            ASSERT_EQ(side.size(), 10u) << "track " << track.Track;
            for (const auto& sector : side) {
                EXPECT_FALSE(sector.CrcError);
                EXPECT_EQ(sector.Size, 512);
                EXPECT_TRUE(sector.Density);
                ++sectors;
            }
        }
    }
    EXPECT_EQ(sectors, 1600);

    ScratchDir dir;
    ConvertImage(fixture, dir.File("copy.dmk"), ImageDMK);
    ConvertImage(dir.File("copy.dmk"), dir.File("back.imd"), ImageIMD);
    auto back = OpenFloppyImage(dir.File("back.imd"), true);
    const auto backTracks = ReadAllTracks(*back);
    ASSERT_EQ(backTracks.size(), tracks.size());
    for (size_t t = 0; t < tracks.size(); ++t) {
        for (int side = 0; side < 2; ++side) {
            ASSERT_EQ(backTracks[t].Sides[side].size(), tracks[t].Sides[side].size());
            for (size_t s = 0; s < tracks[t].Sides[side].size(); ++s) {
                EXPECT_TRUE(SameSector(tracks[t].Sides[side][s], backTracks[t].Sides[side][s]))
                    << "track " << t << " side " << side << " index " << s;
                EXPECT_EQ(tracks[t].Sides[side][s].DAM, backTracks[t].Sides[side][s].DAM);
            }
        }
    }
    // Each record as it was, but for the data rate, which DMK does not keep: compressed
    // records stay compressed, so the tracks are byte for byte the same size.
    const auto original = ImageTest::ReadAll(fixture);
    const auto copy = ImageTest::ReadAll(dir.File("back.imd"));
    const auto records = [](const std::vector<uint8_t>& bytes) {
        return static_cast<size_t>(bytes.end() - std::find(bytes.begin(), bytes.end(), 0x1A));
    };
    EXPECT_EQ(records(copy), records(original));
}
