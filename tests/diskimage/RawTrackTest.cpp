#include <gtest/gtest.h>

#include <vector>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;

namespace {

// A floppy image with no file behind it: the raw track is all there is.
class MemoryFloppy : public TFloppyImage {
public:
    MemoryFloppy() { LoadTrack(0); }
    std::string GetFormatName() const override { return "memory"; }
    bool Flush() override {
        TrackFlushed();
        return true;
    }
    bool LoadTrack(int track) override {
        if (BeginLoadTrack(track) == TrackLoadStart::Build) {
            TrackLoaded();
        }
        return true;
    }
    int StoredSectorCount(int) const override { return 0; }
    void SetCell(int side, int position, Cell cell) { RawSide(side).Set(position, cell); }
};

CellState Cursor(int side, bool density) {
    CellState state;
    state.side = side;
    state.density = density;
    state.passes = 1;
    return state;
}


}  // namespace

TEST(RawTrack, SyncBytePresetGivesTheDoubleDensityPreset) {
    EXPECT_EQ(CrcStep(0x968B, 0xA1), 0xCDB4);
}

TEST(RawTrack, WriteTrackByteGivesControlBytesTheirMeaning) {
    struct Case {
        bool density;
        uint8_t byte;
        uint8_t written;
        bool mark;
    };
    const Case cases[] = {
        {true, 0xF5, 0xA1, true},  {true, 0xF6, 0xC2, true},  {true, 0xFE, 0xFE, false},
        {true, 0xFB, 0xFB, false}, {false, 0xF8, 0xF8, true}, {false, 0xFB, 0xFB, true},
        {false, 0xFE, 0xFE, true}, {false, 0xFC, 0xFC, true}, {false, 0xF5, 0xF5, false},
        {false, 0x4E, 0x4E, false},
    };
    for (const auto& c : cases) {
        MemoryFloppy floppy;
        CellState state = Cursor(0, c.density);
        ASSERT_TRUE(floppy.RawSide(state.side).WriteTrackByte(state, c.byte));
        Cell cell = floppy.RawSide(0).At(0);
        SCOPED_TRACE(testing::Message() << "byte " << int(c.byte) << " density " << c.density);
        EXPECT_EQ(cell & 0xFF, c.written);
        EXPECT_EQ((cell & CellMark) != 0, c.mark);
        EXPECT_EQ((cell & CellDoubleDensity) != 0, c.density);
        // A single-density byte fills two cells, a double-density byte one.
        EXPECT_EQ(state.position, c.density ? 1 : 2);
        EXPECT_EQ(floppy.RawSide(0).At(1), c.density ? Cell{0} : cell);
    }
}

TEST(RawTrack, CrcControlByteWritesTheRegisterAndKeepsIt) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, true);
    for (int i = 0; i < 3; ++i) {
        floppy.RawSide(state.side).WriteTrackByte(state, 0xF5);
    }
    EXPECT_EQ(state.crc, 0xCDB4);
    floppy.RawSide(state.side).WriteTrackByte(state, 0xFE);
    uint16_t crc = state.crc;
    floppy.RawSide(state.side).WriteTrackByte(state, 0xF7);
    EXPECT_EQ(state.crc, crc);
    EXPECT_EQ(floppy.RawSide(0).At(4) & 0xFF, crc >> 8);
    EXPECT_EQ(floppy.RawSide(0).At(5) & 0xFF, crc & 0xFF);
}

TEST(RawTrack, PutCellAtTheEndWrapsWithOnePassFewer) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, false);
    state.position = floppy.RawSide(0).Length() - 1;
    EXPECT_FALSE(floppy.RawSide(state.side).PutCell(state, 0x55));  // the second cell of the pair has no room
    EXPECT_EQ(state.position, 0);
    EXPECT_EQ(state.passes, 0);
    EXPECT_EQ(floppy.RawSide(0).At(floppy.RawSide(0).Length() - 1) & 0xFF, 0x55);
}

TEST(RawTrack, FormattedSectorsReadBackWithTheirFillAndDataMark) {
    struct Case {
        bool density;
        int sectors;
        int interleave;
        bool firstIsOne;
        uint8_t dam;
        std::vector<int> order;
    };
    const Case cases[] = {
        {false, 10, 2, false, 0xFB, {0, 5, 1, 6, 2, 7, 3, 8, 4, 9}},
        {true, 18, 3, false, 0xFA, {0, 6, 12, 1, 7, 13, 2, 8, 14, 3, 9, 15, 4, 10, 16, 5, 11, 17}},
        {true, 18, 6, true, 0xF8, {1, 4, 7, 10, 13, 16, 2, 5, 8, 11, 14, 17, 3, 6, 9, 12, 15, 18}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sectors << " sectors, interleave " << c.interleave);
        MemoryFloppy floppy;
        ASSERT_TRUE(floppy.FormatTrack(3, c.sectors, 2, c.firstIsOne, c.dam, c.density, c.interleave));
        EXPECT_EQ(ImageTest::PhysicalOrder(floppy, 3, 1, c.density), c.order);
        for (int side = 0; side < 2; ++side) {
            for (int s : c.order) {
                auto result = ImageTest::Read(floppy, 3, side, c.density, s);
                ASSERT_TRUE(result.ok) << "side " << side << " sector " << s;
                EXPECT_EQ(result.size, 256);
                EXPECT_EQ(result.dam, c.dam);
                for (int i = 0; i < 256; ++i) {
                    uint8_t fill = c.density ? ((i & 1) ? 0xB6 : 0x6D) : 0xE5;
                    ASSERT_EQ(result.data[i], fill) << "byte " << i;
                }
            }
        }
        // The same track read in the other density shows nothing.
        EXPECT_FALSE(ImageTest::Read(floppy, 3, 0, !c.density, c.order[0]).ok);
    }
}

TEST(RawTrack, FormatTrackRefusesWhatCannotFitOrBeLaidOut) {
    MemoryFloppy floppy;
    EXPECT_FALSE(floppy.FormatTrack(0, 11, 1, false, 0xFB, false, 1));  // 11 x 606 cells > 6272
    EXPECT_FALSE(floppy.FormatTrack(0, 19, 1, false, 0xFB, true, 1));
    EXPECT_FALSE(floppy.FormatTrack(0, 10, 3, false, 0xFB, false, 1));
    EXPECT_FALSE(floppy.FormatTrack(0, 10, 1, false, 0x00, false, 1));
    EXPECT_FALSE(floppy.FormatTrack(255, 10, 1, false, 0xFB, false, 1));
    EXPECT_TRUE(floppy.FormatTrack(0, 10, 1, false, 0xFB, false, 0));  // interleave 0 acts as 1
    EXPECT_EQ(ImageTest::PhysicalOrder(floppy, 0, 0, false), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(RawTrack, ReformattingLeavesNoTraceOfTheEarlierLayout) {
    MemoryFloppy floppy;
    ASSERT_TRUE(floppy.FormatTrack(0, 18, 1, false, 0xFB, true, 3));
    ASSERT_TRUE(floppy.FormatTrack(0, 2, 1, false, 0xFB, false, 1));
    EXPECT_TRUE(ImageTest::PhysicalOrder(floppy, 0, 0, true).empty());
    EXPECT_EQ(ImageTest::PhysicalOrder(floppy, 0, 0, false), (std::vector<int>{0, 1}));
}

TEST(RawTrack, WriteSectorKeepsTheIdAndWritesACorrectDataField) {
    for (bool density : {false, true}) {
        SCOPED_TRACE(density ? "double density" : "single density");
        MemoryFloppy floppy;
        ASSERT_TRUE(floppy.FormatTrack(5, density ? 18 : 10, 1, false, 0xFB, density, 1));
        std::vector<Cell> before;
        for (int i = 0; i < floppy.RawSide(0).Length(); ++i) {
            before.push_back(floppy.RawSide(0).At(i));
        }
        auto data = ImageTest::SectorPattern(5, 0, 4, 256);
        ASSERT_TRUE(ImageTest::Write(floppy, 5, 0, density, 4, data, 0xF8));
        auto result = ImageTest::Read(floppy, 5, 0, density, 4);
        ASSERT_TRUE(result.ok);
        EXPECT_EQ(result.data, data);
        EXPECT_EQ(result.dam, 0xF8);
        // Only the data field of sector 4 changed: every ID, and every other sector, is as it was.
        int changedFirst = -1, changedLast = -1;
        for (int i = 0; i < floppy.RawSide(0).Length(); ++i) {
            if (floppy.RawSide(0).At(i) != before[i]) {
                changedLast = i;
                if (changedFirst < 0) {
                    changedFirst = i;
                }
            }
        }
        int perSector = TRawTrack::FormattedSectorCells(256, density);
        ASSERT_GE(changedFirst, 0);
        EXPECT_EQ(changedFirst / perSector, 4);
        EXPECT_EQ(changedLast / perSector, 4);
        for (int s = 0; s < (density ? 18 : 10); ++s) {
            EXPECT_TRUE(ImageTest::Read(floppy, 5, 0, density, s).ok) << s;
        }
    }
}

TEST(RawTrack, SideFieldIsIgnoredOnlyWhenReading) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, true);
    std::vector<uint8_t> data(256, 0x42);
    floppy.RawSide(state.side).WriteFormattedSector(state, 0, 1, 9, 256, 0xFB, data.data(), false);
    EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, 1, 9).ok);
    auto result = ImageTest::Read(floppy, 0, 0, 1, 9, true);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.data, data);
    EXPECT_FALSE(ImageTest::Write(floppy, 0, 0, 1, 9, data));
}

TEST(RawTrack, BadDataCrcIsReturnedOnlyWhenAccepted) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, false);
    std::vector<uint8_t> data(128, 0x11);
    floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 1, 128, 0xFB, data.data(), true);
    EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, 0, 1).ok);
    auto result = ImageTest::Read(floppy, 0, 0, 0, 1, false, true);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.size, 128);
    EXPECT_EQ(result.data, data);
}

TEST(RawTrack, FourSyncMarksBeforeAnIdAreNotAnIdMark) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, true);
    for (int i = 0; i < 12; ++i) {
        floppy.RawSide(state.side).PutCell(state, 0x00);
    }
    floppy.RawSide(state.side).WriteTrackByte(state, 0xF5);  // the extra sync mark
    int sectorStart = state.position;
    std::vector<uint8_t> data(256, 0x33);
    // WriteFormattedSector starts with 12 gap bytes: let the fourth sync sit right
    // before its own three by starting it 12 cells early.
    state.position = sectorStart - 12;
    floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 0, 256, 0xFB, data.data(), false);
    floppy.SetCell(0, sectorStart - 1, CellDoubleDensity | CellMark | 0xA1);
    EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, 1, 0).ok);
    floppy.SetCell(0, sectorStart - 1, CellDoubleDensity | 0x00);
    EXPECT_TRUE(ImageTest::Read(floppy, 0, 0, 1, 0).ok);
}

TEST(RawTrack, IdSizeCodesBeyondTheSectorBufferAreRefused) {
    for (uint8_t code : {6, 7, 0xFF}) {
        MemoryFloppy floppy;
        CellState state = Cursor(0, true);
        std::vector<uint8_t> data(256, 0x77);
        floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 3, 256, 0xFB, data.data(), false);
        // Rewrite the ID's size code and its CRC so that only the size is wrong.
        int idStart = 12 + 3;  // gap, sync: the 0xFE
        floppy.SetCell(0, idStart + 4, CellDoubleDensity | code);
        const uint8_t id[] = {0xA1, 0xA1, 0xA1, 0xFE, 0, 0, 3, code};
        uint16_t crc = Crc16(id, sizeof id);
        floppy.SetCell(0, idStart + 5, CellDoubleDensity | (crc >> 8));
        floppy.SetCell(0, idStart + 6, CellDoubleDensity | (crc & 0xFF));
        SCOPED_TRACE(int(code));
        EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, 1, 3, false, true).ok);
        EXPECT_FALSE(ImageTest::Write(floppy, 0, 0, 1, 3, data));
        EXPECT_TRUE(ImageTest::PhysicalOrder(floppy, 0, 0, true).empty());
    }
}

TEST(RawTrack, SectorWhoseDataRunsPastTheIndexIsMissing) {
    for (bool density : {false, true}) {
        SCOPED_TRACE(density ? "double density" : "single density");
        MemoryFloppy floppy;
        std::vector<uint8_t> data(256, 0x5A);
        // A good sector at the start of the track, and one whose ID sits near the end.
        CellState state = Cursor(0, density);
        floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 1, 256, 0xFB, data.data(), false);
        state.position = floppy.RawSide(0).Length() - (density ? 120 : 240);
        floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 2, 256, 0xFB, data.data(), false);
        EXPECT_EQ(state.position, 0);  // it stopped at the end instead of wrapping round
        EXPECT_TRUE(ImageTest::Read(floppy, 0, 0, density, 1).ok);
        EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, density, 2).ok);
        EXPECT_FALSE(ImageTest::Write(floppy, 0, 0, density, 2, data));
        EXPECT_EQ(ImageTest::PhysicalOrder(floppy, 0, 0, density), std::vector<int>{1});
        EXPECT_FALSE(ImageTest::Read(floppy, 0, 0, density, 7).ok);  // a missing sector ends after one turn
    }
}

TEST(RawTrack, WriteThatWouldRunPastTheEndChangesNothing) {
    MemoryFloppy floppy;
    CellState state = Cursor(0, true);
    std::vector<uint8_t> data(256, 0x5A);
    floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 1, 256, 0xFB, data.data(), false);
    // An ID near the end whose data field is too short to hold 256 bytes.
    state.position = floppy.RawSide(0).Length() - 100;
    floppy.RawSide(state.side).WriteFormattedSector(state, 0, 0, 2, 128, 0xFB, data.data(), false);
    int idPosition = floppy.RawSide(0).Length() - 100 + 12 + 3;
    floppy.SetCell(0, idPosition + 4, CellDoubleDensity | 1);  // claims 256 bytes
    const uint8_t id[] = {0xA1, 0xA1, 0xA1, 0xFE, 0, 0, 2, 1};
    uint16_t crc = Crc16(id, sizeof id);
    floppy.SetCell(0, idPosition + 5, CellDoubleDensity | (crc >> 8));
    floppy.SetCell(0, idPosition + 6, CellDoubleDensity | (crc & 0xFF));
    std::vector<Cell> before;
    for (int i = 0; i < floppy.RawSide(0).Length(); ++i) {
        before.push_back(floppy.RawSide(0).At(i));
    }
    EXPECT_FALSE(ImageTest::Write(floppy, 0, 0, 1, 2, std::vector<uint8_t>(256, 0xEE)));
    for (int i = 0; i < floppy.RawSide(0).Length(); ++i) {
        ASSERT_EQ(floppy.RawSide(0).At(i), before[i]) << "cell " << i;
    }
}
