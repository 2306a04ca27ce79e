// VTOS, LDOS and LS-DOS: recognition, geometry from the GAT and the hard-disk
// descriptor, the extended date form, hard-disk partitions and new floppies.
#include "filesystem/LDOS.h"

#include <algorithm>
#include <tuple>

#include "diskimage/DiskImage.h"

namespace FileSystem {

namespace {

constexpr uint8_t ConfigNewDisk = 0x80;
constexpr uint8_t ConfigTwoSides = 0x20;
constexpr uint8_t ConfigDateConverted = 0x08;

// The filler byte of a double-density sector that was never written.
constexpr uint8_t UnformattedFiller = 0xB6;

// Recognition handles at most this many cylinders as one side per track.
constexpr int MaxOneSidedCylinders = 203;
constexpr int MaxNewDiskTracks = 201;
constexpr int MaxDirectorySectors = 34;

struct VersionRow {
    uint8_t Byte;
    const char* Name;
};

constexpr VersionRow Versions[] = {
    {0x30, "VTOS 3.0"},   {0x40, "VTOS 4.0"},   {0x50, "LDOS 5.0"},   {0x51, "LDOS 5.1"},   {0x53, "LDOS 5.3"},
    {0x60, "LS-DOS 6.0"}, {0x61, "LS-DOS 6.1"}, {0x62, "LS-DOS 6.2"}, {0x63, "LS-DOS 6.3"},
};

// On a date-converted disk the access password field holds the time of day and the
// rest of the year: hour x 8 + minute / 8 in its high byte, (minute % 8) x 32 + the
// year's offset in its low byte. The no-password value there marks a plain-form date
// without time.
constexpr uint16_t NoPassword = 0x5A17;

}  // namespace

std::string LDOS::VersionName(uint8_t versionByte) {
    for (const VersionRow& row : Versions)
        if (row.Byte == versionByte)
            return row.Name;
    return "LDOS/LS-DOS";
}

bool LDOS::IsAcceptedVersion(uint8_t versionByte) {
    // VTOS 4.0 disks carry 0x41 rather than the 0x40 of the name table.
    return versionByte == 0x30 || versionByte == 0x41 || (versionByte >= 0x50 && versionByte <= 0x53) ||
           (versionByte >= 0x60 && versionByte <= 0x63);
}

LDOS::LDOS(DiskImage::TDiskImage* image, int firstCylinder, int firstHead)
    : TRSDOSBase(image) {
    FirstCylinder = firstCylinder;
    FirstHead = firstHead;
    Attributes |= AttrMOD;
    Recognise();
}

LDOS::LDOS(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate, int tracks,
           int sides, bool doubleDensity)
    : TRSDOSBase(image) {
    Attributes |= AttrMOD;
    DateConverted = true;
    Tracks = std::clamp(tracks, 1, MaxNewDiskTracks);
    Sides = sides == 2 ? 2 : 1;
    if (doubleDensity) {
        SectorsPerSide = 18;
        Density = 1;
        GranulesPerTrack = 3;
        SectorsPerGranule = 6;
        Interleave = 3;
    }
    SectorsPerTrack = SectorsPerSide * Sides;
    GranulesPerTrack *= Sides;
    DirectoryTrack = GetImageFormatName() == "JV1" ? 17 : Tracks / 2;
    DirectorySectors = std::min(SectorsPerTrack, MaxDirectorySectors);
    Format(diskName, diskDate);
}

bool LDOS::LoadBootSector(std::vector<uint8_t>& boot) {
    uint8_t dam = 0;
    if (ReadDiskSector(0, 1, 0, 1, dam, boot) && boot.size() >= 3) {
        Density = 1;
        return true;
    }
    if (ReadDiskSector(0, 0, 0, 0, dam, boot) && boot.size() >= 3) {
        Density = 0;
        return true;
    }
    return false;
}

// Whole hard disks of more than 203 cylinders may hold two sides per track;
// the GAT read on that assumption tells.
void LDOS::ReadHardDiskGAT() {
    DiskImage::THardImage* hard = GetHardImage();
    const int cylinders = hard ? hard->GetCylinders() : 0;
    if (GetImageFormatName() == "HDV1") {
        Sides = 1;
        Tracks = cylinders;
        if (cylinders > MaxOneSidedCylinders) {
            Sides = 2;
            LoadGAT();
            if (!IsAcceptedVersion(GAT[GatVersion]))
                Sides = 1;
        }
        LoadGAT();
        LoadHIT();
        return;
    }
    if (cylinders > MaxOneSidedCylinders) {
        Sides = 2;
        LoadGAT();
        LoadHIT();
        if (GAT[GatVersion] != UnformattedFiller)
            return;
        Sides = 1;
    }
    LoadGAT();
    LoadHIT();
}

void LDOS::Recognise() {
    DateConverted = false;
    std::vector<uint8_t> boot;
    if (!LoadBootSector(boot))
        throw EInvalidFormat();
    DirectoryTrack = boot[2];

    // A double-density disk whose track 0 is single density.
    if (Density == 0) {
        uint8_t dam = 0;
        std::vector<uint8_t> probe;
        if (ReadDiskSector(1, 0, 0, 1, dam, probe))
            Density = 1;
    }

    if (IsHardDisk) {
        ReadHardDiskGAT();
        SetGeometryFromGAT();
        LoadDirectory(false);
        return;
    }
    const int bootDirectoryTrack = boot[2];
    if (!MayHoldAnotherLoader(boot)) {
        LoadFloppyDirectory(bootDirectoryTrack);
        return;
    }
    if (TryDirectoryTrack(bootDirectoryTrack)) return;
    for (int track : TracksToSearch()) {
        if (track != bootDirectoryTrack && HoldsLDOSGAT(track) && TryDirectoryTrack(track) && HITAgreesWithDirectory())
            return;
    }
    // Nothing found anywhere: judge the disk by what its boot sector says.
    LoadFloppyDirectory(bootDirectoryTrack);
}

// Whether the boot sector may be another system's loader rather than the DOS's own. A
// TRS-80 DOS boot sector opens with a compare whose operand is the directory track
// (0xFE in byte 0 or 1), and is trusted; and LDOS numbers sectors from 0, so a disk
// whose first track has no sector 0 (RSDOS, TRSDOS 1.3, most CP/M) is no LDOS disk
// with a replaced loader either.
bool LDOS::MayHoldAnotherLoader(const std::vector<uint8_t>& boot) {
    if (boot[0] == 0xFE || boot[1] == 0xFE) return false;
    uint8_t dam = 0;
    std::vector<uint8_t> sectorZero;
    return ReadDiskSector(0, 0, 0, Density, dam, sectorZero);
}

// A boot sector replaced by another loader (as on disks made bootable for a hard-disk
// interface) no longer names the directory track. On a double-density disk the DOS's own
// boot sector may still be sector 0, and then only the track it names is looked at;
// otherwise the tracks where LDOS formats the directory, the middle of a disk of 35, 40
// or 80 tracks.
std::vector<int> LDOS::TracksToSearch() {
    uint8_t dam = 0;
    std::vector<uint8_t> sectorZero;
    if (Density == 1 && ReadDiskSector(0, 0, 0, 1, dam, sectorZero) && sectorZero.size() >= 3 &&
        (sectorZero[0] == 0xFE || sectorZero[1] == 0xFE))
        return {sectorZero[2]};
    return {17, 20, 40};
}

void LDOS::LoadFloppyDirectory(int track) {
    DirectoryTrack = track;
    Suspicion = 0;
    ReadError = false;
    DateConverted = false;
    DirectoryProblems.clear();
    LoadGAT();
    LoadHIT();
    SetGeometryFromGAT();
    LoadDirectory(false);
}

bool LDOS::TryDirectoryTrack(int track) {
    try {
        LoadFloppyDirectory(track);
    } catch (const TFileSystem::Exception&) {
        return false;
    }
    return Suspicion < 100;
}

// A cheap first look: sector 0 of the track is readable, carries a directory's data mark
// and a version byte LDOS writes.
bool LDOS::HoldsLDOSGAT(int track) {
    bool normalData = true;
    std::vector<uint8_t> gat;
    const bool read = ReadSector(track, 0, normalData, gat);
    return read && !normalData && gat.size() > GatVersion && IsAcceptedVersion(gat[GatVersion]);
}

bool LDOS::HITAgreesWithDirectory() {
    const std::vector<int> files = ListFiles({"*/*"}, ListInvisible | ListSystem);
    if (files.empty()) return false;
    for (int dec : files) {
        if (HIT[static_cast<size_t>(dec)] != HashFilename(GetFileName(dec) + "/" + GetFileExtension(dec))) return false;
    }
    return true;
}

void LDOS::SetGeometryFromGAT() {
    GAT.resize(256, 0);
    if (!IsAcceptedVersion(GAT[GatVersion]))
        Suspicion += 10;
    Tracks = GAT[GatTrackCount] + 35;
    if (Tracks >= 256)
        throw EInvalidFormat();
    Sides = (GAT[GatConfiguration] & ConfigTwoSides) ? 2 : 1;
    DateConverted = (GAT[GatConfiguration] & ConfigDateConverted) != 0;

    if (IsHardDisk)
        SetHardDiskGeometry();
    else
        SetSidedGeometry();
}

void LDOS::MapHardDiskSector(int& track, int& sector, int& side) { MapPartitionSector(track, sector, side); }

std::string LDOS::GetDOSName(bool family) {
    if (family)
        return "LDOS";
    return VersionName(GAT.size() > GatVersion ? GAT[GatVersion] : 0);
}

std::string LDOS::GetDOSDescription() {
    return GetDOSName(false) + (DateConverted ? " (date converted)" : "");
}

FileDate LDOS::ClampDate(const FileDate& date, int lastYear) {
    FileDate result = date;
    if (!result.HasDate)
        return result;
    if (result.Month < 1 || result.Month > 12 || result.Day < 1 || result.Day > 31) {
        result.HasDate = false;
        result.HasTime = false;
        return result;
    }
    if (result.HasTime && (result.Hour < 0 || result.Hour > 23 || result.Minute < 0 || result.Minute > 59))
        result.HasTime = false;
    if (result.Year < FirstYear) {
        result.Year = FirstYear;
        result.Month = 1;
        result.Day = 1;
        result.Hour = 0;
        result.Minute = 0;
    } else if (result.Year > lastYear) {
        result.Year = lastYear;
        result.Month = 12;
        result.Day = 31;
        result.Hour = 23;
        result.Minute = 59;
    }
    return result;
}

FileDate LDOS::GetFileDate(int fileIndex) {
    if (!DateConverted)
        return TRSDOSBase::GetFileDate(fileIndex);
    const TDirectoryRecord record = ReadRecord(fileIndex);
    const uint8_t timeHigh = static_cast<uint8_t>(record.AccessPassword >> 8);
    const uint8_t timeLow = static_cast<uint8_t>(record.AccessPassword & 0xFF);
    FileDate date;
    date.Month = record.Flags & 0x0F;
    date.Day = record.DayYear >> 3;
    if (date.Month == 0 || date.Day == 0 || date.Month > 12) {
        date = FileDate();
        return date;
    }
    date.HasDate = true;
    date.HasTime = true;
    date.Hour = timeHigh >> 3;
    date.Minute = (timeLow >> 5) + 8 * (timeHigh & 7);
    if (record.AccessPassword == NoPassword) {
        date.Year = FirstYear + (record.DayYear & 7);
        date.HasTime = false;
        date.Hour = 0;
        date.Minute = 0;
        return date;
    }
    const int offset = 32 * ((timeLow & 7) ^ (record.DayYear & 7)) + (timeLow & 31);
    date.Year = FirstYear + (offset < 100 ? offset : (timeLow & 31));
    // Bits that do not make a time of day are not shown as one.
    if (date.Hour > 23 || date.Minute > 59)
        date.HasTime = false;
    return date;
}

void LDOS::SetFileDate(int fileIndex, const FileDate& requested) {
    if (!DateConverted) {
        TRSDOSBase::SetFileDate(fileIndex, ClampDate(requested, LastPlainYear));
        return;
    }
    const FileDate date = ClampDate(requested, LastExtendedYear);
    TDirectoryRecord record = ReadRecord(fileIndex);
    uint8_t timeHigh = 0, timeLow = 0;
    record.Flags &= 0xF0;
    record.DayYear = 0;
    if (date.HasDate) {
        const int offset = date.Year - FirstYear;
        record.Flags |= static_cast<uint8_t>(date.Month);
        record.DayYear = static_cast<uint8_t>(date.Day * 8 + (offset & 7));
        timeLow = static_cast<uint8_t>(offset & 31);
        record.DayYear ^= static_cast<uint8_t>((offset >> 5) & 3);
    }
    if (date.HasTime) {
        timeHigh = static_cast<uint8_t>(date.Hour * 8 + ((date.Minute >> 3) & 7));
        timeLow |= static_cast<uint8_t>((date.Minute & 7) << 5);
    }
    record.AccessPassword = static_cast<uint16_t>((timeHigh << 8) | timeLow);
    WriteRecord(fileIndex, record);
    Modified = true;
}

void LDOS::SetAccessPassword(int fileIndex, uint16_t hash) {
    // On a date-converted disk these bytes hold the time of day.
    if (DateConverted)
        return;
    TRSDOSBase::SetAccessPassword(fileIndex, hash);
}

void LDOS::InitGAT(const std::string& diskName, const std::string& diskDate) {
    TRSDOSBase::InitGAT(diskName, diskDate);
    GAT[GatVersion] = 0x53;
    GAT[GatConfiguration] |= ConfigNewDisk;
    if (DateConverted)
        GAT[GatConfiguration] |= ConfigDateConverted;
}

}  // namespace FileSystem
