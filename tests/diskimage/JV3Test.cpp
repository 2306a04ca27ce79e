#include <gtest/gtest.h>

#include <filesystem>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"
#include "diskimage/JV3.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

constexpr uint8_t DD = 0x80;
constexpr uint8_t Side1 = 0x10;

int UsedCode(int size) { return size == 256 ? 0 : size == 128 ? 1 : size == 1024 ? 2 : 3; }

// Builds a JV3 file header by header; data follows in header order.
struct JV3File {
    std::vector<uint8_t> headers = std::vector<uint8_t>(8704, 0xFF);
    std::vector<uint8_t> data;
    int count = 0;

    void Add(int track, int sector, uint8_t flags, int size, uint8_t fill) {
        headers[count * 3] = static_cast<uint8_t>(track);
        headers[count * 3 + 1] = static_cast<uint8_t>(sector);
        headers[count * 3 + 2] = static_cast<uint8_t>(flags | UsedCode(size));
        ++count;
        data.insert(data.end(), size, fill);
    }
    void AddFree(int size) {
        headers[count * 3 + 2] = static_cast<uint8_t>(UsedCode(size) ^ 3);
        ++count;
        data.insert(data.end(), size, 0);
    }
    std::vector<uint8_t> Bytes() const {
        auto bytes = headers;
        bytes.insert(bytes.end(), data.begin(), data.end());
        return bytes;
    }
};


}  // namespace

TEST(JV3, WriteProtectByteIsReadAndStoredAtTheNextFlush) {
    ScratchDir dir;
    std::string path = dir.File("wp.dsk");
    JV3File file;
    file.Add(0, 0, 0, 256, 0x11);
    file.headers[8703] = 0x00;
    ImageTest::WriteAll(path, file.Bytes());
    {
        auto image = OpenFloppyImage(path);
        EXPECT_EQ(image->GetFormatName(), "JV3");
        EXPECT_EQ(image->GetWriteProtect(), 1);
        image->SetWriteProtect(false);
        ASSERT_TRUE(image->Flush());
    }
    auto bytes = ImageTest::ReadAll(path);
    EXPECT_EQ(bytes[8703], 0xFF);
    // Nothing else changed: the track was clean.
    auto expected = file.Bytes();
    expected[8703] = 0xFF;
    EXPECT_EQ(bytes, expected);
}

TEST(JV3, EighteenConsecutiveSectorsAreInterleaved) {
    ScratchDir dir;
    std::string path = dir.File("interleave.dsk");
    JV3File file;
    for (int s = 1; s <= 18; ++s) {
        file.Add(0, s, DD, 256, static_cast<uint8_t>(s));
    }
    for (int s = 0; s < 17; ++s) {  // 17 sectors: no reordering
        file.Add(1, s, DD, 256, static_cast<uint8_t>(s));
    }
    ImageTest::WriteAll(path, file.Bytes());
    auto image = OpenFloppyImage(path);
    EXPECT_EQ(ImageTest::PhysicalOrder(*image, 0, 0, true),
              (std::vector<int>{7, 13, 2, 8, 14, 3, 9, 15, 4, 10, 16, 5, 11, 17, 6, 12, 18, 1}));
    ASSERT_TRUE(image->LoadTrack(1));
    auto order = ImageTest::PhysicalOrder(*image, 1, 0, true);
    ASSERT_EQ(order.size(), 17u);
    EXPECT_EQ(order.front(), 0);
    EXPECT_EQ(order.back(), 16);
    auto result = ImageTest::Read(*image, 0, 0, 1, 18);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.data, std::vector<uint8_t>(256, 18));
}

TEST(JV3, HeaderBlockMustFitEveryTrackSide) {
    // fits: within a 5.25-inch track; opens: within the longest track, an 8-inch one.
    struct Case {
        int sectors;
        uint8_t flags;
        int size;
        bool fits;
        bool opens;
    };
    const Case cases[] = {
        {18, DD, 256, true, true},         {19, DD, 256, false, true},         {10, 0, 256, true, true},
        {11, 0, 256, false, true},         {18, Side1 | DD, 256, true, true},  {19, Side1 | DD, 256, false, true},
        {5, DD, 1024, true, true},         {6, DD, 1024, false, true},         {30, DD, 256, false, true},
        {31, DD, 256, false, false},       {17, 0, 256, false, true},          {18, 0, 256, false, false},
        {9, DD, 1024, false, true},        {10, DD, 1024, false, false},
    };
    for (const auto& c : cases) {
        JV3File file;
        for (int s = 0; s < c.sectors; ++s) {
            file.Add(3, s, c.flags, c.size, 0);
        }
        SCOPED_TRACE(testing::Message() << c.sectors << " sectors of " << c.size << " flags " << int(c.flags));
        EXPECT_EQ(JV3::FitsRawTrack(file.headers.data(), 1, 6272), c.fits);
        EXPECT_EQ(JV3::FitsRawTrack(file.headers.data(), 1, JV3::MaxTrackCells), c.opens);
        ScratchDir dir;
        std::string path = dir.File("cap.dsk");
        ImageTest::WriteAll(path, file.Bytes());
        if (c.opens) {
            auto image = OpenFloppyImage(path);
            EXPECT_EQ(image->GetFormatName(), "JV3");
            ASSERT_TRUE(image->LoadTrack(3));
            // Every sector of the track is there to read, whatever length its side needs.
            EXPECT_EQ(ImageTest::PhysicalOrder(*image, 3, c.flags & Side1 ? 1 : 0, c.flags & DD).size(),
                      static_cast<size_t>(c.sectors));
        } else {
            EXPECT_THROW(OpenFloppyImage(path), TDiskImage::EInvalidFormat);
        }
    }
}

TEST(JV3, EighteenSingleDensitySmallSectorsFitTheTrack) {
    // What the header test allows needs shorter gaps than the usual layout.
    ScratchDir dir;
    std::string path = dir.File("sd128.dsk");
    JV3File file;
    for (int s = 0; s < 18; ++s) {
        file.Add(0, s, 0, 128, static_cast<uint8_t>(0x40 + s));
    }
    ImageTest::WriteAll(path, file.Bytes());
    {
        auto image = OpenFloppyImage(path);
        for (int s = 0; s < 18; ++s) {
            auto result = ImageTest::Read(*image, 0, 0, 0, s);
            ASSERT_TRUE(result.ok) << s;
            EXPECT_EQ(result.data, std::vector<uint8_t>(128, 0x40 + s));
        }
        ASSERT_TRUE(ImageTest::Write(*image, 0, 0, 0, 17, std::vector<uint8_t>(128, 0x99)));
    }
    auto image = OpenFloppyImage(path);
    for (int s = 0; s < 18; ++s) {
        auto result = ImageTest::Read(*image, 0, 0, 0, s);
        ASSERT_TRUE(result.ok) << s;
        EXPECT_EQ(result.data, std::vector<uint8_t>(128, s == 17 ? 0x99 : 0x40 + s));
    }
    EXPECT_EQ(ImageTest::ReadAll(path).size(), 8704u + 18 * 128);
}

TEST(JV3, FlushStoresSectorsInTheFirstFreeSlotsSingleDensityFirst) {
    ScratchDir dir;
    std::string path = dir.File("slots.dsk");
    JV3File file;
    file.AddFree(512);                 // header 0: no 256-byte sector fits here
    file.Add(0, 1, DD, 256, 0xDD);     // header 1
    file.Add(0, 0, 0, 256, 0x55);      // header 2
    file.Add(0, 2, 0x20, 256, 0x22);   // header 3: deleted-data mark
    file.Add(1, 0, 0, 256, 0x77);      // header 4: another track keeps its place
    ImageTest::WriteAll(path, file.Bytes());
    {
        auto image = OpenFloppyImage(path);
        ASSERT_TRUE(ImageTest::Write(*image, 0, 0, 1, 1, std::vector<uint8_t>(256, 0xD1)));
    }
    auto bytes = ImageTest::ReadAll(path);
    auto header = [&](int i) { return std::vector<uint8_t>(bytes.begin() + i * 3, bytes.begin() + i * 3 + 3); };
    EXPECT_EQ(header(0), (std::vector<uint8_t>{0xFF, 0xFF, 0x00}));
    EXPECT_EQ(header(1), (std::vector<uint8_t>{0, 0, 0x00}));
    EXPECT_EQ(header(2), (std::vector<uint8_t>{0, 2, 0x20}));
    EXPECT_EQ(header(3), (std::vector<uint8_t>{0, 1, 0x80}));
    EXPECT_EQ(header(4), (std::vector<uint8_t>{1, 0, 0x00}));
    auto dataAt = [&](int offset) { return std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + 256); };
    EXPECT_EQ(dataAt(8704 + 512), std::vector<uint8_t>(256, 0x55));
    EXPECT_EQ(dataAt(8704 + 768), std::vector<uint8_t>(256, 0x22));
    EXPECT_EQ(dataAt(8704 + 1024), std::vector<uint8_t>(256, 0xD1));
    EXPECT_EQ(dataAt(8704 + 1280), std::vector<uint8_t>(256, 0x77));
}

TEST(JV3, LastTrackOfLargeSectorsKeepsItsSlots) {
    // Trimming the free tail first would turn these 512-byte slots into 256-byte ones.
    ScratchDir dir;
    std::string path = dir.File("big.dsk");
    JV3File file;
    for (int t = 0; t < 2; ++t) {
        for (int s = 1; s <= 10; ++s) {
            file.Add(t, s, DD, 512, static_cast<uint8_t>(t * 16 + s));
        }
    }
    ImageTest::WriteAll(path, file.Bytes());
    {
        auto image = OpenFloppyImage(path);
        ASSERT_TRUE(ImageTest::Write(*image, 1, 0, 1, 10, std::vector<uint8_t>(512, 0xAB)));
        ASSERT_TRUE(image->Flush());
    }
    auto expected = file.Bytes();
    std::fill(expected.end() - 512, expected.end(), 0xAB);
    EXPECT_EQ(ImageTest::ReadAll(path), expected);
}

TEST(JV3, TrackWithoutFreeSlotsFailsInsteadOfLosingSectors) {
    ScratchDir dir;
    std::string path = dir.File("full.dsk");
    // Both header blocks full of 256-byte sectors of tracks 1 to 162.
    std::vector<uint8_t> blocks(2 * 8704, 0xFF);
    for (int i = 0; i < 2 * 2901; ++i) {
        int block = i / 2901;
        uint8_t* header = blocks.data() + block * 8704 + (i % 2901) * 3;
        int side = (i / 18) % 2;
        header[0] = static_cast<uint8_t>(1 + i / 36);
        header[1] = static_cast<uint8_t>(i % 18);
        header[2] = static_cast<uint8_t>(DD | (side ? Side1 : 0));
    }
    std::vector<uint8_t> bytes(blocks.begin(), blocks.begin() + 8704);
    bytes.resize(8704 + 2901 * 256, 0x3C);
    bytes.insert(bytes.end(), blocks.begin() + 8704, blocks.end());
    ImageTest::WriteAll(path, bytes);

    auto image = OpenFloppyImage(path);
    ASSERT_EQ(image->GetFormatName(), "JV3");
    EXPECT_FALSE(image->FormatTrack(0, 18, 1, false, 0xFB, true, 3));
    EXPECT_TRUE(ImageTest::PhysicalOrder(*image, 0, 0, true).empty());
    // A sector laid down on the track by other means cannot be stored either.
    CellState state;
    state.density = true;
    std::vector<uint8_t> data(256, 0x12);
    image->RawSide(state.side).WriteFormattedSector(state, 0, 0, 0, 256, 0xFB, data.data(), false);
    EXPECT_FALSE(image->Flush());
    EXPECT_FALSE(image->LoadTrack(1));  // the unsaved track is kept, not thrown away
    EXPECT_EQ(image->GetCurrentTrack(), 0);
    EXPECT_EQ(ImageTest::ReadAll(path), bytes);
    // A sector of an existing track is rewritten in its own slot.
    EXPECT_EQ(ImageTest::Read(*image, 0, 0, 1, 0).data, data);
}

TEST(JV3, DroppedSecondBlockDoesNotReturnAtTheNextOpen) {
    ScratchDir dir;
    std::string path = dir.File("second.dsk");
    {
        auto image = CreateFloppyImage(path, ImageJV3);
        // 81 double-sided tracks: block 1 is full and track 80 ends in a second block.
        for (int t = 0; t <= 80; ++t) {
            ASSERT_TRUE(image->FormatTrack(t, 18, 2, false, 0xFB, true, 3)) << t;
        }
        ASSERT_TRUE(image->Flush());
    }
    {
        auto image = OpenFloppyImage(path);
        auto* jv3 = dynamic_cast<JV3*>(image.get());
        ASSERT_NE(jv3, nullptr);
        EXPECT_TRUE(jv3->HasSecondHeaderBlock());
        EXPECT_TRUE(ImageTest::Read(*image, 80, 1, 1, 17).ok);
        // Track 80 reformatted with one sector a side fits in block 1: block 2 is no longer needed.
        ASSERT_TRUE(image->FormatTrack(80, 1, 2, false, 0xFB, false, 1));
        ASSERT_TRUE(image->Flush());
        EXPECT_FALSE(jv3->HasSecondHeaderBlock());
        EXPECT_TRUE(ImageTest::Read(*image, 80, 0, 0, 0).ok);
    }
    auto image = OpenFloppyImage(path);
    EXPECT_FALSE(ImageTest::Read(*image, 80, 1, 1, 17).ok);
    EXPECT_TRUE(ImageTest::Read(*image, 80, 1, 0, 0).ok);
    EXPECT_TRUE(ImageTest::Read(*image, 40, 1, 1, 17).ok);
}

namespace {

// Every sector a DOS could ask for on every track of a JV3 file.
void ExpectStoredReadsMatchLaidOutTracks(const std::string& path) {
    auto image = OpenFloppyImageAs(path, ImageJV3, true);
    int read = 0;
    for (int track = 0; track <= 81; ++track)
        for (int side = 0; side < 2; ++side)
            for (int density = 0; density < 2; ++density)
                for (int sector = 0; sector <= 20; ++sector)
                    read += ImageTest::ExpectStoredReadAsLaidOut(*image, track, side, density, sector) ==
                            ImageTest::StoredRead::Read;
    EXPECT_GT(read, 0);
}

}  // namespace

// A DOS's sector reads are answered from the file with no track laid out; every answer is
// the laid-out track's, on disks built to be awkward and on the real JV3 disks.
TEST(JV3, SectorsReadFromTheFileAreThoseOfTheLaidOutTrack) {
    ScratchDir dir;
    JV3File file;
    for (int sector = 1; sector <= 18; ++sector) file.Add(0, sector, DD, 256, static_cast<uint8_t>(sector));
    file.Add(1, 3, 0, 256, 0x31);                        // single density
    file.Add(1, 3, DD, 256, 0x32);                       // the same number in double density
    file.Add(1, 4, DD | 0x20, 512, 0x33);                // a deleted-data mark, 512 bytes
    file.Add(1, 5, DD | 0x08, 256, 0x34);                // stored with a CRC error
    file.Add(1, 6, DD, 128, 0x35);                       // a second sector 6: the first one counts
    file.Add(1, 6, DD, 256, 0x36);
    file.Add(2, 7, DD | Side1, 1024, 0x37);              // side 1
    file.AddFree(256);
    file.Add(3, 0, 0, 128, 0x38);
    const std::string whole = dir.File("awkward.jv3");
    ImageTest::WriteAll(whole, file.Bytes());
    ExpectStoredReadsMatchLaidOutTracks(whole);

    // Cut short inside the last sector's data: that sector is never laid out.
    std::vector<uint8_t> cut = file.Bytes();
    cut.resize(cut.size() - 64);
    const std::string shortened = dir.File("short.jv3");
    ImageTest::WriteAll(shortened, cut);
    ExpectStoredReadsMatchLaidOutTracks(shortened);

    if (!std::filesystem::is_directory(ImageTest::RealImagesDir())) return;
    for (const auto& entry : std::filesystem::directory_iterator(ImageTest::RealImagesDir())) {
        if (entry.path().filename().string().rfind("jv3-", 0) != 0) continue;
        SCOPED_TRACE(entry.path().filename().string());
        ExpectStoredReadsMatchLaidOutTracks(entry.path().string());
    }
}

// A changed track is the track's to answer until it is written back; other tracks still
// come from the file.
TEST(JV3, AChangedTrackIsLeftToTheLaidOutTrack) {
    ScratchDir dir;
    JV3File file;
    for (int track = 0; track < 2; ++track)
        for (int sector = 0; sector < 10; ++sector) file.Add(track, sector, DD, 256, 0x11);
    const std::string path = dir.File("disk.jv3");
    ImageTest::WriteAll(path, file.Bytes());
    auto image = OpenFloppyImage(path);
    ASSERT_TRUE(ImageTest::Write(*image, 0, 0, 1, 4, std::vector<uint8_t>(256, 0x5A)));
    std::vector<uint8_t> buffer(TFloppyImage::SectorBufferSize);
    int size = 0;
    uint8_t mark = 0;
    EXPECT_FALSE(image->ReadStoredSector(0, 0, 1, 4, size, mark, buffer.data()).has_value());
    EXPECT_TRUE(image->ReadStoredSector(1, 0, 1, 4, size, mark, buffer.data()).value_or(false));
    ASSERT_TRUE(image->Flush());
    ASSERT_TRUE(image->LoadTrack(1));
    ASSERT_TRUE(image->ReadStoredSector(0, 0, 1, 4, size, mark, buffer.data()).value_or(false));
    EXPECT_EQ(buffer[0], 0x5A);
}
