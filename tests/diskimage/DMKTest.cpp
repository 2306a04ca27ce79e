#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "diskimage/DMK.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

std::vector<uint8_t> Header(int tracks, int length, uint8_t options) {
    std::vector<uint8_t> header(16, 0);
    header[1] = static_cast<uint8_t>(tracks);
    header[2] = static_cast<uint8_t>(length & 0xFF);
    header[3] = static_cast<uint8_t>(length >> 8);
    header[4] = options;
    return header;
}

}  // namespace

TEST(DMK, HeaderChecksDecideRecognition) {
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
        bool accepted;
    };
    auto withByte = [](int index, uint8_t value) {
        auto header = Header(0, 0x1900, 0);
        header[index] = value;
        return header;
    };
    const Case cases[] = {
        {"new image", Header(0, 0x1900, 0), true},
        {"write-protected", withByte(0, 0xFF), true},
        {"bad protect byte", withByte(0, 0x01), false},
        {"reserved byte 8", withByte(8, 1), false},
        {"reserved byte 15", withByte(15, 0x80), false},
        {"longest track", Header(0, 0x2940, 0), true},
        {"track too long", Header(0, 0x2941, 0), false},
        {"short file", std::vector<uint8_t>(15, 0), false},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        std::string path = dir.File("h.dmk");
        ImageTest::WriteAll(path, c.header);
        THostFile file;
        bool readOnly = false;
        ASSERT_EQ(file.OpenExisting(path, readOnly), 0);
        if (c.accepted) {
            DMK image(file, false, path);
            EXPECT_EQ(image.GetWriteProtect(), c.header[0] == 0xFF ? 1 : 0) << c.what;
        } else {
            EXPECT_THROW(DMK(file, false, path), TDiskImage::EInvalidFormat) << c.what;
        }
    }
}

TEST(DMK, FormattingBeyondTheStoredTracksGrowsTheImage) {
    ScratchDir dir;
    std::string path = dir.File("grow.dmk");
    {
        auto image = CreateFloppyImage(path, ImageDMK);
        EXPECT_FALSE(ImageTest::Read(*image, 3, 0, 1, 0).ok);  // not formatted: empty
        ASSERT_TRUE(image->FormatTrack(3, 18, 2, false, 0xFB, true, 3));
        ASSERT_TRUE(image->Flush());
    }
    auto bytes = ImageTest::ReadAll(path);
    ASSERT_EQ(bytes.size(), 16u + 4 * 2 * 6400);
    EXPECT_EQ(bytes[1], 4);
    // Tracks 0 to 2 read back empty, track 3 formatted.
    auto image = OpenFloppyImage(path);
    EXPECT_FALSE(ImageTest::Read(*image, 2, 0, 1, 0).ok);
    EXPECT_TRUE(ImageTest::Read(*image, 3, 1, 1, 17).ok);
}

TEST(DMK, WriteProtectChangeTouchesOnlyTheHeaderByte) {
    ScratchDir dir;
    std::string path = dir.File("wp.dmk");
    {
        auto image = CreateFloppyImage(path, ImageDMK);
        ASSERT_TRUE(image->FormatTrack(0, 10, 1, false, 0xFB, false, 2));
    }
    auto before = ImageTest::ReadAll(path);
    {
        auto image = OpenFloppyImage(path);
        image->SetWriteProtect(true);
        ASSERT_TRUE(image->Flush());
    }
    auto after = ImageTest::ReadAll(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after[0], 0xFF);
    after[0] = before[0];
    EXPECT_EQ(after, before);
    EXPECT_EQ(OpenFloppyImage(path)->GetWriteProtect(), 1);
}

TEST(DMK, DoubledSingleDensityTrackOf6400BytesFillsTheRawTrack) {
    ScratchDir dir;
    std::string path = dir.File("full.dmk");
    auto bytes = Header(1, 6400, DMK::OptionSingleSided);
    std::vector<uint8_t> track(6400, 0);
    track[0] = 0x80;  // one single-density ID at 0x80... (its mark is all the converter needs)
    for (int i = 128; i < 6400; ++i) {
        track[i] = static_cast<uint8_t>(((i - 128) / 2) & 0xFF);
    }
    track[0] = 200;  // the pointer: offset 200, single density
    track[1] = 0;
    bytes.insert(bytes.end(), track.begin(), track.end());
    ImageTest::WriteAll(path, bytes);
    auto image = OpenFloppyImage(path);
    ASSERT_EQ(image->GetFormatName(), "DMK");
    for (int cell : {0, 1, 2, 6270, 6271}) {
        Cell value = image->RawSide(0).At(cell);
        EXPECT_EQ(value & CellDoubleDensity, 0) << cell;
        if (cell == (200 - 128)) {
            continue;
        }
        EXPECT_EQ(value & 0xFF, (cell / 2) & 0xFF) << cell;
    }
    // The ID mark sits at the stored offset of the pointer.
    EXPECT_EQ(image->RawSide(0).At(72), CellMark | 0xFE);
    EXPECT_EQ(image->RawSide(0).At(73), CellMark | 0xFE);
}

// A double-density start and a single-density ID at an odd cell leave the track's last
// single-density byte on the very last cell; writing the track back must stay in the buffer.
TEST(DMK, SingleDensityByteOnTheLastCellIsStoredWithoutOverrun) {
    ScratchDir dir;
    std::string path = dir.File("mixed.dmk");
    auto bytes = Header(1, 6400, DMK::OptionSingleSided);
    std::vector<uint8_t> track(6400, 0xFF);
    std::fill(track.begin(), track.begin() + 128, 0);
    const int idOffset = 128 + 121;  // cell 121: odd
    const uint16_t pointers[] = {0x8000 | 138, idOffset};
    for (int i = 0; i < 2; ++i) {
        track[2 * i] = static_cast<uint8_t>(pointers[i] & 0xFF);
        track[2 * i + 1] = static_cast<uint8_t>(pointers[i] >> 8);
    }
    track[138] = 0xFE;  // the double-density ID mark, so the pointer survives a rewrite
    auto putDoubled = [&](int& at, uint8_t b) {
        track[at++] = b;
        track[at++] = b;
    };
    int at = idOffset;
    const uint8_t id[] = {0xFE, 0, 0, 0, 1};
    for (uint8_t b : id) putDoubled(at, b);
    uint16_t crc = Crc16(id, sizeof id);
    putDoubled(at, static_cast<uint8_t>(crc >> 8));
    putDoubled(at, static_cast<uint8_t>(crc & 0xFF));
    for (int i = 0; i < 11; ++i) putDoubled(at, 0xFF);  // the gap a controller skips before writing
    for (int i = 0; i < 6; ++i) putDoubled(at, 0);
    std::vector<uint8_t> field(257, 0xE5);
    field[0] = 0xFB;
    for (uint8_t b : field) putDoubled(at, b);
    crc = Crc16(field.data(), field.size());
    putDoubled(at, static_cast<uint8_t>(crc >> 8));
    putDoubled(at, static_cast<uint8_t>(crc & 0xFF));
    bytes.insert(bytes.end(), track.begin(), track.end());
    ImageTest::WriteAll(path, bytes);

    std::vector<uint8_t> data(256);
    for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i);
    {
        auto image = OpenFloppyImage(path);
        ASSERT_EQ(image->GetFormatName(), "DMK");
        ASSERT_EQ(image->RawSide(0).At(6271) & CellDoubleDensity, 0);
        ASSERT_TRUE(image->WriteSector(0, 0, 0, 0, 0xFB, data.data()));
        ASSERT_TRUE(image->Flush());
    }
    auto image = OpenFloppyImage(path);
    int size = 0;
    uint8_t dam = 0;
    std::vector<uint8_t> back(256);
    ASSERT_TRUE(image->ReadSector(0, 0, 0, 0, size, dam, back.data(), false, false));
    EXPECT_EQ(back, data);
}

TEST(DMK, CraftedPointersAndLengthsStayInsideTheTrack) {
    struct Case {
        const char* what;
        int length;
        std::vector<uint16_t> pointers;
    };
    const Case cases[] = {
        {"pointer past the track", 6400, {0x3FFF | 0x8000, 0x3FF0}},
        {"pointer into the table", 6400, {0x0002, 0x8001, 0x8000 | 0x0050}},
        {"pointers out of order", 6400, {0x8000 | 6000, 0x8000 | 300, 0x8000 | 6390}},
        {"short track", 60, {0x8000 | 40}},
        {"track of zero bytes", 0, {}},
        {"sixty-four pointers", 6400, std::vector<uint16_t>(64, 0x8000 | 200)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        std::string path = dir.File("crafted.dmk");
        auto bytes = Header(2, c.length, 0);
        std::vector<uint8_t> track(c.length, 0xA1);
        for (size_t i = 0; i < c.pointers.size() && 2 * i + 1 < track.size(); ++i) {
            track[2 * i] = static_cast<uint8_t>(c.pointers[i] & 0xFF);
            track[2 * i + 1] = static_cast<uint8_t>(c.pointers[i] >> 8);
        }
        for (int copy = 0; copy < 4; ++copy) {
            bytes.insert(bytes.end(), track.begin(), track.end());
        }
        ImageTest::WriteAll(path, bytes);
        auto image = OpenFloppyImage(path);
        for (int t = 0; t < 3; ++t) {
            for (int side = 0; side < 2; ++side) {
                for (int density = 0; density < 2; ++density) {
                    ImageTest::Read(*image, t, side, density, 0, true, true);
                }
            }
        }
        // Writing back what was loaded keeps the file the same length.
        ASSERT_TRUE(image->LoadTrack(1));
        ASSERT_TRUE(image->FormatTrack(1, 1, 1, false, 0xFB, true, 1) || c.length < 400);
        ASSERT_TRUE(image->Flush());
        EXPECT_EQ(ImageTest::ReadAll(path).size(), bytes.size());
    }
}
