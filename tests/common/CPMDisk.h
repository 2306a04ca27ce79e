// Builds CP/M disks of any catalogue row as JV3 images: every sector formatted
// with 0xE5, then directory entries and blocks placed through the row's mapping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/JV3Writer.h"
#include "filesystem/CPM.h"

namespace TestSupport {

// One 32-byte directory entry.
inline std::vector<uint8_t> CPMEntry(int user, const std::string& name, const std::string& ext, int ex, int s2,
                                     int rc, const std::vector<int>& blocks, bool wide = false) {
    std::vector<uint8_t> e(32, 0);
    e[0] = static_cast<uint8_t>(user);
    for (int i = 0; i < 8; ++i) e[1 + i] = i < static_cast<int>(name.size()) ? static_cast<uint8_t>(name[i]) : ' ';
    for (int i = 0; i < 3; ++i) e[9 + i] = i < static_cast<int>(ext.size()) ? static_cast<uint8_t>(ext[i]) : ' ';
    e[12] = static_cast<uint8_t>(ex);
    e[14] = static_cast<uint8_t>(s2);
    e[15] = static_cast<uint8_t>(rc);
    for (size_t j = 0; j < blocks.size(); ++j) {
        if (wide) {
            e[16 + 2 * j] = static_cast<uint8_t>(blocks[j] & 0xFF);
            e[17 + 2 * j] = static_cast<uint8_t>(blocks[j] >> 8);
        } else {
            e[16 + j] = static_cast<uint8_t>(blocks[j]);
        }
    }
    return e;
}

class CPMDisk {
public:
    // sides: 0 = as the row has them; 1 or 2 to force. tracks: 0 = as the row has them;
    // fewer for a disk that lacks the row's last tracks.
    explicit CPMDisk(int row, int sides = 0, int tracks = 0) : Format(FileSystem::FormatCatalogue[row]) {
        const int sideCount = sides != 0 ? sides : (Format.IsDoubleSided() ? 2 : 1);
        const int trackCount = tracks != 0 ? tracks : Format.Tracks;
        for (int side = 0; side < sideCount; ++side) {
            for (int track = 0; track < trackCount; ++track) {
                if (Format.IsEightInch() && track == 0) {
                    // Track 0 of an 8-inch disk: 26 single-density 128-byte sectors, as the IBM 3740 has it.
                    for (int id = 1; id <= 26; ++id) Image.Add(track, side, id, false, std::vector<uint8_t>(128, 0xE5));
                    continue;
                }
                for (int s = 0; s < Format.SectorsPerTrack; ++s) {
                    // Row 0 is recognised by a sector 0 on track 0, which holds no CP/M data.
                    const int id = row == 0 && track == 0 ? s : Format.Translation[s];
                    Image.Add(track, side, id, Format.IsDoubleDensity(),
                              std::vector<uint8_t>(static_cast<size_t>(Format.SectorSize()), 0xE5));
                }
            }
        }
    }

    void SetLogical(int n, const std::vector<uint8_t>& bytes) {
        FileSystem::CPMSectorAddress a;
        if (!FileSystem::CPM::MapSector(Format, n, a)) return;
        SetPhysical(a.Track, a.Side, a.SectorId, bytes);
    }
    void SetPhysical(int track, int side, int id, const std::vector<uint8_t>& bytes) {
        JV3Writer::Sector* sector = Image.Find(track, side, id);
        if (sector == nullptr) return;
        std::fill(sector->data.begin(), sector->data.end(), 0);
        std::copy_n(bytes.begin(), std::min(bytes.size(), sector->data.size()), sector->data.begin());
    }
    std::vector<uint8_t> GetLogical(int n) {
        FileSystem::CPMSectorAddress a;
        if (!FileSystem::CPM::MapSector(Format, n, a)) return {};
        JV3Writer::Sector* sector = Image.Find(a.Track, a.Side, a.SectorId);
        return sector != nullptr ? sector->data : std::vector<uint8_t>{};
    }

    void SetEntry(int index, const std::vector<uint8_t>& entry) {
        const int sectorSize = Format.SectorSize();
        const int n = index * 32 / sectorSize;
        std::vector<uint8_t> sector = GetLogical(n);
        std::copy(entry.begin(), entry.end(), sector.begin() + (index * 32) % sectorSize);
        SetLogical(n, sector);
    }

    void SetBlock(int block, const std::vector<uint8_t>& data) {
        const int perBlock = Format.BlockSize() / Format.SectorSize();
        for (int k = 0; k < perBlock; ++k) {
            const size_t offset = static_cast<size_t>(k) * Format.SectorSize();
            std::vector<uint8_t> part(static_cast<size_t>(Format.SectorSize()), 0);
            if (offset < data.size())
                std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset),
                            std::min(part.size(), data.size() - offset), part.begin());
            SetLogical(block * perBlock + k, part);
        }
    }

    bool WriteTo(const std::string& path, bool writeProtected = false) const {
        return Image.WriteTo(path, writeProtected);
    }

    const FileSystem::CPMFormat& Format;
    JV3Writer Image;
};

// Bytes 0, 1, 2, ... of a given length: content that shows any misplaced block.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t salt = 1) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + salt + i / 251) & 0xFF);
    return bytes;
}

}  // namespace TestSupport
