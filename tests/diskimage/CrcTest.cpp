#include <gtest/gtest.h>

#include <random>
#include <vector>

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

TEST(Crc16, EightBytesAtATimeMatchesTheBytewiseStep) {
    std::mt19937 random(16);
    std::vector<uint8_t> data(300);
    for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
    for (size_t length = 0; length <= data.size(); ++length) {
        const auto preset = static_cast<uint16_t>(random());
        uint16_t expected = preset;
        for (size_t i = 0; i < length; ++i) expected = CrcStep(expected, data[i]);
        ASSERT_EQ(Crc16(data.data(), length, preset), expected) << "length " << length;
    }
}
