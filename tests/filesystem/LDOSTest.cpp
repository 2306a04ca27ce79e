// LDOS and LS-DOS on floppies: version bytes, the extended date form,
// geometry of new disks, round trips, and the real disks among the fixtures.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/LDOSTestDisks.h"
#include "filesystem/MountedDisk.h"

using namespace FileSystem;
using namespace LDOSTest;

namespace {

constexpr int JV1 = DiskImage::ImageJV1;
constexpr int JV3 = DiskImage::ImageJV3;
constexpr int DMK = DiskImage::ImageDMK;

// Changes one byte of the GAT of a closed floppy image in place.
void PatchGATByte(const std::string& path, int offset, uint8_t andMask, uint8_t orBits) {
    LDOSDisk disk;
    OpenFloppy(disk, path);
    const int track = disk.FS->GetDirectoryTrack();
    uint8_t dam = 0;
    std::vector<uint8_t> gat;
    ASSERT_TRUE(disk.FS->ReadDiskSector(track, 0, 0, disk.FS->GetDensity(), dam, gat));
    gat[offset] = static_cast<uint8_t>((gat[offset] & andMask) | orBits);
    ASSERT_TRUE(disk.FS->WriteDiskSector(track, 0, 0, disk.FS->GetDensity(), dam, gat));
}

FileDate MakeDate(int year, int month, int day, int hour = -1, int minute = 0) {
    FileDate date;
    date.HasDate = true;
    date.Year = year;
    date.Month = month;
    date.Day = day;
    if (hour >= 0) {
        date.HasTime = true;
        date.Hour = hour;
        date.Minute = minute;
    }
    return date;
}

std::string Describe(const FileDate& date) {
    if (!date.HasDate)
        return "none";
    std::string text = std::to_string(date.Year) + "-" + std::to_string(date.Month) + "-" + std::to_string(date.Day);
    if (date.HasTime)
        text += " " + std::to_string(date.Hour) + ":" + std::to_string(date.Minute);
    return text;
}

}  // namespace

TEST(LDOSVersion, NamesAndAcceptedBytes) {
    struct Row {
        uint8_t Byte;
        const char* Name;
        bool Accepted;
    };
    const Row rows[] = {
        {0x30, "VTOS 3.0", true},    {0x40, "VTOS 4.0", false},   {0x41, "LDOS/LS-DOS", true},
        {0x50, "LDOS 5.0", true},    {0x51, "LDOS 5.1", true},    {0x52, "LDOS/LS-DOS", true},
        {0x53, "LDOS 5.3", true},    {0x60, "LS-DOS 6.0", true},  {0x62, "LS-DOS 6.2", true},
        {0x63, "LS-DOS 6.3", true},  {0x64, "LDOS/LS-DOS", false}, {0x00, "LDOS/LS-DOS", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(LDOS::VersionName(row.Byte), row.Name) << std::hex << int(row.Byte);
        EXPECT_EQ(LDOS::IsAcceptedVersion(row.Byte), row.Accepted) << std::hex << int(row.Byte);
    }
}

TEST(LDOSVersion, RecognitionNamesTheDiskAndScoresItsVersionByte) {
    TempFolder folder;
    const std::string path = folder.File("version.dmk");
    {
        LDOSDisk disk;
        FormatFloppy(disk, path, DMK, 40, 1, true);
    }
    struct Row {
        uint8_t Byte;
        const char* Name;
        int Suspicion;
    };
    const Row rows[] = {
        {0x40, "VTOS 4.0", 10}, {0x41, "LDOS/LS-DOS", 0}, {0x52, "LDOS/LS-DOS", 0},
        {0x63, "LS-DOS 6.3", 0}, {0x99, "LDOS/LS-DOS", 10},
    };
    for (const Row& row : rows) {
        PatchGATByte(path, 0xCB, 0x00, row.Byte);
        LDOSDisk disk;
        OpenFloppy(disk, path);
        EXPECT_EQ(disk.FS->GetDOSName(false), row.Name);
        EXPECT_EQ(disk.FS->GetDOSName(true), "LDOS");
        EXPECT_EQ(disk.FS->Suspicion, row.Suspicion) << std::hex << int(row.Byte);
    }
}

// JV1 holds single-density, one-sided tracks only: a new disk it cannot hold is refused
// rather than handed out with tracks unformatted and its directory unwritten.
TEST(LDOSGeometry, NewDiskTheContainerCannotHoldIsRefused) {
    struct Row {
        int Sides;
        bool DoubleDensity;
    };
    TempFolder folder;
    int n = 0;
    for (const Row row : {Row{1, true}, Row{2, false}, Row{2, true}}) {
        SCOPED_TRACE(std::to_string(row.Sides) + (row.DoubleDensity ? " sides, double density" : " sides, single density"));
        LDOSDisk disk;
        EXPECT_THROW(FormatFloppy(disk, folder.File("refused" + std::to_string(n++) + ".jv1"), JV1, 40, row.Sides, row.DoubleDensity),
                     TFileSystem::EInvalidFormat);
    }
}

TEST(LDOSGeometry, NewDisksAndTheirRecognition) {
    struct Row {
        int Type, Tracks, Sides;
        bool DoubleDensity;
        int SectorsPerTrack, GranulesPerTrack, SectorsPerGranule, DirectoryTrack, DirectorySectors;
    };
    const Row rows[] = {
        {DMK, 40, 2, true, 36, 6, 6, 20, 34},  {DMK, 40, 1, true, 18, 3, 6, 20, 18},
        {DMK, 35, 1, false, 10, 2, 5, 17, 10}, {DMK, 80, 2, false, 20, 4, 5, 40, 20},
        {JV3, 80, 1, true, 18, 3, 6, 40, 18},  {JV1, 80, 1, false, 10, 2, 5, 17, 10},
    };
    TempFolder folder;
    int n = 0;
    for (const Row& row : rows) {
        const std::string path = folder.File("geometry" + std::to_string(n++));
        LDOSDisk disk;
        FormatFloppy(disk, path, row.Type, row.Tracks, row.Sides, row.DoubleDensity);
        for (int pass = 0; pass < 2; ++pass) {
            SCOPED_TRACE(path + (pass ? " reopened" : " new"));
            EXPECT_EQ(disk.FS->GetTracks(), row.Tracks);
            EXPECT_EQ(disk.FS->GetSides(), row.Sides);
            EXPECT_EQ(disk.FS->GetSectorsPerTrack(), row.SectorsPerTrack);
            EXPECT_EQ(disk.FS->GetGranulesPerTrack(), row.GranulesPerTrack);
            EXPECT_EQ(disk.FS->GetSectorsPerGranule(), row.SectorsPerGranule);
            EXPECT_EQ(disk.FS->GetDirectoryTrack(), row.DirectoryTrack);
            EXPECT_EQ(disk.FS->GetDOSName(false), "LDOS 5.3");
            EXPECT_EQ(disk.FS->GetDOSDescription(), "LDOS 5.3 (date converted)");
            EXPECT_TRUE(disk.FS->DateConverted);
            // BOOT/SYS and DIR/SYS: the directory file spans the directory sectors.
            const int dir = disk.FS->FindFile("DIR/SYS");
            ASSERT_GE(dir, 0);
            EXPECT_EQ(disk.FS->GetFileSize(dir), row.DirectorySectors * 256);
            OpenFloppy(disk, path);
            EXPECT_EQ(disk.FS->Suspicion, 0);
        }
    }
}

TEST(LDOSDates, ExtendedFormStoresDateAndTimeOfNewFiles) {
    TempFolder folder;
    LDOSDisk disk;
    FormatFloppy(disk, folder.File("dates.dmk"), DMK, 40, 1, true);
    ASSERT_TRUE(disk.FS->CreateFile("STAMP/DAT", {1, 2, 3}, MakeDate(2012, 3, 5, 14, 37)));
    const int dec = disk.FS->FindFile("STAMP/DAT");
    const uint8_t* record = disk.FS->GetDirectoryRecord(dec);
    EXPECT_EQ(record[1] & 0x0F, 3);
    EXPECT_EQ(record[2], 41);
    EXPECT_EQ(record[18], 116);
    EXPECT_EQ(record[19], 0xA0);
    EXPECT_EQ(Describe(disk.FS->GetFileDate(dec)), "2012-3-5 14:37");

    OpenFloppy(disk, folder.File("dates.dmk"));
    EXPECT_EQ(Describe(disk.FS->GetFileDate(disk.FS->FindFile("STAMP/DAT"))), "2012-3-5 14:37");
}

TEST(LDOSDates, ReadsEveryFormOfTheRecord) {
    struct Row {
        uint8_t Byte1, Byte2, Byte18, Byte19;
        const char* Expected;
    };
    const Row rows[] = {
        {3, 41, 116, 0xA0, "2012-3-5 14:37"},
        {6, 8 + (4 ^ 3), 0, 100 & 31, "1984-6-1 0:0"},  // year offset 100: only the low five bits count
        {6, 8 + (3 ^ 3), 0, 99 & 31, "2079-6-1 0:0"},   // the last year the form holds
        {3, 5 * 8 + 7, 0x5A, 0x17, "1987-3-5"},         // no-password value: plain year, no time
        {0, 41, 116, 0xA0, "none"},                      // no month
        {3, 0x01, 116, 0xA0, "none"},                    // no day
        {3, 41, 0xFF, 0xE0, "2012-3-5"},                 // hour 31 is not a time of day
    };
    TempFolder folder;
    LDOSDisk disk;
    FormatFloppy(disk, folder.File("raw.dmk"), DMK, 35, 1, false);
    ASSERT_TRUE(disk.FS->CreateFile("RAW/DAT", {}, MakeDate(2000, 1, 1)));
    const int dec = disk.FS->FindFile("RAW/DAT");
    uint8_t* record = disk.FS->GetDirectoryRecord(dec);
    for (const Row& row : rows) {
        record[1] = static_cast<uint8_t>((record[1] & 0xF0) | row.Byte1);
        record[2] = row.Byte2;
        record[18] = row.Byte18;
        record[19] = row.Byte19;
        EXPECT_EQ(Describe(disk.FS->GetFileDate(dec)), row.Expected);
    }
}

TEST(LDOSDates, YearsOutsideTheFormAreClampedNotWrapped) {
    struct Row {
        bool DateConverted;
        FileDate Written;
        const char* ReadBack;
    };
    const Row rows[] = {
        {true, MakeDate(2080, 6, 1, 10, 0), "2079-12-31 23:59"},
        {true, MakeDate(2150, 6, 1), "2079-12-31 0:0"},  // the extended form always has a time
        {true, MakeDate(1975, 6, 1, 10, 30), "1980-1-1 0:0"},
        {true, MakeDate(2079, 12, 31, 23, 59), "2079-12-31 23:59"},
        {true, MakeDate(1980, 1, 1, 0, 0), "1980-1-1 0:0"},
        {true, MakeDate(2024, 13, 1), "none"},
        {false, MakeDate(1990, 2, 3), "1987-12-31"},
        {false, MakeDate(1985, 2, 3, 12, 0), "1985-2-3"},
        {false, MakeDate(1979, 2, 3), "1980-1-1"},
    };
    TempFolder folder;
    const std::string converted = folder.File("converted.dmk");
    const std::string plain = folder.File("plain.dmk");
    {
        LDOSDisk disk;
        FormatFloppy(disk, converted, DMK, 35, 1, false);
        FormatFloppy(disk, plain, DMK, 35, 1, false);
    }
    PatchGATByte(plain, 0xCD, static_cast<uint8_t>(~0x08), 0);
    for (const Row& row : rows) {
        LDOSDisk disk;
        OpenFloppy(disk, row.DateConverted ? converted : plain);
        ASSERT_EQ(disk.FS->DateConverted, row.DateConverted);
        if (const int old = disk.FS->FindFile("DATED/DAT"); old >= 0)
            disk.FS->DeleteFile(old);
        ASSERT_TRUE(disk.FS->CreateFile("DATED/DAT", {7}, row.Written));
        OpenFloppy(disk, row.DateConverted ? converted : plain);
        EXPECT_EQ(Describe(disk.FS->GetFileDate(disk.FS->FindFile("DATED/DAT"))), row.ReadBack)
            << Describe(row.Written);
    }
}

TEST(LDOSRoundTrip, NewFloppiesInEveryGeometry) {
    struct Row {
        int Type, Tracks, Sides;
        bool DoubleDensity;
    };
    const Row rows[] = {
        {DMK, 35, 1, false}, {DMK, 40, 2, false}, {DMK, 40, 1, true}, {DMK, 80, 2, true},
        {JV3, 40, 1, true},  {JV3, 80, 1, false}, {JV3, 80, 2, true}, {JV1, 35, 1, false},
        {JV1, 80, 1, false},
    };
    TempFolder folder;
    uint32_t salt = 1;
    for (const Row& row : rows) {
        const std::string path = folder.File("roundtrip" + std::to_string(salt));
        SCOPED_TRACE(std::to_string(row.Type) + " " + std::to_string(row.Tracks) + " tracks, " +
                     std::to_string(row.Sides) + " sides, " + (row.DoubleDensity ? "double" : "single"));
        LDOSDisk disk;
        FormatFloppy(disk, path, row.Type, row.Tracks, row.Sides, row.DoubleDensity);
        RunRoundTrip(disk, [&] { OpenFloppy(disk, path); }, salt++);
    }
}

// The LDOS and LS-DOS disks among the real fixtures open as LDOS, list, and
// read every file whole.
TEST(LDOSFixtures, RealDisksOpenListAndRead) {
    struct Row {
        const char* File;
        const char* Version;
    };
    const Row rows[] = {
        {"jv3-dd40-ldos531-m3-system.dsk", "LDOS 5.3"},
        {"jv3-dd40-ldos513-m3-system.dsk", "LDOS 5.1"},
        {"jv3-dd40-ds-ldos-m3-dotwriter.dsk", "LDOS 5.3"},
        {"jv3-dd40-lsdos631-m4-system-level1H.dsk", "LS-DOS 6.3"},
        {"jv3-sd80-ldos-data-xtrs-utility.dsk", "LS-DOS 6.2"},
        {"dmk-dd40-ldos531fmt-blank-frehdboot-m4.dmk", "LDOS 5.3"},
    };
    int found = 0;
    for (const Row& row : rows) {
        const std::string path = std::string(QB_FIXTURES_DIR) + "/real/" + row.File;
        if (!std::filesystem::exists(path))
            continue;
        ++found;
        SCOPED_TRACE(row.File);
        TempFolder folder;
        const std::string copy = folder.File(row.File);
        std::filesystem::copy_file(path, copy);
        LDOSDisk disk;
        OpenFloppy(disk, copy);
        EXPECT_LT(disk.FS->Suspicion, 100);
        EXPECT_EQ(disk.FS->GetDOSName(false), row.Version);
        const std::vector<int> files = disk.FS->ListFiles({"*/*"}, ListInvisible | ListSystem);
        EXPECT_GE(files.size(), 2u);
        for (int dec : files)
            EXPECT_EQ(disk.FS->ReadFile(dec).size(), static_cast<size_t>(disk.FS->GetFileSize(dec)))
                << disk.FS->GetFullFileName(dec);
        disk.Close();
        EXPECT_TRUE(ReadHostFile(copy) == ReadHostFile(path)) << "reading changed the image";
    }
    if (found == 0)
        GTEST_SKIP() << "the real LDOS fixtures are absent";
}

// LS-DOS floppies made bootable for a hard-disk interface carry another loader in track 0
// sector 1, whose byte 2 names no directory; GAT, HIT and directory still lie where LDOS
// formats them. Recognition finds them through the DOS's boot sector in sector 0, or,
// when that is another loader too (or the disk is single density, whose boot sector is
// sector 0), in the middle of the disk.
TEST(LDOSRecognition, AReplacedBootSectorStillLeadsToTheDirectory) {
    struct Row {
        int Tracks, Sides;
        bool DoubleDensity;
        uint8_t LoaderByte2;  // where the loader's byte 2 would send the usual directory-track search
        bool SectorZeroToo;   // sector 0 holds the loader as well
    };
    const Row rows[] = {
        {40, 1, true, 0x05, false}, {40, 2, true, 0x00, true}, {80, 1, true, 0xC3, true},
        {80, 2, true, 0x05, false}, {35, 1, false, 0x02, true},
    };
    TempFolder folder;
    const std::vector<uint8_t> text = {'K', 'E', 'P', 'T', '\r'};
    int n = 0;
    for (const Row& row : rows) {
        const std::string path = folder.File("loader" + std::to_string(n++) + ".dmk");
        SCOPED_TRACE(path);
        {
            LDOSDisk disk;
            FormatFloppy(disk, path, DMK, row.Tracks, row.Sides, row.DoubleDensity);
            ASSERT_TRUE(disk.FS->CreateFile("KEPT/TXT", text, MakeDate(1990, 5, 6)));
            // Recognition reads the boot sector from sector 1 of a double-density disk, from sector 0 otherwise.
            std::vector<uint8_t> loader(256, 0xC9);
            loader[0] = 0xF3;
            loader[1] = 0x31;
            loader[2] = row.LoaderByte2;
            const int density = row.DoubleDensity ? 1 : 0;
            ASSERT_TRUE(disk.FS->WriteDiskSector(0, density, 0, density, 0xFB, loader));
            if (row.SectorZeroToo) {
                ASSERT_TRUE(disk.FS->WriteDiskSector(0, 0, 0, density, 0xFB, loader));
            }
        }
        auto image = DiskImage::OpenFloppyImage(path);
        std::unique_ptr<TFileSystem> fs = MountFloppy(image.get());
        EXPECT_EQ(fs->GetDOSName(false), "LDOS 5.3");
        EXPECT_EQ(fs->Suspicion, 0);
        const int kept = fs->FindFile("KEPT/TXT");
        ASSERT_GE(kept, 0);
        EXPECT_EQ(fs->ReadFile(kept), text);
        auto* ldos = dynamic_cast<LDOS*>(fs.get());
        ASSERT_NE(ldos, nullptr);
        EXPECT_EQ(ldos->GetDirectoryTrack(), row.Tracks / 2);
        EXPECT_EQ(ldos->GetTracks(), row.Tracks);
    }
}

// The real LS-DOS 6.3.1 system disk with its boot sector replaced the same way.
TEST(LDOSRecognition, ARealLSDOSDiskWithAnotherLoaderOpens) {
    const std::string path = std::string(QB_FIXTURES_DIR) + "/real/jv3-dd40-lsdos631-m4-system-level1H.dsk";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "the real LS-DOS fixture is absent";
    TempFolder folder;
    const std::string copy = folder.File("lsdos.dsk");
    std::filesystem::copy_file(path, copy);
    size_t files = 0;
    {
        LDOSDisk disk;
        OpenFloppy(disk, copy);
        files = disk.FS->ListFiles({"*/*"}, ListInvisible | ListSystem).size();
        std::vector<uint8_t> loader(256, 0x00);
        loader[0] = 0xF3;
        loader[2] = 0x7E;
        ASSERT_TRUE(disk.FS->WriteDiskSector(0, 1, 0, 1, 0xFB, loader));
    }
    auto image = DiskImage::OpenFloppyImage(copy);
    std::unique_ptr<TFileSystem> fs = MountFloppy(image.get());
    EXPECT_EQ(fs->GetDOSName(false), "LS-DOS 6.3");
    EXPECT_EQ(fs->ListFiles({"*/*"}, ListInvisible | ListSystem).size(), files);
}
