// MULTIDOS disks: recognition, the choice of date form and the date forms.
#include "filesystem/MULTIDOS.h"

namespace FileSystem {

namespace {

// A double-density sector 1 that begins so is not the boot sector: sector 0 is.
constexpr uint8_t SectorOneLoader[4] = {0xF3, 0x3E, 0x81, 0xD3};

bool IsBlankVersion(uint8_t version) { return version == 0x00 || version == 0xFF; }

bool IsNoPassword(uint16_t value) { return value == 0x5A17 || value == 0xFFFF; }

// Where date mode 2 keeps the access password: the bytes that hold month and day-year
// in the other modes.
uint16_t PasswordInDateBytes(const TDirectoryRecord& record) {
    return static_cast<uint16_t>((record.Flags << 8) | record.DayYear);
}

// The time of day, hour x 8 + minute / 8 in the high byte and (minute % 8) x 32 in the
// low byte, beside five bits the mode gives the year or the seconds.
void ReadTime(uint16_t field, FileDate& date) {
    date.Hour = (field >> 8) >> 3;
    date.Minute = 8 * ((field >> 8) & 7) + ((field & 0xFF) >> 5);
}

}  // namespace

MULTIDOS::MULTIDOS(DiskImage::TDiskImage* image) : TRSDOSBase(image) {
    Attributes &= ~AttrCreated;
    if (IsHardDisk)
        RecogniseHardDisk();
    else
        RecogniseFloppy();
}

MULTIDOS::MULTIDOS(DiskImage::TDiskImage* image, int firstCylinder, int firstHead) : TRSDOSBase(image) {
    Attributes &= ~AttrCreated;
    FirstCylinder = firstCylinder;
    FirstHead = firstHead;
    if (IsHardDisk)
        RecogniseHardDisk();
    else
        RecogniseFloppy();
}

void MULTIDOS::JudgeVersion() {
    const uint8_t version = GAT[GatVersion];
    if (version != 0x13 && version != 0x17 && !IsBlankVersion(version)) Suspicion += 10;
}

void MULTIDOS::RecogniseFloppy() {
    const std::vector<uint8_t> boot = ReadBootSectorEitherDensity(SectorOneLoader);
    DirectoryTrack = boot[2] < 81 ? boot[2] : 17;
    LoadGAT();
    Density = FoundDensity;
    LoadHIT();
    JudgeVersion();
    const uint8_t version = GAT[GatVersion];
    Sides = 1;
    if (GAT[GatTrackCount] != GAT[GatConfiguration]) {
        Tracks = GAT[GatTrackCount] + 35;
        if (IsBlankVersion(version)) {
            DateMode = 2;
            if (GAT[GatConfiguration] & 0x20) Sides = 2;
        }
    } else {
        Tracks = GAT[GatConfiguration];
    }
    if (Tracks >= 256) throw EInvalidFormat();
    SetSidedGeometry();
    LoadDirectory(false);
    ChooseDateMode();
}

// A hard-disk partition keeps its directory where the boot sector says, however far
// in, and its GAT carries the track count and geometry as LDOS's does.
void MULTIDOS::RecogniseHardDisk() {
    const std::vector<uint8_t> boot = ReadBootSectorEitherDensity(SectorOneLoader);
    DirectoryTrack = boot[2];
    LoadGAT();
    LoadHIT();
    JudgeVersion();
    Tracks = GAT[GatTrackCount] + 35;
    if (Tracks >= 256) throw EInvalidFormat();
    Sides = (GAT[GatConfiguration] & 0x20) ? 2 : 1;
    if (IsBlankVersion(GAT[GatVersion])) DateMode = 2;
    SetHardDiskGeometry();
    LoadDirectory(false);
    ChooseDateMode();
}

void MULTIDOS::MapHardDiskSector(int& track, int& sector, int& side) { MapPartitionSector(track, sector, side); }

// The date form follows from where the no-password value appears: bytes 1-2
// hold it when they carry the access password (form 2), bytes 18-19 when
// they carry no time (form 0).
void MULTIDOS::ChooseDateMode() {
    std::vector<int> files;
    try {
        files = ListFiles({"*/*"}, ListInvisible | ListSystem);
    } catch (const TFileSystem::Exception&) {
        return;
    }
    if (files.empty()) return;
    int passwordInDateBytes = 0;
    int passwordInTimeBytes = 0;
    for (int dec : files) {
        const TDirectoryRecord record = ReadRecord(dec);
        if (IsNoPassword(PasswordInDateBytes(record))) ++passwordInDateBytes;
        if (IsNoPassword(record.AccessPassword)) ++passwordInTimeBytes;
    }
    const int count = static_cast<int>(files.size());
    if (100 * passwordInDateBytes / count >= 21)
        DateMode = 2;
    else
        DateMode = 100 * passwordInTimeBytes / count < 26 ? 1 : 0;
}

std::string MULTIDOS::GetDOSName(bool family) {
    if (family) return "MULTIDOS";
    switch (GAT[GatVersion]) {
    case 0x13: return "MULTIDOS 1.3";
    case 0x17: return "MULTIDOS 1.7";
    default: return "MULTIDOS";
    }
}

FileDate MULTIDOS::GetFileDate(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    const uint16_t time = record.AccessPassword;
    if (DateMode == 0) return TRSDOSBase::GetFileDate(fileIndex);
    if (DateMode == 1) {
        FileDate date = TRSDOSBase::GetFileDate(fileIndex);
        // The no-password value in the time field means a plain date without time.
        if (time == 0x5A17) return date;
        date.HasTime = true;
        ReadTime(time, date);
        date.Year = 1980 + (time & 31);
        return date;
    }
    // Year x 2 + the month's high bit, then the month's low bits x 32 + the day.
    const uint16_t calendar = record.UpdatePassword;
    FileDate date;
    ReadTime(time, date);
    date.Year = 1980 + ((calendar >> 9) & 63);
    date.Month = 8 * ((calendar >> 8) & 1) + ((calendar & 0xFF) >> 5);
    date.Day = calendar & 31;
    date.Second = 2 * (time & 31);
    // Cleared or damaged fields do not make a calendar date or a time of day.
    date.HasDate = date.Month >= 1 && date.Month <= 12 && date.Day >= 1;
    date.HasTime = date.Hour < 24 && date.Minute < 60;
    return date;
}

void MULTIDOS::SetFileDate(int fileIndex, const FileDate& date) {
    ReadRecord(fileIndex);  // an index outside the directory is refused first
    CheckWritable();
    const uint8_t timeHigh = static_cast<uint8_t>(8 * (date.Hour & 31) + ((date.Minute >> 3) & 7));
    const uint8_t minuteLow = static_cast<uint8_t>(32 * (date.Minute & 7));
    auto word = [](int high, int low) { return static_cast<uint16_t>(((high & 0xFF) << 8) | (low & 0xFF)); };
    if (DateMode == 2) {
        TDirectoryRecord record = ReadRecord(fileIndex);
        record.UpdatePassword = 0;
        record.AccessPassword = 0;
        if (date.HasDate) {
            record.UpdatePassword = word(2 * ((date.Year - 1980) & 63) + ((date.Month & 8) ? 1 : 0),
                                         (date.Day & 31) + 32 * (date.Month & 7));
        }
        if (date.HasTime) record.AccessPassword = word(timeHigh, ((date.Second / 2) & 31) + minuteLow);
        WriteRecord(fileIndex, record);
        Modified = true;
        return;
    }
    TRSDOSBase::SetFileDate(fileIndex, date);
    if (DateMode == 1) {
        TDirectoryRecord record = ReadRecord(fileIndex);
        int high = 0, low = 0;
        if (date.HasDate) low = (date.Year - 1980) & 31;
        if (date.HasTime) {
            high = timeHigh;
            low |= minuteLow;
        }
        record.AccessPassword = word(high, low);
        WriteRecord(fileIndex, record);
    }
    Modified = true;
}

void MULTIDOS::SetUpdatePassword(int dec, uint16_t hash) {
    if (DateMode == 0) TRSDOSBase::SetUpdatePassword(dec, hash);
}

void MULTIDOS::SetAccessPassword(int dec, uint16_t hash) {
    if (DateMode == 0) {
        TRSDOSBase::SetAccessPassword(dec, hash);
    } else if (DateMode == 2) {
        TDirectoryRecord record = ReadRecord(dec);
        record.Flags = static_cast<uint8_t>(hash >> 8);
        record.DayYear = static_cast<uint8_t>(hash & 0xFF);
        WriteRecord(dec, record);
        Modified = true;
    }
    // Form 1 keeps the year and time in the access password field: it is left alone.
}

void MULTIDOS::InitGAT(const std::string& diskName, const std::string& diskDate) {
    TRSDOSBase::InitGAT(diskName, diskDate);
    GAT[GatVersion] = 'S';
    GAT[GatConfiguration] |= 0x80;
}

}  // namespace FileSystem
