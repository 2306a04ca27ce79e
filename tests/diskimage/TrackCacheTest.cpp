// The shortcuts of sector reading: the index of ID fields a read skips through, and
// the tracks kept for a switch back. Both must give exactly what a controller's scan
// of a freshly built track gives, however the track was laid out or changed.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>
#include <vector>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;

namespace {

// The controller's search as it reads, byte by byte from the index hole, without shortcuts.
ImageTest::ReadResult ScanForSector(TFloppyImage& image, int track, int side, bool density, int sector,
                                    bool ignoreSide, bool acceptCrcError) {
    ImageTest::ReadResult result;
    CellState state;
    state.side = side;
    state.density = density;
    state.passes = 1;
    const int markLimit = density ? 43 : 30;
    while (state.passes > 0) {
        if (!image.RawSide(state.side).FindIDMark(state)) return result;
        uint8_t id[6];
        if (!image.RawSide(state.side).ReadIDField(state, id)) continue;
        if (state.crc != 0 || id[0] != track || (!ignoreSide && id[1] != side) || id[2] != sector ||
            id[3] > TRawTrack::MaxSizeCode)
            continue;
        uint8_t mark = 0;
        if (!image.RawSide(state.side).FindDataMark(state, markLimit, mark)) continue;
        const int length = 128 << id[3];
        std::vector<uint8_t> data;
        for (int i = 0; i < length + 2; ++i) {
            if (!image.RawSide(state.side).ReadTrackByte(state)) return result;
            if (i < length) data.push_back(state.value);
        }
        if (state.crc == 0 || acceptCrcError) {
            result.ok = true;
            result.size = length;
            result.dam = mark;
            result.data = data;
            return result;
        }
    }
    return result;
}

void ExpectSameRead(const ImageTest::ReadResult& got, const ImageTest::ReadResult& expected) {
    ASSERT_EQ(got.ok, expected.ok);
    if (!expected.ok) return;
    EXPECT_EQ(got.size, expected.size);
    EXPECT_EQ(got.dam, expected.dam);
    EXPECT_EQ(got.data, expected.data);
}

// Lays out a side the way no formatter would: sectors of random sizes, numbers, densities
// and track fields, bad CRCs, stray address marks, sync runs and overlapping fields.
void LayRandomSide(TFloppyImage& image, int side, std::mt19937& random) {
    auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    CellState state;
    state.side = side;
    state.density = pick(2) == 1;
    state.passes = 1;
    image.RawSide(state.side).WriteTrackStart(state);
    while (state.passes > 0 && state.position < image.RawSide(0).Length() - 40) {
        state.density = pick(4) != 0 ? state.density : !state.density;
        std::vector<uint8_t> data(128 << pick(3));
        for (uint8_t& byte : data) byte = pick(8) == 0 ? 0xFE : static_cast<uint8_t>(random());
        switch (pick(6)) {
            case 0:  // stray marks and sync bytes
                for (int i = 0, n = 1 + pick(6); i < n; ++i)
                    image.RawSide(state.side).WriteTrackByte(state, std::array<uint8_t, 6>{0xF5, 0xFE, 0xFB, 0xF8, 0xA1, 0x00}[pick(6)]);
                break;
            case 1:  // an ID field with no data field after it
                state.position = std::max(0, state.position - pick(30));
                [[fallthrough]];
            default:
                image.RawSide(state.side).WriteFormattedSector(state, pick(4) == 0 ? 1 : 0, pick(3) == 0 ? 1 - side : side, pick(12),
                                           static_cast<int>(data.size()), static_cast<uint8_t>(0xF8 + pick(4)),
                                           data.data(), pick(5) == 0, pick(2) == 0);
        }
    }
}

// FindIDMark as the controller reads: one byte at a time through ReadTrackByte.
bool FindIDMarkByteByByte(TFloppyImage& image, CellState& state) {
    int syncCount = 0;
    for (;;) {
        state.crc = state.density ? 0xCDB4 : 0xFFFF;
        if (!image.RawSide(state.side).ReadTrackByte(state)) {
            if (state.passes <= 0) return false;
            syncCount = 0;
            continue;
        }
        if (!state.density) {
            if (state.value == 0xFE && state.mark) return true;
            continue;
        }
        if (state.value == 0xA1 && state.mark) {
            ++syncCount;
            continue;
        }
        const bool found = state.value == 0xFE && syncCount == 3;
        syncCount = 0;
        if (found) return true;
    }
}

// ID marks after sync runs of every length, and single-density marks on odd cells.
void LayMarkRuns(TFloppyImage& image, int side, std::mt19937& random) {
    for (int run = 0; run < 12; ++run) {
        CellState state;
        state.side = side;
        state.density = run % 3 != 0;
        state.position = static_cast<int>(random() % static_cast<unsigned>(image.RawSide(0).Length() - 16));
        for (int sync = run % 6; state.density && sync > 0; --sync) image.RawSide(state.side).WriteTrackByte(state, 0xF5);
        image.RawSide(state.side).WriteTrackByte(state, 0xFE);
    }
}

void ExpectSameCursor(const CellState& got, const CellState& expected) {
    EXPECT_EQ(got.value, expected.value);
    EXPECT_EQ(got.side, expected.side);
    EXPECT_EQ(got.density, expected.density);
    EXPECT_EQ(got.mark, expected.mark);
    EXPECT_EQ(got.position, expected.position);
    EXPECT_EQ(got.crc, expected.crc);
    EXPECT_EQ(got.count, expected.count);
    EXPECT_EQ(got.passes, expected.passes);
}

}  // namespace

TEST(TrackCache, SectorReadsMatchTheControllersScanOnAnyTrack) {
    ImageTest::ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("random.dmk"), ImageDMK);
    ASSERT_TRUE(image->LoadTrack(0));
    std::mt19937 random(20261210);
    for (int round = 0; round < 24; ++round) {
        for (int side = 0; side < 2; ++side) LayRandomSide(*image, side, random);
        // Every request twice: the second read goes through the index the first one built.
        for (int pass = 0; pass < 2; ++pass) {
            for (int side = 0; side < 2; ++side)
                for (int density = 0; density < 2; ++density)
                    for (int sector = 0; sector < 12; ++sector)
                        for (int flags = 0; flags < 4; ++flags) {
                            SCOPED_TRACE(testing::Message() << "round " << round << " side " << side << " density "
                                                            << density << " sector " << sector << " flags " << flags);
                            ExpectSameRead(ImageTest::Read(*image, 0, side, density, sector, flags & 1, flags & 2),
                                           ScanForSector(*image, 0, side, density, sector, flags & 1, flags & 2));
                        }
        }
        // A write changes the track under the index.
        ImageTest::Write(*image, 0, 0, random() % 2, random() % 12, std::vector<uint8_t>(1024, round));
        ExpectSameRead(ImageTest::Read(*image, 0, 0, 1, 3), ScanForSector(*image, 0, 0, true, 3, false, false));
    }
}

// Tracks 0 to 5 of a single-density, ten-sector disk, each sector with its own pattern.
class KeptTracks : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        path = dir.File("disk.img");
        auto image = CreateFloppyImage(path, GetParam());
        for (int track = 0; track < Tracks; ++track) {
            ASSERT_TRUE(image->FormatTrack(track, 10, 1, false, 0xFB, false, 1));
            for (int sector = 0; sector < 10; ++sector)
                ASSERT_TRUE(ImageTest::Write(*image, track, 0, 0, sector, ImageTest::SectorPattern(track, 0, sector, 256)));
        }
        ASSERT_TRUE(image->Flush());
    }

    // What a fresh image on the file reads for every sector of the track.
    std::map<int, ImageTest::ReadResult> FromFile(int track) {
        auto fresh = OpenFloppyImage(path, true);
        std::map<int, ImageTest::ReadResult> sectors;
        for (int sector = 0; sector < 10; ++sector) sectors[sector] = ImageTest::Read(*fresh, track, 0, 0, sector);
        return sectors;
    }

    void ExpectTrackAsInFile(TFloppyImage& image, int track) {
        std::map<int, ImageTest::ReadResult> expected = FromFile(track);
        for (int sector = 0; sector < 10; ++sector) {
            SCOPED_TRACE(testing::Message() << "track " << track << " sector " << sector);
            ExpectSameRead(ImageTest::Read(image, track, 0, 0, sector), expected[sector]);
        }
    }

    static constexpr int Tracks = 6;
    ImageTest::ScratchDir dir;
    std::string path;
};

TEST_P(KeptTracks, SwitchingBackNeverServesAStaleTrack) {
    auto image = OpenFloppyImage(path);
    // Visit every track more often than the cache holds tracks, changing some on the way.
    std::mt19937 random(7);
    for (int step = 0; step < 80; ++step) {
        const int track = static_cast<int>(random() % Tracks);
        if (step % 5 == 4) {
            // The change is written back when the next track is loaded, and never lost.
            const int sector = static_cast<int>(random() % 10);
            ASSERT_TRUE(ImageTest::Write(*image, track, 0, 0, sector, std::vector<uint8_t>(256, step)));
            EXPECT_EQ(ImageTest::Read(*image, track, 0, 0, sector).data, std::vector<uint8_t>(256, step));
            continue;
        }
        ASSERT_TRUE(image->Flush());
        ExpectTrackAsInFile(*image, track);
    }
    // A reformatted track replaces the kept one: its sectors hold the format's fill.
    ASSERT_TRUE(image->LoadTrack(2));
    ASSERT_TRUE(image->LoadTrack(3));
    ASSERT_TRUE(image->FormatTrack(2, 10, 1, false, 0xFB, false, 1));
    ASSERT_TRUE(image->LoadTrack(3));
    ASSERT_TRUE(image->LoadTrack(2));
    EXPECT_EQ(ImageTest::Read(*image, 2, 0, 0, 4).data, std::vector<uint8_t>(256, 0xE5));
    ASSERT_TRUE(image->Flush());
    ExpectTrackAsInFile(*image, 2);
}

std::string FormatName(const ::testing::TestParamInfo<int>& info) {
    const char* names[] = {"JV1", "JV3", "DMK", "JVC", "IMD", "HFE"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, KeptTracks, ::testing::Values(ImageJV1, ImageJV3, ImageDMK, ImageHFE), FormatName);

// The searches that walk the cells directly leave the cursor exactly where reading byte by
// byte leaves it, from any start, in either density, over the end of the revolution.
TEST(TrackCache, CellSearchesMatchReadingByteByByte) {
    ImageTest::ScratchDir dir;
    auto image = CreateFloppyImage(dir.File("random.dmk"), ImageDMK);
    ASSERT_TRUE(image->LoadTrack(0));
    std::mt19937 random(1210);
    std::vector<uint8_t> fast(TFloppyImage::SectorBufferSize + 2), slow(fast.size());
    for (int round = 0; round < 16; ++round) {
        for (int side = 0; side < 2; ++side) {
            LayRandomSide(*image, side, random);
            LayMarkRuns(*image, side, random);
        }
        for (int start = 0; start < 64; ++start) {
            CellState expected;
            expected.side = static_cast<int>(random() % 2);
            expected.density = random() % 2 == 1;
            expected.position = static_cast<int>(random() % (image->RawSide(0).Length() + 8)) - 4;
            expected.passes = 1 + static_cast<int>(random() % 2);
            expected.value = 0x5A;
            CellState got = expected;
            SCOPED_TRACE(testing::Message() << "round " << round << " start " << start << " at "
                                            << expected.position);
            const bool expectedFound = FindIDMarkByteByByte(*image, expected);
            ASSERT_EQ(image->RawSide(got.side).FindIDMark(got), expectedFound);
            ExpectSameCursor(got, expected);

            // A data field of any length read from just after the mark, or from anywhere.
            if (!expectedFound || random() % 4 == 0) {
                expected.position = static_cast<int>(random() % image->RawSide(0).Length());
                expected.passes = 1;
                got = expected;
            }
            const int length = 128 << (random() % 6);
            bool expectedRead = true;
            for (int i = 0; i < length + 2 && expectedRead; ++i) {
                expectedRead = image->RawSide(expected.side).ReadTrackByte(expected);
                if (expectedRead) slow[i] = expected.value;
            }
            ASSERT_EQ(image->RawSide(got.side).ReadDataField(got, length, fast.data()), expectedRead);
            ExpectSameCursor(got, expected);
            if (expectedRead) {
                EXPECT_TRUE(std::equal(fast.begin(), fast.begin() + length, slow.begin()));
            }
        }
    }
}
