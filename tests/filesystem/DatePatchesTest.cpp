// The 2012 date patches: the state machine on synthetic system disks, and the
// real LS-DOS and LDOS disks.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "common/LDOSTestDisks.h"
#include "filesystem/DatePatches.h"

using namespace FileSystem;
using namespace LDOSTest;

namespace {

using FileContents = std::map<std::string, std::vector<uint8_t>>;

// The sizes of the delivered LS-DOS 6.3.1 system files.
const std::map<std::string, size_t> SystemFileSizes = {
    {"SYS3/SYS", 882},    {"SYS0/SYS", 4528},   {"SYS7/SYS", 6599},
    {"SYS6/SYS", 13748},  {"BACKUP/CMD", 6728}, {"BOOT/SYS", 4096},
};

enum class Side { Unpatched, Patched };

void PlaceSet(const DatePatchSet& set, Side side, std::vector<uint8_t>& bytes) {
    for (const DatePatchRecord& record : set) {
        const std::vector<uint8_t>& chosen = side == Side::Patched ? record.Patched : record.Unpatched;
        ASSERT_LE(record.Offset + chosen.size(), bytes.size());
        std::copy(chosen.begin(), chosen.end(), bytes.begin() + record.Offset);
    }
}

// System files of random bytes carrying the chosen bytes of one variant.
FileContents MakeSystemFiles(const DatePatchVariant& variant, Side side) {
    FileContents files;
    uint32_t salt = 7;
    for (const auto& [name, size] : SystemFileSizes)
        files[name] = PatternBytes(size, salt++);
    for (int i = 0; i < DatePatchFileCount; ++i)
        PlaceSet(variant.Sets[i], side, files[DatePatchFileNames[i]]);
    return files;
}

void MakeSystemDisk(LDOSDisk& disk, const std::string& path, const FileContents& files) {
    FormatFloppy(disk, path, DiskImage::ImageDMK, 40, 1, true);
    const FileDate date{true, true, 2, 28, 1990, 9, 15, 0};
    for (const auto& [name, bytes] : files) {
        if (name != "BOOT/SYS") {  // the formatter's BOOT/SYS is replaced below
            ASSERT_TRUE(disk.FS->CreateFile(name, bytes, date)) << name;
        }
    }
    if (files.count("BOOT/SYS")) {
        ASSERT_TRUE(disk.FS->DeleteFile(disk.FS->FindFile("BOOT/SYS")));
        ASSERT_TRUE(disk.FS->CreateFile("BOOT/SYS", files.at("BOOT/SYS"), date));
    } else {
        ASSERT_TRUE(disk.FS->DeleteFile(disk.FS->FindFile("BOOT/SYS")));
    }
    disk.FS->Flush();
}

FileContents ReadAllFiles(LDOS& fs) {
    FileContents files;
    for (int dec : fs.ListFiles({"*/*"}, ListInvisible | ListSystem))
        files[fs.GetFullFileName(dec)] = fs.ReadFile(dec);
    return files;
}

void ExpectState(const DatePatchState& state, bool offer, int variant, int kind) {
    EXPECT_EQ(state.Offer, offer);
    EXPECT_EQ(state.Variant, variant);
    EXPECT_EQ(state.Kind, kind);
}

// A small table made for the tests: one record per entry, distinct offsets.
DatePatchVariant SmallVariant(int variant, uint8_t unpatchedBase, uint8_t patchedBase) {
    DatePatchVariant result;
    result.Variant = variant;
    for (int i = 0; i < DatePatchFileCount; ++i) {
        const uint32_t offset = 100 + 20 * static_cast<uint32_t>(i);
        result.Sets[i].push_back({offset, {static_cast<uint8_t>(unpatchedBase + i), 0x55},
                                  {static_cast<uint8_t>(patchedBase + i), 0x66}});
    }
    return result;
}

std::string FixturePath(const char* name) { return std::string(QB_FIXTURES_DIR) + "/real/" + name; }

}  // namespace

TEST(DatePatchState, UnpatchedDiskIsPatchedInOneRun) {
    const DatePatchVariant& lsdos = *CurrentDatePatchTable().Find(4);
    const FileContents delivered = MakeSystemFiles(lsdos, Side::Unpatched);
    TempFolder folder;
    const std::string path = folder.File("system.dmk");
    LDOSDisk disk;
    MakeSystemDisk(disk, path, delivered);

    ExpectState(GetDatePatchState(*disk.FS), true, 4, DatePatchUnpatched);
    EXPECT_EQ(DatePatchSystemName(4), "LS-DOS");
    std::string problem;
    ASSERT_TRUE(ApplyDatePatches(*disk.FS, 4, DatePatchUnpatched, &problem)) << problem;
    ExpectState(GetDatePatchState(*disk.FS), false, 4, DatePatchCurrent);

    // Both SYS7/SYS passes are in place, and nothing else changed.
    FileContents expected = delivered;
    for (int i = 0; i < DatePatchFileCount; ++i)
        PlaceSet(lsdos.Sets[i], Side::Patched, expected[DatePatchFileNames[i]]);
    OpenFloppy(disk, path);
    ExpectState(GetDatePatchState(*disk.FS), false, 4, DatePatchCurrent);
    for (const auto& [name, bytes] : expected)
        EXPECT_TRUE(disk.FS->ReadFile(disk.FS->FindFile(name)) == bytes) << name;
    EXPECT_TRUE(ApplyDatePatches(*disk.FS, 4, DatePatchCurrent)) << "a current disk has nothing to do";
}

TEST(DatePatchState, PreviousEditionIsRemovedThenTheCurrentApplied) {
    DatePatchTable current;
    current.Variants.push_back(SmallVariant(4, 0xA0, 0xB0));
    DatePatchTable previous;
    previous.Variants.push_back(SmallVariant(4, 0xA0, 0xC0));
    // A change of the previous edition that the current one no longer makes.
    previous.Variants[0].Sets[3].push_back({400, {0x11}, {0x22}});

    FileContents files = MakeSystemFiles(current.Variants[0], Side::Unpatched);
    files["SYS6/SYS"][400] = 0x11;
    for (int i = 0; i < DatePatchFileCount; ++i)
        PlaceSet(previous.Variants[0].Sets[i], Side::Patched, files[DatePatchFileNames[i]]);
    TempFolder folder;
    LDOSDisk disk;
    MakeSystemDisk(disk, folder.File("previous.dmk"), files);

    ExpectState(GetDatePatchState(*disk.FS, current, previous), true, 4, DatePatchPreviousEdition);
    ExpectState(GetDatePatchState(*disk.FS), false, -1, DatePatchNone);  // the shipped tables know no such disk
    ASSERT_TRUE(ApplyDatePatches(*disk.FS, 4, DatePatchPreviousEdition, current, previous));
    ExpectState(GetDatePatchState(*disk.FS, current, previous), false, 4, DatePatchCurrent);
    EXPECT_EQ(disk.FS->ReadFile(disk.FS->FindFile("SYS6/SYS"))[400], 0x11);
    EXPECT_EQ(disk.FS->ReadFile(disk.FS->FindFile("SYS7/SYS"))[100 + 20 * 5], 0xB5) << "second SYS7/SYS set";
}

TEST(DatePatchState, VariantMustBeTheSameForEveryEntry) {
    DatePatchTable table;
    table.Variants.push_back(SmallVariant(4, 0xA0, 0xB0));
    DatePatchVariant ldos = SmallVariant(3, 0xD0, 0xE0);
    ldos.Sets[6].clear();  // BOOT/SYS has no records for LDOS, yet must exist
    table.Variants.push_back(ldos);
    const DatePatchTable none;

    FileContents mixed = MakeSystemFiles(ldos, Side::Unpatched);
    PlaceSet(table.Variants[0].Sets[0], Side::Unpatched, mixed["SYS3/SYS"]);
    TempFolder folder;
    LDOSDisk disk;
    MakeSystemDisk(disk, folder.File("mixed.dmk"), mixed);
    ExpectState(GetDatePatchState(*disk.FS, table, none), false, -1, DatePatchNone);

    const FileContents ldosFiles = MakeSystemFiles(ldos, Side::Unpatched);
    MakeSystemDisk(disk, folder.File("ldos.dmk"), ldosFiles);
    ExpectState(GetDatePatchState(*disk.FS, table, none), true, 3, DatePatchUnpatched);
    EXPECT_EQ(DatePatchSystemName(3), "LDOS");
    // Variant 3 has no bytes in the shipped tables: never offered.
    ExpectState(GetDatePatchState(*disk.FS), false, -1, DatePatchNone);
    EXPECT_FALSE(ApplyDatePatches(*disk.FS, 3, DatePatchUnpatched));
    ASSERT_TRUE(ApplyDatePatches(*disk.FS, 3, DatePatchUnpatched, table, none));
    ExpectState(GetDatePatchState(*disk.FS, table, none), false, 3, DatePatchCurrent);
    EXPECT_TRUE(disk.FS->ReadFile(disk.FS->FindFile("BOOT/SYS")) == ldosFiles.at("BOOT/SYS"));
}

TEST(DatePatchState, MissingOrForeignSystemFileChangesNothing) {
    const DatePatchVariant& lsdos = *CurrentDatePatchTable().Find(4);
    struct Row {
        const char* Case;
        const char* Missing;
        const char* Altered;
    };
    const Row rows[] = {
        {"BOOT/SYS missing", "BOOT/SYS", nullptr},
        {"SYS7/SYS missing", "SYS7/SYS", nullptr},
        {"SYS6/SYS altered", nullptr, "SYS6/SYS"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Case);
        FileContents files = MakeSystemFiles(lsdos, Side::Unpatched);
        if (row.Missing)
            files.erase(row.Missing);
        if (row.Altered)
            files[row.Altered][lsdos.Sets[3].back().Offset] ^= 0xFF;
        TempFolder folder;
        const std::string path = folder.File("broken.dmk");
        LDOSDisk disk;
        MakeSystemDisk(disk, path, files);
        disk.Close();
        const std::vector<uint8_t> before = ReadHostFile(path);

        OpenFloppy(disk, path);
        ExpectState(GetDatePatchState(*disk.FS), false, -1, DatePatchNone);
        std::string problem;
        EXPECT_FALSE(ApplyDatePatches(*disk.FS, 4, DatePatchUnpatched, &problem));
        EXPECT_FALSE(problem.empty());
        disk.Close();
        EXPECT_TRUE(ReadHostFile(path) == before) << "the image was changed";
    }
}

TEST(DatePatchState, WriteProtectedDiskIsRefusedUnchanged) {
    const DatePatchVariant& lsdos = *CurrentDatePatchTable().Find(4);
    TempFolder folder;
    const std::string path = folder.File("protected.dmk");
    LDOSDisk disk;
    MakeSystemDisk(disk, path, MakeSystemFiles(lsdos, Side::Unpatched));
    disk.Close();
    const std::vector<uint8_t> before = ReadHostFile(path);
    OpenFloppy(disk, path);
    disk.Image->SetWriteProtect(true);
    EXPECT_THROW(ApplyDatePatches(*disk.FS, 4, DatePatchUnpatched), TFileSystem::EWriteProtected);
    disk.Image->SetWriteProtect(false);
    ExpectState(GetDatePatchState(*disk.FS), true, 4, DatePatchUnpatched);
    disk.Close();
    EXPECT_TRUE(ReadHostFile(path) == before) << "the image was changed";
}

TEST(DatePatchFixtures, LSDOS631IsPatchedAndStillReadable) {
    const std::string original = FixturePath("jv3-dd40-lsdos631-m4-system-level1H.dsk");
    if (!std::filesystem::exists(original))
        GTEST_SKIP() << "LS-DOS 6.3.1 fixture absent";
    TempFolder folder;
    const std::string path = folder.File("lsdos631.dsk");
    std::filesystem::copy_file(original, path);

    LDOSDisk disk;
    OpenFloppy(disk, path);
    const FileContents before = ReadAllFiles(*disk.FS);
    ExpectState(GetDatePatchState(*disk.FS), true, 4, DatePatchUnpatched);
    std::string problem;
    ASSERT_TRUE(ApplyDatePatches(*disk.FS, 4, DatePatchUnpatched, &problem)) << problem;

    OpenFloppy(disk, path);
    ExpectState(GetDatePatchState(*disk.FS), false, 4, DatePatchCurrent);
    const FileContents after = ReadAllFiles(*disk.FS);
    ASSERT_EQ(after.size(), before.size());
    const DatePatchVariant& lsdos = *CurrentDatePatchTable().Find(4);
    FileContents expected = before;
    for (int i = 0; i < DatePatchFileCount; ++i)
        PlaceSet(lsdos.Sets[i], Side::Patched, expected[DatePatchFileNames[i]]);
    for (const auto& [name, bytes] : after) {
        if (name != "DIR/SYS") {  // the directory holds the new dates
            EXPECT_TRUE(bytes == expected[name]) << name;
        }
    }
    EXPECT_EQ(after.at("BOOT/SYS")[543], 'L');
    // Rewritten files carry today's date and time in the extended form.
    const FileDate stamped = disk.FS->GetFileDate(disk.FS->FindFile("SYS3/SYS"));
    EXPECT_TRUE(stamped.HasTime);
    EXPECT_GE(stamped.Year, 2024);
    for (int dec : disk.FS->ListFiles({"*/*"}, ListInvisible | ListSystem))
        EXPECT_EQ(disk.FS->ReadFile(dec).size(), static_cast<size_t>(disk.FS->GetFileSize(dec)));
}

TEST(DatePatchFixtures, LDOS531IsNotOffered) {
    const std::string path = FixturePath("jv3-dd40-ldos531-m3-system.dsk");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "LDOS 5.3.1 fixture absent";
    TempFolder folder;
    const std::string copy = folder.File("ldos531.dsk");
    std::filesystem::copy_file(path, copy);
    LDOSDisk disk;
    OpenFloppy(disk, copy);
    const DatePatchState state = GetDatePatchState(*disk.FS);
    EXPECT_FALSE(state.Offer);
    EXPECT_EQ(state.Kind, DatePatchNone);
}
