// RSDOS: FAT judgement, granule placement, chains and sizes, the directory walk,
// and refusal of every change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/CPMDisk.h"
#include "common/JV3Writer.h"
#include "diskimage/DiskImage.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"

using FileSystem::RSDOS;
using FileSystem::TFileSystem;
using TestSupport::JV3Writer;
using TestSupport::Pattern;
using TestSupport::TempPath;

namespace {

// A formatted RSDOS disk: 35 tracks of 18 sectors, FAT all free, empty directory.
class RSDOSDisk {
public:
    RSDOSDisk() {
        for (int track = 0; track < 35; ++track)
            for (int id = 1; id <= 18; ++id) Image.Add(track, 0, id, true, std::vector<uint8_t>(256, 0xFF));
        Fat().assign(256, 0x00);
        std::fill(Fat().begin(), Fat().begin() + 68, 0xFF);
    }
    std::vector<uint8_t>& Sector(int track, int id) { return Image.Find(track, 0, id)->data; }
    std::vector<uint8_t>& Fat() { return Sector(17, 2); }
    void SetEntry(int index, const std::string& name, const std::string& ext, int type, bool ascii, int granule,
                  int lastBytes) {
        std::vector<uint8_t>& s = Sector(17, 3 + index / 8);
        uint8_t* e = s.data() + (index % 8) * 32;
        std::fill(e, e + 32, 0);
        for (int i = 0; i < 8; ++i) e[i] = i < static_cast<int>(name.size()) ? name[i] : ' ';
        for (int i = 0; i < 3; ++i) e[8 + i] = i < static_cast<int>(ext.size()) ? ext[i] : ' ';
        e[11] = static_cast<uint8_t>(type);
        e[12] = ascii ? 0xFF : 0x00;
        e[13] = static_cast<uint8_t>(granule);
        e[14] = static_cast<uint8_t>(lastBytes >> 8);
        e[15] = static_cast<uint8_t>(lastBytes & 0xFF);
    }
    void SetGranule(int granule, const std::vector<uint8_t>& data) {
        for (int k = 0; k < 9; ++k) {
            std::vector<uint8_t>& s = Sector(RSDOS::GranuleTrack(granule), RSDOS::GranuleFirstSector(granule) + k);
            std::fill(s.begin(), s.end(), 0);
            for (size_t i = 0; i < 256 && k * 256 + i < data.size(); ++i) s[i] = data[k * 256 + i];
        }
    }
    JV3Writer Image;
};

struct Opened {
    std::unique_ptr<DiskImage::TFloppyImage> image;
    std::unique_ptr<RSDOS> fs;
};

Opened Build(RSDOSDisk& disk, const TempPath& path) {
    EXPECT_TRUE(disk.Image.WriteTo(path.str()));
    Opened o;
    o.image = DiskImage::OpenFloppyImage(path.str());
    o.fs = std::make_unique<RSDOS>(o.image.get());
    return o;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(RSDOSGranules, PlacementSkipsTheDirectoryTrack) {
    EXPECT_EQ(RSDOS::GranuleTrack(0), 0);
    EXPECT_EQ(RSDOS::GranuleFirstSector(0), 1);
    EXPECT_EQ(RSDOS::GranuleTrack(33), 16);
    EXPECT_EQ(RSDOS::GranuleFirstSector(33), 10);
    EXPECT_EQ(RSDOS::GranuleTrack(34), 18);
    EXPECT_EQ(RSDOS::GranuleFirstSector(34), 1);
    EXPECT_EQ(RSDOS::GranuleTrack(67), 34);
    EXPECT_EQ(RSDOS::GranuleFirstSector(67), 10);
}

TEST(RSDOSFiles, SizesFromChainsAndLastSectorBytes) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> fat;  // granule, value
        int first;
        int lastBytes;
        int size;
    };
    const Case cases[] = {
        {"ONE", {{0, 0xC3}}, 0, 0x80, 640},
        {"TWO", {{1, 2}, {2, 0xC3}}, 1, 0x80, 2944},
        {"FULL", {{3, 0xC9}}, 3, 0x100, 2304},
        {"EMPTY", {{4, 0xC0}}, 4, 0, 0},               // as other tools write an empty file
        {"LOOP", {{5, 6}, {6, 5}}, 5, 0x80, 0},         // a chain that never ends
        {"BROKEN", {{65, 0x50}}, 65, 0x80, 0},         // a link outside the disk (FAT bytes 64-67 are not judged)
        {"FREE", {{8, 0xFF}}, 8, 0x80, 0},             // a free granule inside a chain
        {"OUTSIDE", {}, 200, 0x80, 0},                 // a first granule outside the disk
        {"HUGEB", {{9, 0xC1}}, 9, 0xFFFF, 256},        // the last sector cannot hold more than 256 bytes
    };
    RSDOSDisk disk;
    for (size_t i = 0; i < std::size(cases); ++i) {
        for (auto [granule, value] : cases[i].fat) disk.Fat()[granule] = static_cast<uint8_t>(value);
        disk.SetEntry(static_cast<int>(i), cases[i].name, "DAT", 1, false, cases[i].first, cases[i].lastBytes);
    }
    const std::vector<uint8_t> data = Pattern(2304 * 3, 3);
    disk.SetGranule(1, std::vector<uint8_t>(data.begin(), data.begin() + 2304));
    disk.SetGranule(2, std::vector<uint8_t>(data.begin() + 2304, data.begin() + 4608));
    TempPath path("rsdos-sizes");
    Opened o = Build(disk, path);
    EXPECT_EQ(o.fs->Suspicion, 0);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(o.fs->GetFileSize(static_cast<int>(i)), cases[i].size);
        EXPECT_EQ(o.fs->ReadFile(static_cast<int>(i)).size(), static_cast<size_t>(cases[i].size));
    }
    // Bytes of the sectors not in use never appear.
    EXPECT_EQ(o.fs->ReadFile(1), std::vector<uint8_t>(data.begin(), data.begin() + 2944));
}

TEST(RSDOSFiles, GranuleThirtyFourLiesOnTrackEighteen) {
    RSDOSDisk disk;
    disk.Fat()[33] = 34;
    disk.Fat()[34] = 0xC9;
    disk.SetEntry(0, "SPAN", "BIN", 2, false, 33, 256);
    const std::vector<uint8_t> data = Pattern(4608, 7);
    disk.SetGranule(33, std::vector<uint8_t>(data.begin(), data.begin() + 2304));
    disk.SetGranule(34, std::vector<uint8_t>(data.begin() + 2304, data.end()));
    // Track 17 sectors 1 and 12-18 hold something else, which must not be read.
    for (int id : {1, 12, 13}) disk.Sector(17, id).assign(256, 0xAA);
    TempPath path("rsdos-g34");
    Opened o = Build(disk, path);
    EXPECT_EQ(o.fs->ReadFile(0), data);
    EXPECT_EQ(o.fs->GetFreeSpace(), 66 * 2304);
}

TEST(RSDOSFiles, UnreadableSectorsBecomeZerosAndAnUnreadableNinthEndsTheFile) {
    RSDOSDisk disk;
    disk.Fat()[0] = 1;
    disk.Fat()[1] = 0xC9;
    disk.SetEntry(0, "GAPS", "DAT", 1, false, 0, 256);
    const std::vector<uint8_t> data = Pattern(4608, 2);
    disk.SetGranule(0, std::vector<uint8_t>(data.begin(), data.begin() + 2304));
    disk.SetGranule(1, std::vector<uint8_t>(data.begin() + 2304, data.end()));
    disk.Sector(0, 2).resize(128);  // a sector of the wrong size does not count as read
    {
        TempPath path("rsdos-gap2");
        Opened o = Build(disk, path);
        std::vector<uint8_t> expected = data;
        std::fill(expected.begin() + 256, expected.begin() + 512, 0);
        EXPECT_EQ(o.fs->ReadFile(0), expected);
    }
    disk.Sector(0, 9).resize(128);  // the ninth sector of the first granule
    {
        TempPath path("rsdos-gap9");
        Opened o = Build(disk, path);
        std::vector<uint8_t> expected(data.begin(), data.begin() + 2304);
        std::fill(expected.begin() + 256, expected.begin() + 512, 0);
        std::fill(expected.begin() + 2048, expected.end(), 0);
        expected.resize(4608, 0);
        EXPECT_EQ(o.fs->ReadFile(0), expected);
    }
}

TEST(RSDOSDirectory, EndMarkerDeletedEntriesTypesAndAscii) {
    RSDOSDisk disk;
    disk.Fat()[0] = 0xC1;
    disk.SetEntry(0, "prog", "BAS", 0, false, 0, 10);
    disk.SetEntry(1, "GONE", "DAT", 1, false, 0, 10);
    disk.Sector(17, 3)[32] = 0x00;  // deleted: skipped, the walk goes on
    disk.SetEntry(2, "NOTES", "TXT", 3, true, 0, 10);
    disk.SetEntry(3, "MACH", "BIN", 2, false, 0, 10);
    disk.Sector(17, 3)[4 * 32] = 0xFF;  // end of the directory
    disk.SetEntry(5, "HIDDEN", "DAT", 1, false, 0, 10);
    TempPath path("rsdos-dir");
    Opened o = Build(disk, path);
    ASSERT_EQ(o.fs->ListFiles({"*.*"}, 0), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(o.fs->GetFullFileName(0), "PROG.BAS");
    EXPECT_EQ(o.fs->ListFiles({"*.TXT"}, 0), std::vector<int>{2});
    EXPECT_EQ(o.fs->GetFileType(0), 0);
    EXPECT_EQ(o.fs->GetFileType(2), 3);
    EXPECT_EQ(o.fs->GetFileTypeList()[static_cast<size_t>(o.fs->GetFileType(3))], "Machine language program");
    EXPECT_TRUE(o.fs->HasAttribute(2, FileSystem::AttrASCII));
    EXPECT_FALSE(o.fs->HasAttribute(3, FileSystem::AttrASCII));
    EXPECT_EQ(o.fs->GetAttributeLetters(2), "A");
    EXPECT_FALSE(o.fs->SupportsAttribute(FileSystem::AttrASCII));
    EXPECT_TRUE(o.fs->SupportsFileTypes());
    EXPECT_EQ(o.fs->FindFile("PROG.BAS"), -1);
    EXPECT_EQ(o.fs->GetDOSName(true), "RSDOS");
    EXPECT_EQ(o.fs->GetDOSDescription(), "RSDOS");
    EXPECT_EQ(o.fs->GetCapacity(), 161280);
    EXPECT_THROW(o.fs->GetFileName(72), TFileSystem::EIllegalFileIndex);
    EXPECT_THROW(o.fs->ReadFile(-1), TFileSystem::EIllegalFileIndex);
    EXPECT_NO_THROW(o.fs->GetFileName(71));
}

TEST(RSDOSRecognition, FatJudgement) {
    struct Case {
        const char* what;
        int granule;
        int value;
        int suspicion;
    };
    const Case cases[] = {
        {"plausible", 0, 0x43, 0},
        {"last granule without sectors", 0, 0xC0, 0},
        {"bytes 64 to 67 are not judged", 64, 0x80, 0},
        {"implausible link", 63, 0x80, 100},
        {"too many sectors", 10, 0xCA, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RSDOSDisk disk;
        disk.Fat()[c.granule] = static_cast<uint8_t>(c.value);
        TempPath path("rsdos-fat");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->Suspicion, c.suspicion);
    }
    {
        RSDOSDisk disk;
        disk.Sector(17, 5).resize(128);
        disk.Sector(17, 9).resize(128);
        TempPath path("rsdos-dir-unreadable");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->Suspicion, 10);
        EXPECT_TRUE(o.fs->ReadError);
    }
    {
        RSDOSDisk disk;
        disk.Fat().resize(128);
        TempPath path("rsdos-fat-unreadable");
        Opened o = Build(disk, path);
        EXPECT_GE(o.fs->Suspicion, 100);
        EXPECT_TRUE(o.fs->ReadError);
    }
}

// A Color Computer OS-9 disk describes itself in logical sector 0 (track 0, sector 1);
// whatever its track 17 holds (here zeros, which pass for a FAT of links and an empty
// directory) is not an RSDOS FAT.
TEST(RSDOSRecognition, OS9DisksAreNotRSDOS) {
    RSDOSDisk disk;
    for (int track = 0; track < 35; ++track)
        for (int id = 1; id <= 18; ++id) disk.Sector(track, id).assign(256, 0);
    std::vector<uint8_t>& id = disk.Sector(0, 1);
    const uint8_t description[] = {0x00, 0x02, 0x76,  // 630 sectors
                                   18,                // sectors per track
                                   0x00, 0x4F,        // 79 bytes of allocation map
                                   0x00, 0x01,        // one sector per cluster
                                   0x00, 0x00, 0x03,  // root directory at LSN 3
                                   0x00, 0x00, 0xFF, 0x12, 0x34, 0x00, 0x00, 0x12};
    std::copy(std::begin(description), std::end(description), id.begin());
    const std::string name = "OS9DISK";
    std::copy(name.begin(), name.end(), id.begin() + 31);
    id[31 + name.size() - 1] |= 0x80;
    {
        TempPath path("os9");
        Opened o = Build(disk, path);
        EXPECT_GE(o.fs->Suspicion, 100);
        EXPECT_THROW(FileSystem::MountFloppy(o.image.get()), TFileSystem::EInvalidFormat);
    }
    // The same disk with that sector holding file data is an (empty) RSDOS disk.
    std::fill(id.begin(), id.begin() + 64, 0x41);
    TempPath path("os9-not");
    Opened o = Build(disk, path);
    EXPECT_EQ(o.fs->Suspicion, 0);
}

TEST(RSDOSReadOnly, EveryChangeIsRefusedAndTheImageKeepsItsBytes) {
    RSDOSDisk disk;
    disk.Fat()[0] = 0xC1;
    disk.SetEntry(0, "KEEP", "BAS", 0, false, 0, 10);
    TempPath path("rsdos-readonly");
    const std::vector<uint8_t> before = [&] {
        EXPECT_TRUE(disk.Image.WriteTo(path.str()));
        return FileBytes(path.str());
    }();
    {
        auto image = DiskImage::OpenFloppyImage(path.str());
        RSDOS fs(image.get());
        EXPECT_FALSE(fs.SupportsWriting());
        EXPECT_THROW(fs.CreateFile("NEW.BAS", {1, 2, 3}, {}), TFileSystem::Exception);
        EXPECT_THROW(fs.DeleteFile(0), TFileSystem::Exception);
        EXPECT_THROW(fs.RenameFile(0, "OTHER.BAS"), TFileSystem::Exception);
        EXPECT_THROW(fs.SetAttribute(0, FileSystem::AttrASCII, true), TFileSystem::Exception);
        EXPECT_THROW(fs.SetFileName(0, "X"), TFileSystem::Exception);
        EXPECT_FALSE(fs.RewriteFile(0, {}));
        fs.Flush();
        image->Flush();
    }
    EXPECT_EQ(FileBytes(path.str()), before);
}

TEST(RSDOSNames, ValidFilenames) {
    RSDOSDisk disk;
    TempPath path("rsdos-names");
    Opened o = Build(disk, path);
    const std::pair<const char*, bool> names[] = {
        {"A", true},         {"PROGRAM.BAS", true}, {"prog/bas", true}, {"ABCDEFGH.XYZ", true},
        {"", false},         {"A:B", false},        {"A.B.C", false},   {"A.B/C", false},
        {"ABCDEFGHI", false}, {".BAS", false},      {"A.BASI", false},  {"A\x7F", true},
        {"A\x80", false},
    };
    for (const auto& [name, valid] : names) EXPECT_EQ(o.fs->IsValidFilename(name), valid) << name;
}

TEST(RSDOSFiles, RandomFatsAndDirectoriesStayBounded) {
    uint32_t salt = 777;
    auto next = [&salt]() {
        salt = salt * 1103515245u + 12345u;
        return static_cast<int>((salt >> 16) & 0x7FFF);
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        RSDOSDisk disk;
        for (int g = 0; g < 256; ++g) disk.Fat()[g] = static_cast<uint8_t>(next() % 256);
        for (int id = 3; id <= 11; ++id)
            for (auto& b : disk.Sector(17, id)) b = static_cast<uint8_t>(next() % 256);
        TempPath path("rsdos-random");
        Opened o = Build(disk, path);
        for (int index = 0; index < RSDOS::DirectoryEntries; ++index) {
            const int size = o.fs->GetFileSize(index);
            EXPECT_GE(size, 0);
            EXPECT_LE(size, 68 * 2304);
            EXPECT_EQ(o.fs->ReadFile(index).size(), static_cast<size_t>(size));
        }
        o.fs->ListFiles({"*.*"}, 0);
    }
}

// The disk check follows every chain: a sound disk is healthy, and a chain that leaves
// the disk, one that loops, and a used granule no chain reaches are each named.
TEST(RSDOSCheck, BrokenAndLoopingChainsAreReported) {
    auto findingsFor = [](RSDOSDisk& disk, const char* name) {
        TempPath path(name);
        Opened o = Build(disk, path);
        return FileSystem::CheckFileSystem(*o.fs);
    };
    auto text = [](const std::vector<FileSystem::TFinding>& findings) {
        std::string all;
        for (const auto& f : findings) all += f.Message + "\n";
        return all;
    };

    RSDOSDisk sound;
    sound.Fat()[1] = 2;
    sound.Fat()[2] = 0xC3;
    sound.SetEntry(0, "GOOD", "DAT", 1, false, 1, 0x80);
    const auto healthy = findingsFor(sound, "rsdos-check-sound");
    EXPECT_TRUE(FileSystem::IsHealthy(healthy)) << text(healthy);

    RSDOSDisk damaged;
    damaged.Fat()[10] = 0x50;  // a link outside the disk
    damaged.SetEntry(0, "BROKEN", "DAT", 1, false, 10, 0x80);
    damaged.Fat()[20] = 21;  // 20 -> 21 -> 20 ...
    damaged.Fat()[21] = 20;
    damaged.SetEntry(1, "LOOP", "DAT", 1, false, 20, 0x80);
    damaged.Fat()[30] = 0xC1;  // used, but no file starts there
    const auto findings = findingsFor(damaged, "rsdos-check-damaged");
    EXPECT_FALSE(FileSystem::IsHealthy(findings));
    const std::string all = text(findings);
    EXPECT_NE(all.find("granule chain is broken after granule 10"), std::string::npos) << all;
    EXPECT_NE(all.find("LOOP"), std::string::npos) << all;
    EXPECT_NE(all.find("Granule 30 is marked used in the FAT but no file's chain reaches it"), std::string::npos)
        << all;
}
