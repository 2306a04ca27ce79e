// NEWDOS/80: logical sector mapping, PDRIVE texts, drive-parameter tables
// that cannot be a disk's, DEC 31, and the real disks in their four forms.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/TRSDOSScratch.h"
#include "diskimage/DiskImage.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/NEWDOS80.h"
#include "filesystem/TRSDOS23.h"

using namespace FileSystem;
using TRSDOSTest::PatternBytes;
using TRSDOSTest::TScratchFolder;

namespace {

class TProbeNEWDOS80 : public NEWDOS80 {
public:
    using NEWDOS80::NEWDOS80;
    using NEWDOS80::DirectorySectors;
    using NEWDOS80::HIT;
    using NEWDOS80::NoLockoutTable;
};

// A single-density 40-track disk laid out by the family formatter, with a
// NEWDOS/80 drive-parameter table on track 0, sector 2.
class TNewdosDisk {
public:
    // The table of a one-sided single-density drive: 10 sectors, 2 granules
    // per logical track, directory on track 17 with 2 granules.
    static std::vector<uint8_t> PlainTable() {
        std::vector<uint8_t> table(256, 0);
        const uint8_t head[16] = {17, 40, 0, 40, 10, 2, 0, 0, 17, 2, 0, 0, 3, 1, 0, 0};
        std::copy(std::begin(head), std::end(head), table.begin());
        return table;
    }

    explicit TNewdosDisk(const std::vector<uint8_t>& table = PlainTable()) {
        Path = Folder.File("newdos.jv3");
        Image = DiskImage::CreateFloppyImage(Path, DiskImage::ImageJV3);
        { TRSDOS23 layout(Image.get(), "NEWDOS", "12/09/26", 40); }
        WriteSector(0, 2, 0xFB, table);
    }
    ~TNewdosDisk() {
        Fs.reset();
        Image.reset();
    }
    void WriteSector(int track, int sector, uint8_t dam, std::vector<uint8_t> data) {
        data.resize(DiskImage::TFloppyImage::SectorBufferSize, 0);
        ASSERT_TRUE(Image->LoadTrack(track));
        ASSERT_TRUE(Image->WriteSector(track, 0, 0, sector, dam, data.data()));
    }
    std::vector<uint8_t> ReadSector(int track, int sector) {
        std::vector<uint8_t> data(DiskImage::TFloppyImage::SectorBufferSize);
        int size = 0;
        uint8_t dam = 0;
        EXPECT_TRUE(Image->LoadTrack(track));
        EXPECT_TRUE(Image->ReadSector(track, 0, 0, sector, size, dam, data.data(), true, false));
        data.resize(static_cast<size_t>(size));
        return data;
    }
    TProbeNEWDOS80& Open() {
        Fs = std::make_unique<TProbeNEWDOS80>(Image.get());
        return *Fs;
    }

    TScratchFolder Folder;
    std::string Path;
    std::unique_ptr<DiskImage::TFloppyImage> Image;
    std::unique_ptr<TProbeNEWDOS80> Fs;
};

// An HDV2 hard disk of 20 cylinders and 2 heads holding an empty NEWDOS/80
// drive: 64 sectors per cylinder, 8 granules of 8 sectors, directory of 16
// sectors on cylinder 1.
std::string MakeNewdosHardDisk(const TScratchFolder& folder) {
    constexpr int cylinders = 20, heads = 2, trackRecord = 8256;
    std::vector<uint8_t> file = {'H', 'D', 'V', 0x1A, 9, cylinders, 0, heads - 1, 0};
    file.resize(9 + static_cast<size_t>(cylinders * heads) * trackRecord, 0);
    auto sectorAt = [&](int cylinder, int head, int sector) {
        return file.data() + 9 + static_cast<size_t>(cylinder * heads + head) * trackRecord + 64 + sector * 256;
    };
    for (int t = 0; t < cylinders * heads; ++t)
        for (int s = 0; s < 32; ++s) {
            uint8_t* entry = file.data() + 9 + static_cast<size_t>(t) * trackRecord + 2 * s;
            entry[0] = 1;
            entry[1] = static_cast<uint8_t>(s);
        }
    uint8_t* boot = sectorAt(0, 0, 1);
    boot[1] = 0xFE;
    boot[2] = 1;
    const uint8_t table[16] = {1, cylinders, 0, 8, 32, 8, heads - 1, 0, 1, 16, 0, 0, 0, 0, 1, 0};
    std::copy(std::begin(table), std::end(table), sectorAt(0, 0, 2));
    uint8_t* gat = sectorAt(1, 0, 0);
    gat[0] = 0x01;  // the boot granule
    gat[1] = 0x03;  // GAT, HIT and directory
    std::copy_n("HARDDISK", 8, reinterpret_cast<char*>(gat + 0xD0));
    const std::string path = folder.File("newdos.hdv");
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
        std::fwrite(file.data(), 1, file.size(), out);
        std::fclose(out);
    }
    return path;
}

std::string RealFixture(const char* name) { return std::string(QB_FIXTURES_DIR) + "/real/" + name; }

}  // namespace

TEST(NEWDOS80, LogicalSectorsMapOntoPhysicalTracks) {
    struct Case {
        int logicalPerTrack, physicalPerTrack;
        bool skipTrackZero;
        int track, sector;
        int physicalTrack, physicalSector;
    };
    const Case cases[] = {
        {30, 36, false, 1, 0, 0, 30},   // two-sided double density: side 1, sector 12
        {30, 36, true, 1, 0, 1, 30},    // the same with track 0 outside the space
        {10, 18, false, 17, 0, 9, 8},   // a directory that starts mid-track
        {30, 36, true, 17, 0, 15, 6},
        {15, 18, true, 24, 0, 21, 0},
        {10, 10, false, 5, 9, 5, 9},    // logical and physical tracks alike
    };
    for (const Case& c : cases) {
        int track = -1, sector = -1;
        NEWDOS80::MapLogicalSector(c.logicalPerTrack, c.physicalPerTrack, c.skipTrackZero, c.track, c.sector, track,
                                   sector);
        EXPECT_EQ(track, c.physicalTrack) << c.logicalPerTrack << " " << c.track << ":" << c.sector;
        EXPECT_EQ(sector, c.physicalSector) << c.logicalPerTrack << " " << c.track << ":" << c.sector;
    }
}

TEST(NEWDOS80, PDriveTextsNameTheDriveParameters) {
    NEWDOS80::PDriveFields floppy;
    floppy.SPT = 18;
    floppy.GPL = 2;
    floppy.TSR = 3;
    floppy.TC = 40;
    floppy.DDSL = 17;
    floppy.DDGA = 2;
    struct Case {
        int tiIndex, td;
        bool i, j, k;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, false, false, false, "TI=A,TD=A,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {2, 4, false, false, false, "TI=C,TD=E,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {1, 6, true, false, true, "TI=BIK,TD=G,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {4, 2, true, true, true, "TI=EIJK,TD=C,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2"},
    };
    for (const Case& c : cases) {
        floppy.TIIndex = c.tiIndex;
        floppy.TD = c.td;
        floppy.SuffixI = c.i;
        floppy.SuffixJ = c.j;
        floppy.SuffixK = c.k;
        EXPECT_EQ(NEWDOS80::FormatPDriveText(floppy), c.expected);
    }

    NEWDOS80::PDriveFields hard;
    hard.HardDisk = true;
    hard.HardFlags = 2;
    hard.DriveHeads = 4;
    hard.SPT = 32;
    hard.SectorsPerGranule = 8;
    hard.GPL = 8;
    hard.DDSL = 1;
    hard.DirectorySectors = 34;
    EXPECT_EQ(NEWDOS80::FormatPDriveText(hard), "HDS=(0,2,0,4,32,6,0,256,8,8,1,34)");
}

TEST(NEWDOS80, ReadsTheTableItWasGiven) {
    struct Case {
        uint8_t tiByte;
        const char* letter;
    };
    for (const Case& c : {Case{0x04, "C"}, Case{0x00, "A"}, Case{0x18, "D"}}) {
        std::vector<uint8_t> table = TNewdosDisk::PlainTable();
        table[13] = c.tiByte;
        TNewdosDisk disk(table);
        TProbeNEWDOS80& fs = disk.Open();
        EXPECT_EQ(fs.Suspicion, 0);
        EXPECT_EQ(fs.GetDOSName(false), "NEWDOS/80");
        EXPECT_EQ(fs.GetPDriveText(), std::string("TI=") + c.letter + ",TD=A,TC=40,SPT=10,TSR=3,GPL=2,DDSL=17,DDGA=2");
    }
}

TEST(NEWDOS80, WritesAndReadsFilesThroughTheMapping) {
    TNewdosDisk disk;
    TProbeNEWDOS80& fs = disk.Open();
    const std::vector<uint8_t> data = PatternBytes(7000, 5);
    ASSERT_TRUE(fs.CreateFile("PROGRAM/CMD", data, FileDate{}));
    disk.Fs.reset();
    TProbeNEWDOS80& again = disk.Open();
    EXPECT_EQ(again.Suspicion, 0);
    EXPECT_EQ(again.ReadFile(again.FindFile("PROGRAM/CMD")), data);
}

TEST(NEWDOS80, TablesThatCannotDescribeADiskAreRefused) {
    struct Case {
        const char* what;
        int byte;
        uint8_t value;
    };
    const Case cases[] = {
        {"no granules per track", 5, 0},
        {"more granules than a GAT byte holds", 5, 9},
        {"no sectors per track", 4, 0},
        {"more sectors than a track holds", 4, 200},
        {"an unknown type code", 15, 3},
        {"a double-density code on a single-density disk", 15, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> table = TNewdosDisk::PlainTable();
        table[static_cast<size_t>(c.byte)] = c.value;
        TNewdosDisk disk(table);
        EXPECT_THROW(disk.Open(), TFileSystem::EInvalidFormat);
    }
}

TEST(NEWDOS80, ZeroTrackCountMeans256TracksWithoutLockoutTable) {
    std::vector<uint8_t> table = TNewdosDisk::PlainTable();
    table[1] = 0;
    TNewdosDisk disk(table);
    TProbeNEWDOS80& fs = disk.Open();
    EXPECT_EQ(fs.GetTracks(), 256);
    EXPECT_TRUE(fs.NoLockoutTable);
    EXPECT_EQ(fs.GetFreeSpace(), 0);
}

TEST(NEWDOS80, DEC31IsNeverListedNorFound) {
    // Seven directory granules give a 34-sector directory, so DEC 31 exists:
    // directory sector 33, logical sector 203, physical track 20, sector 3.
    std::vector<uint8_t> table = TNewdosDisk::PlainTable();
    table[9] = 7;
    TNewdosDisk disk(table);
    // The directory sectors past the directory track carry its mark too.
    for (int track = 18; track <= 20; ++track)
        for (int sector = 0; sector < (track == 20 ? 3 : 10); ++sector)
            disk.WriteSector(track, sector, 0xF8, std::vector<uint8_t>(256, 0));
    std::vector<uint8_t> record(256, 0);
    record[0] = 0x10;
    const std::string name = "HIDDEN  SYS";
    std::copy(name.begin(), name.end(), record.begin() + 5);
    std::fill(record.begin() + 22, record.begin() + 32, 0xFF);
    disk.WriteSector(20, 3, 0xF8, record);
    std::vector<uint8_t> hit = disk.ReadSector(17, 1);
    hit[31] = TRSDOSBase::HashFilename("HIDDEN/SYS");
    disk.WriteSector(17, 1, 0xF8, hit);

    TProbeNEWDOS80& fs = disk.Open();
    EXPECT_EQ(fs.DirectorySectors, 34);
    EXPECT_EQ(fs.FindFile("HIDDEN/SYS"), -1);
    const std::vector<int> files = fs.ListFiles({"*/*"}, ListInvisible | ListSystem);
    EXPECT_EQ(std::count(files.begin(), files.end(), 31), 0);
    EXPECT_FALSE(files.empty());
}

TEST(NEWDOS80, RealDisksOpenInAllFourForms) {
    struct Case {
        const char* file;
        const char* pdrive;
    };
    const Case cases[] = {
        {"jv1-sd80-newdos80-data-trek14.dsk", "TI=C,TD=A,TC=80,SPT=10,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {"jv1-sd80-newdos80v2-m1-system-sidekick.jv1", "TI=C,TD=A,TC=80,SPT=10,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {"jv3-dd40-newdos80-m3-system.dsk", "TI=A,TD=E,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2"},
        {"dmk-ds80-mixed-newdos80-weikamp.dmk", "TI=CK,TD=G,TC=80,SPT=36,TSR=0,GPL=6,DDSL=17,DDGA=4"},
        {"dmk-ds40-mixed-hdos23c-gdos-newdos80-family.dmk", "TI=CK,TD=E,TC=40,SPT=18,TSR=3,GPL=3,DDSL=24,DDGA=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        if (!std::filesystem::exists(RealFixture(c.file))) GTEST_SKIP() << "real fixtures absent";
        auto image = DiskImage::OpenFloppyImage(RealFixture(c.file));
        NEWDOS80 fs(image.get());
        EXPECT_LT(fs.Suspicion, 100);
        EXPECT_EQ(fs.GetPDriveText(), c.pdrive);
        const std::vector<int> files = fs.ListFiles({"*/*"}, ListInvisible | ListSystem);
        EXPECT_FALSE(files.empty());
        for (int dec : files) {
            SCOPED_TRACE(fs.GetFullFileName(dec));
            EXPECT_EQ(fs.ReadFile(dec).size(), static_cast<size_t>(fs.GetFileSize(dec)));
        }
    }
}

TEST(NEWDOS80, HardDiskDriveMapsSectorsAcrossHeads) {
    TScratchFolder folder;
    const std::string path = MakeNewdosHardDisk(folder);
    const std::vector<uint8_t> data = PatternBytes(9000, 21);
    {
        auto image = DiskImage::OpenHardImage(path);
        NEWDOS80 fs(image.get());
        EXPECT_TRUE(fs.IsHardDisk);
        EXPECT_EQ(fs.GetDiskName(), "HARDDISK");
        EXPECT_EQ(fs.GetSectorsPerSide(), 64);
        EXPECT_EQ(fs.GetPDriveText(), "HDS=(0,1,0,2,32,6,0,64,8,8,1,16)");
        EXPECT_EQ(fs.GetFreeSpace(), (20 * 8 - 3) * 8 * 256);
        ASSERT_TRUE(fs.CreateFile("DATA/BIN", data, FileDate{}));
    }
    auto image = DiskImage::OpenHardImage(path);
    NEWDOS80 fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    const int dec = fs.FindFile("DATA/BIN");
    ASSERT_GE(dec, 0);
    EXPECT_EQ(fs.ReadFile(dec), data);

    // The file starts at granule 1 of track 0, logical sector 8; its logical
    // sector 32 is the first sector of head 1 in the image file.
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> stored(256);
    in.seekg(9 + 8256 * 1 + 64);
    in.read(reinterpret_cast<char*>(stored.data()), 256);
    EXPECT_EQ(stored, std::vector<uint8_t>(data.begin() + 24 * 256, data.begin() + 25 * 256));
}

// Recognition tries TRSDOS 1.3 and 2.8 first, then DBLDOS, before NEWDOS/80:
// the real disks must still come out as their own DOS.
TEST(NEWDOS80, RealDisksMountAsTheirOwnDOS) {
    const std::pair<const char*, const char*> cases[] = {
        {"jv1-sd80-newdos80-data-trek14.dsk", "NEWDOS/80"},
        {"jv1-sd80-newdos80v2-m1-system-sidekick.jv1", "NEWDOS/80"},
        {"jv3-dd40-newdos80-m3-system.dsk", "NEWDOS/80"},
        {"dmk-ds80-mixed-newdos80-weikamp.dmk", "NEWDOS/80"},
        {"dmk-ds40-mixed-hdos23c-gdos-newdos80-family.dmk", "NEWDOS/80"},
        {"jv3-dd40-trsdos13-m3-system.dsk", "TRSDOS 1.3"},
        {"dmk-dd40-trsdos13-m3-system.dmk", "TRSDOS 1.3"},
    };
    for (const auto& [file, dos] : cases) {
        SCOPED_TRACE(file);
        if (!std::filesystem::exists(RealFixture(file))) GTEST_SKIP() << "real fixtures absent";
        MountedDisk disk;
        disk.Open(RealFixture(file));
        ASSERT_EQ(disk.FileSystems.size(), 1u);
        EXPECT_EQ(disk.Current()->GetDOSName(false), dos);
    }
}
