// DBLDOS: the logical-to-physical sector mapping and what recognition refuses.
#include <gtest/gtest.h>

#include "common/TRSDOSScratch.h"
#include "filesystem/DBLDOS.h"

using namespace FileSystem;

namespace {

TEST(DBLDOSMapping, PacksTenSectorTracksIntoEighteenSectorTracksFromTrackOne) {
    struct Case {
        int track, sector, physicalTrack, physicalSector;
    };
    for (const Case& c : {Case{0, 0, 1, 0}, Case{0, 9, 1, 9}, Case{1, 7, 1, 17}, Case{1, 8, 2, 0},
                          Case{17, 0, 10, 8}, Case{17, 9, 10, 17}}) {
        int track = 0, sector = 0;
        DBLDOS::MapSector(c.track, c.sector, track, sector);
        EXPECT_EQ(track, c.physicalTrack) << c.track << "/" << c.sector;
        EXPECT_EQ(sector, c.physicalSector) << c.track << "/" << c.sector;
    }
}

TEST(DBLDOSRecognition, RefusesOtherDisks) {
    TRSDOSTest::TFreshDisk trsdos;
    EXPECT_THROW(DBLDOS fs(trsdos.Image.get()), TFileSystem::EInvalidFormat);
    TRSDOSTest::TScratchFolder folder;
    auto blank = DiskImage::CreateFloppyImage(folder.File("blank.dmk"), DiskImage::ImageDMK);
    EXPECT_THROW(DBLDOS fs(blank.get()), TFileSystem::EInvalidFormat);
}

// A DBLDOS disk laid out by hand: physical track 0 single density with a
// boot sector, tracks 1 onward double density with 18 sectors.
TEST(DBLDOSRecognition, AcceptsAConsistentDiskAndReadsThroughTheMapping) {
    TRSDOSTest::TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("dbl.dmk"), DiskImage::ImageDMK);
    ASSERT_TRUE(image->FormatTrack(0, 10, 1, false, 0xFB, false, 2));
    for (int t = 1; t <= 20; ++t) ASSERT_TRUE(image->FormatTrack(t, 18, 1, false, 0xFB, true, 3));
    // 20 physical tracks of 18 sectors give 36 logical tracks of 10.
    auto writePhysical = [&](int track, int sector, int density, uint8_t dam, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> padded(DiskImage::TFloppyImage::SectorBufferSize, 0);
        std::copy(data.begin(), data.end(), padded.begin());
        ASSERT_TRUE(image->LoadTrack(track));
        ASSERT_TRUE(image->WriteSector(track, 0, density, sector, dam, padded.data()));
    };
    auto writeLogical = [&](int track, int sector, uint8_t dam, const std::vector<uint8_t>& data) {
        int pt = 0, ps = 0;
        DBLDOS::MapSector(track, sector, pt, ps);
        writePhysical(pt, ps, 1, dam, data);
    };
    std::vector<uint8_t> boot(256, 0);
    boot[0] = 0x00;
    boot[1] = 0xFE;
    boot[2] = 17;
    writePhysical(0, 0, 0, 0xFB, boot);
    std::vector<uint8_t> gat(256, 0xFF);
    for (int t = 0; t < 36; ++t) gat[static_cast<size_t>(t)] = 0xFC;
    gat[0] = 0xFD;
    gat[17] = 0xFF;
    gat[0xCB] = '!';
    gat[0xCC] = 36;
    gat[0xCD] = 21;  // physical tracks
    writeLogical(17, 0, 0xF8, gat);
    std::vector<uint8_t> hit(256, 0);
    hit[2] = TRSDOSBase::HashFilename("DATA/TXT");
    writeLogical(17, 1, 0xF8, hit);
    std::vector<uint8_t> directory(256, 0);
    std::fill(directory.begin() + 22, directory.begin() + 32, 0xFF);
    directory[0] = 0x10;
    std::string name = "DATA    TXT";
    std::copy(name.begin(), name.end(), directory.begin() + 5);
    directory[3] = 44;   // 300 bytes: ERN 2, EOF 44
    directory[20] = 2;
    directory[22] = 3;   // track 3, granule 1, one granule
    directory[23] = 0x20;
    std::vector<uint8_t> sector2(256, 0);
    std::copy(directory.begin(), directory.end(), sector2.begin());
    // The record of DEC 2 lies in directory sector 4 (2 + low bits).
    for (int s = 2; s < 10; ++s) writeLogical(17, s, 0xF8, s == 4 ? sector2 : std::vector<uint8_t>(256, 0));
    std::vector<uint8_t> content = TRSDOSTest::PatternBytes(512, 3);
    writeLogical(3, 5, 0xFB, std::vector<uint8_t>(content.begin(), content.begin() + 256));
    writeLogical(3, 6, 0xFB, std::vector<uint8_t>(content.begin() + 256, content.end()));
    image->Flush();

    DBLDOS fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(false), "DBLDOS");
    EXPECT_EQ(fs.GetTracks(), 36);
    EXPECT_EQ(fs.FindFile("DATA/TXT"), 2);
    EXPECT_EQ(fs.ReadFile(2), std::vector<uint8_t>(content.begin(), content.begin() + 300));
}

}  // namespace
