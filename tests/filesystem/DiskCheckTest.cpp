// The disk check: healthy disks give no complaint, and each kind of damage made on
// purpose gives the finding that names it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/CPMDisk.h"
#include "common/HardDiskLayouts.h"
#include "common/TRSDOSScratch.h"
#include "common/TempDir.h"
#include "diskimage/ImageConvert.h"
#include "filesystem/CPM.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"
#include "filesystem/TRSDOS23.h"

using namespace FileSystem;

namespace {

std::string Messages(const std::vector<TFinding>& findings) {
    std::string all;
    for (const auto& f : findings) all += SeverityName(f.Severity) + ": " + f.Message + "\n";
    return all;
}

bool Has(const std::vector<TFinding>& findings, TSeverity severity, const std::string& text) {
    for (const auto& f : findings)
        if (f.Severity == severity && f.Message.find(text) != std::string::npos) return true;
    return false;
}

using Exposed23 = TRSDOSTest::TExposed<TRSDOS23>;

// A fresh TRSDOS 2.3 disk holding two files of two granules each.
struct Disk23 {
    TRSDOSTest::TScratchFolder folder;
    std::unique_ptr<DiskImage::TFloppyImage> image;
    std::unique_ptr<Exposed23> fs;
    int a = -1, b = -1;

    explicit Disk23(int imageType = DiskImage::ImageJV1) {
        image = DiskImage::CreateFloppyImage(folder.File("disk"), imageType);
        fs = std::make_unique<Exposed23>(image.get(), "CHECK", "12/09/26", 35);
        EXPECT_TRUE(fs->CreateFile("FIRST/DAT", std::vector<uint8_t>(3000, 1), FileDate{}));
        EXPECT_TRUE(fs->CreateFile("SECOND/DAT", std::vector<uint8_t>(3000, 2), FileDate{}));
        a = fs->FindFile("FIRST/DAT");
        b = fs->FindFile("SECOND/DAT");
    }
    uint8_t* Record(int dec) { return fs->GetDirectoryRecord(dec); }
};

}  // namespace

TEST(DiskCheck, FreshTRSDOSDiskIsHealthy) {
    Disk23 disk;
    auto findings = CheckFileSystem(*disk.fs);
    EXPECT_TRUE(IsHealthy(findings)) << Messages(findings);
    disk.fs->Flush();
    auto tracks = CheckFloppyTracks(*disk.image);
    EXPECT_TRUE(IsHealthy(tracks)) << Messages(tracks);
}

TEST(DiskCheck, DamagedTRSDOSStructuresAreNamed) {
    struct Case {
        const char* what;
        std::function<void(Disk23&)> damage;
        TSeverity severity;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"granule used by two files",
         [](Disk23& d) {
             d.Record(d.b)[22] = d.Record(d.a)[22];
             d.Record(d.b)[23] = d.Record(d.a)[23];
         },
         TSeverity::Error, "is used by both FIRST/DAT and SECOND/DAT"},
        {"granule marked used that no file owns", [](Disk23& d) { d.fs->GAT[30] |= 0x01; }, TSeverity::Warning,
         "track 30, granule 0 is marked used but no file owns it"},
        {"granule of a file marked free", [](Disk23& d) { d.fs->GAT[d.Record(d.a)[22]] = 0; }, TSeverity::Error,
         "is marked free in the GAT"},
        {"extent past the disk", [](Disk23& d) { d.Record(d.b)[22] = 40; }, TSeverity::Error,
         "SECOND/DAT: extent reaches track 40"},
        {"HIT byte disagrees", [](Disk23& d) { d.fs->HIT[static_cast<size_t>(d.a)] ^= 0x55; }, TSeverity::Error,
         "FIRST/DAT: HIT byte"},
        {"HIT byte of a free record", [](Disk23& d) { d.fs->HIT[0x45] = 0x33; }, TSeverity::Warning,
         "HIT byte 0x45 is 0x33 but its directory record is free"},
        {"size larger than extents", [](Disk23& d) { d.Record(d.a)[21] = 0x10; }, TSeverity::Error,
         "FIRST/DAT: size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Disk23 disk;
        ASSERT_GE(disk.a, 0);
        c.damage(disk);
        auto findings = CheckFileSystem(*disk.fs);
        EXPECT_FALSE(IsHealthy(findings));
        EXPECT_TRUE(Has(findings, c.severity, c.expected)) << Messages(findings);
        disk.fs->Modified = false;  // leave the damage in memory only
    }
}

// The real hard disks' own state: BOOT/SYS without extents, the system area on tracks 0
// and 1 reserved in the GAT. Neither is damage; a granule leaked after the files is.
TEST(DiskCheck, HardDiskSystemAreaIsTheDOSsOwn) {
    TestSupport::TempDir folder;
    const HardDiskTest::TBuiltDisk built = HardDiskTest::BuildLDOSDividedByHeads(folder / "ldos.hdv");
    MountedDisk disk;
    disk.Open(built.Path, true);
    ASSERT_EQ(disk.FileSystems.size(), 4u);
    for (auto& fs : disk.FileSystems) {
        const auto findings = CheckFileSystem(*fs);
        EXPECT_TRUE(IsHealthy(findings)) << Messages(findings);
        EXPECT_TRUE(Has(findings, TSeverity::Info, "8 granules on tracks 0 to 1 are the system area the DOS reserves"))
            << Messages(findings);
    }

    struct Case {
        const char* what;
        int bootTrack;
        std::pair<int, int> leak;
        std::string expected;
    } cases[] = {
        {"a granule leaked after the first file", -1, {30, 2}, "track 30, granule 2 is marked used"},
        {"a DOS that gives BOOT/SYS its extent", 0, {0, 0}, "track 1, granule 3 is marked used"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder / "one.hdv";
        {
            HardDiskTest::THDV1File file(path, 40, 40, 1);
            HardDiskTest::TVolume volume = HardDiskTest::VolumeOf(
                [](int track, int sector) { return HardDiskTest::TPlace{track, 0, sector}; }, 40, 32, 8, 4, 20, 32);
            volume.Gat[0xCB] = 0x53;
            volume.Gat[0xCC] = 5;
            volume.Gat[0xCD] = 0x83;
            volume.Reserved = {{0, 1}, {1, 0}, {1, 1}, {1, 2}, {1, 3}, c.leak};
            volume.Files = {HardDiskTest::SystemFile("BOOT", 1280, c.bootTrack, 0, 5),
                            HardDiskTest::SystemFile("DIR", 32 * 256, 20, 0),
                            HardDiskTest::UserFile("README", "", 700, 1, 2, 0)};
            HardDiskTest::WriteVolume(file, volume);
        }
        MountedDisk one;
        one.Open(path, true);
        const auto findings = CheckFileSystem(*one.Current());
        EXPECT_TRUE(Has(findings, TSeverity::Warning, c.expected)) << Messages(findings);
        EXPECT_FALSE(Has(findings, TSeverity::Error, "BOOT/SYS")) << Messages(findings);
    }
}

TEST(DiskCheck, CrcErrorsAndMissingSectorsOnTheTracks) {
    TRSDOSTest::TScratchFolder folder;
    const std::string path = folder.File("disk.dmk");
    {
        auto image = DiskImage::CreateFloppyImage(path, DiskImage::ImageDMK);
        auto fs = std::make_unique<TRSDOS23>(image.get(), "CHECK", "12/09/26", 35);
        fs->Flush();
        fs.reset();
        std::array<std::vector<DiskImage::TTrackSector>, 2> sides;
        ASSERT_TRUE(image->LoadTrack(5));
        sides[0] = image->ReadTrackSide(0);
        sides[0][3].CrcError = true;
        ASSERT_TRUE(image->LayOutTrack(5, sides));
        ASSERT_TRUE(image->LoadTrack(9));
        sides[0] = image->ReadTrackSide(0);
        const int removed = sides[0][4].Sector;
        sides[0].erase(sides[0].begin() + 4);
        ASSERT_TRUE(image->LayOutTrack(9, sides));
        ASSERT_TRUE(image->Flush());
        auto findings = CheckFloppyTracks(*image);
        EXPECT_FALSE(IsHealthy(findings));
        EXPECT_TRUE(Has(findings, TSeverity::Error, "Track 5, side 0, sector " + std::to_string(sides[0][3].Sector)))
            << Messages(findings);
        EXPECT_TRUE(Has(findings, TSeverity::Error, "data CRC error")) << Messages(findings);
        EXPECT_TRUE(Has(findings, TSeverity::Error,
                        "Track 9, side 0, sector " + std::to_string(removed) + ": missing or unreadable"))
            << Messages(findings);
    }
}

// A disk whose every track lost the same sectors passes the comparison between tracks;
// the count of what the file stores still shows them.
TEST(DiskCheck, StoredSectorsThatCannotBeReadAreCounted) {
    TRSDOSTest::TScratchFolder folder;
    const std::string path = folder.File("cut.dmk");
    {
        // Ten tracks of ten sectors, each ID field but the first six made unreadable.
        auto image = DiskImage::CreateFloppyImage(path, DiskImage::ImageDMK);
        for (int track = 0; track < 10; ++track) {
            ASSERT_TRUE(image->FormatTrack(track, 10, 1, false, 0xFB, true, 1));
            DiskImage::TRawTrack& side = image->RawSide(0);
            const int perSector = DiskImage::TRawTrack::FormattedSectorCells(256, true);
            for (int sector = 6; sector < 10; ++sector) {
                const int crcCell = sector * perSector + 12 + 3 + 1 + 4;  // gap, sync, mark, ID: its CRC
                side.Set(crcCell, static_cast<DiskImage::Cell>(side.At(crcCell) ^ 0x55));
            }
        }
        ASSERT_TRUE(image->Flush());
    }
    auto image = DiskImage::OpenFloppyImage(path, true);
    auto findings = CheckFloppyTracks(*image);
    EXPECT_FALSE(IsHealthy(findings));
    for (int track : {0, 9}) {
        EXPECT_TRUE(Has(findings, TSeverity::Error,
                        "Track " + std::to_string(track) + ", side 0: 4 of 10 stored sectors could not be read"))
            << Messages(findings);
    }
    EXPECT_FALSE(Has(findings, TSeverity::Error, "missing or unreadable")) << Messages(findings);
}

TEST(DiskCheck, CPMBlocksClaimedTwice) {
    TestSupport::CPMDisk disk(TestSupport::CPMRows::Lifeboat);
    disk.SetEntry(0, TestSupport::CPMEntry(0, "ONE", "TXT", 0, 0, 8, {2, 3}));
    disk.SetEntry(1, TestSupport::CPMEntry(0, "TWO", "TXT", 0, 0, 8, {3, 4}));
    TestSupport::TempPath path("cpm-check.jv3");
    ASSERT_TRUE(disk.WriteTo(path.str()));
    auto image = DiskImage::OpenFloppyImage(path.str(), true);
    CPM fs(image.get());
    auto findings = CheckFileSystem(fs);
    EXPECT_TRUE(Has(findings, TSeverity::Error, "Block 3 is claimed by both directory entry 0 and directory entry 1"))
        << Messages(findings);
}

// Every real disk that is healthy stays so; those with damage are reported and the
// image file is never changed.
TEST(DiskCheck, RealDisksCheckWithoutChange) {
    const char* env = std::getenv("QB_FIXTURES_DIR");
    std::filesystem::path root = std::filesystem::path(env ? env : QB_FIXTURES_DIR) / "real";
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no real fixtures";
    int healthy = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const auto before = std::filesystem::last_write_time(entry.path());
        std::unique_ptr<DiskImage::TFloppyImage> image;
        try {
            image = DiskImage::OpenFloppyImage(entry.path().string(), true);
        } catch (const DiskImage::TDiskImage::Exception&) {
            continue;
        }
        std::vector<TFinding> findings = CheckFloppyTracks(*image);
        std::unique_ptr<TFileSystem> fs;
        try {
            fs = MountFloppy(image.get());
        } catch (const TFileSystem::Exception&) {
        }
        if (fs) {
            auto more = CheckFileSystem(*fs);
            findings.insert(findings.end(), more.begin(), more.end());
        }
        if (IsHealthy(findings)) ++healthy;
        fs.reset();
        image.reset();
        EXPECT_EQ(std::filesystem::last_write_time(entry.path()), before);
    }
    EXPECT_GT(healthy, 0);
}
