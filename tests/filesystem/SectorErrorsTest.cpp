// Sectors that do not read cleanly: a data field whose CRC fails is used as a
// controller hands it over, a sector gone from its track reads as zeros, a file never
// comes out longer than its size, and every such sector is named.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/CPMDisk.h"
#include "common/DamagedSectors.h"
#include "common/LDOSTestDisks.h"
#include "common/TRSDOSScratch.h"
#include "filesystem/CPM.h"
#include "filesystem/MountedDisk.h"

using namespace FileSystem;
using TestSupport::BreakDMKDataCrc;
using TestSupport::FlagJV3CrcError;
using TestSupport::RemoveJV3Sector;

namespace {

// Three files on a new 40-track double-density LDOS disk; the directory record of
// file i lies in sector 10 + i of the directory track (track 20).
struct ThreeFileDisk {
    LDOSTest::TempFolder Folder;
    std::string Path = Folder.File("three.dmk");
    std::vector<std::vector<uint8_t>> Data;

    ThreeFileDisk() {
        LDOSTest::LDOSDisk disk;
        LDOSTest::FormatFloppy(disk, Path, DiskImage::ImageDMK, 40, 1, true);
        for (int i = 0; i < 3; ++i) {
            Data.push_back(TRSDOSTest::PatternBytes(700 + 300 * static_cast<size_t>(i), static_cast<uint32_t>(i)));
            EXPECT_TRUE(disk.FS->CreateFile(Name(i), Data.back(), {}));
        }
    }
    static std::string Name(int i) { return std::string("FILE") + static_cast<char>('A' + i) + "/DAT"; }
};

struct Mounted {
    std::unique_ptr<DiskImage::TFloppyImage> Image;
    std::unique_ptr<TFileSystem> Fs;
};

Mounted Mount(const std::string& path) {
    Mounted m;
    m.Image = DiskImage::OpenFloppyImage(path);
    m.Fs = MountFloppy(m.Image.get());
    return m;
}

}  // namespace

TEST(SectorErrors, ADirectorySectorWhoseCrcFailsIsUsedAndNamed) {
    ThreeFileDisk disk;
    BreakDMKDataCrc(disk.Path, 20, 0, 10);  // the record of FILEA/DAT
    Mounted m = Mount(disk.Path);
    ASSERT_EQ(m.Fs->GetDOSName(true), "LDOS");
    for (int i = 0; i < 3; ++i) {
        const int dec = m.Fs->FindFile(ThreeFileDisk::Name(i));
        ASSERT_GE(dec, 0) << ThreeFileDisk::Name(i);
        EXPECT_EQ(m.Fs->ReadFile(dec), disk.Data[static_cast<size_t>(i)]);
    }
    ASSERT_EQ(m.Fs->GetDirectoryProblems().size(), 1u);
    const TSectorProblem problem = m.Fs->GetDirectoryProblems().front();
    EXPECT_EQ(problem.Fault, TSectorFault::CrcError);
    EXPECT_EQ(DescribeSectorProblem(problem), "track 20, side 0, sector 10: data CRC error, its bytes used as read");
    EXPECT_TRUE(m.Fs->ReadError) << "a disk read with errors is not written to";
}

TEST(SectorErrors, AFileSectorWhoseCrcFailsKeepsItsBytesAndIsNamed) {
    ThreeFileDisk disk;
    int track = 0, sector = 0;
    {
        Mounted m = Mount(disk.Path);
        auto& ldos = dynamic_cast<TRSDOSBase&>(*m.Fs);
        const TExtent first = ldos.GetExtents(ldos.FindFile("FILEC/DAT")).front();
        track = static_cast<int>(first.Track);
        sector = static_cast<int>(first.Sector) + 1;  // the file's second sector
    }
    BreakDMKDataCrc(disk.Path, track, 0, sector);
    Mounted m = Mount(disk.Path);
    const int dec = m.Fs->FindFile("FILEC/DAT");
    EXPECT_EQ(m.Fs->ReadFile(dec), disk.Data[2]);
    const TFileRead read = m.Fs->ReadFileChecked(dec);
    EXPECT_EQ(read.Bytes, disk.Data[2]);
    EXPECT_EQ(read.Size, 1300);
    EXPECT_EQ(read.GoodBytes, 1300u - 256u);
    EXPECT_FALSE(read.IsWhole());
    ASSERT_EQ(read.Problems.size(), 1u);
    EXPECT_EQ(read.Problems[0], (TSectorProblem{track, 0, sector, TSectorFault::CrcError, 256, 256}));
    EXPECT_TRUE(m.Fs->GetDirectoryProblems().empty());
    EXPECT_TRUE(m.Fs->ReadFileChecked(m.Fs->FindFile("FILEA/DAT")).IsWhole());
}

// The 1,024-byte file whose second sector is gone: exactly 1,024 bytes, a hole of
// zeros where the sector was, and the sector named.
TEST(SectorErrors, AMissingSectorLeavesAHoleNotALongerFile) {
    TRSDOSTest::TFreshDisk disk(DiskImage::ImageJV3);
    const std::vector<uint8_t> data = TRSDOSTest::PatternBytes(1024, 9);
    ASSERT_TRUE(disk.Fs->CreateFile("GAME/CMD", data, {}));
    const TExtent first = disk.Fs->GetExtents(disk.Fs->FindFile("GAME/CMD")).front();
    disk.Close();
    const int track = static_cast<int>(first.Track);
    const int sector = static_cast<int>(first.Sector) + 1;
    RemoveJV3Sector(disk.Path, track, 0, sector);
    disk.Reopen();
    const int dec = disk.Fs->FindFile("GAME/CMD");
    ASSERT_EQ(disk.Fs->GetFileSize(dec), 1024);
    std::vector<uint8_t> expected = data;
    std::fill(expected.begin() + 256, expected.begin() + 512, 0);
    EXPECT_EQ(disk.Fs->ReadFile(dec), expected);
    const TFileRead read = disk.Fs->ReadFileChecked(dec);
    EXPECT_EQ(read.Bytes, expected);
    EXPECT_EQ(read.GoodBytes, 768u);
    ASSERT_EQ(read.Problems.size(), 1u);
    EXPECT_EQ(DescribeSectorProblem(read.Problems[0]),
              "track " + std::to_string(track) + ", side 0, sector " + std::to_string(sector) + ": missing, read as zeros");
}

// The same CRC rule on every family's file reading: the bytes as read, the sector named.
TEST(SectorErrors, EveryFamilyUsesAndNamesAFileSectorWhoseCrcFails) {
    // TRSDOS 2.3 on JV3: the first sector of its first granule.
    {
        TRSDOSTest::TFreshDisk disk(DiskImage::ImageJV3);
        const std::vector<uint8_t> data = TRSDOSTest::PatternBytes(600, 3);
        ASSERT_TRUE(disk.Fs->CreateFile("NOTE/TXT", data, {}));
        const TExtent first = disk.Fs->GetExtents(disk.Fs->FindFile("NOTE/TXT")).front();
        disk.Close();
        FlagJV3CrcError(disk.Path, static_cast<int>(first.Track), 0, static_cast<int>(first.Sector));
        disk.Reopen();
        const TFileRead read = disk.Fs->ReadFileChecked(disk.Fs->FindFile("NOTE/TXT"));
        EXPECT_EQ(read.Bytes, data);
        ASSERT_EQ(read.Problems.size(), 1u);
        EXPECT_EQ(read.Problems[0].Fault, TSectorFault::CrcError);
        EXPECT_EQ(read.GoodBytes, 600u - 256u);
    }
    // CP/M, Montezuma standard data layout: block 2 starts at logical sector 8 of track 0.
    {
        TestSupport::CPMDisk cpm(TestSupport::CPMRows::MontezumaStandardData);
        const std::vector<uint8_t> data = TestSupport::Pattern(3000, 5);
        cpm.SetEntry(0, TestSupport::CPMEntry(0, "DATA", "BIN", 0, 0, 24, {2, 3}));
        cpm.SetBlock(2, std::vector<uint8_t>(data.begin(), data.begin() + 2048));
        cpm.SetBlock(3, std::vector<uint8_t>(data.begin() + 2048, data.end()));
        TestSupport::TempPath path("cpm-crc");
        ASSERT_TRUE(cpm.WriteTo(path.str()));
        CPMSectorAddress address;
        ASSERT_TRUE(CPM::MapSector(cpm.Format, 9, address));  // the second sector of block 2
        FlagJV3CrcError(path.str(), address.Track, address.Side, address.SectorId);
        Mounted m = Mount(path.str());
        ASSERT_EQ(m.Fs->GetDOSName(true), "CP/M");
        const TFileRead read = m.Fs->ReadFileChecked(m.Fs->FindFile("DATA.BIN"));
        std::vector<uint8_t> expected = data;
        expected.resize(3072, 0);
        EXPECT_EQ(read.Bytes, expected);
        ASSERT_EQ(read.Problems.size(), 1u);
        EXPECT_EQ(read.Problems[0], (TSectorProblem{address.Track, address.Side, address.SectorId,
                                                    TSectorFault::CrcError, 512, 512}));
    }
}
