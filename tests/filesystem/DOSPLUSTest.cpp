// DOSPLUS: recognition in both densities and on two sides, the version
// names, the MOD attribute, and the real DOSPLUS 3.4 system disk.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/TRSDOSScratch.h"
#include "filesystem/DOSPLUS.h"

using namespace FileSystem;
using TRSDOSTest::TExposed;
using TRSDOSTest::TLayoutFormatter;
using TRSDOSTest::TScratchFolder;

namespace {

struct LayoutCase {
    const char* what;
    int tracks;
    int sides;
    bool doubleDensity;
    uint8_t version;
    int suspicion;
    const char* name;
    int sectorsPerTrack;
    int granulesPerTrack;
};

class DOSPLUSLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DOSPLUSLayouts, RecogniseGeometryAndStoreFiles) {
    const LayoutCase& c = GetParam();
    TScratchFolder folder;
    const std::string path = folder.File("d.dmk");
    {
        auto image = DiskImage::CreateFloppyImage(path, DiskImage::ImageDMK);
        TLayoutFormatter(image.get(), c.tracks, c.sides, c.doubleDensity, c.version);
        image->Flush();
    }
    auto image = DiskImage::OpenFloppyImage(path);
    const std::vector<uint8_t> data = TRSDOSTest::PatternBytes(9000, 5);
    {
        TExposed<DOSPLUS> fs(image.get());
        EXPECT_EQ(fs.Suspicion, c.suspicion);
        EXPECT_EQ(fs.GetDOSName(false), c.name);
        EXPECT_EQ(fs.GetDOSName(true), "DOSPLUS");
        EXPECT_EQ(fs.GetTracks(), c.tracks);
        EXPECT_EQ(fs.GetSides(), c.sides);
        EXPECT_EQ(fs.GetSectorsPerTrack(), c.sectorsPerTrack);
        EXPECT_EQ(fs.GetGranulesPerTrack(), c.granulesPerTrack);
        EXPECT_EQ(fs.GetCapacity(), c.tracks * c.sectorsPerTrack * 256);
        ASSERT_TRUE(fs.CreateFile("DATA/DAT", data, {}));
    }
    TExposed<DOSPLUS> fs(image.get());
    const int dec = fs.FindFile("DATA/DAT");
    ASSERT_GE(dec, 0);
    EXPECT_EQ(fs.ReadFile(dec), data);
    fs.SetAttribute(dec, AttrMOD, true);
    EXPECT_EQ(fs.GetAttributeLetters(dec), "*");
    EXPECT_TRUE(fs.GetDirectoryRecord(dec)[1] & 0x40);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DOSPLUSLayouts,
    ::testing::Values(LayoutCase{"single density", 35, 1, false, '4', 0, "DOSPLUS 3.4", 10, 2},
                      LayoutCase{"double density", 40, 1, true, '0', 0, "DOSPLUS 3.0", 18, 3},
                      LayoutCase{"double density, two sides", 40, 2, true, '5', 0, "DOSPLUS 3.5", 36, 6},
                      LayoutCase{"unknown version", 40, 1, true, '6', 10, "DOSPLUS", 18, 3}));

TEST(DOSPLUSRecognition, UnreadableBootSectorRefusesTheImage) {
    TScratchFolder folder;
    auto image = DiskImage::CreateFloppyImage(folder.File("blank.dmk"), DiskImage::ImageDMK);
    EXPECT_THROW(DOSPLUS fs(image.get()), TFileSystem::EInvalidFormat);
}

TEST(DOSPLUSRealDisk, OpensListsAndReadsEveryFile) {
    const std::string path = std::string(QB_FIXTURES_DIR) + "/real/jv3-dd40-dosplus34-m3-system.dsk";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent";
    auto image = DiskImage::OpenFloppyImage(path);
    DOSPLUS fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(false), "DOSPLUS 3.4");
    EXPECT_EQ(fs.GetDirectoryTrack(), 17);
    EXPECT_GT(TRSDOSTest::ExpectEveryFileReads(fs), 10u);
    EXPECT_GE(fs.FindFile("SYS0/SYS"), 0);
}

}  // namespace
