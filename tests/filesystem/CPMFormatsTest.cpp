// The CP/M layout catalogue: derived values row by row, and the shape of every row.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "common/CPMDisk.h"
#include "filesystem/CPMFormats.h"

using FileSystem::CPMFormat;
using FileSystem::FormatCatalogue;
using namespace TestSupport::CPMRows;

namespace {

struct Derived {
    int blockSize;
    int blocks;
    bool wide;
    int directoryEntries;
    int directoryBlocks;
    int bytesPerFullEntry;
};

// The values a CP/M disk of each row is read with, one line per row.
constexpr Derived Expected[FileSystem::CPMFormatCount] = {
    {1024, 72, false, 64, 2, 16384},   {1024, 83, false, 64, 2, 16384},   {1024, 195, false, 64, 4, 16384},
    {2048, 175, false, 128, 2, 32768}, {2048, 200, false, 128, 2, 32768}, {2048, 355, true, 128, 2, 16384},
    {2048, 400, true, 128, 2, 16384},  {2048, 85, false, 128, 2, 32768},  {2048, 100, false, 128, 2, 32768},
    {2048, 175, false, 128, 2, 32768}, {2048, 200, false, 128, 2, 32768}, {2048, 195, false, 128, 2, 32768},
    {2048, 395, true, 128, 2, 16384},  {2048, 95, false, 128, 2, 32768},  {2048, 195, false, 128, 2, 32768},
    {2048, 391, true, 128, 2, 16384},  {2048, 220, false, 128, 2, 32768}, {2048, 440, true, 128, 2, 16384},
    {2048, 110, false, 128, 2, 32768}, {2048, 220, false, 128, 2, 32768}, {2048, 171, false, 128, 2, 32768},
    {2048, 175, false, 128, 2, 32768}, {2048, 175, false, 128, 2, 32768}, {2048, 85, false, 128, 2, 32768},
    {2048, 83, false, 64, 1, 32768},   {1024, 134, false, 64, 2, 16384},  {2048, 95, false, 128, 2, 32768},
    {2048, 173, false, 128, 2, 32768}, {1024, 166, false, 64, 2, 16384},  {1024, 156, false, 64, 2, 16384},
    {2048, 192, false, 128, 2, 32768}, {1024, 185, false, 64, 2, 16384},  {2048, 95, false, 128, 2, 32768},
    {1024, 243, false, 64, 2, 16384},  {2048, 300, true, 128, 2, 16384}, {1024, 173, false, 64, 2, 16384},
};

}  // namespace

TEST(CPMFormats, DerivedValuesMatchEveryRow) {
    for (int row = 0; row < FileSystem::CPMFormatCount; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const CPMFormat& f = FormatCatalogue[row];
        const Derived& d = Expected[row];
        EXPECT_EQ(f.BlockSize(), d.blockSize);
        EXPECT_EQ(f.BlockCount(), d.blocks);
        EXPECT_EQ(f.WideBlockNumbers(), d.wide);
        EXPECT_EQ(f.DirectoryEntries(), d.directoryEntries);
        EXPECT_EQ(f.DirectoryBlocks(), d.directoryBlocks);
        EXPECT_EQ(f.BytesPerFullEntry(), d.bytesPerFullEntry);
        // The directory blocks hold every directory entry (row 2 reserves twice the room).
        EXPECT_GE(f.DirectoryBlocks() * f.BlockSize(), f.DirectoryEntries() * 32);
        EXPECT_EQ(f.BLM, (1 << f.BSH) - 1);
    }
}

TEST(CPMFormats, EveryRowIsWellFormed) {
    for (int row = 0; row < FileSystem::CPMFormatCount; ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        const CPMFormat& f = FormatCatalogue[row];
        ASSERT_GT(f.SectorsPerTrack, 0);
        ASSERT_LE(f.SectorsPerTrack, FileSystem::CPMTranslationEntries);
        // The translation table is a permutation of consecutive ids starting at 0 or 1, zero-padded.
        std::set<int> ids(f.Translation.begin(), f.Translation.begin() + f.SectorsPerTrack);
        EXPECT_EQ(static_cast<int>(ids.size()), f.SectorsPerTrack);
        int first = *ids.begin();
        EXPECT_TRUE(first == 0 || first == 1);
        EXPECT_EQ(*ids.rbegin(), first + f.SectorsPerTrack - 1);
        EXPECT_TRUE(std::all_of(f.Translation.begin() + f.SectorsPerTrack, f.Translation.end(),
                                [](int v) { return v == 0; }));
        // SPT counts 128-byte records of one track side (rows 16 to 19 declare fewer than they hold).
        EXPECT_LE(f.SPT, f.SectorsPerTrack * f.SectorSize() / 128);
        // The description names the sides and density of the geometry.
        std::string description = f.Description.c_str();
        EXPECT_NE(description.find(f.IsDoubleSided() ? "DS" : "SS"), std::string::npos);
        EXPECT_NE(description.find(f.IsDoubleDensity() ? "DD" : "SD"), std::string::npos);
        EXPECT_TRUE((f.Flags & FileSystem::CPMSideAfterSide) == 0 || f.IsDoubleSided());
    }
}

TEST(CPMFormats, NamesAndRowsThatDifferOnlyInGeometry) {
    EXPECT_STREQ(FormatCatalogue[0].VendorName, "Lifeboat CP/M");
    EXPECT_STREQ(FormatCatalogue[0].Description, "Model I (40T, SS, SD, 72K)");
    EXPECT_STREQ(FormatCatalogue[21].Description, "1.26 and 1.30 (40T, DS, DD, 350K)");
    EXPECT_STREQ(FormatCatalogue[29].VendorName, "Radio Shack CP/M Plus");
    EXPECT_STREQ(FormatCatalogue[32].VendorName, "Memory Merchant Shuffle Board CP/M");
    // The standard double-sided system row and the 1.26 and 1.32 rows share their parameter block and differ in side order and translation.
    for (int row : {Montezuma126DS, Montezuma132DS}) {
        EXPECT_EQ(FormatCatalogue[row].DSM, FormatCatalogue[MontezumaStandardDSSystem].DSM);
        EXPECT_EQ(FormatCatalogue[row].OFF, FormatCatalogue[MontezumaStandardDSSystem].OFF);
        EXPECT_EQ(FormatCatalogue[row].Flags, 0xC2);
    }
    EXPECT_EQ(FormatCatalogue[MontezumaStandardDSSystem].Flags, 0xC0);
    EXPECT_NE(FormatCatalogue[Montezuma126DS].Translation, FormatCatalogue[Montezuma132DS].Translation);
    EXPECT_EQ(FormatCatalogue[Montezuma132DS].Translation, FormatCatalogue[MontezumaStandardDSSystem].Translation);
    // The two double-sided Lobo rows keep EXM 0 though a full entry of theirs addresses 32K.
    EXPECT_EQ(FormatCatalogue[LoboDS346].EXM, 0);
    EXPECT_EQ(FormatCatalogue[LoboDS384].EXM, 0);
}

TEST(CPMFormats, RowsAreFoundByNameAndCarryTheirRecognitionNeeds) {
    EXPECT_EQ(FileSystem::FindCPMFormatRow("Lifeboat CP/M", "Model I (40T, SS, SD, 72K)"), 0);
    EXPECT_EQ(FileSystem::FindCPMFormatRow("Lifeboat CP/M", "(40T, SS, DD, 195K)"), -1);
    // Only the single-density Model I rows ask for a sector number, and only the two
    // single-sided system rows for a blank side 1.
    std::set<int> needing;
    for (int row = 0; row < FileSystem::CPMFormatCount; ++row)
        if (FormatCatalogue[row].Needs != 0) needing.insert(row);
    EXPECT_EQ(needing, (std::set<int>{Lifeboat, OmikronMapperI, Montezuma80TSystem, MontezumaStandardSystem}));
    EXPECT_TRUE(FormatCatalogue[Lifeboat].NeedsAll(FileSystem::CPMNeedsSector0));
    EXPECT_TRUE(FormatCatalogue[OmikronMapperI].NeedsAll(FileSystem::CPMNeedsSector1));
    EXPECT_TRUE(FormatCatalogue[Montezuma80TSystem].NeedsAll(FileSystem::CPMNeedsBlankSide1));
}
