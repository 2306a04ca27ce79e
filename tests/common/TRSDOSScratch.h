// Test helpers for the TRSDOS family: scratch image files, access to the
// working copies of GAT, HIT and directory, and a formatter for layouts that
// the DOS classes only recognise.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "filesystem/TRSDOSBase.h"

namespace TRSDOSTest {

// A private folder that is removed with everything in it.
class TScratchFolder {
public:
    TScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qb-trsdos-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) Path = pattern;
    }
    ~TScratchFolder() {
        std::error_code ignored;
        if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return (std::filesystem::path(Path) / name).string(); }

    std::string Path;
};

// Opens the protected state of a DOS class to the tests.
template <class TDOS>
class TExposed : public TDOS {
public:
    using TDOS::TDOS;
    using TDOS::Attributes;
    using TDOS::Density;
    using TDOS::Directory;
    using TDOS::DirectorySectors;
    using TDOS::DirectoryTrack;
    using TDOS::EofInLastSector;
    using TDOS::GAT;
    using TDOS::GetRecordChain;
    using TDOS::HIT;
    using TDOS::Modified;
    using TDOS::Sides;
    using TDOS::Tracks;
};

// Lays out a disk of any sidedness and density with the family's common
// formatter and the given GAT version byte, so that the recognising
// constructors of DOSPLUS and MULTIDOS can be tried on it.
class TLayoutFormatter : public FileSystem::TRSDOSBase {
public:
    TLayoutFormatter(DiskImage::TDiskImage* image, int tracks, int sides, bool doubleDensity, uint8_t version,
                     int directoryTrack = 17)
        : TRSDOSBase(image), Version(version) {
        Tracks = tracks;
        Sides = sides;
        Density = doubleDensity ? 1 : 0;
        DirectoryTrack = directoryTrack;
        Interleave = doubleDensity ? 3 : 2;
        SetSidedGeometry();
        Format("LAYOUT", "01/02/84");
    }
    std::string GetDOSName(bool) override { return "layout"; }
    void InitGAT(const std::string& name, const std::string& date) override {
        TRSDOSBase::InitGAT(name, date);
        GAT[GatVersion] = Version;
    }

    uint8_t Version;
};

// Every sector of every track, as read through a file system, for checking
// that an image did not change.
inline std::vector<std::vector<uint8_t>> SnapshotSectors(FileSystem::TFileSystem& fs, int tracks, int sides,
                                                         int sectors, int density) {
    std::vector<std::vector<uint8_t>> snapshot;
    for (int t = 0; t < tracks; ++t)
        for (int side = 0; side < sides; ++side)
            for (int s = 0; s < sectors; ++s) {
                std::vector<uint8_t> data;
                uint8_t dam = 0;
                fs.ReadDiskSector(t, s, side, density, dam, data);
                data.push_back(dam);
                snapshot.push_back(data);
            }
    return snapshot;
}

// Lists every file of a disk, invisible and system files included, and reads
// each one in full; returns how many there are.
inline size_t ExpectEveryFileReads(FileSystem::TFileSystem& fs) {
    const std::vector<int> files = fs.ListFiles({"*/*"}, FileSystem::ListInvisible | FileSystem::ListSystem);
    for (int dec : files) {
        const std::vector<uint8_t> data = fs.ReadFile(dec);
        EXPECT_EQ(static_cast<int>(data.size()), fs.GetFileSize(dec)) << fs.GetFullFileName(dec);
    }
    return files.size();
}

// A date record with a date and, when hour is not negative, a time.
inline FileSystem::FileDate MakeDate(int year, int month, int day, int hour = -1, int minute = 0, int second = 0) {
    FileSystem::FileDate date;
    date.HasDate = true;
    date.Year = year;
    date.Month = month;
    date.Day = day;
    if (hour >= 0) {
        date.HasTime = true;
        date.Hour = hour;
        date.Minute = minute;
        date.Second = second;
    }
    return date;
}

// Compares a date record field by field with the one MakeDate gives.
inline void ExpectDate(const FileSystem::FileDate& actual, const FileSystem::FileDate& expected) {
    EXPECT_EQ(actual.HasDate, expected.HasDate);
    EXPECT_EQ(actual.HasTime, expected.HasTime);
    EXPECT_EQ(actual.Year, expected.Year);
    EXPECT_EQ(actual.Month, expected.Month);
    EXPECT_EQ(actual.Day, expected.Day);
    EXPECT_EQ(actual.Hour, expected.Hour);
    EXPECT_EQ(actual.Minute, expected.Minute);
    EXPECT_EQ(actual.Second, expected.Second);
}

// The working copies of the directory track, to show that a failed
// operation left no trace.
struct TDirectoryState {
    std::vector<uint8_t> GAT, HIT, Directory;
    bool operator==(const TDirectoryState&) const = default;
};

template <class TFs>
TDirectoryState DirectoryState(const TFs& fs) {
    return {fs.GAT, fs.HIT, fs.Directory};
}

inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t start) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = start * 2654435761u + 1;
    for (uint8_t& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

}  // namespace TRSDOSTest

#include "filesystem/TRSDOS23.h"

namespace TRSDOSTest {

using TProbe = TExposed<FileSystem::TRSDOS23>;

// A freshly formatted 35-track TRSDOS 2.3 disk in a JV1 file, which can be
// closed and opened again by recognition.
class TFreshDisk {
public:
    explicit TFreshDisk(int imageType = DiskImage::ImageJV1, int tracks = 35) {
        Path = Folder.File("disk.dsk");
        Image = DiskImage::CreateFloppyImage(Path, imageType);
        Fs = std::make_unique<TProbe>(Image.get(), "SCRATCH", "12/31/86", tracks);
    }
    ~TFreshDisk() { Close(); }

    void Close() {
        Fs.reset();
        if (Image) Image->Flush();
        Image.reset();
    }
    void Reopen() {
        Close();
        Image = DiskImage::OpenFloppyImage(Path);
        Fs = std::make_unique<TProbe>(Image.get());
    }

    TScratchFolder Folder;
    std::string Path;
    std::unique_ptr<DiskImage::TFloppyImage> Image;
    std::unique_ptr<TProbe> Fs;
};

}  // namespace TRSDOSTest
