// Hard disks laid out as the real ones met in the wild, built sector by sector: an
// HDV1 file whose header may disagree with what the file holds, and TRSDOS-family
// volumes written in place with their GAT, HIT, directory records and file data.
// Nothing here goes through the classes under test, so the same disks can be opened
// by any version of them.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/Sha256.h"
#include "filesystem/TRSDOSBase.h"

namespace HardDiskTest {

constexpr int SectorBytes = 256;
constexpr int SectorsPerHead = 32;
constexpr int HDV1HeaderBytes = 256;

// Where a logical (track, sector) of a volume lies on the disk.
struct TPlace {
    int Cylinder = 0, Head = 0, Sector = 0;
};
using TPlaceOf = std::function<TPlace(int track, int sector)>;

// An HDV1 file of fileCylinders cylinders, whatever its header says. Sectors never
// written read as zeros: the file is sparse.
class THDV1File {
public:
    THDV1File(const std::string& path, int headerCylinders, int fileCylinders, int heads)
        : Path(path), Heads(heads) {
        std::vector<uint8_t> header(HDV1HeaderBytes, 0);
        header[0] = 0x56;
        header[1] = 0xCB;
        header[2] = 0x10;
        header[4] = 1;
        header[5] = 4;
        header[27] = static_cast<uint8_t>((headerCylinders >> 8) & 7);
        header[28] = static_cast<uint8_t>(headerCylinders & 0xFF);
        header[29] = static_cast<uint8_t>(heads * SectorsPerHead);
        int sum = 0;
        for (int i = 0; i < 32; ++i)
            if (i != 3) sum += header[i];
        header[3] = static_cast<uint8_t>((sum & 0xFF) ^ 0x4C);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(header.data()), HDV1HeaderBytes);
        }
        std::filesystem::resize_file(path, static_cast<uintmax_t>(Offset(fileCylinders, 0, 0)));
        File = std::fopen(path.c_str(), "r+b");
        EXPECT_NE(File, nullptr) << path;
    }
    ~THDV1File() { Close(); }
    THDV1File(const THDV1File&) = delete;
    THDV1File& operator=(const THDV1File&) = delete;

    void Close() {
        if (File != nullptr) std::fclose(File);
        File = nullptr;
    }

    int64_t Offset(int cylinder, int head, int sector) const {
        const int64_t index = (static_cast<int64_t>(cylinder) * Heads + head) * SectorsPerHead + sector;
        return HDV1HeaderBytes + index * SectorBytes;
    }

    void Write(const TPlace& place, std::vector<uint8_t> data) {
        data.resize(SectorBytes, 0);
        const int64_t offset = Offset(place.Cylinder, place.Head, place.Sector);
        const bool written = File != nullptr && fseeko(File, offset, SEEK_SET) == 0 &&
                             std::fwrite(data.data(), 1, SectorBytes, File) == SectorBytes;
        EXPECT_TRUE(written) << "cylinder " << place.Cylinder << " head " << place.Head << " sector " << place.Sector;
    }

    const std::string Path;
    const int Heads;

private:
    std::FILE* File = nullptr;
};

struct TVolumeFile {
    std::string Name, Extension;
    std::vector<uint8_t> Data;
    int Track = -1;  // where the data starts; -1: the record holds no extent
    int Granule = 0;
    bool StoreData = true;                                     // false: the granules hold the DOS's own sectors
    uint8_t Attributes = 0x10;                                 // record byte 0: in use
    std::array<uint8_t, 2> Date{0, 0};                         // record bytes 1-2
    std::array<uint8_t, 4> Passwords{0x5A, 0x17, 0x5A, 0x17};  // record bytes 16-19
    int Ern = -1;                                              // -1: from the size
};

// A volume: its geometry in logical tracks, the GAT bytes from 0xCB on, the boot
// sector and further sectors, and its files (DEC 0, 1, 2 ... in this order).
struct TVolume {
    TPlaceOf PlaceOf;
    int Tracks = 0, SectorsPerTrack = 0, SectorsPerGranule = 0, GranulesPerTrack = 0;
    int DirectoryTrack = 0, DirectorySectors = 0;
    bool LockoutTable = false;
    std::vector<uint8_t> Gat = std::vector<uint8_t>(SectorBytes, 0);
    std::vector<std::pair<int, int>> Reserved;  // (track, granule) marked used that no file owns
    std::vector<uint8_t> Boot;
    std::vector<std::pair<std::pair<int, int>, std::vector<uint8_t>>> Sectors;  // ((track, sector), bytes)
    std::vector<TVolumeFile> Files;
};

// A volume of the given geometry, counted in logical tracks, with nothing on it yet.
inline TVolume VolumeOf(TPlaceOf placeOf, int tracks, int sectorsPerTrack, int sectorsPerGranule, int granulesPerTrack,
                        int directoryTrack, int directorySectors) {
    TVolume volume;
    volume.PlaceOf = std::move(placeOf);
    volume.Tracks = tracks;
    volume.SectorsPerTrack = sectorsPerTrack;
    volume.SectorsPerGranule = sectorsPerGranule;
    volume.GranulesPerTrack = granulesPerTrack;
    volume.DirectoryTrack = directoryTrack;
    volume.DirectorySectors = directorySectors;
    volume.Boot = {0x00, 0xFE, static_cast<uint8_t>(directoryTrack)};
    return volume;
}

inline void MarkGranule(std::vector<uint8_t>& gat, int mapBytes, int granulesPerTrack, int track, int granule) {
    track += granule / granulesPerTrack;
    granule %= granulesPerTrack;
    if (track < mapBytes) gat[static_cast<size_t>(track)] |= static_cast<uint8_t>(1 << granule);
}

inline int GranulesOf(const TVolume& volume, const TVolumeFile& file) {
    const int sectors = static_cast<int>((file.Data.size() + SectorBytes - 1) / SectorBytes);
    return std::max(1, (sectors + volume.SectorsPerGranule - 1) / volume.SectorsPerGranule);
}

inline void WriteVolume(THDV1File& disk, const TVolume& volume) {
    auto write = [&](int track, int sector, const std::vector<uint8_t>& data) {
        disk.Write(volume.PlaceOf(track, sector), data);
    };
    write(0, 0, volume.Boot);
    write(0, 1, volume.Boot);
    for (const auto& [where, bytes] : volume.Sectors) write(where.first, where.second, bytes);

    std::vector<uint8_t> gat = volume.Gat;
    gat.resize(SectorBytes, 0);
    const int mapBytes = volume.LockoutTable ? 0x60 : 0xCB;
    const uint8_t unusable = static_cast<uint8_t>(0xFF << volume.GranulesPerTrack);
    for (int t = 0; t < mapBytes; ++t) gat[static_cast<size_t>(t)] = t < volume.Tracks ? unusable : 0xFF;
    if (volume.LockoutTable) {
        std::copy_n(gat.begin(), 0x60, gat.begin() + 0x60);
        std::fill(gat.begin() + 0xC0, gat.begin() + 0xCB, 0xFF);
    }
    for (const auto& [track, granule] : volume.Reserved)
        MarkGranule(gat, mapBytes, volume.GranulesPerTrack, track, granule);

    std::vector<uint8_t> hit(SectorBytes, 0);
    std::vector<std::vector<uint8_t>> directory(static_cast<size_t>(volume.DirectorySectors - 2),
                                                std::vector<uint8_t>(SectorBytes, 0));
    for (size_t dec = 0; dec < volume.Files.size(); ++dec) {
        const TVolumeFile& file = volume.Files[dec];
        hit[dec] = FileSystem::TRSDOSBase::HashFilename(file.Name + "/" + file.Extension);
        uint8_t* record = directory[dec].data();
        record[0] = file.Attributes;
        record[1] = file.Date[0];
        record[2] = file.Date[1];
        record[3] = static_cast<uint8_t>(file.Data.size() & 0xFF);
        std::string name = file.Name, extension = file.Extension;
        name.resize(8, ' ');
        extension.resize(3, ' ');
        std::copy(name.begin(), name.end(), record + 5);
        std::copy(extension.begin(), extension.end(), record + 13);
        std::copy(file.Passwords.begin(), file.Passwords.end(), record + 16);
        const int ern = file.Ern >= 0 ? file.Ern : static_cast<int>((file.Data.size() + SectorBytes - 1) / SectorBytes);
        record[20] = static_cast<uint8_t>(ern & 0xFF);
        record[21] = static_cast<uint8_t>(ern >> 8);
        std::fill(record + 22, record + 32, 0xFF);
        if (file.Track < 0) continue;
        const int granules = GranulesOf(volume, file);
        record[22] = static_cast<uint8_t>(file.Track);
        record[23] = static_cast<uint8_t>((file.Granule << 5) | (granules - 1));
        for (int g = 0; g < granules; ++g)
            MarkGranule(gat, mapBytes, volume.GranulesPerTrack, file.Track, file.Granule + g);
        if (!file.StoreData) continue;
        for (size_t offset = 0; offset < file.Data.size(); offset += SectorBytes) {
            const int index = static_cast<int>(offset / SectorBytes);
            const int granule = file.Granule + index / volume.SectorsPerGranule;
            const int track = file.Track + granule / volume.GranulesPerTrack;
            const int sector = (granule % volume.GranulesPerTrack) * volume.SectorsPerGranule +
                               index % volume.SectorsPerGranule;
            const size_t end = std::min(file.Data.size(), offset + SectorBytes);
            write(track, sector, std::vector<uint8_t>(file.Data.begin() + static_cast<std::ptrdiff_t>(offset),
                                                      file.Data.begin() + static_cast<std::ptrdiff_t>(end)));
        }
    }
    write(volume.DirectoryTrack, 0, gat);
    write(volume.DirectoryTrack, 1, hit);
    for (size_t s = 0; s < directory.size(); ++s) write(volume.DirectoryTrack, static_cast<int>(s) + 2, directory[s]);
}

// Bytes that differ from file to file and from position to position.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t salt) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(salt);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    return bytes;
}

// What a test expects of one partition once the disk is opened.
struct TExpectedPartition {
    std::string Family, DiskName;
    std::map<std::string, std::vector<uint8_t>> Files;  // by full name; the DOS's own files left out
    std::vector<std::string> SystemFiles;               // full names of the DOS's own files
    std::vector<std::pair<int64_t, int64_t>> ByteRanges;  // where its sectors lie in the image file
};

struct TBuiltDisk {
    std::string Path;
    std::vector<TExpectedPartition> Partitions;
};

// The byte ranges of the image file that hold a volume's sectors, adjacent ones merged.
inline std::vector<std::pair<int64_t, int64_t>> ByteRangesOf(const THDV1File& disk, const TVolume& volume) {
    std::vector<std::pair<int64_t, int64_t>> ranges;
    for (int track = 0; track < volume.Tracks; ++track) {
        for (int sector = 0; sector < volume.SectorsPerTrack; ++sector) {
            const TPlace place = volume.PlaceOf(track, sector);
            const int64_t start = disk.Offset(place.Cylinder, place.Head, place.Sector);
            if (!ranges.empty() && ranges.back().second == start)
                ranges.back().second += SectorBytes;
            else
                ranges.emplace_back(start, start + SectorBytes);
        }
    }
    return ranges;
}

// The SHA-256 of the bytes in the given ranges of a file.
inline std::string Sha256OfRanges(const std::string& path, const std::vector<std::pair<int64_t, int64_t>>& ranges) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    for (const auto& [start, end] : ranges) {
        const size_t at = bytes.size();
        bytes.resize(at + static_cast<size_t>(end - start));
        in.seekg(start);
        in.read(reinterpret_cast<char*>(bytes.data() + at), end - start);
    }
    return TestSupport::Sha256Hex(bytes);
}

inline TExpectedPartition Expect(const THDV1File& disk, const TVolume& volume, const std::string& family,
                                 const std::string& diskName) {
    TExpectedPartition expected;
    expected.Family = family;
    expected.DiskName = diskName;
    for (const TVolumeFile& file : volume.Files) {
        const std::string fullName = file.Name + "/" + file.Extension;
        if (file.Attributes & 0x40)
            expected.SystemFiles.push_back(fullName);
        else
            expected.Files[fullName] = file.Data;
    }
    expected.ByteRanges = ByteRangesOf(disk, volume);
    return expected;
}

inline void PutName(std::vector<uint8_t>& gat, const std::string& name, const std::string& date) {
    std::string padded = name;
    padded.resize(8, ' ');
    std::copy(padded.begin(), padded.end(), gat.begin() + 0xD0);
    std::copy(date.begin(), date.end(), gat.begin() + 0xD8);
}

inline void PutDescriptor(std::vector<uint8_t>& gat, int heads, int granulesPerTrack) {
    gat[0xF5] = 0x03;
    gat[0xF6] = 'R';
    gat[0xF7] = 'S';
    gat[0xF8] = 'H';
    gat[0xFD] = static_cast<uint8_t>((SectorsPerHead - 1) | ((heads - 1) << 5));
    gat[0xFE] = static_cast<uint8_t>((granulesPerTrack - 1) << 5);
}

inline TVolumeFile SystemFile(const std::string& name, size_t size, int track, int granule, int ern = -1) {
    TVolumeFile file;
    file.Name = name;
    file.Extension = "SYS";
    file.Data.assign(size, 0);
    file.Track = track;
    file.Granule = granule;
    file.StoreData = false;
    file.Attributes = 0x5D;  // system, in use, invisible, protection 5
    file.Ern = ern;
    return file;
}

inline TVolumeFile UserFile(const std::string& name, const std::string& extension, size_t size, uint32_t salt,
                            int track, int granule) {
    TVolumeFile file;
    file.Name = name;
    file.Extension = extension;
    file.Data = Pattern(size, salt);
    file.Track = track;
    file.Granule = granule;
    return file;
}

// LDOS 5.3 divided by heads: four partitions of one head and 203 tracks each, directories
// on cylinder 101, disk names LDM3HDA to LDM3HDD, on a file of 203 cylinders whose header
// says 153. BOOT/SYS holds no extent; the DOS reserves tracks 0 and 1 in the GAT.
inline TBuiltDisk BuildLDOSDividedByHeads(const std::string& path) {
    constexpr int Heads = 4, Tracks = 203;
    THDV1File disk(path, 153, Tracks, Heads);
    TBuiltDisk built{path, {}};
    for (int head = 0; head < Heads; ++head) {
        TVolume volume = VolumeOf(
            [head](int track, int sector) { return TPlace{track, head + sector / 32, sector % 32}; },
            Tracks, 32, 8, 4, 101, 32);
        volume.Gat[0xCB] = 0x53;
        volume.Gat[0xCC] = Tracks - 35;
        volume.Gat[0xCD] = 0x80;
        PutDescriptor(volume.Gat, 1, 4);
        const std::string name = std::string("LDM3HD") + static_cast<char>('A' + head);
        PutName(volume.Gat, name, "05/14/84");
        for (int granule = 0; granule < 8; ++granule) volume.Reserved.emplace_back(0, granule);
        const uint32_t salt = 100u * static_cast<uint32_t>(head);
        volume.Files = {SystemFile("BOOT", 1280, -1, 0, 5), SystemFile("DIR", 32 * SectorBytes, 101, 0),
                        UserFile("README", "", 700, salt + 1, 2, 0), UserFile("GPICTURE", "", 6000, salt + 2, 2, 1),
                        UserFile("NOTES", "TXT", 3000 + 10 * head, salt + 3, 180, 1)};
        WriteVolume(disk, volume);
        built.Partitions.push_back(Expect(disk, volume, "LDOS", name));
    }
    return built;
}

// LS-DOS 6.3 divided by cylinder ranges: six partitions of 140 cylinders over all six
// heads, on a file of 840 cylinders whose header says 203.
inline TBuiltDisk BuildLSDOSDividedByCylinders(const std::string& path) {
    constexpr int Heads = 6, Tracks = 140, Partitions = 6;
    THDV1File disk(path, 203, Tracks * Partitions, Heads);
    TBuiltDisk built{path, {}};
    for (int partition = 0; partition < Partitions; ++partition) {
        TVolume volume = VolumeOf(
            [partition](int track, int sector) {
                return TPlace{Tracks * partition + track, sector / 32, sector % 32};
            },
            Tracks, 32 * Heads, 24, 8, 70, 34);
        volume.Gat[0xCB] = 0x63;
        volume.Gat[0xCC] = Tracks - 35;
        volume.Gat[0xCD] = 0x80 | 0x08;
        PutDescriptor(volume.Gat, Heads, 8);
        const std::string name = "LSHARD" + std::to_string(partition);
        PutName(volume.Gat, name, "07/04/87");
        volume.Reserved.emplace_back(0, 0);
        const uint32_t salt = 1000u + 10u * static_cast<uint32_t>(partition);
        volume.Files = {SystemFile("BOOT", 1280, -1, 0, 5), SystemFile("DIR", 34 * SectorBytes, 70, 0),
                        UserFile("HELLO", "BAS", 1500, salt + 1, 1, 0), UserFile("README", "", 300, salt + 2, 1, 1),
                        UserFile("BIGDATA", "DAT", 20000 + partition, salt + 3, 130, 2)};
        WriteVolume(disk, volume);
        built.Partitions.push_back(Expect(disk, volume, "LDOS", name));
    }
    return built;
}

// One NEWDOS/80 logical drive: where it lies and how it counts.
struct TNewdosDrive {
    int FirstHead, Heads, FirstSector, Lumps, SectorsPerGranule, GranulesPerLump, DirectoryLump;
    int SectorsPerTrack = SectorsPerHead;  // of each head the DOS uses
};

// The 16-byte hard-disk entry of the drive-parameter data that describes a drive.
inline std::vector<uint8_t> NewdosEntry(const TNewdosDrive& drive, int directorySectors) {
    std::vector<uint8_t> entry(16, 0);
    entry[0] = static_cast<uint8_t>(drive.DirectoryLump);
    entry[1] = static_cast<uint8_t>(drive.Lumps);
    entry[2] = static_cast<uint8_t>(drive.FirstHead);
    entry[3] = static_cast<uint8_t>(drive.SectorsPerGranule);
    entry[4] = static_cast<uint8_t>(drive.SectorsPerTrack);
    entry[5] = static_cast<uint8_t>(drive.GranulesPerLump);
    entry[6] = static_cast<uint8_t>(drive.Heads - 1);
    entry[8] = static_cast<uint8_t>(drive.DirectoryLump);
    entry[9] = static_cast<uint8_t>(directorySectors);
    entry[10] = static_cast<uint8_t>(drive.FirstSector & 0xFF);
    entry[11] = static_cast<uint8_t>((drive.FirstSector >> 8) & 0xFF);
    entry[12] = static_cast<uint8_t>((drive.FirstSector >> 16) & 0xFF);
    entry[14] = 1;
    return entry;
}

// The drives of the NEWDOS/80 disk: drives 0 to 3 on heads 0-1, lumps of one cylinder;
// drives 4 to 7 on heads 2-3, lumps of 40 sectors, so that drives 5 to 7 begin part-way
// into a cylinder. Drives 8 and 9 are floppy drives.
inline std::vector<TNewdosDrive> NewdosDrives() {
    return {{0, 2, 0, 30, 8, 8, 15},    {0, 2, 1920, 20, 8, 8, 10}, {0, 2, 3200, 25, 8, 8, 12},
            {0, 2, 4800, 25, 8, 8, 12}, {2, 2, 0, 40, 5, 8, 20},    {2, 2, 1600, 33, 5, 8, 16},
            {2, 2, 2920, 50, 5, 8, 25}, {2, 2, 4920, 36, 5, 8, 18}};
}

// A NEWDOS/80 hard disk holding the given drives, each a volume of its own with boot
// sector, GAT, HIT and directory of 16 sectors; drive 0's volume holds the
// drive-parameter data, two floppy drives after the hard-disk ones.
inline TBuiltDisk BuildNewdosDisk(const std::string& path, int cylinders, int heads,
                                  const std::vector<TNewdosDrive>& drives) {
    constexpr int DirectorySectors = 16;
    THDV1File disk(path, cylinders, cylinders, heads);
    std::vector<uint8_t> table;
    for (const TNewdosDrive& drive : drives) {
        const std::vector<uint8_t> entry = NewdosEntry(drive, DirectorySectors);
        table.insert(table.end(), entry.begin(), entry.end());
    }
    // Two floppy drives: 40 tracks, double density, 18 sectors.
    for (int floppy = 0; floppy < 2; ++floppy) {
        const uint8_t entry[16] = {17, 40, 0, 40, 18, 2, 0, 0, 17, 2, 0, 0, 3, 1, 0, 4};
        table.insert(table.end(), std::begin(entry), std::end(entry));
    }
    table.resize(SectorBytes, 0);

    TBuiltDisk built{path, {}};
    for (size_t number = 0; number < drives.size(); ++number) {
        const TNewdosDrive drive = drives[number];
        const int logicalPerLump = drive.SectorsPerGranule * drive.GranulesPerLump;
        auto placeOf = [drive, logicalPerLump](int track, int sector) {
            const int linear = drive.FirstSector + track * logicalPerLump + sector;
            const int perCylinder = drive.SectorsPerTrack * drive.Heads;
            const int within = linear % perCylinder;
            return TPlace{linear / perCylinder, drive.FirstHead + within / drive.SectorsPerTrack,
                          within % drive.SectorsPerTrack};
        };
        TVolume volume = VolumeOf(placeOf, drive.Lumps, logicalPerLump, drive.SectorsPerGranule, drive.GranulesPerLump,
                                  drive.DirectoryLump, DirectorySectors);
        volume.LockoutTable = true;
        volume.Gat[0xCB] = 0x82;
        const std::string name = "ND80HD" + std::to_string(number);
        PutName(volume.Gat, name, "01/01/85");
        if (number == 0) volume.Sectors.push_back({{0, 2}, table});
        const int directoryGranules = (DirectorySectors + drive.SectorsPerGranule - 1) / drive.SectorsPerGranule;
        const uint32_t salt = 5000u + 10u * static_cast<uint32_t>(number);
        const size_t directoryBytes = static_cast<size_t>(directoryGranules * drive.SectorsPerGranule) * SectorBytes;
        volume.Files = {SystemFile("BOOT", 5 * SectorBytes, 0, 0),
                        SystemFile("DIR", directoryBytes, drive.DirectoryLump, 0, DirectorySectors),
                        UserFile("DRIVE" + std::to_string(number), "TXT", 800 + 100 * number, salt + 1, 2, 0),
                        UserFile("DATA", "BIN", 5000, salt + 2, drive.Lumps - 3, 1)};
        WriteVolume(disk, volume);
        built.Partitions.push_back(Expect(disk, volume, "NEWDOS/80", name));
    }
    return built;
}

// NEWDOS/80 with eight logical drives on a 100-cylinder disk of four heads.
inline TBuiltDisk BuildNewdosLogicalDrives(const std::string& path) {
    return BuildNewdosDisk(path, 100, 4, NewdosDrives());
}

// The date 1999-06-08 16:09 as MULTIDOS keeps it when bytes 18-19 hold year and time:
// bytes 1-2 month and day, byte 18 hour and the minute's high bits, byte 19 the
// minute's low bits and the year.
inline TVolumeFile MultidosFile(const std::string& name, const std::string& extension, size_t size, uint32_t salt,
                                int track, int granule) {
    TVolumeFile file = UserFile(name, extension, size, salt, track, granule);
    file.Date = {0x96, 0x42};
    file.Passwords = {0x57, 0x31, 0x81, 0x33};
    return file;
}

// MULTIDOS with two partitions of 40 cylinders over both heads, laid out as LDOS lays
// out its hard disks, version byte 0xFF, dates with times in bytes 18-19.
inline TBuiltDisk BuildMultidosPartitions(const std::string& path) {
    constexpr int Heads = 2, Tracks = 40, Partitions = 2;
    THDV1File disk(path, Tracks * Partitions, Tracks * Partitions, Heads);
    TBuiltDisk built{path, {}};
    for (int partition = 0; partition < Partitions; ++partition) {
        TVolume volume = VolumeOf(
            [partition](int track, int sector) {
                return TPlace{Tracks * partition + track, sector / 32, sector % 32};
            },
            Tracks, 64, 8, 8, 20, 34);
        volume.Gat[0xCB] = 0xFF;
        volume.Gat[0xCC] = Tracks - 35;
        volume.Gat[0xCD] = 0xC7;  // double density, one side, eight granules a track
        const std::string name = "MDOSHD" + std::to_string(partition);
        PutName(volume.Gat, name, "09/17/23");
        TVolumeFile boot = SystemFile("BOOT", 512, 0, 0);
        boot.Attributes = 0x5F;
        boot.Date = {0xFF, 0xFF};
        boot.Passwords = {0xD7, 0x31, 0x00, 0x00};
        TVolumeFile directory = SystemFile("DIR", 34 * SectorBytes, 20, 0);
        directory.Date = {0x96, 0x42};
        directory.Passwords = {0xD7, 0x31, 0x00, 0x00};
        const uint32_t salt = 7000u + 10u * static_cast<uint32_t>(partition);
        volume.Files = {boot, directory, MultidosFile("EXPORT2", "CMD", 988, salt + 1, 1, 0),
                        MultidosFile("IMPORT2", "CMD", 1034 + partition, salt + 2, 1, 1),
                        MultidosFile("VHDUTL", "CMD", 2460, salt + 3, 30, 3)};
        WriteVolume(disk, volume);
        built.Partitions.push_back(Expect(disk, volume, "MULTIDOS", name));
    }
    return built;
}

}  // namespace HardDiskTest
