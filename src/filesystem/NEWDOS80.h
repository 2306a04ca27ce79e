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
    // One logical drive of a hard disk, as a 16-byte entry of the drive-parameter
    // data describes it. Throws EInvalidFormat when the entry describes no volume
    // that is there: one that does not fit the disk's heads, or whose boot sector
    // names another directory.
    NEWDOS80(DiskImage::TDiskImage* image, const std::vector<uint8_t>& entry);
    ~NEWDOS80() override;

    // On a hard disk the volume's sectors are counted from FirstSector over its heads
    // FirstHead onward, SPT sectors a head.
    void MapHardDiskSector(int& track, int& sector, int& side) override;

    std::string GetDOSName(bool family) override;
    std::optional<std::string> GetPDrive() override { return GetPDriveText(); }
    std::vector<std::unique_ptr<TFileSystem>> MountFurtherDrives() override;
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
        int FirstHead = 0;
        long long FirstSector = 0;
    };
    static std::string FormatPDriveText(const PDriveFields& fields);

    // Linear logical sector L = logicalSectorsPerTrack x track + sector lies on
    // physical track L / physicalSectorsPerTrack (one further with
    // skipTrackZero), at sector L mod physicalSectorsPerTrack of all sides.
    static void MapLogicalSector(int logicalSectorsPerTrack, int physicalSectorsPerTrack, bool skipTrackZero,
                                 int track, int sector, int& physicalTrack, int& physicalSector);

    // The drive-parameter sector as recognition took it; on a hard disk its ten
    // 16-byte entries describe the logical drives 0 to 9.
    const std::vector<uint8_t>& GetDriveParameters() const { return DriveParameters; }
    static constexpr int DriveEntryBytes = 16;
    static constexpr int DriveEntries = 10;

    // The part of a hard disk a volume takes: Sectors sectors from FirstSector on,
    // counted over Heads heads from FirstHead, SectorsPerHead a head and
    // SectorsPerCylinder a cylinder.
    struct TVolumePlace {
        long long FirstSector = 0;
        long long Sectors = 0;
        int FirstHead = 0;
        int Heads = 1;
        int SectorsPerHead = 32;
        int SectorsPerCylinder = 32;
    };
    TVolumePlace GetVolumePlace() const;

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
    // A hard-disk volume's first sector, counted over its heads (FirstHead onward).
    long long FirstSector = 0;

protected:
    bool ReadSector(int track, int sector, bool& isData, std::vector<uint8_t>& buffer) override;
    bool WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) override;

private:
    class TReservedSlot;
    void ReadDriveParameters(std::vector<uint8_t>& table);
    void LoadDirectoryTrack();
    int SectorsPerHead() const;

    std::vector<uint8_t> DriveParameters;
    void TakePDriveFields(const std::vector<uint8_t>& table);
    void TakeGeometry(const std::vector<uint8_t>& table);
    void MapToPhysical(int track, int sector, int& physicalTrack, int& physicalSector) const;
};

}  // namespace FileSystem
