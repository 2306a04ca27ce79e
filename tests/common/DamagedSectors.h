// Damages single sectors of image files the way real disks are damaged: a data
// field whose CRC fails, an ID field that names another side, a sector gone from its
// track. Double-density DMK sectors and JV3 sectors of any kind.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/TempDir.h"
#include "diskimage/DiskImage.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/TRSDOSBase.h"

namespace TestSupport {

// Where the fields of one double-density sector lie in a DMK file.
struct DMKSectorPlace {
    size_t IdMark = 0;     // the 0xFE of its ID field
    size_t DataMark = 0;   // its data address mark
    size_t DataBytes = 0;  // the length of its data
};

inline DMKSectorPlace FindDMKSector(const std::vector<uint8_t>& dmk, int track, int side, int id) {
    const int trackLength = dmk.at(2) | (dmk.at(3) << 8);
    const int sides = (dmk.at(4) & 0x10) ? 1 : 2;
    const size_t start = 16 + static_cast<size_t>(track * sides + side) * static_cast<size_t>(trackLength);
    for (int slot = 0; slot < 64; ++slot) {
        const int pointer = dmk.at(start + 2 * slot) | (dmk.at(start + 2 * slot + 1) << 8);
        if (pointer == 0 || (pointer & 0x8000) == 0) continue;  // double-density fields only
        const size_t idMark = start + (pointer & 0x3FFF);
        if (dmk.at(idMark) != 0xFE || dmk.at(idMark + 1) != track || dmk.at(idMark + 3) != id) continue;
        for (size_t p = idMark + 7; p < idMark + 7 + 60; ++p) {
            if (dmk.at(p - 1) == 0xA1 && dmk.at(p) >= 0xF8 && dmk.at(p) <= 0xFB)
                return {idMark, p, static_cast<size_t>(128) << dmk.at(idMark + 4)};
        }
    }
    throw std::runtime_error("sector not found in the DMK track");
}

// The data field keeps its bytes; its CRC no longer fits them.
inline void BreakDMKDataCrc(const std::string& path, int track, int side, int id) {
    std::vector<uint8_t> dmk = ReadHostBytes(path);
    const DMKSectorPlace place = FindDMKSector(dmk, track, side, id);
    dmk.at(place.DataMark + 1 + place.DataBytes) ^= 0x5A;
    WriteHostBytes(path, dmk);
}

// The ID field names another side (its CRC made to fit): a sector that reads but takes no write.
inline void SetDMKIdSide(const std::string& path, int track, int side, int id, int sideField) {
    std::vector<uint8_t> dmk = ReadHostBytes(path);
    const DMKSectorPlace place = FindDMKSector(dmk, track, side, id);
    dmk.at(place.IdMark + 2) = static_cast<uint8_t>(sideField);
    const uint16_t crc = DiskImage::Crc16(&dmk.at(place.IdMark - 3), 8);
    dmk.at(place.IdMark + 5) = static_cast<uint8_t>(crc >> 8);
    dmk.at(place.IdMark + 6) = static_cast<uint8_t>(crc & 0xFF);
    WriteHostBytes(path, dmk);
}

// The header of one JV3 sector; throws when the image has none such.
inline size_t FindJV3Header(const std::vector<uint8_t>& jv3, int track, int side, int id) {
    for (size_t header = 0; header < 2901; ++header) {
        const uint8_t* h = &jv3.at(header * 3);
        if (h[0] == track && h[1] == id && ((h[2] & 0x10) != 0) == (side != 0)) return header * 3;
    }
    throw std::runtime_error("sector not found in the JV3 headers");
}

// Gone from its track: neither ID nor data field is left (the data keeps its place in the file).
inline void RemoveJV3Sector(const std::string& path, int track, int side, int id) {
    std::vector<uint8_t> jv3 = ReadHostBytes(path);
    jv3.at(FindJV3Header(jv3, track, side, id)) = 0xFF;
    WriteHostBytes(path, jv3);
}

// The data field's CRC fails, by the JV3 header's flag.
inline void FlagJV3CrcError(const std::string& path, int track, int side, int id) {
    std::vector<uint8_t> jv3 = ReadHostBytes(path);
    jv3.at(FindJV3Header(jv3, track, side, id) + 2) |= 0x08;
    WriteHostBytes(path, jv3);
}

// A new TRSDOS 2.3 disk in JV3 whose one file, GAME/CMD, then loses its second sector
// from its track. Returns where that sector was: its track and sector number on side 0.
inline std::pair<int, int> WriteDiskMissingASectorOfAFile(const std::string& path, const std::vector<uint8_t>& data) {
    int track = 0, sector = 0;
    {
        FileSystem::MountedDisk disk;
        disk.CreateNew(path, DiskImage::ImageJV3, 35, 0, 1, false, "GAMES", "01/02/83");
        auto& fs = dynamic_cast<FileSystem::TRSDOSBase&>(*disk.Current());
        fs.CreateFile("GAME/CMD", data, {});
        const FileSystem::TExtent first = fs.GetExtents(fs.FindFile("GAME/CMD")).front();
        track = static_cast<int>(first.Track);
        sector = static_cast<int>(first.Sector) + 1;
        disk.Flush();
    }
    RemoveJV3Sector(path, track, 0, sector);
    return {track, sector};
}

}  // namespace TestSupport
