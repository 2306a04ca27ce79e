// TRSDOS 1.3: recognition, formatting, its 48-byte directory records and
// the file operations that differ from the family core.
#include "filesystem/TRSDOS13.h"

#include <algorithm>
#include <cerrno>

#include "diskimage/DiskImage.h"

namespace FileSystem {

namespace {

// A Z80 routine that shows the text after it, then the text itself.
constexpr uint8_t BootCode[16] = {0xFE, 0x00, 0x21, 0x10, 0x43, 0x7E, 0x23, 0xB7,
                                  0x28, 0xFD, 0xCD, 0x33, 0x00, 0x18, 0xF6, 0x00};
constexpr char BootMessage[] = "Not a system disk";

}  // namespace

TRSDOS13::TRSDOS13(DiskImage::TDiskImage* image, NoLoad) : TRSDOSBase(image) {
    Tracks = 40;
    Sides = 1;
    SectorsPerSide = SectorsPerTrack = DirectorySectors = 18;
    SectorsPerGranule = 3;
    GranulesPerTrack = 6;
    Density = 1;
    Interleave = 6;
    FirstUserEntry = 0;
    GranuleCountMinusOne = false;
    NoPasswordHash = 0x3B61;
    // Byte 1 of a record holds the month, so there is no Created bit to offer.
    Attributes = AttrInvisible | AttrSystem;
}

TRSDOS13::TRSDOS13(DiskImage::TDiskImage* image) : TRSDOS13(image, NoLoad{}) {
    uint8_t dam = 0;
    std::vector<uint8_t> boot;
    if (!ReadDiskSector(0, 1, 0, 1, dam, boot)) throw EInvalidFormat();
    if (dam == 0xFB) Suspicion += 1;
    TakeBootSector(boot);
    LoadGAT();
    LoadHIT();
    LoadRecordDirectory();
}

TRSDOS13::TRSDOS13(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate)
    : TRSDOS13(image, NoLoad{}) {
    DirectoryTrack = 17;
    Tracks = 40;
    Format(diskName, diskDate);  // JV1, single density only, cannot hold it
}

TRSDOS13::~TRSDOS13() {
    try {
        Flush();
    } catch (...) {
        // A destructor reports nothing; the image keeps its last state.
    }
}

std::string TRSDOS13::GetDOSName(bool) { return "TRSDOS 1.3"; }

void TRSDOS13::TakeBootSector(const std::vector<uint8_t>& boot) {
    const bool jumpForm = boot.size() >= 2 && boot[0] == 0xFE && (boot[1] == 0x14 || boot[1] == 0x11);
    const bool loaderForm = boot.size() >= 3 && boot[0] == 0x01 && boot[1] == 0xC8 && boot[2] == 'C';
    if (!jumpForm && !loaderForm) throw EInvalidFormat();
    DirectoryTrack = boot[1] == 0x14 ? 20 : 17;
    const int trackCount = boot.size() >= SectorSize ? boot[SectorSize - 1] : 0;
    Tracks = trackCount != 0 ? trackCount : 40;
}

bool TRSDOS13::IsPrimaryInUse(const TDirectoryRecord& record) const {
    if (SkipExtensionRecords && (record.Attributes & RecordExtension)) return false;
    return (record.Attributes & RecordInUse) != 0;
}

// ---------------------------------------------------------------- sectors and records

bool TRSDOS13::ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) {
    normalData = false;
    uint8_t dam = 0;
    FoundDensity = 1;
    if (!ReadDiskSector(track, sector + 1, 0, 1, dam, buffer) || buffer.size() != SectorSize) {
        buffer.clear();
        return false;
    }
    normalData = dam == DataMark;
    LastDAM = dam;
    return true;
}

bool TRSDOS13::WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) {
    std::vector<uint8_t> bytes(SectorSize, 0);
    if (offset < data.size()) {
        const size_t count = std::min<size_t>(SectorSize, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), count, bytes.begin());
    }
    const uint8_t dam = track == DirectoryTrack ? DirectoryMark : DataMark;
    return WriteDiskSector(track, sector + 1, 0, 1, dam, bytes);
}

uint8_t* TRSDOS13::GetDirectoryRecord(int dec) {
    const int perSector = SectorSize / RecordBytes;
    if (dec < 0 || dec >= RecordLimit) throw EIllegalFileIndex();
    const size_t offset = static_cast<size_t>(dec / perSector) * SectorSize +
                          static_cast<size_t>(dec % perSector) * static_cast<size_t>(RecordBytes);
    if (offset + static_cast<size_t>(RecordBytes) > Directory.size()) throw EIllegalFileIndex();
    return Directory.data() + offset;
}

int TRSDOS13::GetRecordCount() const {
    const int perSector = SectorSize / RecordBytes;
    const int held = static_cast<int>(Directory.size() / SectorSize) * perSector;
    return std::min(held, RecordLimit);
}

// The record's extents fill every slot up to the last two bytes, and each slot holds the
// granule count itself.
std::vector<TExtent> TRSDOS13::GetExtents(int dec) { return GetRecordExtents(ReadRecord(dec)); }

// The record keeps the size in bytes, low byte where the family keeps the EOF offset and
// the two higher bytes where it keeps the ERN.
int TRSDOS13::GetFileSize(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    return record.EofOffset | (record.EndingRecord << 8);
}

void TRSDOS13::SetFileSize(int dec, int size) {
    TDirectoryRecord record = ReadRecord(dec);
    size = std::max(size, 0);
    record.EofOffset = static_cast<uint8_t>(size & 0xFF);
    record.EndingRecord = static_cast<uint16_t>((size >> 8) & 0xFFFF);
    WriteRecord(dec, record);
    Modified = true;
}

// The date is the month where the family keeps its flags and the year of the century
// where it keeps day and year.
FileDate TRSDOS13::GetFileDate(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    FileDate date;
    if (record.Flags < 1 || record.Flags > 12) return date;
    date.HasDate = true;
    date.Month = record.Flags;
    date.Day = 1;
    date.HasDay = false;  // the directory keeps the month and year only
    date.Year = record.DayYear < 71 ? 2000 + record.DayYear : 1900 + record.DayYear;
    return date;
}

void TRSDOS13::SetFileDate(int fileIndex, const FileDate& date) {
    TDirectoryRecord record = ReadRecord(fileIndex);
    CheckWritable();
    record.Flags = 0;
    record.DayYear = 0;
    if (date.HasDate) {
        const int sinceCentury = date.Year - 1900;
        record.Flags = static_cast<uint8_t>(date.Month);
        record.DayYear = static_cast<uint8_t>(sinceCentury >= 100 ? date.Year - 2000 : sinceCentury);
    }
    WriteRecord(fileIndex, record);
    Modified = true;
}

// ---------------------------------------------------------------- listing and finding

std::vector<int> TRSDOS13::ListFiles(const std::vector<std::string>& patterns, int flags) {
    std::vector<std::string> slashPatterns = patterns;
    for (std::string& pattern : slashPatterns) std::replace(pattern.begin(), pattern.end(), '.', '/');
    std::vector<int> files;
    const int count = GetRecordCount();
    for (int dec = 0; dec < count; ++dec) {
        if (HIT[static_cast<size_t>(dec)] == 0) continue;
        const TDirectoryRecord record = ReadRecord(dec);
        if (!IsPrimaryInUse(record)) continue;
        if ((record.Attributes & RecordInvisible) && !(flags & ListInvisible)) continue;
        if ((record.Attributes & RecordSystem) && !(flags & ListSystem)) continue;
        if (MatchesPattern(slashPatterns, GetFullFileName(dec))) files.push_back(dec);
    }
    return files;
}

int TRSDOS13::FindFreeDirectoryEntry(int start) {
    const int count = GetRecordCount();
    for (int dec = std::max(start, 0); dec < count; ++dec)
        if (HIT[static_cast<size_t>(dec)] == 0) return dec;
    return -1;
}

// ---------------------------------------------------------------- creating, deleting, renaming

bool TRSDOS13::CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) {
    if (FindFile(name) >= 0) throw EFileExists();
    if (!IsValidFilename(name)) throw EInvalidFilename();
    const int dec = FindFreeDirectoryEntry(FirstUserEntry);
    if (dec < 0) throw ETooManyFiles();
    CheckWritable();

    // The whole allocation is planned in memory before any data is written, so
    // a file that does not fit leaves GAT, HIT, directory and data untouched.
    const std::vector<uint8_t> savedGAT = GAT, savedHIT = HIT, savedDirectory = Directory;
    const bool savedModified = Modified;
    auto restore = [&]() {
        GAT = savedGAT;
        HIT = savedHIT;
        Directory = savedDirectory;
        Modified = savedModified;
    };

    try {
        TDirectoryRecord record = TDirectoryRecord::Blank(GetRecordBytes());
        record.Attributes = RecordInUse;
        WriteRecord(dec, record);
        Modified = true;
        SetFileName(dec, name);
        SetFileSize(dec, static_cast<int>(data.size()));
        SetFileDate(dec, date);
        SetUpdatePassword(dec, NoPasswordHash);
        SetAccessPassword(dec, NoPasswordHash);
        HIT[static_cast<size_t>(dec)] = HashFilename(name);

        const int granuleBytes = SectorsPerGranule * SectorSize;
        int needed = static_cast<int>((data.size() + static_cast<size_t>(granuleBytes) - 1) /
                                      static_cast<size_t>(granuleBytes));
        int extentCount = 0;
        while (needed > 0) {
            if (extentCount == MaxExtents) throw ETooManyExtents();
            int count = 0, track = 0, granule = 0;
            if (!FindFreeGranules(std::min(needed, LargestExtentRun), count, track, granule)) throw EDiskFull();
            AllocateGranules(track, granule, count);
            record = ReadRecord(dec);
            record.Extents[static_cast<size_t>(extentCount)] = MakeExtentSlot(track, granule, count);
            WriteRecord(dec, record);
            ++extentCount;
            needed -= count;
        }

        size_t offset = 0;
        for (const TExtent& extent : GetExtents(dec)) {
            int track = static_cast<int>(extent.Track);
            int sector = static_cast<int>(extent.Sector);
            for (int g = 0; g < extent.Count; ++g, offset += static_cast<size_t>(granuleBytes))
                if (!WriteGranule(track, sector, data, offset)) throw EFileError(WriteFailureError());
        }
    } catch (...) {
        restore();
        throw;
    }
    Flush();
    return true;
}

bool TRSDOS13::DeleteFile(int fileIndex) {
    TDirectoryRecord record = ReadRecord(fileIndex);
    if (!(record.Attributes & RecordInUse)) return false;
    CheckWritable();
    HIT[static_cast<size_t>(fileIndex)] = 0;
    record.Attributes = static_cast<uint8_t>(record.Attributes & ~RecordInUse);
    WriteRecord(fileIndex, record);
    Modified = true;
    for (const TExtent& extent : GetExtents(fileIndex))
        FreeGranules(static_cast<int>(extent.Track), static_cast<int>(extent.Sector) / SectorsPerGranule, extent.Count);
    return true;
}

bool TRSDOS13::RenameFile(int fileIndex, const std::string& newName) {
    if (FindFile(newName) >= 0) throw EFileExists();
    if (!IsValidFilename(newName)) throw EInvalidFilename();
    if (!(ReadRecord(fileIndex).Attributes & RecordInUse)) return false;
    CheckWritable();
    SetFileName(fileIndex, newName);
    HIT[static_cast<size_t>(fileIndex)] = HashFilename(newName);
    Flush();
    return true;
}

// ---------------------------------------------------------------- loading

void TRSDOS13::LoadHIT() {
    bool normalData = false;
    const TSectorRead read = ReadDirectoryTrackSector(1, normalData, HIT);
    if (read == TSectorRead::Missing) throw EInvalidFormat();
    if (read == TSectorRead::CrcError) Suspicion += 5;
    DirectoryDAM = LastDAM;
    if (normalData) Suspicion += 10;
    HIT.resize(SectorSize, 0);
}

void TRSDOS13::LoadRecordDirectory() {
    Directory.clear();
    for (int s = 2; s < DirectorySectors; ++s) {
        std::vector<uint8_t> data;
        bool normalData = false;
        const TSectorRead read = ReadDirectoryTrackSector(s, normalData, data);
        if (read != TSectorRead::Clean) Suspicion += 5;
        if (read == TSectorRead::Missing) {
            data.assign(SectorSize, 0);
        } else if (!IsHardDisk && normalData) {
            Suspicion += 2;
        }
        Directory.insert(Directory.end(), data.begin(), data.end());
    }
    try {
        for (int dec : ListFiles({"*/*"}, ListInvisible | ListSystem))
            if (LargestPlausibleSize > 0 && GetFileSize(dec) > LargestPlausibleSize) Suspicion = 100;
    } catch (const TFileSystem::Exception&) {
        Suspicion = 100;
    }
}

// ---------------------------------------------------------------- formatting

void TRSDOS13::InitGAT(const std::string& diskName, const std::string& diskDate) {
    GAT.assign(SectorSize, 0);
    SetDiskName(diskName);
    SetDiskDate(diskDate);
    GAT[GatPassword] = 0x4E;
    GAT[GatPassword + 1] = 0x0B;
    GAT[GatAutoCommand] = 0x0D;
}

void TRSDOS13::InitHIT() {
    HIT.assign(SectorSize, 0);
    std::fill(HIT.begin() + 224, HIT.end(), 0xFF);
}

void TRSDOS13::InitDirectory() {
    Directory.assign(static_cast<size_t>(DirectorySectors - 2) * SectorSize, 0);
    AllocateGranules(0, 0, 1);
    AllocateGranules(DirectoryTrack, 0, (DirectorySectors + SectorsPerGranule - 1) / SectorsPerGranule);
}

bool TRSDOS13::WriteBootSector() {
    std::vector<uint8_t> boot(SectorSize, 0);
    std::copy(std::begin(BootCode), std::end(BootCode), boot.begin());
    boot[1] = static_cast<uint8_t>(DirectoryTrack);
    std::copy(std::begin(BootMessage), std::end(BootMessage), boot.begin() + 16);
    boot[254] = 0x13;
    boot[255] = static_cast<uint8_t>(Tracks);
    return WriteSector(0, 0, boot, 0);
}

bool TRSDOS13::FormatTrack(int track) {
    return FloppyImage != nullptr &&
           FloppyImage->FormatTrack(track, SectorsPerSide, 1, true, DataMark, true, Interleave);
}

}  // namespace FileSystem
