// CP/M file system: sector mapping, layout recognition, parts and user areas,
// attributes, and creating, renaming and deleting files.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/CPMDisk.h"
#include "common/DamagedSectors.h"
#include "common/DMKWriter.h"
#include "diskimage/DiskImage.h"
#include "diskimage/ImageConvert.h"
#include "filesystem/CPM.h"
#include "filesystem/MountedDisk.h"

using FileSystem::CPM;
using FileSystem::CPMSectorAddress;
using FileSystem::FormatCatalogue;
using FileSystem::TFileSystem;
using TestSupport::CPMDisk;
using TestSupport::CPMEntry;
using TestSupport::Pattern;
using TestSupport::TempPath;
using namespace TestSupport::CPMRows;

namespace {

struct Opened {
    std::unique_ptr<DiskImage::TFloppyImage> image;
    std::unique_ptr<CPM> fs;
};

Opened Open(const std::string& path) {
    Opened o;
    o.image = DiskImage::OpenFloppyImage(path);
    o.fs = std::make_unique<CPM>(o.image.get());
    return o;
}

Opened Build(const CPMDisk& disk, const TempPath& path) {
    EXPECT_TRUE(disk.WriteTo(path.str()));
    return Open(path.str());
}

std::vector<std::string> Names(CPM& fs) {
    std::vector<std::string> names;
    for (int index : fs.ListFiles({"*.*"}, 0)) names.push_back(fs.GetFullFileName(index));
    return names;
}

}  // namespace

// ---------------------------------------------------------------------------
// Sector mapping

TEST(CPMMapSector, TranslationAndSideOrders) {
    struct Case {
        int row;
        int logical;
        int track, side, id, density;
    };
    const Case cases[] = {
        // Row 0: translation 1, 5, 9 after three reserved single-density tracks.
        {Lifeboat, 0, 3, 0, 1, 0}, {Lifeboat, 1, 3, 0, 5, 0}, {Lifeboat, 2, 3, 0, 9, 0}, {Lifeboat, 18, 4, 0, 1, 0},
        // Side after side, 40 tracks, OFF 2, 18 sectors.
        {Montezuma132DS, 666, 39, 0, 1, 1}, {Montezuma132DS, 684, 0, 1, 1, 1},
        // Alternating sides, OFF 2: t = 0, 1, 2.
        {MontezumaStandardDSSystem, 0, 1, 0, 1, 1}, {MontezumaStandardDSSystem, 18, 1, 1, 1, 1}, {MontezumaStandardDSSystem, 36, 2, 0, 1, 1},
        // Alternating sides, OFF 3: t = 0, 1, 2.
        {LoboDS346, 0, 1, 0, 0, 1}, {LoboDS346, 18, 2, 1, 0, 1}, {LoboDS346, 36, 2, 0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(c.row) + " sector " + std::to_string(c.logical));
        CPMSectorAddress a;
        ASSERT_TRUE(CPM::MapSector(FormatCatalogue[c.row], c.logical, a));
        EXPECT_EQ(a.Track, c.track);
        EXPECT_EQ(a.Side, c.side);
        EXPECT_EQ(a.SectorId, c.id);
        EXPECT_EQ(a.Density, c.density);
    }
}

TEST(CPMMapSector, SectorsBeyondTheLastTrackFail) {
    CPMSectorAddress a;
    EXPECT_FALSE(CPM::MapSector(FormatCatalogue[Lifeboat], -1, a));
    // Row 15 declares 391 blocks; the second half of its last block lies past track 79.
    const auto& row15 = FormatCatalogue[Montezuma80TDSSystem1024];
    const int lastBlockFirst = row15.DSM * 2;  // two 1024-byte sectors per block
    EXPECT_TRUE(CPM::MapSector(row15, lastBlockFirst - 1, a));
    EXPECT_FALSE(CPM::MapSector(row15, lastBlockFirst + 1, a));
    // Single-sided row 8: 40 tracks of 10 sectors.
    EXPECT_TRUE(CPM::MapSector(FormatCatalogue[MontezumaStandardData], 399, a));
    EXPECT_FALSE(CPM::MapSector(FormatCatalogue[MontezumaStandardData], 400, a));
}

// ---------------------------------------------------------------------------
// Names

TEST(CPMNames, ValidFilenamesAndNameEquality) {
    CPMDisk disk(MontezumaStandardData);
    TempPath path("cpm-names");
    Opened o = Build(disk, path);
    const std::pair<const char*, bool> names[] = {
        {"A", true},           {"README.TXT", true}, {"readme.txt", true}, {"ABCDEFGH.XYZ", true},
        {"NAME.", true},       {"A*?.B", true},      {"", false},          {"$TMP", false},
        {"ABCDEFGHI", false},  {".TXT", false},      {"A.ABCD", false},    {"A.B.C", false},
        {"A,B", false},        {"A_B", false},       {"A/B", false},       {"A:B", false},
        {"A\x01", false},      {"A\xC4", false},
    };
    for (const auto& [name, valid] : names) EXPECT_EQ(o.fs->IsValidFilename(name), valid) << name;

    EXPECT_TRUE(CPM::NamesEqual("READ.ME", "read/me"));
    EXPECT_TRUE(CPM::NamesEqual("DATA", "DATA."));
    EXPECT_TRUE(CPM::NamesEqual("DATA", "data/ "));
    EXPECT_FALSE(CPM::NamesEqual("DATA.A", "DATA.B"));
    EXPECT_FALSE(CPM::NamesEqual("DAT", "DATA"));
}

// ---------------------------------------------------------------------------
// Recognition

TEST(CPMRecognition, EmptyDirectoriesPreferTheFirstDoubleSidedRow) {
    {
        CPMDisk disk(MontezumaStandardData);  // 40 tracks, 10 x 512, one side, nothing written
        TempPath path("cpm-blank-ss");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
        EXPECT_EQ(o.fs->Suspicion, 0);
        EXPECT_TRUE(Names(*o.fs).empty());
        EXPECT_EQ(o.fs->GetFreeSpace(), o.fs->GetCapacity());
    }
    {
        CPMDisk disk(MontezumaStandardDSData);  // the same on two sides
        TempPath path("cpm-blank-ds");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->GetFormatRow(), MontezumaStandardDSData);
        EXPECT_EQ(o.fs->GetDOSName(true), "CP/M");
        EXPECT_EQ(o.fs->GetDOSName(false), "Montezuma Micro CP/M");
        EXPECT_EQ(o.fs->GetDOSDescription(), "Montezuma Micro CP/M Standard DS DATA (40T, DS, DD, 400K)");
    }
}

TEST(CPMRecognition, RowZeroNeedsSectorZeroAndKeepsItsName) {
    CPMDisk disk(Lifeboat);
    disk.SetEntry(0, CPMEntry(0, "HELLO", "TXT", 0, 0, 1, {2}));
    disk.SetBlock(2, Pattern(128));
    TempPath path("cpm-row0");
    Opened o = Build(disk, path);
    EXPECT_EQ(o.fs->GetFormatRow(), Lifeboat);
    EXPECT_EQ(o.fs->GetDOSDescription(), "Lifeboat CP/M Model I (40T, SS, SD, 72K)");
    EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("HELLO.TXT")), Pattern(128));
}

TEST(CPMRecognition, DataOnSide1ExcludesTheSingleSidedSystemRows) {
    // An 80-track disk with a row-3 directory holding a file, and a formatted side 1.
    CPMDisk disk(Montezuma80TSystem, 2);
    disk.SetEntry(0, CPMEntry(0, "FILE", "DAT", 0, 0, 16, {2}));
    disk.SetBlock(2, Pattern(2048));
    {
        TempPath path("cpm-side1-blank");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->GetFormatRow(), Montezuma80TSystem) << "256 bytes of 0xE5 on side 1 are no data";
    }
    disk.SetPhysical(2, 1, 1, Pattern(256));
    {
        TempPath path("cpm-side1-data");
        Opened o = Build(disk, path);
        EXPECT_NE(o.fs->GetFormatRow(), Montezuma80TSystem);
    }
}

TEST(CPMRecognition, SparseDoubleSidedDisksKeepTheirRow) {
    // A few files in low blocks: a single-sided row sees the same directory sectors,
    // but only the double-sided row finds the files' data.
    struct Case {
        int row;
        int claimedBefore;
    };
    for (const Case& c : {Case{MontezumaStandardDSData, MontezumaStandardData}, Case{Montezuma80TDSData, Montezuma80TData},
                              Case{Montezuma132DS, MontezumaStandardSystem}}) {
        SCOPED_TRACE("row " + std::to_string(c.row));
        CPMDisk disk(c.row);
        const int blockSize = disk.Format.BlockSize();
        disk.SetEntry(0, CPMEntry(0, "LOW", "DAT", 0, 0, 3 * blockSize / 128, {2, 3, 4}, disk.Format.WideBlockNumbers()));
        const std::vector<uint8_t> data = Pattern(static_cast<size_t>(3 * blockSize), 9);
        for (int b = 0; b < 3; ++b)
            disk.SetBlock(2 + b, std::vector<uint8_t>(data.begin() + b * blockSize, data.begin() + (b + 1) * blockSize));
        TempPath path("cpm-sparse");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->GetFormatRow(), c.row);
        ASSERT_EQ(Names(*o.fs), std::vector<std::string>{"LOW.DAT"});
        EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("LOW.DAT")), data);
    }
}

TEST(CPMRecognition, SingleSidedDisksKeepTheirRow) {
    for (int row : {MontezumaStandardSystem, MontezumaStandardData, Montezuma126SS}) {
        SCOPED_TRACE("row " + std::to_string(row));
        CPMDisk disk(row);
        disk.SetEntry(0, CPMEntry(0, "ONE", "COM", 0, 0, 16, {2}));
        disk.SetBlock(2, Pattern(2048, 3));
        TempPath path("cpm-ss");
        Opened o = Build(disk, path);
        EXPECT_EQ(o.fs->GetFormatRow(), row);
        EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("ONE.COM")), Pattern(2048, 3));
    }
}

TEST(CPMRecognition, UnreadableOrInvalidDirectoriesAreRefused) {
    {
        // Every sector holds entries with user bytes of 0x20, whichever row reads them.
        CPMDisk disk(MontezumaStandardData);
        for (int n = 0; n < 400; ++n) disk.SetLogical(n, std::vector<uint8_t>(512, 0x20));
        TempPath path("cpm-bad-user");
        ASSERT_TRUE(disk.WriteTo(path.str()));
        auto image = DiskImage::OpenFloppyImage(path.str());
        EXPECT_THROW(CPM fs(image.get()), TFileSystem::EInvalidFormat);
    }
    {
        // A single-density disk of 256-byte sectors: no row reads its sectors.
        TestSupport::JV3Writer writer;
        for (int track = 0; track < 40; ++track)
            for (int id = 0; id < 10; ++id) writer.Add(track, 0, id, false, std::vector<uint8_t>(256, 0xE5));
        TempPath path("cpm-sd256");
        ASSERT_TRUE(writer.WriteTo(path.str()));
        auto image = DiskImage::OpenFloppyImage(path.str());
        EXPECT_THROW(CPM fs(image.get()), TFileSystem::EInvalidFormat);
    }
    {
        // A block number beyond DSM makes the directory invalid for that row.
        CPMDisk disk(Lifeboat);
        disk.SetEntry(0, CPMEntry(0, "FAR", "", 0, 0, 8, {200}));
        TempPath path("cpm-far-block");
        ASSERT_TRUE(disk.WriteTo(path.str()));
        auto image = DiskImage::OpenFloppyImage(path.str());
        EXPECT_THROW(CPM fs(image.get()), TFileSystem::EInvalidFormat);
    }
}

// A 360K PC disk (40 tracks, 2 sides, nine 512-byte sectors) whose unused sectors
// hold 0xE5: layouts with their directory on a later track see an empty directory there.
// Its boot sector's BIOS parameter block says what the disk is.
TEST(CPMRecognition, PCDisksAreNotCPM) {
    TestSupport::JV3Writer writer;
    for (int track = 0; track < 40; ++track)
        for (int side = 0; side < 2; ++side)
            for (int id = 1; id <= 9; ++id) writer.Add(track, side, id, true, std::vector<uint8_t>(512, 0xE5));
    std::vector<uint8_t> boot(512, 0);
    const uint8_t bpb[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'D', 'O', 'S', '5', '.', '0', 0x00, 0x02, 0x02, 0x01, 0x00,
                           0x02, 0x70, 0x00, 0xD0, 0x02, 0xFD, 0x02, 0x00, 0x09, 0x00, 0x02, 0x00};
    std::copy(std::begin(bpb), std::end(bpb), boot.begin());
    boot[510] = 0x55;
    boot[511] = 0xAA;
    writer.Find(0, 0, 1)->data = boot;
    std::vector<uint8_t> fat(512, 0);
    fat[0] = 0xFD;
    fat[1] = 0xFF;
    fat[2] = 0xFF;
    writer.Find(0, 0, 2)->data = fat;  // the two FATs
    writer.Find(0, 0, 4)->data = fat;
    for (int id = 6; id <= 9; ++id) writer.Find(0, 0, id)->data.assign(512, 0);  // the root directory
    for (int id = 1; id <= 3; ++id) writer.Find(0, 1, id)->data.assign(512, 0);
    TempPath path("pc-360k");
    ASSERT_TRUE(writer.WriteTo(path.str()));
    auto image = DiskImage::OpenFloppyImage(path.str());
    EXPECT_THROW(CPM fs(image.get()), TFileSystem::EInvalidFormat);
    EXPECT_THROW(FileSystem::MountFloppy(image.get()), TFileSystem::EInvalidFormat);

    // The same sectors with a Z80 loader where the parameter block was: a CP/M disk.
    writer.Find(0, 0, 1)->data.assign(512, 0xE5);
    TempPath other("pc-360k-not");
    ASSERT_TRUE(writer.WriteTo(other.str()));
    auto notPC = DiskImage::OpenFloppyImage(other.str());
    EXPECT_NO_THROW(CPM fs(notPC.get()));
}

namespace {

// Forty tracks of six 1024-byte double-density sectors, as a DMK with the given track
// length; a directory entry of SUPER.DAT in block 2 on track 0.
bool WriteSixKilobyteDMK(const std::string& path, int trackLength) {
    TestSupport::DMKWriter dmk(trackLength);
    bool fits = true;
    for (int track = 0; track < 40; ++track) {
        std::vector<std::pair<int, std::vector<uint8_t>>> sectors;
        for (int id = 1; id <= 6; ++id) sectors.emplace_back(id, std::vector<uint8_t>(1024, 0xFF));
        if (track == 0) {
            const std::vector<uint8_t> entry = CPMEntry(0, "SUPER", "DAT", 0, 0, 16, {2});
            std::fill(sectors[0].second.begin(), sectors[0].second.end(), 0xE5);
            std::copy(entry.begin(), entry.end(), sectors[0].second.begin());
            for (int id : {3, 5, 2}) sectors[static_cast<size_t>(id - 1)].second.assign(1024, 0xE5);
        }
        fits = dmk.AddTrack(sectors) && fits;
    }
    EXPECT_TRUE(dmk.WriteTo(path));
    return fits;
}

}  // namespace

TEST(CPMRecognition, SixKilobyteTracksAreOfferedWhereTheContainerHoldsThem) {
    // The container answers: a 5.25-inch DMK track is too short, a JV3 side and an
    // 8-inch DMK track are not.
    TempPath shortDmk("cpm-short-dmk"), longDmk("cpm-long-dmk"), jv3Path("cpm-jv3");
    auto fiveInch = DiskImage::CreateFloppyImage(shortDmk.str(), DiskImage::ImageDMK);
    auto eightInch =
        DiskImage::CreateFloppyImage(longDmk.str(), DiskImage::ImageDMK, DiskImage::TRawTrack::EightInchCells);
    auto jv3 = DiskImage::CreateFloppyImage(jv3Path.str(), DiskImage::ImageJV3);
    for (int row : {Montezuma80TSuperData, Montezuma80TSuperDSData, MontezumaSuperData, MontezumaSuperDSData}) {
        const auto& f = FormatCatalogue[row];
        EXPECT_FALSE(fiveInch->HoldsTrack(f.SectorsPerTrack, f.SectorSize(), f.IsDoubleDensity())) << row;
        EXPECT_TRUE(eightInch->HoldsTrack(f.SectorsPerTrack, f.SectorSize(), f.IsDoubleDensity())) << row;
        EXPECT_TRUE(jv3->HoldsTrack(f.SectorsPerTrack, f.SectorSize(), f.IsDoubleDensity())) << row;
    }
    for (int row : {Lifeboat, Montezuma80TDSSystem1024, OmikronMapperII, OmikronMapperIII}) {
        const auto& f = FormatCatalogue[row];
        EXPECT_TRUE(fiveInch->HoldsTrack(f.SectorsPerTrack, f.SectorSize(), f.IsDoubleDensity())) << row;
    }

    // As JV3 every sector has a header slot: the disk opens as row 18 and its file reads.
    CPMDisk disk(MontezumaSuperData);
    disk.SetEntry(0, CPMEntry(0, "SUPER", "DAT", 0, 0, 16, {2}));
    disk.SetBlock(2, Pattern(2048, 9));
    TempPath jv3Disk("cpm-super");
    ASSERT_TRUE(disk.WriteTo(jv3Disk.str()));
    {
        Opened o = Open(jv3Disk.str());
        EXPECT_EQ(o.fs->GetFormatRow(), MontezumaSuperData);
        EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("SUPER.DAT")), Pattern(2048, 9));
    }

    // A DMK whose tracks are long enough reads every sector of every track.
    TempPath dmkPath("cpm-super-dmk");
    ASSERT_TRUE(WriteSixKilobyteDMK(dmkPath.str(), 7296));
    {
        Opened o = Open(dmkPath.str());
        EXPECT_EQ(o.fs->GetFormatRow(), MontezumaSuperData);
        EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("SUPER.DAT")), std::vector<uint8_t>(2048, 0xFF));
    }

    // One whose tracks are cut short loses the last sectors of every track: the layout is
    // not offered, so no file is read with zeros in their place.
    TempPath cutPath("cpm-cut-dmk");
    EXPECT_FALSE(WriteSixKilobyteDMK(cutPath.str(), 6400));
    auto image = DiskImage::OpenFloppyImage(cutPath.str());
    EXPECT_THROW(CPM fs(image.get()), TFileSystem::EInvalidFormat);
}

// ---------------------------------------------------------------------------
// Reading: parts, sizes, user areas, attributes

TEST(CPMReading, PartsSizesAndMissingParts) {
    CPMDisk disk(MontezumaStandardData);  // 2K blocks, 16 per entry, EXM 1: a full entry holds 32K
    const std::vector<uint8_t> first = Pattern(32768, 1);
    const std::vector<uint8_t> last = Pattern(3 * 128, 2);
    std::vector<int> firstBlocks;
    for (int b = 0; b < 16; ++b) {
        firstBlocks.push_back(2 + b);
        disk.SetBlock(2 + b, std::vector<uint8_t>(first.begin() + b * 2048, first.begin() + (b + 1) * 2048));
    }
    disk.SetBlock(20, last);
    disk.SetEntry(0, CPMEntry(0, "GAPPED", "DAT", 1, 0, 128, firstBlocks));  // part 0
    disk.SetEntry(1, CPMEntry(0, "GAPPED", "DAT", 4, 0, 3, {20}));           // part 2 (X = 4)
    // An allocation number of 0 inside an entry is skipped when reading.
    disk.SetEntry(2, CPMEntry(0, "HOLE", "", 0, 0, 32, {21, 0, 22}));
    disk.SetBlock(21, Pattern(2048, 5));
    disk.SetBlock(22, Pattern(2048, 6));
    TempPath path("cpm-parts");
    Opened o = Build(disk, path);
    ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);

    const int gapped = o.fs->FindFile("GAPPED.DAT");
    EXPECT_EQ(o.fs->GetExtentList(gapped), (std::vector<int>{0, -1, 1}));
    EXPECT_EQ(o.fs->GetFileSize(gapped), 32768 + 32768 + 384);
    std::vector<uint8_t> expected = first;
    expected.insert(expected.end(), 32768, 0);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(o.fs->ReadFile(gapped), expected);
    // Only the first part is listed, and a later part names the file as well.
    EXPECT_EQ(Names(*o.fs), (std::vector<std::string>{"GAPPED.DAT", "HOLE."}));
    EXPECT_EQ(o.fs->GetFileSize(1), o.fs->GetFileSize(0));

    std::vector<uint8_t> hole = Pattern(2048, 5);
    const std::vector<uint8_t> second = Pattern(2048, 6);
    hole.insert(hole.end(), second.begin(), second.end());
    EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("HOLE")), hole);
    // The walk that builds the allocation map stops at the 0: block 22 counts as free.
    EXPECT_EQ(o.fs->GetFreeSpace(), (100 - 2 - 16 - 1 - 1) * 2048);
}

TEST(CPMReading, CraftedExtentNumbersAreBoundedByTheDisk) {
    CPMDisk disk(MontezumaStandardData);
    // Extent 8191 (S2 255, EX 31) and a spread of large ones: a file cannot be larger than the disk.
    disk.SetEntry(0, CPMEntry(0, "HUGE", "", 0, 0, 1, {2}));
    disk.SetEntry(1, CPMEntry(0, "HUGE", "", 31, 255, 128, {3}));
    for (int index = 2; index < 128; ++index) disk.SetEntry(index, CPMEntry(0, "HUGE", "", index % 32, index, 128, {}));
    TempPath path("cpm-huge");
    Opened o = Build(disk, path);
    ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
    const int diskBytes = 100 * 2048;
    const int huge = o.fs->FindFile("HUGE");
    EXPECT_LE(static_cast<int>(o.fs->GetExtentList(huge).size()) * 32768, diskBytes + 32768);
    EXPECT_LE(o.fs->GetFileSize(huge), diskBytes + 32768);
    EXPECT_EQ(o.fs->ReadFile(huge).size(), static_cast<size_t>(o.fs->GetFileSize(huge)));
    // Deleting the file frees every entry of it, the damaged ones too.
    EXPECT_TRUE(o.fs->DeleteFile(huge));
    EXPECT_EQ(o.fs->FindFile("HUGE"), -1);
    EXPECT_EQ(o.fs->GetFreeSpace(), o.fs->GetCapacity());
}

TEST(CPMReading, UserAreasAndAttributes) {
    CPMDisk disk(MontezumaStandardData);
    disk.SetEntry(0, CPMEntry(3, "SAME", "TXT", 0, 0, 16, {2}));
    disk.SetEntry(1, CPMEntry(0, "SAME", "TXT", 0, 0, 16, {3}));
    std::vector<uint8_t> flagged = CPMEntry(0, "flag", "COM", 0, 0, 1, {4});
    flagged[1] |= 0x80;   // bit 7 of a name byte is not part of the name
    flagged[9] |= 0x80;   // Read-only
    flagged[10] |= 0x80;  // System
    disk.SetEntry(2, flagged);
    disk.SetBlock(2, Pattern(2048, 30));
    disk.SetBlock(3, Pattern(2048, 31));
    TempPath path("cpm-users");
    {
        Opened o = Build(disk, path);
        ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
        EXPECT_EQ(Names(*o.fs), (std::vector<std::string>{"SAME.TXT", "SAME.TXT", "FLAG.COM"}));
        EXPECT_EQ(o.fs->FindFile("same.txt"), 0);
        EXPECT_EQ(o.fs->UserNumber(0), 3);
        EXPECT_TRUE(o.fs->SupportsUserAreas());
        EXPECT_EQ(o.fs->GetUserArea(0), 3);
        EXPECT_EQ(o.fs->GetUserArea(1), 0);
        EXPECT_THROW(o.fs->GetUserArea(40), FileSystem::TFileSystem::EIllegalFileIndex);
        EXPECT_EQ(o.fs->ReadFile(0), Pattern(2048, 30));
        EXPECT_EQ(o.fs->ReadFile(1), Pattern(2048, 31));

        EXPECT_EQ(o.fs->GetAttributeLetters(2), "SR");
        EXPECT_TRUE(o.fs->HasAttribute(2, FileSystem::AttrReadOnly | FileSystem::AttrArchive));
        EXPECT_FALSE(o.fs->HasAttribute(2, FileSystem::AttrArchive));
        EXPECT_TRUE(o.fs->SupportsAttribute(0));
        EXPECT_TRUE(o.fs->SupportsAttribute(FileSystem::AttrArchive));
        EXPECT_FALSE(o.fs->SupportsAttribute(FileSystem::AttrInvisible));

        o.fs->SetAttribute(2, FileSystem::AttrArchive, true);
        o.fs->SetAttribute(2, FileSystem::AttrSystem, false);
        EXPECT_TRUE(o.fs->RenameFile(2, "new.c"));
        EXPECT_EQ(o.fs->GetFullFileName(2), "NEW.C");
        EXPECT_EQ(o.fs->GetAttributeLetters(2), "AR");

        EXPECT_TRUE(o.fs->DeleteFile(0));  // user 3 only
        EXPECT_EQ(o.fs->FindFile("SAME.TXT"), 1);
        EXPECT_FALSE(o.fs->DeleteFile(0));
    }
    Opened again = Open(path.str());
    EXPECT_EQ(Names(*again.fs), (std::vector<std::string>{"SAME.TXT", "NEW.C"}));
    EXPECT_EQ(again.fs->GetAttributeLetters(2), "AR");
    EXPECT_EQ(again.fs->ReadFile(1), Pattern(2048, 31));
}

TEST(CPMReading, IndexesOutsideTheDirectoryAreRefused) {
    CPMDisk disk(Lifeboat);
    TempPath path("cpm-index");
    Opened o = Build(disk, path);
    for (int index : {-1, 64, 1000}) {
        EXPECT_THROW(o.fs->GetFileName(index), TFileSystem::EIllegalFileIndex);
        EXPECT_THROW(o.fs->ReadFile(index), TFileSystem::EIllegalFileIndex);
        EXPECT_THROW(o.fs->DeleteFile(index), TFileSystem::EIllegalFileIndex);
    }
}

// ---------------------------------------------------------------------------
// Writing

TEST(CPMWriting, EntryBoundariesOfNewFiles) {
    CPMDisk disk(MontezumaStandardData);  // E = 256 records per entry
    TempPath path("cpm-create");
    struct Case {
        const char* name;
        size_t size;
        std::vector<int> rcs;  // RC of each entry
    };
    const Case cases[] = {
        {"EMPTY", 0, {0}},
        {"ONE", 1, {1}},
        {"FULL", 32768, {128}},
        {"FULLPLUS", 32769, {128, 1}},
    };
    {
        Opened o = Build(disk, path);
        for (const Case& c : cases) EXPECT_TRUE(o.fs->CreateFile(c.name, Pattern(c.size, 4), {}));
        EXPECT_THROW(o.fs->CreateFile("full", {}, {}), TFileSystem::EFileExists);
    }
    Opened o = Open(path.str());
    ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int index = o.fs->FindFile(c.name);
        ASSERT_GE(index, 0);
        const std::vector<int> parts = o.fs->GetExtentList(index);
        ASSERT_EQ(parts.size(), c.rcs.size());
        const int expectedSize = static_cast<int>((c.size + 127) / 128 * 128);
        EXPECT_EQ(o.fs->GetFileSize(index), expectedSize);
        std::vector<uint8_t> expected = Pattern(c.size, 4);
        expected.resize(static_cast<size_t>(expectedSize), 0);
        EXPECT_EQ(o.fs->ReadFile(index), expected);
    }
    const int plus = o.fs->FindFile("FULLPLUS");
    EXPECT_EQ(o.fs->GetExtentList(plus).size(), 2u);
    // Free space: 2 directory blocks, then 0 + 1 + 16 + 17 blocks.
    EXPECT_EQ(o.fs->GetFreeSpace(), (100 - 2 - 34) * 2048);
}

TEST(CPMWriting, LargeFilesOnRowsWithExtentMaskZeroAndTwoKilobyteBlocks) {
    // Row 30 disk with a file at entry 80, out of sight of the rows that share its directory
    // sectors; its block makes no sense as directory entries to the rows that read it as such.
    CPMDisk disk(LoboDS384);
    disk.SetEntry(80, CPMEntry(0, "FIRST", "", 0, 0, 1, {2}));
    disk.SetBlock(2, std::vector<uint8_t>(2048, 0xFF));
    TempPath path("cpm-row30");
    const std::vector<uint8_t> data = Pattern(40000, 8);
    {
        Opened o = Build(disk, path);
        ASSERT_EQ(o.fs->GetFormatRow(), LoboDS384);
        ASSERT_TRUE(o.fs->CreateFile("BIG.DAT", data, {}));
        const int big = o.fs->FindFile("BIG.DAT");
        EXPECT_EQ(Names(*o.fs), (std::vector<std::string>{"BIG.DAT", "FIRST."}));
        EXPECT_EQ(o.fs->GetExtentList(big).size(), 3u);  // 16K of data per entry
    }
    Opened o = Open(path.str());
    EXPECT_EQ(o.fs->GetFormatRow(), LoboDS384);
    const int big = o.fs->FindFile("BIG.DAT");
    ASSERT_EQ(o.fs->ListFiles({"BIG.*"}, 0), std::vector<int>{big});
    EXPECT_EQ(o.fs->GetFileSize(big), 40064);
    std::vector<uint8_t> expected = data;
    expected.resize(40064, 0);
    EXPECT_EQ(o.fs->ReadFile(big), expected);
}

TEST(CPMWriting, FullDiskAndFullDirectoryLeaveNothingBehind) {
    CPMDisk disk(Lifeboat);  // 72 blocks of 1K, 2 for the directory, 64 entries
    TempPath path("cpm-full");
    Opened o = Build(disk, path);
    const int free = o.fs->GetFreeSpace();
    EXPECT_EQ(free, 70 * 1024);
    EXPECT_THROW(o.fs->CreateFile("TOOBIG", Pattern(static_cast<size_t>(free) + 1), {}), TFileSystem::EDiskFull);
    EXPECT_EQ(o.fs->FindFile("TOOBIG"), -1);
    EXPECT_EQ(o.fs->GetFreeSpace(), free);
    EXPECT_TRUE(o.fs->CreateFile("EXACT", Pattern(static_cast<size_t>(free)), {}));
    EXPECT_EQ(o.fs->GetFreeSpace(), 0);
    EXPECT_TRUE(o.fs->DeleteFile(o.fs->FindFile("EXACT")));

    for (int i = 0; i < 64; ++i) ASSERT_TRUE(o.fs->CreateFile("F" + std::to_string(i), {}, {}));
    EXPECT_THROW(o.fs->CreateFile("ONEMORE", {}, {}), TFileSystem::ETooManyFiles);
    EXPECT_EQ(o.fs->FindFile("ONEMORE"), -1);
}

// A 35-track disk read with a 40-track layout: the 11 blocks on tracks 35 to 39 could
// never keep their data, so they are not free, and a file that needs them does not fit.
TEST(CPMWriting, BlocksTheImageCannotHoldAreNotFree) {
    CPMDisk disk(OmikronMapperI, 0, 35);  // Omikron Mapper I: 1K blocks 0-82, tracks 3-39
    disk.SetEntry(0, CPMEntry(0, "OLD", "DAT", 0, 0, 8, {2}));
    TempPath path("cpm-35-of-40");
    {
        Opened o = Build(disk, path);
        ASSERT_EQ(o.fs->GetFormatRow(), OmikronMapperI);
        EXPECT_EQ(o.fs->GetFreeSpace(), (83 - 2 - 1 - 11) * 1024);
        EXPECT_THROW(o.fs->CreateFile("BIG", Pattern(70 * 1024), {}), TFileSystem::EDiskFull);
        EXPECT_EQ(Names(*o.fs), std::vector<std::string>{"OLD.DAT"});
        EXPECT_EQ(o.fs->GetFreeSpace(), 69 * 1024);
        EXPECT_TRUE(o.fs->CreateFile("FITS", Pattern(69 * 1024, 7), {}));
        EXPECT_EQ(o.fs->GetFreeSpace(), 0);
    }
    Opened o = Open(path.str());
    EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("FITS")), Pattern(69 * 1024, 7));
}

// A sector that reads but takes no write (its ID field names the other side): a file
// whose data or whose directory entry cannot be written is not created, a delete or
// rename whose directory cannot be written does not happen, and each says so.
TEST(CPMWriting, AWriteThatFailsUndoesTheWholeChange) {
    struct Case {
        const char* Name;
        int LogicalSector;  // the sector that takes no write
        bool DirectoryFails;
    };
    for (const Case c : {Case{"data", 8, false}, Case{"directory", 0, true}}) {
        SCOPED_TRACE(c.Name);
        CPMDisk disk(MontezumaStandardData);  // Montezuma standard data: 2K blocks of four 512-byte sectors
        disk.SetEntry(1, CPMEntry(0, "KEEP", "DAT", 0, 0, 16, {3}));
        disk.SetBlock(3, Pattern(2048, 2));
        TempPath jv3("cpm-write-fails");
        ASSERT_TRUE(disk.WriteTo(jv3.str()));
        TempPath dmk("cpm-write-fails-dmk");
        DiskImage::ConvertImage(jv3.str(), dmk.str(), DiskImage::ImageDMK, true);
        CPMSectorAddress broken;
        ASSERT_TRUE(CPM::MapSector(disk.Format, c.LogicalSector, broken));
        TestSupport::SetDMKIdSide(dmk.str(), broken.Track, broken.Side, broken.SectorId, 1);
        {
            Opened o = Open(dmk.str());
            ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
            const int freeBefore = o.fs->GetFreeSpace();
            EXPECT_THROW(o.fs->CreateFile("NEW.DAT", Pattern(3000, 4), {}), TFileSystem::EFileError);
            EXPECT_EQ(Names(*o.fs), std::vector<std::string>{"KEEP.DAT"});
            EXPECT_EQ(o.fs->GetFreeSpace(), freeBefore);
            if (c.DirectoryFails) {
                EXPECT_THROW(o.fs->DeleteFile(o.fs->FindFile("KEEP.DAT")), TFileSystem::EFileError);
                EXPECT_THROW(o.fs->RenameFile(o.fs->FindFile("KEEP.DAT"), "GONE.DAT"), TFileSystem::EFileError);
                EXPECT_EQ(Names(*o.fs), std::vector<std::string>{"KEEP.DAT"});
                EXPECT_EQ(o.fs->GetFreeSpace(), freeBefore);
            }
        }
        Opened o = Open(dmk.str());
        EXPECT_EQ(Names(*o.fs), std::vector<std::string>{"KEEP.DAT"});
        EXPECT_EQ(o.fs->ReadFile(o.fs->FindFile("KEEP.DAT")), Pattern(2048, 2));
    }
}

TEST(CPMWriting, RenameRefusesTakenAndInvalidNames) {
    CPMDisk disk(MontezumaStandardData);
    TempPath path("cpm-rename");
    Opened o = Build(disk, path);
    ASSERT_TRUE(o.fs->CreateFile("A.TXT", Pattern(100), {}));
    ASSERT_TRUE(o.fs->CreateFile("B.TXT", Pattern(100), {}));
    const int a = o.fs->FindFile("A.TXT");
    EXPECT_THROW(o.fs->RenameFile(a, "b.txt"), TFileSystem::EFileExists);
    EXPECT_THROW(o.fs->RenameFile(a, "a.txt"), TFileSystem::EFileExists);
    EXPECT_THROW(o.fs->RenameFile(a, "TOOLONGNAME"), TFileSystem::EInvalidFilename);
    EXPECT_EQ(o.fs->GetFullFileName(a), "A.TXT");
}

TEST(CPMWriting, WriteProtectedImagesRefuseEveryChange) {
    CPMDisk disk(MontezumaStandardData);
    disk.SetEntry(0, CPMEntry(0, "KEEP", "ME", 0, 0, 1, {2}));
    TempPath path("cpm-protected");
    ASSERT_TRUE(disk.WriteTo(path.str(), true));
    {
        Opened o = Open(path.str());
        EXPECT_THROW(o.fs->RenameFile(0, "GONE"), TFileSystem::EWriteProtected);
        EXPECT_THROW(o.fs->DeleteFile(0), TFileSystem::EWriteProtected);
    }  // the destructor's flush must not throw
    Opened o = Open(path.str());
    EXPECT_EQ(Names(*o.fs), std::vector<std::string>{"KEEP.ME"});
}

TEST(CPMReading, RandomDirectoriesStayWithinTheDisk) {
    // Directory entries with random parts, counts and block numbers, valid enough to be
    // accepted: every query stays bounded and consistent.
    uint32_t salt = 12345;
    auto next = [&salt]() {
        salt = salt * 1103515245u + 12345u;
        return static_cast<int>((salt >> 16) & 0x7FFF);
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CPMDisk disk(MontezumaStandardData);
        for (int index = 0; index < 128; ++index) {
            if (next() % 3 == 0) continue;
            std::vector<int> blocks;
            for (int j = 0; j < 16; ++j) blocks.push_back(next() % 100);
            const std::string name(1, static_cast<char>('A' + next() % 4));
            disk.SetEntry(index, CPMEntry(next() % 16, name, "", next() % 256, next() % 256, next() % 256, blocks));
        }
        TempPath path("cpm-random");
        Opened o = Build(disk, path);
        ASSERT_EQ(o.fs->GetFormatRow(), MontezumaStandardData);
        for (int index : o.fs->ListFiles({"*.*"}, 0)) {
            const int size = o.fs->GetFileSize(index);
            EXPECT_GE(size, 0);
            EXPECT_LE(size, 2 * 100 * 2048);
            EXPECT_EQ(o.fs->ReadFile(index).size(), static_cast<size_t>(size));
        }
        EXPECT_GE(o.fs->GetFreeSpace(), 0);
    }
}
