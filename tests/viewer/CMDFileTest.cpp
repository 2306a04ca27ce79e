#include <gtest/gtest.h>

#include <vector>

#include "viewer/CMDFile.h"

using namespace CMDFile;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes LoadBlock(uint16_t address, size_t dataLength, uint8_t fill = 0x00) {
    Bytes block = {0x01, static_cast<uint8_t>(dataLength + 2), static_cast<uint8_t>(address & 0xFF),
                   static_cast<uint8_t>(address >> 8)};
    block.insert(block.end(), dataLength, fill);
    return block;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes Transfer5200 = {0x02, 0x02, 0x00, 0x52};

}  // namespace

TEST(CMDFile, ParsesNameRecordLoadBlockAndTransferAddress) {
    const Bytes file = {0x05, 0x06, 'A', 'B', 'C', 'D', 'E', 'F',
                        0x01, 0x05, 0x00, 0x52, 0x3E, 0x01, 0xC9,
                        0x02, 0x02, 0x00, 0x52,
                        0xAA, 0xBB};  // after the transfer record: ignored
    const std::vector<LoadRecord> records = ParseLoadFile(file);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Type, 5);
    EXPECT_EQ(records[0].Address, 0);
    EXPECT_EQ(records[0].Data, (Bytes{'A', 'B', 'C', 'D', 'E', 'F'}));
    EXPECT_EQ(records[1].Type, 1);
    EXPECT_EQ(records[1].Address, 0x5200);
    EXPECT_EQ(records[1].Data, (Bytes{0x3E, 0x01, 0xC9}));
    EXPECT_EQ(records[2].Type, 2);
    EXPECT_EQ(records[2].Address, 0x5200);
    EXPECT_TRUE(records[2].Data.empty());
}

TEST(CMDFile, ShortLoadBlockLengthBytesWrapIntoTheNext256) {
    const struct {
        uint8_t lengthByte;
        size_t dataLength;
    } cases[] = {{0x02, 256}, {0x01, 255}, {0x00, 254}, {0x03, 1}, {0xFF, 253}};
    for (const auto& c : cases) {
        Bytes file = {0x01, c.lengthByte, 0x00, 0x60};
        file.insert(file.end(), c.dataLength, 0x76);
        file.insert(file.end(), Transfer5200.begin(), Transfer5200.end());
        const std::vector<LoadRecord> records = ParseLoadFile(file);
        ASSERT_EQ(records.size(), 2u) << int(c.lengthByte);
        EXPECT_EQ(records[0].Data.size(), c.dataLength) << int(c.lengthByte);
    }
}

TEST(CMDFile, OtherRecordTypesTakeTheirLengthWithZeroMeaning256) {
    Bytes file = {0x1F, 0x00};
    file.insert(file.end(), 256, 'x');
    file.insert(file.end(), Transfer5200.begin(), Transfer5200.end());
    const std::vector<LoadRecord> records = ParseLoadFile(file);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Type, 0x1F);
    EXPECT_EQ(records[0].Data.size(), 256u);
}

TEST(CMDFile, RefusesFilesThatAreNoLoadModule) {
    EXPECT_THROW(ParseLoadFile(Bytes{}), EInvalidFormat);
    EXPECT_THROW(ParseLoadFile(Bytes{'A', 0x02, 0x00, 0x52}), EInvalidFormat);
    EXPECT_THROW(ParseLoadFile(Bytes{0x02, 0x02, 0x00, 0x52}), EInvalidFormat);
    try {
        ParseLoadFile(Bytes{'A'});
        FAIL();
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Not a recognized load file format");
    }
}

TEST(CMDFile, DamagedModulesRaiseFormatError) {
    const Bytes cases[] = {
        LoadBlock(0x5200, 3),                               // no transfer record
        Concat({LoadBlock(0x5200, 3), {0x20, 0x01, 0x00}}), // record type 20H
        Concat({LoadBlock(0x5200, 3), {0xFF}}),             // record type FFH
        {0x01, 0x05, 0x00, 0x52, 0x3E},                     // load data cut short
        {0x01},                                             // length byte missing
        Concat({LoadBlock(0x5200, 3), {0x02, 0x02, 0x00}}), // entry address cut short
        {0x05, 0x06, 'A', 'B'},                             // name record cut short
    };
    for (const Bytes& file : cases) {
        try {
            ParseLoadFile(file);
            ADD_FAILURE() << "no error for a file of " << file.size() << " bytes";
        } catch (const EFormatError& e) {
            EXPECT_STREQ(e.what(), "Load file format error");
        }
    }
}

TEST(CMDFile, MergesContiguousBlocksButNotAcrossOtherRecords) {
    const Bytes adjacent = Concat({LoadBlock(0x5200, 256, 1), LoadBlock(0x5300, 16, 2), Transfer5200});
    std::vector<LoadRecord> merged = MergeLoadBlocks(ParseLoadFile(adjacent));
    ASSERT_EQ(merged.size(), 2u);
    EXPECT_EQ(merged[0].Address, 0x5200);
    ASSERT_EQ(merged[0].Data.size(), 272u);
    EXPECT_EQ(merged[0].Data[255], 1);
    EXPECT_EQ(merged[0].Data[256], 2);

    const Bytes comment = {0x1F, 0x02, 'h', 'i'};
    const Bytes separated =
        Concat({LoadBlock(0x5200, 256), comment, LoadBlock(0x5300, 16), Transfer5200});
    merged = MergeLoadBlocks(ParseLoadFile(separated));
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].Data.size(), 256u);
    EXPECT_EQ(merged[1].Type, 0x1F);
    EXPECT_EQ(merged[2].Address, 0x5300);

    // A block ending at the top of memory does not continue at 0000H.
    const Bytes wrapping = Concat({LoadBlock(0xFF00, 256), LoadBlock(0x0000, 4), Transfer5200});
    EXPECT_EQ(MergeLoadBlocks(ParseLoadFile(wrapping)).size(), 3u);

    // A gap keeps blocks apart; a block after the merged one still joins it.
    const Bytes three = Concat({LoadBlock(0x5200, 4), LoadBlock(0x5300, 4), LoadBlock(0x5304, 4), Transfer5200});
    merged = MergeLoadBlocks(ParseLoadFile(three));
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[1].Address, 0x5300);
    EXPECT_EQ(merged[1].Data.size(), 8u);
}
