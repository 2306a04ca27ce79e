// Damaged images: whatever the bytes say, opening, reading and writing stay inside
// every buffer and end (run under the sanitizers to see it).
#include <gtest/gtest.h>

#include <random>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

std::vector<uint8_t> FormattedImage(const ScratchDir& dir, int type) {
    std::string path = dir.File("template.img");
    {
        auto image = CreateFloppyImage(path, type);
        bool density = type != ImageJV1;
        for (int t = 0; t < 3; ++t) {
            EXPECT_TRUE(image->FormatTrack(t, density ? 18 : 10, type == ImageJV1 ? 1 : 2, false, 0xFB, density, 3));
        }
    }
    return ImageTest::ReadAll(path);
}

void Exercise(TFloppyImage& image) {
    std::vector<uint8_t> data(TFloppyImage::SectorBufferSize, 0x5A);
    for (int t = 0; t < 4; ++t) {
        for (int side = 0; side < 2; ++side) {
            for (int density = 0; density < 2; ++density) {
                for (int s : {0, 1, 17}) {
                    ImageTest::Read(image, t, side, density, s, true, true);
                }
                ImageTest::PhysicalOrder(image, t, side, density != 0);
                image.WriteSector(t, side, density, 1, 0xFB, data.data());
            }
        }
    }
}

}  // namespace

TEST(DamagedImages, RandomDamageNeverEscapesABuffer) {
    struct Case {
        int type;
        size_t damagedPrefix;  // where the damage goes: headers, pointer tables, first track
    };
    const Case cases[] = {{ImageJV1, 2560}, {ImageJV3, 8704 + 512}, {ImageDMK, 16 + 2 * 6400}};
    std::mt19937 random(20261209);
    for (const auto& c : cases) {
        ScratchDir dir;
        const auto original = FormattedImage(dir, c.type);
        for (int round = 0; round < 60; ++round) {
            auto bytes = original;
            std::uniform_int_distribution<size_t> where(0, std::min(c.damagedPrefix, bytes.size()) - 1);
            int changes = 1 + round % 24;
            for (int i = 0; i < changes; ++i) {
                bytes[where(random)] = static_cast<uint8_t>(random());
            }
            std::string path = dir.File("damaged" + std::to_string(round) + ".img");
            ImageTest::WriteAll(path, bytes);
            try {
                auto image = OpenFloppyImage(path);
                Exercise(*image);
            } catch (const TDiskImage::EInvalidFormat&) {
                // refusing is fine
            }
        }
    }
}
