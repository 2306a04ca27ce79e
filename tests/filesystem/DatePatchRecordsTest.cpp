// The date-patch records that come with the program, checked row by row.
#include <gtest/gtest.h>

#include "filesystem/DatePatches.h"

using namespace FileSystem;

TEST(DatePatchRecords, CurrentEditionHoldsOnlyTheLSDOSRecords) {
    const DatePatchTable& current = CurrentDatePatchTable();
    EXPECT_TRUE(PreviousDatePatchTable().Variants.empty()) << "no bytes exist for the previous edition";
    EXPECT_EQ(current.Find(3), nullptr) << "no bytes exist for LDOS 5.3.1";
    EXPECT_EQ(current.Find(1), nullptr) << "no bytes exist for LDOS 5.3.1";
    const DatePatchVariant* lsdos = current.Find(4);
    ASSERT_NE(lsdos, nullptr);

    const size_t counts[DatePatchFileCount] = {5, 3, 3, 18, 14, 15, 1};
    for (int i = 0; i < DatePatchFileCount; ++i) {
        const DatePatchSet& set = lsdos->Sets[i];
        EXPECT_EQ(set.size(), counts[i]) << DatePatchFileNames[i];
        uint32_t end = 0;
        for (const DatePatchRecord& record : set) {
            EXPECT_FALSE(record.Unpatched.empty());
            EXPECT_LE(record.Unpatched.size(), 16u);
            EXPECT_EQ(record.Unpatched.size(), record.Patched.size());
            EXPECT_NE(record.Unpatched, record.Patched);
            EXPECT_GE(record.Offset, end) << DatePatchFileNames[i] << " records overlap or are out of order";
            end = record.Offset + static_cast<uint32_t>(record.Patched.size());
        }
    }
    const DatePatchSet& sys3 = lsdos->Sets[0];
    EXPECT_EQ(sys3[0].Offset, 258u);
    EXPECT_EQ(sys3[1].Offset, 274u);
    EXPECT_EQ(sys3[2].Offset, 290u);
    EXPECT_EQ(sys3[2].Patched.size(), 3u);
    EXPECT_EQ(lsdos->Sets[1][2].Offset, 3536u);
    const DatePatchRecord& level = lsdos->Sets[6][0];
    EXPECT_EQ(level.Offset, 543u);
    EXPECT_EQ(level.Unpatched, std::vector<uint8_t>{'H'});
    EXPECT_EQ(level.Patched, std::vector<uint8_t>{'L'});
}

TEST(DatePatchRecords, HexDecoding) {
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(DecodePatchHex("0aFF10", bytes));
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0A, 0xFF, 0x10}));
    EXPECT_TRUE(DecodePatchHex("", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(DecodePatchHex("ABC", bytes));
    EXPECT_FALSE(DecodePatchHex("G0", bytes));
    EXPECT_FALSE(DecodePatchHex(nullptr, bytes));
}
