// Real disks of every DOS with a directory that loops or points off the disk: the disk
// still mounts as the same DOS, listing, reading every file and checking the disk all end
// with an answer, the check names the damage, and none of it changes the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/TempDir.h"
#include "diskimage/DiskImage.h"
#include "filesystem/CPM.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"
#include "filesystem/TRSDOSBase.h"

using namespace FileSystem;
using TestSupport::TempDir;

namespace {

struct Mounted {
    std::unique_ptr<DiskImage::TDiskImage> Image;
    std::unique_ptr<TFileSystem> Fs;
    explicit Mounted(const std::string& path)
        : Image(DiskImage::OpenFloppyImage(path)), Fs(MountFloppy(Image.get())) {}
    ~Mounted() {
        Fs.reset();
        Image.reset();
    }
};

int FirstFileWithData(TFileSystem& fs) {
    for (int index : ListEveryFile(fs))
        if (fs.GetFileSize(index) > 0) return index;
    return -1;
}

// Finds the directory sector that holds the record and writes the damaged copy over it.
void StoreRecord(TRSDOSBase& fs, const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
    const int sectors = fs.GetSectorsPerTrack();
    for (int sector = 0; sector < sectors; ++sector) {
        bool normal = true;
        std::vector<uint8_t> bytes;
        if (!fs.ReadSector(fs.GetDirectoryTrack(), sector, normal, bytes)) continue;
        for (size_t at = 0; at + before.size() <= bytes.size(); at += before.size()) {
            if (!std::equal(before.begin(), before.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at))) continue;
            std::copy(after.begin(), after.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
            ASSERT_TRUE(fs.WriteSector(fs.GetDirectoryTrack(), sector, bytes, 0));
            return;
        }
    }
    FAIL() << "the record was not found on the directory track";
}

// The record of the first file with data gets its extents and link rewritten.
void DamageTRSDOSRecord(TFileSystem& mounted, bool loop) {
    auto* fs = dynamic_cast<TRSDOSBase*>(&mounted);
    ASSERT_NE(fs, nullptr);
    const int dec = FirstFileWithData(*fs);
    ASSERT_GE(dec, 0);
    const uint8_t* record = fs->GetDirectoryRecord(dec);
    const std::vector<uint8_t> before(record, record + TRSDOSBase::RecordSize);
    std::vector<uint8_t> after = before;
    if (loop) {
        // Four extents fill the record, so its link is followed: back to the record itself.
        for (int e = 1; e < TRSDOSBase::ExtentsPerRecord; ++e) {
            after[22 + 2 * e] = after[22];
            after[23 + 2 * e] = after[23];
        }
        after[30] = 0xFE;
        after[31] = static_cast<uint8_t>(dec);
    } else {
        after[22] = 0xF0;  // track 240
    }
    StoreRecord(*fs, before, after);
}

void DamageCPMEntry(TFileSystem& mounted, bool intoDirectory) {
    auto* fs = dynamic_cast<CPM*>(&mounted);
    ASSERT_NE(fs, nullptr);
    int entry = 0;
    while (entry < fs->EntryCapacity() && !(fs->IsEntryInUse(entry) && !fs->GetEntryBlocks(entry).empty())) ++entry;
    ASSERT_LT(entry, fs->EntryCapacity());
    const int sectorSize = fs->GetFormat().SectorSize();
    const int logical = entry * 32 / sectorSize;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(fs->ReadLogicalSector(logical, bytes));
    const size_t at = static_cast<size_t>(entry * 32 % sectorSize);
    // Block 0 holds the directory itself; 0xFF bytes name blocks far past the disk.
    for (size_t i = 16; i < 32; ++i) bytes[at + i] = intoDirectory ? 0x00 : 0xFF;
    if (intoDirectory) bytes[at + 16] = 0x01;
    ASSERT_TRUE(fs->WriteLogicalSector(logical, bytes, 0));
}

// The granule table sits in sector 2 of track 17; the first file's first granule is made
// to point at itself, or at a granule the disk does not have.
void DamageRSDOSChain(TFileSystem& mounted, DiskImage::TDiskImage& image, bool loop) {
    auto* fs = dynamic_cast<RSDOS*>(&mounted);
    ASSERT_NE(fs, nullptr);
    const int index = FirstFileWithData(*fs);
    ASSERT_GE(index, 0);
    bool complete = false;
    const std::vector<int> chain = fs->GetGranuleChain(index, complete);
    ASSERT_FALSE(chain.empty());
    auto& floppy = dynamic_cast<DiskImage::TFloppyImage&>(image);
    ASSERT_TRUE(floppy.LoadTrack(17));
    std::vector<uint8_t> fat(DiskImage::TFloppyImage::SectorBufferSize);
    int size = 0;
    uint8_t dam = 0;
    ASSERT_TRUE(floppy.ReadSector(17, 0, 1, 2, size, dam, fat.data(), true, false));
    fat[static_cast<size_t>(chain.front())] = loop ? static_cast<uint8_t>(chain.front()) : 0x60;
    ASSERT_TRUE(floppy.WriteSector(17, 0, 1, 2, dam, fat.data()));
}

struct DamageCase {
    std::string what;
    std::string image;  // under the fixtures' real/ or peer/ folder
    std::function<void(TFileSystem&, DiskImage::TDiskImage&)> damage;
    bool refused = false;  // the damage is one recognition itself turns away
};

std::vector<DamageCase> Cases() {
    auto trsdos = [](bool loop) {
        return [loop](TFileSystem& fs, DiskImage::TDiskImage&) { DamageTRSDOSRecord(fs, loop); };
    };
    auto cpm = [](bool intoDirectory) {
        return [intoDirectory](TFileSystem& fs, DiskImage::TDiskImage&) { DamageCPMEntry(fs, intoDirectory); };
    };
    auto rsdos = [](bool loop) {
        return [loop](TFileSystem& fs, DiskImage::TDiskImage& image) { DamageRSDOSChain(fs, image, loop); };
    };
    const struct {
        const char* dos;
        const char* image;
    } family[] = {
        {"TRSDOS 2.3", "real/dmk-sd35-sdonly-trsdos23-m1-system-frehdboot.dmk"},
        {"TRSDOS 1.3", "real/jv3-dd40-trsdos13-m3-system.dsk"},
        {"LDOS 5", "real/jv3-dd40-ldos531-m3-system.dsk"},
        {"LS-DOS 6", "real/jv3-dd40-lsdos631-m4-system-level1H.dsk"},
        {"NEWDOS/80", "real/jv3-dd40-newdos80-m3-system.dsk"},
        {"DOSPLUS", "real/jv3-dd40-dosplus34-m3-system.dsk"},
        {"MULTIDOS", "real/dmk-dd40-multidos-data-frehd-utils.dmk"},
    };
    std::vector<DamageCase> cases;
    for (const auto& f : family) {
        cases.push_back({std::string(f.dos) + ": extension link back to its own record", f.image, trsdos(true)});
        cases.push_back({std::string(f.dos) + ": extent on track 240", f.image, trsdos(false)});
    }
    cases.push_back({"CP/M: blocks past the disk", "real/jv3-dd40-cpm22-montezuma-bios230-system.jv3", cpm(false), true});
    cases.push_back({"CP/M: a file in the directory's own block", "real/jv3-dd40-cpm22-montezuma-bios230-system.jv3",
                     cpm(true)});
    cases.push_back({"RSDOS: granule chain back to itself", "peer/rsdos-1.jv3", rsdos(true)});
    cases.push_back({"RSDOS: granule past the disk", "peer/rsdos-1.jv3", rsdos(false), true});
    return cases;
}

std::string Fixture(const std::string& name) { return std::string(QB_FIXTURES_DIR) + "/" + name; }

// Lists, reads and checks everything; returns what the check found worth a warning or more.
std::vector<std::string> ExploreAndCheck(TFileSystem& fs) {
    for (int index : ListEveryFile(fs)) {
        try {
            fs.GetFullFileName(index);
            fs.GetFileSize(index);
            fs.GetFileDate(index);
            fs.ReadFile(index);
        } catch (const TFileSystem::Exception&) {
            // Refusing to read a damaged file is an answer too.
        }
    }
    std::vector<std::string> problems;
    for (const TFinding& finding : CheckFileSystem(fs))
        if (finding.Severity != TSeverity::Info) problems.push_back(finding.Message);
    return problems;
}

bool HasNewProblem(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    for (const std::string& problem : after)
        if (std::find(before.begin(), before.end(), problem) == before.end()) return true;
    return false;
}

TEST(DamagedDirectories, EveryDOSAnswersAndChangesNothing) {
    int tried = 0;
    for (const DamageCase& c : Cases()) {
        SCOPED_TRACE(c.what);
        const std::string source = Fixture(c.image);
        if (!std::filesystem::exists(source)) continue;
        TempDir dir;
        const std::string path = dir / std::filesystem::path(c.image).filename().string();
        std::filesystem::copy_file(source, path);

        std::string dosName;
        std::vector<std::string> problemsBefore;
        {
            Mounted disk(path);
            ASSERT_NE(disk.Fs, nullptr);
            dosName = disk.Fs->GetDOSName(false);
            problemsBefore = ExploreAndCheck(*disk.Fs);
            c.damage(*disk.Fs, *disk.Image);
            if (HasFatalFailure()) return;
            disk.Fs->Flush();
        }
        if (const char* keep = std::getenv("QB_KEEP_DAMAGED_IN")) {
            std::filesystem::copy_file(path, std::string(keep) + "/" + std::to_string(tried) + "-" +
                                                 std::filesystem::path(c.image).filename().string(),
                                       std::filesystem::copy_options::overwrite_existing);
        }
        const std::vector<uint8_t> damaged = TestSupport::ReadHostBytes(path);
        if (c.refused) {
            auto image = DiskImage::OpenFloppyImage(path);
            EXPECT_THROW(MountFloppy(image.get()), TFileSystem::EInvalidFormat);
        } else {
            std::unique_ptr<Mounted> mounted;
            try {
                mounted = std::make_unique<Mounted>(path);
            } catch (const TFileSystem::EInvalidFormat&) {
                ADD_FAILURE() << "the damaged disk is no longer recognised";
                continue;
            }
            Mounted& disk = *mounted;
            ASSERT_NE(disk.Fs, nullptr);
            EXPECT_EQ(disk.Fs->GetDOSName(false), dosName);
            const std::vector<std::string> problems = ExploreAndCheck(*disk.Fs);
            EXPECT_TRUE(HasNewProblem(problemsBefore, problems)) << "the check did not name the damage";
        }
        EXPECT_EQ(TestSupport::ReadHostBytes(path), damaged) << "reading changed the image";
        ++tried;
    }
    if (tried == 0) GTEST_SKIP() << "no real images under " << QB_FIXTURES_DIR;
}

}  // namespace
