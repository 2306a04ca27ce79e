// Real CP/M and RSDOS images from the field: the layout each is recognised as and
// a sample of its files; images no container can hold are refused cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/CPMDisk.h"
#include "diskimage/DiskImage.h"
#include "filesystem/CPM.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"

using FileSystem::TFileSystem;
using TestSupport::CPMDisk;
using TestSupport::Pattern;
using TestSupport::TempPath;
using namespace TestSupport::CPMRows;

namespace {

std::string RealImage(const std::string& name) { return std::string(QB_FIXTURES_DIR) + "/real/" + name; }

}  // namespace

TEST(CPMRealDisks, RecognisedLayoutsAndFiles) {
    struct Case {
        const char* image;
        int row;
        std::vector<std::string> someFiles;
    };
    const Case cases[] = {
        {"dmk-sd35-128b-cpm22-omikron-m1-system.dmk", OmikronMapperI, {"ASM.COM", "DDT.COM", "ED.COM", "DUMP.COM"}},
        {"jv3-dd40-512b-cpm-montezuma-data-xtrs-cpmutil.dsk", MontezumaStandardData, {"README.TXT", "EXPORT.MAC"}},
        {"jv3-dd40-cpm22-montezuma-bios230-system.jv3", MontezumaStandardSystem, {"CONFIG.COM", "MOVCPM.COM"}},
    };
    int found = 0;
    for (const Case& c : cases) {
        if (!std::filesystem::exists(RealImage(c.image))) continue;
        ++found;
        SCOPED_TRACE(c.image);
        auto image = DiskImage::OpenFloppyImage(RealImage(c.image));
        FileSystem::CPM fs(image.get());
        EXPECT_EQ(fs.GetFormatRow(), c.row) << fs.GetDOSDescription();
        std::vector<std::string> names;
        for (int index : fs.ListFiles({"*.*"}, 0)) {
            names.push_back(fs.GetFullFileName(index));
            EXPECT_EQ(fs.ReadFile(index).size(), static_cast<size_t>(fs.GetFileSize(index)));
        }
        for (const std::string& name : c.someFiles)
            EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
        EXPECT_LE(fs.GetFreeSpace(), fs.GetCapacity());
    }
    if (found == 0) GTEST_SKIP() << "no real CP/M images under " << QB_FIXTURES_DIR;
}

TEST(CPMRealDisks, HeaderlessDumpsAreNotMisread) {
    // An 80-track disk of 128-byte sectors dumped without a header, and a Color
    // Computer disk in the headerless 35 x 18 x 256 form. No floppy container holds
    // them as what they are: either the opener refuses them, or neither file system
    // claims what it is handed.
    for (const char* name : {"jv1-sd72-cpm-omikron-data-mrunzip.dsk", "raw-jvc-coco-rsdos-35t-sample.dsk"}) {
        if (!std::filesystem::exists(RealImage(name))) continue;
        SCOPED_TRACE(name);
        std::unique_ptr<DiskImage::TFloppyImage> image;
        try {
            image = DiskImage::OpenFloppyImage(RealImage(name));
        } catch (const DiskImage::TDiskImage::EInvalidFormat&) {
            continue;
        }
        EXPECT_THROW(FileSystem::CPM fs(image.get()), FileSystem::TFileSystem::EInvalidFormat);
        FileSystem::RSDOS rsdos(image.get());
        EXPECT_GE(rsdos.Suspicion, 100);
    }
}

TEST(CPMRealDisks, AHeaderlessColorComputerDiskOpensAsJVCOnceItsDosKnowsIt) {
    const std::string path = RealImage("raw-jvc-coco-rsdos-35t-sample.dsk");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
    FileSystem::MountedDisk disk;
    disk.Open(path, true);
    EXPECT_EQ(disk.Image->GetFormatName(), "JVC");
    ASSERT_NE(disk.Current(), nullptr);
    EXPECT_EQ(disk.Current()->GetDOSName(false).rfind("RSDOS", 0), 0u) << disk.Current()->GetDOSName(false);
    std::vector<std::string> names;
    for (int file : disk.Current()->ListFiles({"*.*"}, 0)) {
        names.push_back(disk.Current()->GetDisplayName(file));
        EXPECT_EQ(static_cast<int>(disk.Current()->ReadFile(file).size()), disk.Current()->GetFileSize(file))
            << names.back();
    }
    for (const char* name : {"JEN.BAS", "COMPART.BAS"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST(CPMRealDisks, TheEightyTrackOmikronDumpOpensAsARawDumpOfItsLayout) {
    // The dump has the size of a 40-track JVC disk too, but only the 80-track Omikron
    // layout of 18 single-density 128-byte sectors is a disk a DOS knows.
    const std::string path = RealImage("jv1-sd72-cpm-omikron-data-mrunzip.dsk");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
    FileSystem::MountedDisk disk;
    disk.Open(path, true);
    EXPECT_EQ(disk.Image->GetFormatName(), "raw sector dump");
    auto* cpm = dynamic_cast<FileSystem::CPM*>(disk.Current());
    ASSERT_NE(cpm, nullptr);
    EXPECT_EQ(cpm->GetFormatRow(), OmikronMapperI80) << cpm->GetDOSDescription();
    std::vector<std::string> names;
    for (int file : cpm->ListFiles({"*.*"}, 0)) {
        names.push_back(cpm->GetFullFileName(file));
        const auto data = cpm->ReadFile(file);
        EXPECT_EQ(static_cast<int>(data.size()), cpm->GetFileSize(file)) << names.back();
        EXPECT_GT(data.size(), 0u) << names.back();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"MRUNZIP.COM", "UNZIP157.COM", "UNZIPL.COM"}));
}

// A TRSDOS 1.3 data disk kept as the bit stream of a floppy emulator: the six files its
// directory lists all read whole.
TEST(CPMRealDisks, TheFloppyEmulatorStreamOfATrsdos13DiskListsItsFiles) {
    const std::string path = RealImage("hfe-mfm40-trsdos13-m3-datadisk.hfe");
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
    FileSystem::MountedDisk disk;
    disk.Open(path, true);
    EXPECT_EQ(disk.Image->GetFormatName(), "HFE");
    ASSERT_NE(disk.Current(), nullptr);
    auto& fs = *disk.Current();
    std::vector<std::string> names;
    for (int file : fs.ListFiles({"*/*"}, FileSystem::ListInvisible | FileSystem::ListSystem)) {
        names.push_back(fs.GetFullFileName(file));
        EXPECT_EQ(static_cast<int>(fs.ReadFile(file).size()), fs.GetFileSize(file)) << names.back();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"BASIC/CMD", "CONVERT/CMD", "HERZ50/BLD", "LPC/CMD", "MEMTEST/CMD",
                                               "XFERSYS/CMD"}));
}

// Two files stored in one change both land, whether the change ends with MountedDisk::Flush or
// with the image's own commit: on disks the tests build and on copies of real CP/M disks in
// three containers, each file reads back whole after the disk is opened again.
TEST(CPMRealDisks, TwoFilesStoredInOneChangeBothLand) {
    struct Case {
        const char* what;
        std::string source;  // a real disk to copy; empty: built from row
        int row;
    };
    const Case cases[] = {
        {"built Montezuma standard data", "", MontezumaStandardData},
        {"built Lifeboat single density", "", Lifeboat},
        {"built Montezuma standard DS data", "", MontezumaStandardDSData},
        {"real Montezuma JV3", RealImage("jv3-dd40-512b-cpm-montezuma-data-xtrs-cpmutil.dsk"), 0},
        {"real Omikron DMK", RealImage("dmk-sd35-128b-cpm22-omikron-m1-system.dmk"), 0},
        {"real Omikron raw dump", RealImage("jv1-sd72-cpm-omikron-data-mrunzip.dsk"), 0},
    };
    // Small enough for the fullest real disk (two free blocks of 1K).
    const std::vector<uint8_t> first = Pattern(5 * 128, 1), second = Pattern(8 * 128, 2);
    for (const Case& c : cases) {
        for (const bool imageCommits : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (imageCommits ? ", committed by the image" : ", flushed"));
            TempPath path("cpm-two-files");
            if (c.source.empty()) {
                ASSERT_TRUE(CPMDisk(c.row).WriteTo(path.str()));
            } else {
                if (!std::filesystem::exists(c.source)) continue;  // the real disks are not everywhere
                std::filesystem::copy_file(c.source, path.str(), std::filesystem::copy_options::overwrite_existing);
            }
            std::vector<std::string> before;
            {
                FileSystem::MountedDisk disk;
                disk.Open(path.str());
                TFileSystem& fs = *disk.Current();
                for (int index : fs.ListFiles({"*.*"}, 0)) before.push_back(fs.GetFullFileName(index));
                ASSERT_TRUE(fs.CreateFile("FIRST.DAT", first, {}));
                ASSERT_TRUE(fs.CreateFile("SECOND.DAT", second, {}));
                if (imageCommits) {
                    disk.Image->CommitChange();
                } else {
                    disk.Flush();
                }
            }
            FileSystem::MountedDisk disk;
            disk.Open(path.str(), true);
            TFileSystem& fs = *disk.Current();
            std::vector<std::string> after;
            for (int index : fs.ListFiles({"*.*"}, 0)) after.push_back(fs.GetFullFileName(index));
            before.push_back("FIRST.DAT");
            before.push_back("SECOND.DAT");
            std::sort(before.begin(), before.end());
            std::sort(after.begin(), after.end());
            EXPECT_EQ(after, before);
            EXPECT_EQ(fs.ReadFile(fs.FindFile("FIRST.DAT")), first);
            EXPECT_EQ(fs.ReadFile(fs.FindFile("SECOND.DAT")), second);
        }
    }
}
