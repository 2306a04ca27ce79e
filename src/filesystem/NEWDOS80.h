// NEWDOS/80 on floppy and hard-disk images. The DOS keeps each drive's
// geometry in a drive-parameter table on the boot track and counts its
// directory and extents in logical tracks of (granules per logical track) x
// (sectors per granule), which this class maps onto the physical tracks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class NEWDOS80 : public TRSDOSBase {
public:
    // Recognises the disk and loads GAT, HIT and directory; throws EInvalidFormat
    // when the drive-parameter table cannot be read or makes no sense.
    explicit NEWDOS80(DiskImage::TDiskImage* image);
    ~NEWDOS80() override;

    std::string GetDOSName(bool family) override;
    // DEC 31 is the DOS's own: never listed, found or given to a new file.
    std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) override;
    int FindFile(const std::string& name) override;
    // A record without a single extent holds no data, whatever its EOF byte says.
    int GetFileSize(int fileIndex) override;
    int FindFreeDirectoryEntry(int start) override;
    static constexpr int ReservedDEC = 31;

    // The drive-parameter table written as the PDRIVE command would show it.
    std::string GetPDriveText() const;

    // What the PDRIVE text is made of.
    struct PDriveFields {
        bool HardDisk = false;
        int SPT = 0, GPL = 0, TSR = 0, TC = 0, TD = 0, TIIndex = 0, DDSL = 0, DDGA = 0;
        bool SuffixI = false, SuffixJ = false, SuffixK = false;
        int DriveHeads = 1, HardFlags = 0, SectorsPerGranule = 0, DirectorySectors = 0;
    };
    static std::string FormatPDriveText(const PDriveFields& fields);

    // Linear logical sector L = logicalSectorsPerTrack x track + sector lies on
    // physical track L / physicalSectorsPerTrack (one further with
    // skipTrackZero), at sector L mod physicalSectorsPerTrack of all sides.
    static void MapLogicalSector(int logicalSectorsPerTrack, int physicalSectorsPerTrack, bool skipTrackZero,
                                 int track, int sector, int& physicalTrack, int& physicalSector);

    // The PDRIVE fields as read from the first drive-parameter sector.
    int PdSPT = 0;
    int PdGPL = 0;
    int PdTSR = 0;
    int PdTC = 0;
    int PdTD = 0;
    int PdTIIndex = 0;
    int PdDDSL = 0;
    int PdDDGA = 0;
    bool SuffixI = false;
    bool SuffixJ = false;
    bool SkipTrackZero = false;
    int DriveHeads = 1;
    int HardFlags = 0;
    int LogicalSectorsPerTrack = 0;

protected:
    bool ReadSector(int track, int sector, bool& isData, std::vector<uint8_t>& buffer) override;
    bool WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) override;

private:
    class TReservedSlot;
    void ReadDriveParameters(std::vector<uint8_t>& table);
    void TakePDriveFields(const std::vector<uint8_t>& table);
    void TakeGeometry(const std::vector<uint8_t>& table);
    void MapToPhysical(int track, int sector, int& physicalTrack, int& physicalSector) const;
};

}  // namespace FileSystem
