// NEWDOS/80: the drive-parameter table, logical-to-physical sector mapping
// and the PDRIVE text.
#include "filesystem/NEWDOS80.h"

#include <algorithm>
#include <cstdint>

#include "diskimage/DiskImage.h"

namespace FileSystem {

namespace {

// Bytes of the drive-parameter table.
constexpr int DpFirstByte = 0;
constexpr int DpTracks = 1;
constexpr int DpTC = 3;
constexpr int DpSPT = 4;
constexpr int DpGPL = 5;
constexpr int DpHeads = 6;
constexpr int DpDDSL = 8;
constexpr int DpDDGA = 9;
constexpr int DpTSR = 12;
// Where a hard-disk entry puts its volume: the first head, and the first sector
// (24 bits, low byte first) counted over the volume's heads.
constexpr int DpFirstHead = 2;
constexpr int DpFirstSector = 10;
constexpr int DpTI = 13;
constexpr int DpFlags = 14;
constexpr int DpTD = 15;
constexpr int DpUsedBytes = 16;

constexpr uint8_t FlagSuffixI = 0x01;
constexpr uint8_t FlagSuffixJ = 0x02;
constexpr uint8_t FlagSkipTrackZero = 0x04;

// One GAT byte describes a track, so a track holds at most eight granules.
constexpr int MaxGranulesPerTrack = 8;
// No floppy track of 256-byte sectors holds more, and a hard-disk head has 32.
constexpr int MaxFloppySectorsPerSide = 32;
constexpr int MaxHardSectorsPerHead = DiskImage::THardImage::SectorsPerHead;
constexpr int MaxDirectorySectors = 34;

bool IsUnformatted(const std::vector<uint8_t>& table) {
    return std::all_of(table.begin(), table.begin() + 5, [](uint8_t b) { return b == 0xE5; });
}

}  // namespace

NEWDOS80::NEWDOS80(DiskImage::TDiskImage* image) : TRSDOSBase(image) {
    ReadDriveParameters(DriveParameters);
    LoadDirectoryTrack();
}

NEWDOS80::NEWDOS80(DiskImage::TDiskImage* image, const std::vector<uint8_t>& entry) : TRSDOSBase(image) {
    const DiskImage::THardImage* hard = GetHardImage();
    if (hard == nullptr || entry.size() < DpUsedBytes) throw EInvalidFormat();
    DriveParameters.assign(entry.begin(), entry.begin() + DpUsedBytes);
    TakePDriveFields(DriveParameters);
    TakeGeometry(DriveParameters);
    FirstHead = entry[DpFirstHead];
    FirstSector = entry[DpFirstSector] | (entry[DpFirstSector + 1] << 8) | (entry[DpFirstSector + 2] << 16);
    if (PdSPT == 0 || FirstHead + DriveHeads > hard->GetHeads()) throw EInvalidFormat();

    uint8_t dam = 0;
    std::vector<uint8_t> boot;
    if (!ReadDiskSector(0, 1, 0, 1, dam, boot) || boot.size() < 3 || boot[2] != entry[DpDDSL]) throw EInvalidFormat();
    Density = 1;
    DirectoryTrack = boot[2];
    LoadDirectoryTrack();
}

void NEWDOS80::LoadDirectoryTrack() {
    LoadGAT();
    LoadHIT();
    DirectorySectors = std::min(DirectorySectors, MaxDirectorySectors);
    LoadDirectory(false);
}

NEWDOS80::~NEWDOS80() {
    try {
        Flush();
    } catch (...) {
        // A destructor reports nothing; the image keeps its last state.
    }
}

std::string NEWDOS80::GetDOSName(bool) { return "NEWDOS/80"; }

void NEWDOS80::ReadDriveParameters(std::vector<uint8_t>& table) {
    uint8_t dam = 0;
    std::vector<uint8_t> boot;
    if (ReadDiskSector(0, 1, 0, 1, dam, boot, true)) {
        Density = 1;
    } else if (ReadDiskSector(0, 0, 0, 0, dam, boot, true)) {
        Density = 0;
    } else {
        throw EInvalidFormat();
    }
    if (boot.size() < 3) throw EInvalidFormat();
    DirectoryTrack = boot[2];

    if (!ReadDiskSector(0, 2, 0, Density, dam, table, true) || table.size() < DpUsedBytes) throw EInvalidFormat();
    if (IsUnformatted(table)) {
        // The table lives on track 1 of a disk whose track 0 is a short boot track.
        if (!ReadDiskSector(1, 2, 0, 1, dam, table, true) || table.size() < DpUsedBytes) throw EInvalidFormat();
        Density = 1;
        if (table[DpTD] == 0) table[DpTD] = 4;
        table[DpFlags] |= FlagSkipTrackZero;
    }
    TakePDriveFields(table);
    if (table[DpFirstByte] != table[DpDDSL]) Suspicion += 5;

    if (table[DpDDSL] != DirectoryTrack && table[DpDDSL] != 17) {
        // The boot track's table names another directory track: the one on
        // track 1, read in the other density, must agree with the boot sector.
        const int otherDensity = Density ? 0 : 1;
        std::vector<uint8_t> second;
        if (!ReadDiskSector(1, 2, 0, otherDensity, dam, second) || second.size() < DpUsedBytes ||
            second[DpDDSL] != DirectoryTrack || !(second[DpFlags] & FlagSkipTrackZero))
            throw EInvalidFormat();
        SkipTrackZero = true;
        Density = static_cast<uint8_t>(otherDensity);
        table = second;
    }
    TakeGeometry(table);
}

void NEWDOS80::TakePDriveFields(const std::vector<uint8_t>& table) {
    PdSPT = table[DpSPT];
    PdGPL = table[DpGPL];
    PdTSR = table[DpTSR];
    PdTC = table[DpTC];
    PdTD = table[DpTD];
    PdDDSL = table[DpDDSL];
    PdDDGA = table[DpDDGA];
    PdTIIndex = 0;
    for (int bit = 0; bit < 5; ++bit) {
        if (table[DpTI] & (1 << bit)) {
            PdTIIndex = bit;
            break;
        }
    }
    SuffixI = (table[DpFlags] & FlagSuffixI) != 0;
    SuffixJ = (table[DpFlags] & FlagSuffixJ) != 0;
    SkipTrackZero = (table[DpFlags] & FlagSkipTrackZero) != 0;
}

void NEWDOS80::TakeGeometry(const std::vector<uint8_t>& table) {
    if (IsHardDisk) {
        DriveHeads = table[DpHeads] + 1;
        Sides = 1;
        SectorsPerGranule = table[DpTC];
        DirectorySectors = table[DpDDGA];
        const int sectorsPerHead = table[DpSPT];
        if (sectorsPerHead > MaxHardSectorsPerHead) throw EInvalidFormat();
        SectorsPerSide = sectorsPerHead * DriveHeads;
        if (SectorsPerSide == 0) SectorsPerSide = 256;
        HardFlags = table[DpFlags];
    } else {
        SectorsPerGranule = 5;
        DirectorySectors = 5 * table[DpDDGA];
        switch (table[DpTD]) {
        case 0: Sides = 1; break;
        case 2: Sides = 2; break;
        case 4: Sides = 1; break;
        case 6: Sides = 2; break;
        default: throw EInvalidFormat();
        }
        const int typeDensity = table[DpTD] >= 4 ? 1 : 0;
        if (typeDensity != Density) throw EInvalidFormat();
        SectorsPerSide = table[DpSPT] / Sides;
        if (SectorsPerSide == 0 || SectorsPerSide > MaxFloppySectorsPerSide) throw EInvalidFormat();
    }
    // A table without granules, or with more granules than a GAT byte can
    // describe, cannot be a disk's: nothing may divide by or loop on it.
    if (SectorsPerGranule == 0 || table[DpGPL] == 0 || table[DpGPL] > MaxGranulesPerTrack) throw EInvalidFormat();
    Tracks = table[DpTracks] == 0 ? 256 : table[DpTracks];
    GranulesPerTrack = table[DpGPL];
    SectorsPerTrack = LogicalSectorsPerTrack = GranulesPerTrack * SectorsPerGranule;
    if (Tracks > 96) NoLockoutTable = true;
}

// ---------------------------------------------------------------- sector mapping

void NEWDOS80::MapLogicalSector(int logicalSectorsPerTrack, int physicalSectorsPerTrack, bool skipTrackZero,
                                int track, int sector, int& physicalTrack, int& physicalSector) {
    const long long linear = static_cast<long long>(logicalSectorsPerTrack) * track + sector;
    const long long perTrack = std::max(1, physicalSectorsPerTrack);
    physicalTrack = static_cast<int>(linear / perTrack) + (skipTrackZero ? 1 : 0);
    physicalSector = static_cast<int>(linear % perTrack);
}

void NEWDOS80::MapToPhysical(int track, int sector, int& physicalTrack, int& physicalSector) const {
    MapLogicalSector(LogicalSectorsPerTrack, SectorsPerSide * Sides, SkipTrackZero, track, sector, physicalTrack,
                     physicalSector);
}

int NEWDOS80::SectorsPerHead() const {
    // A table without sectors per head counts 256 sectors a cylinder, 32 on each head.
    return PdSPT > 0 ? PdSPT : MaxHardSectorsPerHead;
}

void NEWDOS80::MapHardDiskSector(int& track, int& sector, int& side) {
    const long long perCylinder = std::max(1, SectorsPerSide);
    const long long linear = FirstSector + static_cast<long long>(track) * perCylinder + sector;
    const int perHead = SectorsPerHead();
    const long long withinCylinder = linear % perCylinder;
    track = static_cast<int>(std::min<long long>(linear / perCylinder, INT32_MAX));
    side = FirstHead + side + static_cast<int>(withinCylinder / perHead);
    sector = static_cast<int>(withinCylinder % perHead);
}

NEWDOS80::TVolumePlace NEWDOS80::GetVolumePlace() const {
    TVolumePlace place;
    place.FirstSector = FirstSector;
    place.Sectors = static_cast<long long>(Tracks) * LogicalSectorsPerTrack;
    place.FirstHead = FirstHead;
    place.Heads = DriveHeads;
    place.SectorsPerHead = SectorsPerHead();
    place.SectorsPerCylinder = std::max(1, SectorsPerSide);
    return place;
}

bool NEWDOS80::ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) {
    int physicalTrack = 0, physicalSector = 0;
    MapToPhysical(track, sector, physicalTrack, physicalSector);
    return TRSDOSBase::ReadSector(physicalTrack, physicalSector, normalData, buffer);
}

bool NEWDOS80::WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) {
    std::vector<uint8_t> bytes(SectorSize, 0);
    if (offset < data.size()) {
        const size_t count = std::min<size_t>(SectorSize, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), count, bytes.begin());
    }
    // The mark follows the logical track: the directory may start mid-track.
    const uint8_t dam = track == DirectoryTrack ? DirectoryDAM : 0xFB;
    int physicalTrack = 0, physicalSector = 0, side = 0;
    MapToPhysical(track, sector, physicalTrack, physicalSector);
    if (physicalSector >= SectorsPerSide) {
        side = 1;
        physicalSector -= SectorsPerSide;
    }
    if (WriteDiskSector(physicalTrack, physicalSector, side, Density, dam, bytes)) return true;
    return WriteDiskSector(physicalTrack, physicalSector, side, Density ? 0 : 1, dam, bytes);
}

// ---------------------------------------------------------------- listing and PDRIVE

// HIT byte 31 is the DOS's own, not the hash of a file, and its record may
// lie past the end of the directory. For the length of one search the slot
// takes a stand-in value: empty to pass it over, taken to keep it from new files.
class NEWDOS80::TReservedSlot {
public:
    TReservedSlot(std::vector<uint8_t>& hit, uint8_t standIn) : Hit(hit), Saved(hit[ReservedDEC]) {
        Hit[ReservedDEC] = standIn;
    }
    ~TReservedSlot() { Hit[ReservedDEC] = Saved; }
    TReservedSlot(const TReservedSlot&) = delete;
    TReservedSlot& operator=(const TReservedSlot&) = delete;

private:
    std::vector<uint8_t>& Hit;
    uint8_t Saved;
};

std::vector<int> NEWDOS80::ListFiles(const std::vector<std::string>& patterns, int flags) {
    TReservedSlot passOver(HIT, 0);
    return TRSDOSBase::ListFiles(patterns, flags);
}

int NEWDOS80::FindFile(const std::string& name) {
    TReservedSlot passOver(HIT, 0);
    return TRSDOSBase::FindFile(name);
}

int NEWDOS80::GetFileSize(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    const bool noSectors = record.EndingRecord == 0 && record.Extents[0].Track == 0xFF;
    return noSectors ? 0 : TRSDOSBase::GetFileSize(fileIndex);
}

int NEWDOS80::FindFreeDirectoryEntry(int start) {
    TReservedSlot keepFree(HIT, 0xFF);
    return TRSDOSBase::FindFreeDirectoryEntry(start);
}

std::string NEWDOS80::GetPDriveText() const {
    PDriveFields fields;
    fields.HardDisk = IsHardDisk;
    fields.SPT = PdSPT;
    fields.GPL = PdGPL;
    fields.TSR = PdTSR;
    fields.TC = PdTC;
    fields.TD = PdTD;
    fields.TIIndex = PdTIIndex;
    fields.DDSL = PdDDSL;
    fields.DDGA = PdDDGA;
    fields.SuffixI = SuffixI;
    fields.SuffixJ = SuffixJ;
    fields.SuffixK = SkipTrackZero;
    fields.DriveHeads = DriveHeads;
    fields.HardFlags = HardFlags;
    fields.SectorsPerGranule = SectorsPerGranule;
    fields.DirectorySectors = DirectorySectors;
    fields.FirstHead = FirstHead;
    fields.FirstSector = FirstSector;
    return FormatPDriveText(fields);
}

std::string NEWDOS80::FormatPDriveText(const PDriveFields& f) {
    auto number = [](long long value) { return std::to_string(value); };
    if (f.HardDisk) {
        return "HDS=(0," + number(f.HardFlags) + "," + number(f.FirstHead) + "," + number(f.DriveHeads) + "," +
               number(f.SPT) + ",6," + number(f.FirstSector) + "," +
               number(static_cast<long long>(f.DriveHeads) * f.SPT * f.HardFlags) + "," +
               number(f.SectorsPerGranule) + "," + number(f.GPL) + "," + number(f.DDSL) + "," +
               number(f.DirectorySectors) + ")";
    }
    static const char letters[] = "ABCDEFGH";
    std::string text = "TI=";
    text += letters[f.TIIndex & 7];
    if (f.SuffixI) text += 'I';
    if (f.SuffixJ) text += 'J';
    if (f.SuffixK) text += 'K';
    text += ",TD=";
    text += letters[f.TD & 7];
    text += ",TC=" + number(f.TC) + ",SPT=" + number(f.SPT) + ",TSR=" + number(f.TSR) + ",GPL=" + number(f.GPL) +
            ",DDSL=" + number(f.DDSL) + ",DDGA=" + number(f.DDGA);
    return text;
}

}  // namespace FileSystem
