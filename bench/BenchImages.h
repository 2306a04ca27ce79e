// The images the benchmarks and the timing scripts work on, all made with our own
// formatter and writers: one floppy per DOS we can format, a disk no DOS accepts,
// a disk holding a 60 KB file and a 100 MB hard disk with several partitions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/LDOSTestDisks.h"
#include "diskimage/DiskImage.h"
#include "diskimage/HDV1.h"
#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace BenchImages {

constexpr int FloppyTracks = 40;
constexpr int BigFileBytes = 60 * 1024;
// 1600 cylinders of 8 heads: 100 MiB of sectors.
constexpr int HardCylinders = 1600;
constexpr int HardHeads = 8;
constexpr int HardPartitions = 4;

inline std::vector<uint8_t> RandomBytes(size_t size, uint32_t salt) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(salt);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// Built with snprintf: GCC 12 at -O3 warns falsely about "literal" + std::string.
inline std::string NumberedName(const char* before, int number, const char* after) {
    char name[64];
    std::snprintf(name, sizeof name, "%s%d%s", before, number, after);
    return name;
}

inline FileSystem::FileDate SomeDate() {
    FileSystem::FileDate date;
    date.HasDate = true;
    date.Year = 1983;
    date.Month = 6;
    date.Day = 14;
    return date;
}

// A new floppy of the DOS (0 TRSDOS 2.3, 1 TRSDOS 1.3, 2 LDOS) holding `files` files of a few sectors.
inline void MakeFloppy(const std::string& path, int imageType, int dos, int files, uint32_t salt = 1) {
    const bool trsdos23 = dos == 0;
    FileSystem::MountedDisk disk;
    disk.CreateNew(path, imageType, trsdos23 ? 35 : FloppyTracks, dos, trsdos23 || dos == 1 ? 1 : 2, !trsdos23,
                   "BENCH", "06/14/83");
    FileSystem::TFileSystem& fs = *disk.Current();
    for (int i = 0; i < files; ++i) {
        std::string name = NumberedName("FILE", static_cast<int>(i), "/DAT");
        if (!fs.CreateFile(name, RandomBytes(700 + 97 * i, salt + i), SomeDate()))
            throw std::runtime_error("cannot store " + name + " on " + path);
    }
    disk.Flush();
}

// An LDOS double-density DMK holding one file of BigFileBytes, BIG/DAT.
inline void MakeBigFileFloppy(const std::string& path) {
    FileSystem::MountedDisk disk;
    disk.CreateNew(path, DiskImage::ImageDMK, FloppyTracks, 2, 2, true, "BIGFILE", "06/14/83");
    if (!disk.Current()->CreateFile("BIG/DAT", RandomBytes(BigFileBytes, 60), SomeDate()))
        throw std::runtime_error("cannot store BIG/DAT on " + path);
    disk.Flush();
}

// A formatted 40-track double-density disk whose every sector holds random bytes:
// no DOS accepts it, so recognition tries every candidate and every CP/M layout.
inline void MakeUnrecognisable(const std::string& path) {
    {
        FileSystem::MountedDisk disk;
        disk.CreateNew(path, DiskImage::ImageDMK, FloppyTracks, 2, 2, true, "NOTHING", "06/14/83");
        FileSystem::TFileSystem& fs = *disk.Current();
        auto* floppy = fs.GetFloppyImage();
        uint32_t salt = 1000;
        for (int track = 0; track < FloppyTracks; ++track) {
            if (!floppy->LoadTrack(track)) throw std::runtime_error("cannot load a track of " + path);
            for (int side = 0; side < 2; ++side) {
                for (const DiskImage::TTrackSector& sector : floppy->ReadTrackSide(side)) {
                    if (!fs.WriteDiskSector(track, sector.Sector, side, 1, 0xFB, RandomBytes(sector.Size, ++salt)))
                        throw std::runtime_error("cannot write a sector of " + path);
                }
            }
        }
        disk.Flush();
    }
    FileSystem::MountedDisk check;
    try {
        check.Open(path, true);
    } catch (const FileSystem::TFileSystem::EInvalidFormat&) {
        return;
    }
    throw std::runtime_error(path + " was recognised as " + check.Current()->GetDOSName(false));
}

// HDV1 of HardCylinders x HardHeads holding HardPartitions LDOS partitions one after
// another by cylinders, each with a few files. The rest of the image stays sparse.
inline void MakeHardDisk(const std::string& path) {
    std::vector<LDOSTest::PartitionLayout> layouts;
    const int cylindersEach = HardCylinders / HardPartitions;
    for (int i = 0; i < HardPartitions; ++i) {
        LDOSTest::PartitionLayout layout;
        layout.FirstCylinder = i * cylindersEach;
        layout.Tracks = 200;
        layout.Heads = HardHeads;
        layout.Sides = 2;
        layout.GranulesPerSide = 8;
        layout.Name = NumberedName("PART", i, "");
        layouts.push_back(layout);
    }
    // A sparse file: truncate to the full size, then write only the used sectors.
    std::filesystem::remove(path);
    LDOSTest::WriteBlankHDV1(path, 1, HardHeads);  // header and one cylinder
    std::filesystem::resize_file(path, 256 + static_cast<uint64_t>(HardCylinders) * HardHeads * 32 * 256);
    std::vector<uint8_t> header = LDOSTest::ReadHostFile(path);
    header.resize(DiskImage::HDV1::HeaderBytes);
    header[27] = static_cast<uint8_t>((HardCylinders >> 8) & 7);
    header[28] = static_cast<uint8_t>(HardCylinders & 0xFF);
    header[3] = DiskImage::HDV1::HeaderChecksum(header.data());
    {
        DiskImage::THostFile file;
        bool readOnly = false;
        if (file.OpenExisting(path, readOnly) != 0 || !file.WriteAt(0, header.data(), header.size()))
            throw std::runtime_error("cannot write the header of " + path);
    }
    {
        std::unique_ptr<DiskImage::THardImage> image = DiskImage::OpenHardImage(path);
        for (const auto& layout : layouts) LDOSTest::WriteLDOSPartition(*image, layout);
    }
    FileSystem::MountedDisk disk;
    disk.Open(path);
    if (static_cast<int>(disk.FileSystems.size()) != HardPartitions)
        throw std::runtime_error(path + " mounts " + std::to_string(disk.FileSystems.size()) + " partitions");
    for (size_t i = 0; i < disk.FileSystems.size(); ++i) {
        for (int f = 0; f < 5; ++f) {
            std::string name = NumberedName(NumberedName("P", static_cast<int>(i), "FILE").c_str(), f, "/DAT");
            if (!disk.FileSystems[i]->CreateFile(name, RandomBytes(5000, f + 1), SomeDate()))
                throw std::runtime_error("cannot store " + name + " on " + path);
        }
    }
    disk.Flush();
}

}  // namespace BenchImages
