// Builds CP/M disks of any catalogue row as JV3 images: every sector formatted
// with 0xE5, then directory entries and blocks placed through the row's mapping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/JV3Writer.h"
#include "filesystem/CPM.h"

namespace TestSupport {

// Catalogue rows by the names they keep, so that a row added to the catalogue changes no test.
inline int CPMRow(const char* vendorName, const char* description) {
    const int row = FileSystem::FindCPMFormatRow(vendorName, description);
    if (row < 0) throw std::logic_error(std::string("no CP/M row ") + vendorName + " " + description);
    return row;
}

namespace CPMRows {
inline const char* const Montezuma = "Montezuma Micro CP/M";
inline const char* const Lobo = "Lobo MAX-80 CP/M";
inline const int Lifeboat = CPMRow("Lifeboat CP/M", "Model I (40T, SS, SD, 72K)");
inline const int OmikronMapperI = CPMRow("Omikron Mapper I CP/M", "Model I and III (40T, SS, SD, 83K)");
inline const int Montezuma80TSystem = CPMRow(Montezuma, "80T SYSTEM (80T, SS, DD, 350K)");
inline const int Montezuma80TData = CPMRow(Montezuma, "80T DATA (80T, SS, DD, 400K)");
inline const int Montezuma80TDSData = CPMRow(Montezuma, "80T DS DATA (80T, DS, DD, 800K)");
inline const int MontezumaStandardSystem = CPMRow(Montezuma, "Standard SYSTEM (40T, SS, DD, 170K)");
inline const int MontezumaStandardData = CPMRow(Montezuma, "Standard DATA (40T, SS, DD, 200K)");
inline const int MontezumaStandardDSSystem = CPMRow(Montezuma, "Standard DS SYSTEM (40T, DS, DD, 350K)");
inline const int MontezumaStandardDSData = CPMRow(Montezuma, "Standard DS DATA (40T, DS, DD, 400K)");
inline const int Montezuma80TDSSystem1024 = CPMRow(Montezuma, "80T SYSTEM (80T, DS, DD, 780K)");
inline const int Montezuma80TSuperData = CPMRow(Montezuma, "80T SUPER DATA (80T, SS, DD, 440K)");
inline const int Montezuma80TSuperDSData = CPMRow(Montezuma, "80T SUPER DS DATA (80T, DS, DD, 880K)");
inline const int MontezumaSuperData = CPMRow(Montezuma, "SUPER DATA (40T, SS, DD, 220K)");
inline const int MontezumaSuperDSData = CPMRow(Montezuma, "SUPER DS DATA (40T, DS, DD, 440K)");
inline const int Montezuma126DS = CPMRow(Montezuma, "1.26 and 1.30 (40T, DS, DD, 350K)");
inline const int Montezuma132DS = CPMRow(Montezuma, "1.32 (40T, DS, DD, 350K)");
inline const int Montezuma126SS = CPMRow(Montezuma, "1.26 and 1.30 (40T, SS, DD, 170K)");
inline const int OmikronMapperII = CPMRow("Omikron Mapper II CP/M", "(40T, SS, DD, 134K)");
inline const int OmikronMapperIII = CPMRow("Omikron Mapper III CP/M", "(40T, SS, DD, 190K)");
inline const int LoboDS346 = CPMRow(Lobo, "(40T, DS, DD, 346K)");
inline const int LoboDS384 = CPMRow(Lobo, "(40T, DS, DD, 384K)");
inline const int Standard8Inch = CPMRow("Standard 8-inch CP/M", "IBM 3740 (77T, SS, SD, 243K)");
inline const int ModelII8Inch = CPMRow("TRS-80 Model II CP/M", "8-inch (77T, SS, DD, 600K)");
inline const int OmikronMapperI80 = CPMRow("Omikron Mapper I CP/M", "80-track (80T, SS, SD, 173K)");
}  // namespace CPMRows

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
