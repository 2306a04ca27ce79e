#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "viewer/Renderings.h"

using namespace Viewer;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(ExpandTabs, AdvancesToTheNextMultipleOfEight) {
    const struct {
        std::string input;
        std::string output;
    } cases[] = {
        {"", ""},
        {"A\tB", "A       B"},
        {"\tX", "        X"},
        {"ABC\r\tX", "ABC\r        X"},
        {"12345678\tX", "12345678        X"},
        {"1234567\tX", "1234567 X"},
        {"\n\tX", "\n       X"},  // a line feed takes a column like any other byte
        {"\t\t", std::string(16, ' ')},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpandTabs(B(c.input)), c.output) << c.input;
}

TEST(RenderText, DropsTheEndMarkerOfLongerFilesOnly) {
    EXPECT_EQ(RenderText(B("AB\x1A"), FamilyTRSDOS), "AB\x1A");
    EXPECT_EQ(RenderText(B("ABC\x1A"), FamilyTRSDOS), "ABC");
    EXPECT_EQ(RenderText(B("A\x1A\x1A\x1A"), FamilyTRSDOS), "A\x1A\x1A");
    EXPECT_EQ(RenderText(B("A\xC1\x1A" "B"), FamilyTRSDOS), "A\xC1\x1A" "B");  // no translation
    EXPECT_EQ(RenderText(B("A\tB"), FamilyRSDOS), "A       B");
}

TEST(RenderText, CPMFilesEndAtTheFirstEndMarkerWithSevenBitCharacters) {
    EXPECT_EQ(RenderText(B("X\xC1Y\x1Ajunk here"), FamilyCPM), "XAY");
    EXPECT_EQ(RenderText(B("\xC1\xE2\tZ"), FamilyCPM), "Ab      Z");
}

TEST(RenderHexDump, LaysOutSixteenBytesALine) {
    Bytes bytes;
    for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<uint8_t>(0x41 + i));
    bytes.push_back(0x7F);
    const std::string expected =
        "000000:  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP\n"
        "000010:  7F" + std::string(59 - 11, ' ') + "\x7F" + std::string(15, ' ');
    const std::string dump = RenderHexDump(bytes);
    EXPECT_EQ(dump, expected);
    EXPECT_EQ(dump.size(), 75u + 1 + 75u);
}

TEST(RenderHexDump, CharacterColumnAndLineEnds) {
    EXPECT_EQ(RenderHexDump(Bytes{}), "");
    const std::string one = RenderHexDump(Bytes{0x80, 0x1F, 0x20, 0x7F});
    EXPECT_EQ(one.substr(59), ".. \x7F" + std::string(12, ' '));
    EXPECT_EQ(one.size(), 75u);
    const std::string full = RenderHexDump(Bytes(32, 0x00));
    EXPECT_EQ(full.size(), 2u * 76u);
    EXPECT_EQ(full.back(), '\n');
    EXPECT_EQ(full.substr(76, 9), "000010:  ");
}

TEST(RenderEdtasm, ListsLineNumbersAndSourceAtColumnEight) {
    const struct {
        Bytes input;
        std::string output;
    } cases[] = {
        {{0xD3, 'N', 'A', 'M', 'E', ' ', ' ', 0xB0, 0xB0, 0xB1, 0xB0, 0xB0, 0x20, 0x4E, 0x4F, 0x50, 0x0D, 0x1A},
         "00100   NOP\r"},
        {{0xB0, 0xB0, 0xB1, 0xB1, 0xB0, 0x09, 'L', 'D', '\t', 'A', ',', 'B', 0x0D,
          0xB0, 0xB0, 0xB1, 0xB2, 0xB0, 0x20, 0xC1, 0x0D},
         "00110   LD      A,B\r00120   \xC1\r"},          // bytes after the separator stay as they are
        {{0xB0, 0xB1, 0x1A, 0x41}, "01\x1A" "A"},           // 1AH only skipped as the last byte
        {{}, ""},
        {{0xD3, 'N', 'A'}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(RenderEdtasm(c.input), c.output);
}

TEST(RenderGraphics, FullScreenRowsAreDoubled) {
    Bytes file(FullScreenPictureSize, 0x00);
    file[0] = 0x80;           // row 0, leftmost pixel
    file[80 + 79] = 0x01;     // row 1, rightmost pixel
    const Picture picture = RenderGraphics(file);
    ASSERT_EQ(picture.Width, 640);
    ASSERT_EQ(picture.Height, 480);
    ASSERT_EQ(picture.Pixels.size(), 80u * 480u);
    EXPECT_TRUE(picture.PixelLit(0, 0));
    EXPECT_TRUE(picture.PixelLit(0, 1));
    EXPECT_FALSE(picture.PixelLit(1, 0));
    EXPECT_FALSE(picture.PixelLit(0, 2));
    EXPECT_TRUE(picture.PixelLit(639, 2));
    EXPECT_TRUE(picture.PixelLit(639, 3));
}

TEST(RenderGraphics, BankedScreenTakesRowsFromTwelveBanks) {
    Bytes file(BankedScreenPictureSize);
    for (size_t block = 0; block < file.size() / 64; ++block) {
        for (size_t i = 0; i < 64; ++i) file[block * 64 + i] = static_cast<uint8_t>(block);
    }
    const Picture picture = RenderGraphics(file);
    ASSERT_EQ(picture.Width, 512);
    ASSERT_EQ(picture.Height, 384);
    const auto rowByte = [&](int shownRow) { return picture.Pixels[static_cast<size_t>(shownRow) * 64]; };
    const struct {
        int row;
        size_t fileOffset;
    } rows[] = {{0, 0}, {1, 1024}, {11, 11 * 1024}, {12, 64}, {13, 1024 + 64}, {191, 11 * 1024 + 15 * 64}};
    for (const auto& r : rows) {
        EXPECT_EQ(rowByte(2 * r.row), file[r.fileOffset]) << r.row;
        EXPECT_EQ(rowByte(2 * r.row + 1), file[r.fileOffset]) << r.row;
    }
}

TEST(RenderGraphics, RunLengthDataAndEarlyEnds) {
    const auto screenByte = [](const Picture& p, size_t index) {
        // Undo the row doubling: byte index of the 640 x 240 screen.
        return p.Pixels[(index / 80) * 160 + index % 80];
    };
    // Run of 3 FFH, copy of 2 bytes, then a run whose value byte is missing.
    Picture picture = RenderGraphics(Bytes{0x83, 0xFF, 0x02, 0x12, 0x34, 0x85});
    ASSERT_EQ(picture.Height, 480);
    EXPECT_EQ(screenByte(picture, 0), 0xFF);
    EXPECT_EQ(screenByte(picture, 2), 0xFF);
    EXPECT_EQ(screenByte(picture, 3), 0x12);
    EXPECT_EQ(screenByte(picture, 4), 0x34);
    EXPECT_EQ(screenByte(picture, 5), 0x00);

    // A copy cut short keeps what there is.
    picture = RenderGraphics(Bytes{0x05, 0xAA, 0xBB});
    EXPECT_EQ(screenByte(picture, 1), 0xBB);
    EXPECT_EQ(screenByte(picture, 2), 0x00);

    // Runs that fill the screen and overrun it stop at its end.
    Bytes runs;
    for (int i = 0; i < 152; ++i) runs.insert(runs.end(), {0xFF, 0x0F});  // 152 x 127 = 19304 bytes
    picture = RenderGraphics(runs);
    EXPECT_EQ(screenByte(picture, 19199), 0x0F);

    picture = RenderGraphics(Bytes{});
    EXPECT_EQ(picture.Width, 640);
    EXPECT_EQ(picture.Pixels, Bytes(80 * 480, 0));
}

TEST(EncodePortableBitmap, WritesLitPixelsAsWhite) {
    Picture picture;
    picture.Width = 16;
    picture.Height = 2;
    picture.Pixels = {0x80, 0x00, 0xFF, 0x0F};
    EXPECT_EQ(EncodePortableBitmap(picture), std::string("P4\n16 2\n\x7F\xFF\x00\xF0", 12));
    const Picture screen = RenderGraphics(Bytes{});
    EXPECT_EQ(EncodePortableBitmap(screen).size(), std::string("P4\n640 480\n").size() + 80u * 480u);
}

TEST(Renderings, RandomBytesAlwaysRender) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        Bytes data(static_cast<size_t>(byte(random)) * 3);
        for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random));
        if (!data.empty() && round % 2) data[0] = 0xD3;
        RenderText(data, round % 3);
        RenderEdtasm(data);
        EXPECT_EQ(RenderHexDump(data).size(), data.size() / 16 * 76 + (data.size() % 16 ? 75 : 0));
        const Picture picture = RenderGraphics(data);
        EXPECT_EQ(picture.Pixels.size(), static_cast<size_t>(picture.BytesPerRow() * picture.Height));
    }
}
