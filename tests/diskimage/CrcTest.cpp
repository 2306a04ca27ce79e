#include <gtest/gtest.h>

#include "diskimage/DiskImage.h"

using namespace DiskImage;

TEST(Crc16, MatchesTheCcittCheckValue) {
    const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc16(text, sizeof text), 0x29B1);
}

TEST(Crc16, ThreeSyncBytesGiveTheDoubleDensityPreset) {
    const uint8_t sync[] = {0xA1, 0xA1, 0xA1};
    EXPECT_EQ(Crc16(sync, sizeof sync), 0xCDB4);
}

TEST(Crc16, FieldFollowedByItsCrcLeavesZero) {
    uint8_t id[] = {0xFE, 17, 0, 3, 1, 0, 0};
    uint16_t crc = Crc16(id, 5);
    id[5] = crc >> 8;
    id[6] = crc & 0xFF;
    EXPECT_EQ(Crc16(id, 7), 0);
}
