// Disks for the LDOS tests: new LDOS floppies made with our own formatter, and
// HDV1 hard disks whose LDOS partitions are laid out sector by sector.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>
#include <unistd.h>

#include "diskimage/DiskImage.h"
#include "filesystem/LDOS.h"

namespace LDOSTest {

// A folder of its own under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter{0};
        Path = std::filesystem::temp_directory_path() /
               ("qbox-ldos-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(Path);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return (Path / name).string(); }

    std::filesystem::path Path;
};

inline std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// An image with the LDOS file system on it, closed in the right order.
struct LDOSDisk {
    std::unique_ptr<DiskImage::TDiskImage> Image;
    std::unique_ptr<FileSystem::LDOS> FS;

    void Close() {
        FS.reset();
        Image.reset();
    }
    ~LDOSDisk() { Close(); }
};

inline void FormatFloppy(LDOSDisk& disk, const std::string& path, int imageType, int tracks, int sides,
                         bool doubleDensity) {
    disk.Close();
    disk.Image = DiskImage::CreateFloppyImage(path, imageType);
    disk.FS = std::make_unique<FileSystem::LDOS>(disk.Image.get(), "LDOSTEST", "12/09/26", tracks, sides,
                                                 doubleDensity);
}

inline void OpenFloppy(LDOSDisk& disk, const std::string& path) {
    disk.Close();
    disk.Image = DiskImage::OpenFloppyImage(path);
    disk.FS = std::make_unique<FileSystem::LDOS>(disk.Image.get(), 0, 0);
}

// An HDV1 file whose every sector is zero.
inline void WriteBlankHDV1(const std::string& path, int cylinders, int heads) {
    std::vector<uint8_t> header(256, 0);
    header[0] = 0x56;
    header[1] = 0xCB;
    header[4] = 1;
    header[5] = 4;
    header[27] = static_cast<uint8_t>((cylinders >> 8) & 7);
    header[28] = static_cast<uint8_t>(cylinders & 0xFF);
    header[29] = static_cast<uint8_t>(heads * 32);
    int sum = 0;
    for (int i = 0; i < 32; ++i)
        if (i != 3)
            sum += header[i];
    header[3] = static_cast<uint8_t>((sum & 0xFF) ^ 0x4C);
    header.resize(256 + static_cast<size_t>(cylinders) * heads * 32 * 256, 0);
    WriteHostFile(path, header);
}

// One empty LDOS partition: boot sectors, GAT, HIT, BOOT/SYS and DIR/SYS.
struct PartitionLayout {
    int FirstCylinder = 0;
    int FirstHead = 0;
    int Tracks = 40;          // 35 or more
    int Heads = 1;            // heads the partition uses
    int Sides = 1;            // 2: each track spans two cylinders
    int GranulesPerSide = 4;  // per track
    bool Descriptor = true;   // the GAT carries the hard-disk descriptor
    int DirectoryTrack = 1;
    std::string Name = "HARDDISK";
};

inline void WritePartitionSector(DiskImage::THardImage& image, const PartitionLayout& layout, int track,
                                 int sector, const std::vector<uint8_t>& data) {
    const int sectorsPerSide = 32 * layout.Heads;
    const int cylinder = layout.FirstCylinder + track * layout.Sides + sector / sectorsPerSide;
    sector %= sectorsPerSide;
    ASSERT_TRUE(image.WriteSector(cylinder, layout.FirstHead + sector / 32, sector % 32, data.data()));
}

inline void WriteLDOSPartition(DiskImage::THardImage& image, const PartitionLayout& layout) {
    const int sectorsPerTrack = 32 * layout.Heads * layout.Sides;
    const int granulesPerTrack = layout.GranulesPerSide * layout.Sides;
    const int sectorsPerGranule = sectorsPerTrack / granulesPerTrack;
    const int directorySectors = std::min(sectorsPerTrack, 34);
    const int directoryGranules = (directorySectors + sectorsPerGranule - 1) / sectorsPerGranule;

    std::vector<uint8_t> boot(256, 0);
    boot[1] = 0xFE;
    boot[2] = static_cast<uint8_t>(layout.DirectoryTrack);
    WritePartitionSector(image, layout, 0, 0, boot);
    WritePartitionSector(image, layout, 0, 1, boot);

    std::vector<uint8_t> gat(256, 0);
    const uint8_t unusable = static_cast<uint8_t>(0xFF << granulesPerTrack);
    for (int t = 0; t <= 0xCA; ++t)
        gat[t] = t < layout.Tracks ? unusable : 0xFF;
    gat[0] |= 1;
    gat[layout.DirectoryTrack] |= static_cast<uint8_t>((1 << directoryGranules) - 1);
    gat[0xCB] = 0x53;
    gat[0xCC] = static_cast<uint8_t>(layout.Tracks - 35);
    gat[0xCD] = 0x80 | 0x08 | (layout.Sides == 2 ? 0x20 : 0);
    if (layout.Descriptor) {
        gat[0xF5] = 0x03;
        gat[0xF6] = 'R';
        gat[0xF7] = 'S';
        gat[0xF8] = 'H';
        gat[0xFD] = static_cast<uint8_t>(31 | ((layout.Heads - 1) << 5));
        gat[0xFE] = static_cast<uint8_t>((layout.GranulesPerSide - 1) << 5);
    } else {
        gat[0xCD] |= static_cast<uint8_t>(layout.GranulesPerSide - 1);
    }
    std::string name = layout.Name;
    name.resize(8, ' ');
    std::copy(name.begin(), name.end(), gat.begin() + 0xD0);
    const std::string date = "12/09/26";
    std::copy(date.begin(), date.end(), gat.begin() + 0xD8);
    WritePartitionSector(image, layout, layout.DirectoryTrack, 0, gat);

    std::vector<uint8_t> hit(256, 0);
    hit[0] = 0xA2;
    hit[1] = 0xC4;
    WritePartitionSector(image, layout, layout.DirectoryTrack, 1, hit);

    auto record = [](const char* fileName, int ern, int track, uint8_t granules) {
        std::vector<uint8_t> sector(256, 0);
        sector[0] = 0x5D;
        std::string text = fileName;
        text.resize(8, ' ');
        text += "SYS";
        std::copy(text.begin(), text.end(), sector.begin() + 5);
        sector[16] = sector[18] = 0x5A;
        sector[17] = sector[19] = 0x17;
        sector[20] = static_cast<uint8_t>(ern);
        std::fill(sector.begin() + 22, sector.begin() + 32, 0xFF);
        sector[22] = static_cast<uint8_t>(track);
        sector[23] = granules;
        return sector;
    };
    WritePartitionSector(image, layout, layout.DirectoryTrack, 2, record("BOOT", 5, 0, 0));
    WritePartitionSector(image, layout, layout.DirectoryTrack, 3,
                         record("DIR", directorySectors, layout.DirectoryTrack,
                                static_cast<uint8_t>(directoryGranules - 1)));
}

// An HDV1 file at path holding the given LDOS partitions.
inline void WriteLDOSHardDisk(const std::string& path, int cylinders, int heads,
                              const std::vector<PartitionLayout>& partitions) {
    WriteBlankHDV1(path, cylinders, heads);
    std::unique_ptr<DiskImage::THardImage> image = DiskImage::OpenHardImage(path);
    for (const PartitionLayout& layout : partitions)
        WriteLDOSPartition(*image, layout);
}

// Bytes that differ from file to file and from position to position.
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t salt) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(salt);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

// Checks that no granule belongs to two files and that the free space is the
// capacity less every granule the files (system records included) hold.
inline void ExpectConsistentAllocation(FileSystem::LDOS& fs) {
    std::set<int> used;
    const int granulesPerTrack = fs.GetGranulesPerTrack();
    const int sectorsPerGranule = fs.GetSectorsPerGranule();
    for (int dec : fs.ListFiles({"*/*"}, FileSystem::ListInvisible | FileSystem::ListSystem)) {
        for (const FileSystem::TExtent& extent : fs.GetExtents(dec)) {
            const int first = static_cast<int>(extent.Track) * granulesPerTrack +
                              static_cast<int>(extent.Sector) / sectorsPerGranule;
            for (int g = 0; g < extent.Count; ++g)
                EXPECT_TRUE(used.insert(first + g).second)
                    << fs.GetFullFileName(dec) << " shares granule " << first + g;
        }
    }
    const int total = fs.GetTracks() * granulesPerTrack;
    EXPECT_EQ(fs.GetFreeSpace(), (total - static_cast<int>(used.size())) * sectorsPerGranule * 256);
}

// Creates files of random sizes, deletes and renames some, reopens through
// reopen(), and checks that every remaining file reads back byte-identical.
template <typename Reopen>
void RunRoundTrip(LDOSDisk& disk, Reopen reopen, uint32_t salt) {
    std::mt19937 random(salt);
    std::map<std::string, std::vector<uint8_t>> expected;
    const int third = disk.FS->GetFreeSpace() / 3;
    const FileSystem::FileDate date{true, true, 3, 5, 2012, 14, 37, 0};
    for (int i = 0; i < 14; ++i) {
        const std::string name = "FILE" + std::to_string(i) + "/DAT";
        size_t size = i == 0 ? static_cast<size_t>(third + 300) : random() % (third / 4 + 2);
        if (i == 1)
            size = 0;
        if (i == 2)
            size = 257;
        const std::vector<uint8_t> bytes = PatternBytes(size, salt + i);
        try {
            ASSERT_TRUE(disk.FS->CreateFile(name, bytes, date));
            expected[name] = bytes;
        } catch (const FileSystem::TFileSystem::EDiskFull&) {
            EXPECT_EQ(disk.FS->FindFile(name), -1) << name << " left behind on a full disk";
        }
    }
    std::vector<std::string> names;
    for (const auto& entry : expected)
        names.push_back(entry.first);
    for (size_t step = 0; step < names.size(); ++step) {
        const std::string& name = names[step];
        const int dec = disk.FS->FindFile(name);
        ASSERT_GE(dec, 0) << name;
        if (step % 3 == 1) {
            ASSERT_TRUE(disk.FS->DeleteFile(dec));
            expected.erase(name);
        } else if (step % 3 == 2) {
            const std::string renamed = "R" + name;
            ASSERT_TRUE(disk.FS->RenameFile(dec, renamed));
            expected[renamed] = std::move(expected[name]);
            expected.erase(name);
        }
    }
    disk.FS->Flush();
    reopen();
    ASSERT_TRUE(disk.FS);
    EXPECT_EQ(disk.FS->Suspicion, 0);
    for (const auto& [name, bytes] : expected) {
        const int dec = disk.FS->FindFile(name);
        ASSERT_GE(dec, 0) << name;
        EXPECT_EQ(disk.FS->GetFileSize(dec), static_cast<int>(bytes.size())) << name;
        EXPECT_TRUE(disk.FS->ReadFile(dec) == bytes) << name << " differs after reopening";
        const FileSystem::FileDate back = disk.FS->GetFileDate(dec);
        EXPECT_EQ(back.Year, 2012) << name;
        EXPECT_EQ(back.Minute, 37) << name;
    }
    ExpectConsistentAllocation(*disk.FS);
}

}  // namespace LDOSTest
