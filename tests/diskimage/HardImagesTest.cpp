#include <gtest/gtest.h>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"
#include "diskimage/HDV1.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

std::vector<uint8_t> HDV2Header(int cylinders, int heads, bool writeProtected = false) {
    return {'H', 'D', 'V', 0x1A, 9, static_cast<uint8_t>(cylinders & 0xFF), static_cast<uint8_t>(cylinders >> 8),
            static_cast<uint8_t>(heads - 1), static_cast<uint8_t>(writeProtected ? 1 : 0)};
}

// An HDV2 file whose track records hold sectors 0 to 31 in reverse order, except sector 5.
std::vector<uint8_t> HDV2File(int cylinders, int heads) {
    auto bytes = HDV2Header(cylinders, heads);
    for (int record = 0; record < cylinders * heads; ++record) {
        std::vector<uint8_t> track(8256, 0);
        for (int i = 0; i < 32; ++i) {
            int sector = 31 - i;
            track[2 * i] = sector == 5 ? 0 : 1;
            track[2 * i + 1] = static_cast<uint8_t>(sector);
            std::fill(track.begin() + 64 + i * 256, track.begin() + 64 + (i + 1) * 256,
                      static_cast<uint8_t>(record * 32 + sector));
        }
        bytes.insert(bytes.end(), track.begin(), track.end());
    }
    return bytes;
}

std::vector<uint8_t> HDV1Header(int cylinders, int sectorsPerCylinder) {
    std::vector<uint8_t> header(256, 0);
    header[0] = 0x56;
    header[1] = 0xCB;
    header[4] = 1;
    header[5] = 4;
    header[27] = static_cast<uint8_t>((cylinders >> 8) & 7);
    header[28] = static_cast<uint8_t>(cylinders & 0xFF);
    header[29] = static_cast<uint8_t>(sectorsPerCylinder & 0xFF);
    header[3] = HDV1::HeaderChecksum(header.data());
    return header;
}

std::vector<uint8_t> CardHeader(int cylinders, int sectorsPerHead, int heads, int firstSector) {
    std::vector<uint8_t> header(512, 0);
    header[0] = 'M';
    header[2] = 'C';
    header[4] = '1';
    header[6] = 0x1A;
    header[8] = static_cast<uint8_t>(cylinders & 0xFF);
    header[10] = static_cast<uint8_t>(cylinders >> 8);
    header[12] = static_cast<uint8_t>(sectorsPerHead);
    header[14] = static_cast<uint8_t>(heads);
    header[16] = static_cast<uint8_t>(firstSector);
    return header;
}

std::unique_ptr<THardImage> OpenBytes(const ScratchDir& dir, const std::vector<uint8_t>& bytes,
                                      const std::string& name = "disk.hdv") {
    std::string path = dir.File(name);
    ImageTest::WriteAll(path, bytes);
    return OpenHardImage(path);
}

}  // namespace

TEST(HardImages, HeadersDecideTheFormatAndGeometry) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* format;  // nullptr: refused by all three
        int cylinders;
        int heads;
    };
    auto badSignature = HDV2Header(10, 2);
    badSignature[3] = 0;
    auto badVersion = HDV1Header(10, 64);
    badVersion[5] = 3;
    auto cardCut = CardHeader(1, 32, 1, 0);
    cardCut.resize(100);
    const Case cases[] = {
        {"HDV2", HDV2Header(10, 2), "HDV2", 10, 2},
        {"HDV2 at its limits", HDV2Header(1024, 8), "HDV2", 1024, 8},
        {"HDV2 with nine heads", HDV2Header(10, 9), nullptr, 0, 0},
        {"HDV2 with 1025 cylinders", HDV2Header(1025, 2), nullptr, 0, 0},
        {"HDV2 signature broken", badSignature, nullptr, 0, 0},
        {"HDV1", HDV1Header(153, 128), "HDV1", 153, 4},
        {"HDV1 with 256 sectors a cylinder", HDV1Header(306, 0), "HDV1", 306, 8},
        {"HDV1 cylinder count 0", HDV1Header(0, 32), "HDV1", 256, 1},
        {"HDV1 17 sectors a head", HDV1Header(306, 68), nullptr, 0, 0},
        {"HDV1 other version", badVersion, nullptr, 0, 0},
        {"memory card", CardHeader(100, 32, 4, 0), "Memory card image", 100, 4},
        {"memory card header cut short", cardCut, nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        if (c.format == nullptr) {
            EXPECT_THROW(OpenBytes(dir, c.bytes), TDiskImage::EInvalidFormat);
            continue;
        }
        auto image = OpenBytes(dir, c.bytes);
        EXPECT_EQ(image->GetFormatName(), c.format);
        EXPECT_EQ(image->GetCylinders(), c.cylinders);
        EXPECT_EQ(image->GetHeads(), c.heads);
        EXPECT_EQ(image->IsHardDisk(), 1);
        EXPECT_EQ(image->GetWriteProtect(), 0);
    }
}

TEST(HardImages, NameWithoutExtensionAlsoTriesHdv) {
    ScratchDir dir;
    ImageTest::WriteAll(dir.File("drive.hdv"), HDV2Header(1, 1));
    auto image = OpenHardImage(dir.File("drive"));
    EXPECT_EQ(image->FileName, dir.File("drive.hdv"));
}

TEST(HardImages, HDV2FindsSectorsThroughTheEntryTable) {
    ScratchDir dir;
    auto image = OpenBytes(dir, HDV2File(2, 2));
    std::vector<uint8_t> buffer(256);
    int size = 0;
    ASSERT_TRUE(image->ReadSector(1, 1, 7, size, buffer.data()));
    EXPECT_EQ(size, 256);
    EXPECT_EQ(buffer, std::vector<uint8_t>(256, static_cast<uint8_t>(3 * 32 + 7)));
    EXPECT_FALSE(image->ReadSector(0, 0, 5, size, buffer.data()));  // no entry names it
    EXPECT_FALSE(image->WriteSector(0, 0, 5, buffer.data()));
    EXPECT_FALSE(image->ReadSector(2, 0, 0, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(0, 2, 0, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(-1, 0, 0, size, buffer.data()));

    std::vector<uint8_t> data = ImageTest::SectorPattern(1, 0, 31, 256);
    ASSERT_TRUE(image->WriteSector(1, 0, 31, data.data()));
    ASSERT_TRUE(image->ReadSector(1, 0, 31, size, buffer.data()));
    EXPECT_EQ(buffer, data);
    // Entry 0 of record (1, 0) holds sector 31.
    auto bytes = ImageTest::ReadAll(image->FileName);
    size_t offset = 9 + 2 * 8256 + 64;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + offset));
}

TEST(HardImages, HDV1AddressesSectorsByGeometry) {
    ScratchDir dir;
    auto bytes = HDV1Header(4, 64);
    bytes.resize(256 + 4 * 64 * 256, 0);
    auto image = OpenBytes(dir, bytes);
    std::vector<uint8_t> data = ImageTest::SectorPattern(3, 1, 30, 256);
    ASSERT_TRUE(image->WriteSector(3, 1, 30, data.data()));
    auto stored = ImageTest::ReadAll(image->FileName);
    size_t offset = 256 + ((3 * 2 + 1) * 32 + 30) * 256;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), stored.begin() + offset));
    std::vector<uint8_t> buffer(256);
    int size = 0;
    ASSERT_TRUE(image->ReadSector(3, 1, 30, size, buffer.data()));
    EXPECT_EQ(buffer, data);
    EXPECT_FALSE(image->ReadSector(0, 2, 0, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(0, 0, 32, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(4, 0, 0, size, buffer.data()));
}

// Real HDV1 headers understate the cylinders their file holds: the file decides what
// can be read, the header's count stays what the header says.
TEST(HardImages, HDV1FileHoldingMoreCylindersThanItsHeaderSays) {
    ScratchDir dir;
    auto bytes = HDV1Header(153, 128);
    bytes.resize(256 + 203 * 128 * 256, 0);
    bytes[256 + ((202 * 4 + 3) * 32 + 31) * 256] = 0x5A;
    auto image = OpenBytes(dir, bytes);
    EXPECT_EQ(image->GetCylinders(), 153);
    EXPECT_EQ(image->GetUsableCylinders(), 203);
    std::vector<uint8_t> buffer(256);
    int size = 0;
    ASSERT_TRUE(image->ReadSector(202, 3, 31, size, buffer.data()));
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_TRUE(image->WriteSector(180, 0, 0, buffer.data()));
    EXPECT_FALSE(image->ReadSector(203, 0, 0, size, buffer.data()));
    EXPECT_EQ(ImageTest::ReadAll(image->FileName).size(), bytes.size());

    // A part of a cylinder counts; a header-only file holds none.
    bytes.resize(256 + 10 * 128 * 256 + 256);
    EXPECT_EQ(OpenBytes(dir, bytes, "part.hdv")->GetUsableCylinders(), 11);
    EXPECT_EQ(OpenBytes(dir, HDV1Header(50, 64), "empty.hdv")->GetUsableCylinders(), 0);
}

TEST(HardImages, GeometryLargerThanTheFileFailsAtTheRead) {
    ScratchDir dir;
    auto bytes = HDV1Header(306, 256);
    bytes.resize(256 + 3 * 256, 0);  // three sectors of data
    auto image = OpenBytes(dir, bytes);
    std::vector<uint8_t> buffer(256);
    int size = 0;
    EXPECT_TRUE(image->ReadSector(0, 0, 2, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(0, 0, 3, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(305, 7, 31, size, buffer.data()));

    auto hdv2 = OpenBytes(dir, HDV2Header(1024, 8), "big.hdv");
    EXPECT_FALSE(hdv2->ReadSector(1023, 7, 0, size, buffer.data()));
    EXPECT_FALSE(hdv2->WriteSector(1023, 7, 0, buffer.data()));
    EXPECT_EQ(ImageTest::ReadAll(dir.File("big.hdv")).size(), 9u);
}

TEST(HardImages, WriteProtectIsStoredInTheHeaderAtOnce) {
    ScratchDir dir;
    {
        auto hdv1 = OpenBytes(dir, HDV1Header(10, 32), "one.hdv");
        hdv1->SetWriteProtect(true);
        EXPECT_EQ(hdv1->GetWriteProtect(), 1);
        auto header = ImageTest::ReadAll(dir.File("one.hdv"));
        EXPECT_EQ(header[7], 0x80);
        EXPECT_EQ(header[3], HDV1::HeaderChecksum(header.data()));
        EXPECT_NE(header[3], HDV1Header(10, 32)[3]);
    }
    EXPECT_EQ(OpenHardImage(dir.File("one.hdv"))->GetWriteProtect(), 1);

    auto hdv2 = OpenBytes(dir, HDV2Header(10, 2, true), "two.hdv");
    EXPECT_EQ(hdv2->GetWriteProtect(), 1);
    hdv2->SetWriteProtect(false);
    EXPECT_EQ(hdv2->GetWriteProtect(), 0);
    EXPECT_EQ(ImageTest::ReadAll(dir.File("two.hdv"))[8], 0);

    auto card = OpenBytes(dir, CardHeader(1, 32, 1, 0), "card.hdv");
    EXPECT_FALSE(card->CanSetWriteProtect());
    card->SetWriteProtect(true);
    EXPECT_EQ(card->GetWriteProtect(), 0);
}

TEST(HardImages, ImageOpenElsewhereIsReadOnly) {
    ScratchDir dir;
    auto bytes = HDV1Header(2, 32);
    bytes.resize(256 + 2 * 32 * 256, 0);
    auto writer = OpenBytes(dir, bytes);
    auto reader = OpenHardImage(writer->FileName);
    EXPECT_EQ(reader->GetWriteProtect(), 2);
    EXPECT_EQ(reader->Flags & TDiskImage::FlagReadOnlyFile, TDiskImage::FlagReadOnlyFile);
    // Its header is left alone as well.
    reader->SetWriteProtect(true);
    EXPECT_EQ(ImageTest::ReadAll(writer->FileName)[7], 0);
}

TEST(HardImages, MemoryCardStoresEveryByteTwice) {
    ScratchDir dir;
    auto bytes = CardHeader(3, 32, 2, 4);
    bytes.resize(512 + 512 * (4 + 3 * 2 * 32), 0);
    auto image = OpenBytes(dir, bytes);
    std::vector<uint8_t> data = ImageTest::SectorPattern(2, 1, 9, 256);
    ASSERT_TRUE(image->WriteSector(2, 1, 9, data.data()));
    auto stored = ImageTest::ReadAll(image->FileName);
    size_t block = 32 * 1 + 2 * 2 * 32 + 4 + 9;
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(stored[512 + block * 512 + 2 * i], data[i]);
        ASSERT_EQ(stored[512 + block * 512 + 2 * i + 1], data[i]);
    }
    std::vector<uint8_t> buffer(256);
    int size = 0;
    ASSERT_TRUE(image->ReadSector(2, 1, 9, size, buffer.data()));
    EXPECT_EQ(buffer, data);
    EXPECT_FALSE(image->ReadSector(3, 0, 0, size, buffer.data()));
    EXPECT_FALSE(image->ReadSector(0, 2, 0, size, buffer.data()));
}
