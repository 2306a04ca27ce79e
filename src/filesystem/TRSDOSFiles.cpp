// File operations of the TRSDOS family: listing, finding, reading,
// rewriting, creating, deleting and renaming files, and the name rule.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

namespace {

// One letter case, no trailing '/', '.' or blanks, '.' as the separator.
std::string NormalizedName(const std::string& name) {
    std::string result;
    for (char c : name) result += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!result.empty() && (result.back() == '/' || result.back() == '.' || result.back() == ' ')) result.pop_back();
    std::replace(result.begin(), result.end(), '/', '.');
    return result;
}

}  // namespace

std::vector<int> TRSDOSBase::ListFiles(const std::vector<std::string>& patterns, int flags) {
    std::vector<std::string> slashPatterns = patterns;
    for (std::string& pattern : slashPatterns) std::replace(pattern.begin(), pattern.end(), '.', '/');
    std::vector<int> files;
    for (int dec = 0; dec < 256; ++dec) {
        if (HIT[static_cast<size_t>(dec)] == 0) continue;
        const uint8_t attributes = ReadRecord(dec).Attributes;
        if ((attributes & RecordExtension) || !(attributes & RecordInUse)) continue;
        if ((attributes & RecordInvisible) && !(flags & ListInvisible)) continue;
        if ((attributes & RecordSystem) && !(flags & ListSystem)) continue;
        if (MatchesPattern(slashPatterns, GetFullFileName(dec))) files.push_back(dec);
    }
    return files;
}

int TRSDOSBase::FindFile(const std::string& name) {
    const std::string wanted = NormalizedName(name);
    try {
        for (int dec = 0; dec < 256; ++dec) {
            if (HIT[static_cast<size_t>(dec)] == 0) continue;
            const uint8_t attributes = ReadRecord(dec).Attributes;
            if ((attributes & RecordExtension) || !(attributes & RecordInUse)) continue;
            if (NormalizedName(GetFullFileName(dec)) == wanted) return dec;
        }
    } catch (const TFileSystem::Exception&) {
    }
    return -1;
}

bool TRSDOSBase::IsValidFilename(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    size_t nameLength = 0;
    size_t extensionLength = 0;
    bool inExtension = false;
    for (char c : name) {
        if (c == '/' || c == '.') {
            if (inExtension) return false;  // a second separator
            inExtension = true;
            continue;
        }
        const bool letterOrDigit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letterOrDigit) return false;
        ++(inExtension ? extensionLength : nameLength);
    }
    return nameLength >= 1 && nameLength <= 8 && extensionLength <= 3;
}

std::string TRSDOSBase::GetFilenameRule() {
    return "A name is 1 to 8 letters and digits beginning with a letter, then optionally a '/' or '.' "
           "and an extension of up to 3 letters and digits";
}

std::vector<uint8_t> TRSDOSBase::ReadFile(int fileIndex) {
    const int size = GetFileSize(fileIndex);
    std::vector<uint8_t> data;
    if (size <= 0) return data;
    const int granuleBytes = SectorsPerGranule * SectorSize;
    int granulesLeft = size / granuleBytes + 1;
    for (const TExtent& extent : GetExtents(fileIndex)) {
        int track = static_cast<int>(extent.Track);
        int sector = static_cast<int>(extent.Sector);
        // A sector that cannot be read comes out as zeros and reading goes on: the rest of
        // the file is worth more than a file cut short, and the reader is told which sectors.
        for (int g = 0; g < extent.Count && granulesLeft > 0; ++g, --granulesLeft) ReadGranule(track, sector, data);
        if (granulesLeft == 0) break;
    }
    if (data.size() > static_cast<size_t>(size)) data.resize(static_cast<size_t>(size));
    return data;
}

bool TRSDOSBase::RewriteFile(int fileIndex, const std::vector<uint8_t>& data) {
    const int size = GetFileSize(fileIndex);
    if (size < 0 || static_cast<size_t>(size) != data.size()) return false;
    if (size == 0) return true;
    CheckWritable();
    const int granuleBytes = SectorsPerGranule * SectorSize;
    int granulesLeft = size / granuleBytes + 1;
    size_t offset = 0;
    for (const TExtent& extent : GetExtents(fileIndex)) {
        int track = static_cast<int>(extent.Track);
        int sector = static_cast<int>(extent.Sector);
        for (int g = 0; g < extent.Count && granulesLeft > 0 && offset < data.size(); ++g, --granulesLeft) {
            if (!WriteGranule(track, sector, data, offset)) return false;
            offset += static_cast<size_t>(granuleBytes);
        }
    }
    FileDate now;
    now.SetFromTime(std::time(nullptr));
    SetFileDate(fileIndex, now);
    return true;
}

bool TRSDOSBase::CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) {
    if (FindFile(name) >= 0) throw EFileExists();
    if (!IsValidFilename(name)) throw EInvalidFilename();
    const int primary = FindFreeDirectoryEntry(FirstUserEntry);
    if (primary < 0) throw ETooManyFiles();
    CheckWritable();

    // A failed creation puts GAT, HIT and directory back as they were.
    const std::vector<uint8_t> savedGAT = GAT, savedHIT = HIT, savedDirectory = Directory;
    auto rollBack = [&]() {
        GAT = savedGAT;
        HIT = savedHIT;
        Directory = savedDirectory;
        Modified = true;
        Flush();
    };

    const uint8_t hash = HashFilename(name);
    TDirectoryRecord record = TDirectoryRecord::Blank(GetRecordBytes());
    record.Attributes = RecordInUse;
    WriteRecord(primary, record);
    Modified = true;
    SetFileName(primary, name);
    SetFileSize(primary, static_cast<int>(data.size()));
    SetFileDate(primary, date);
    SetUpdatePassword(primary, NoPasswordHash);
    SetAccessPassword(primary, NoPasswordHash);
    HIT[static_cast<size_t>(primary)] = hash;

    const int granuleBytes = SectorsPerGranule * SectorSize;
    int needed = static_cast<int>((data.size() + static_cast<size_t>(granuleBytes) - 1) / static_cast<size_t>(granuleBytes));
    const int largestRun = GranuleCountMinusOne ? 32 : 31;
    int current = primary;
    int extentIndex = 0;
    size_t offset = 0;
    while (needed > 0) {
        int count = 0, track = 0, granule = 0;
        if (!FindFreeGranules(std::min(needed, largestRun), count, track, granule)) {
            rollBack();
            throw EDiskFull();
        }
        AllocateGranules(track, granule, count);
        record = ReadRecord(current);
        record.Extents[static_cast<size_t>(extentIndex)] = MakeExtentSlot(track, granule, count);
        WriteRecord(current, record);
        needed -= count;
        int sector = granule * SectorsPerGranule;
        for (int g = 0; g < count; ++g) {
            if (!WriteGranule(track, sector, data, offset)) {
                rollBack();
                throw EFileError(WriteFailureError());
            }
            offset += static_cast<size_t>(granuleBytes);
        }
        if (++extentIndex == ExtentsPerRecord) {
            const int next = FindFreeDirectoryEntry(primary);
            if (next < 0) {
                rollBack();
                throw ETooManyFiles();
            }
            record.LinkMark = TDirectoryRecord::Linked;
            record.LinkDEC = static_cast<uint8_t>(next);
            WriteRecord(current, record);
            HIT[static_cast<size_t>(next)] = hash;
            // An extension record keeps the DEC of the record before it where a primary
            // record keeps its date.
            TDirectoryRecord extension = TDirectoryRecord::Blank(GetRecordBytes());
            extension.Attributes = RecordExtension | RecordInUse;
            extension.Flags = static_cast<uint8_t>(current);
            WriteRecord(next, extension);
            current = next;
            extentIndex = 0;
        }
    }
    Flush();
    return true;
}

bool TRSDOSBase::DeleteFile(int fileIndex) {
    const std::vector<int> chain = GetRecordChain(fileIndex);
    // A chain with a record not in use is refused before any record is freed, so that a
    // failed delete leaves no half-deleted file behind.
    for (int dec : chain)
        if (!(ReadRecord(dec).Attributes & RecordInUse)) return false;
    CheckWritable();
    for (int dec : chain) {
        TDirectoryRecord record = ReadRecord(dec);
        HIT[static_cast<size_t>(dec)] = 0;
        record.Attributes &= static_cast<uint8_t>(~(RecordExtension | RecordInUse));
        WriteRecord(dec, record);
        Modified = true;
        for (const TExtent& extent : GetRecordExtents(record))
            FreeGranules(static_cast<int>(extent.Track), static_cast<int>(extent.Sector) / SectorsPerGranule, extent.Count);
    }
    return true;
}

bool TRSDOSBase::RenameFile(int fileIndex, const std::string& newName) {
    if (FindFile(newName) >= 0) throw EFileExists();
    if (!IsValidFilename(newName)) throw EInvalidFilename();
    const std::vector<int> chain = GetRecordChain(fileIndex);
    for (int dec : chain)
        if (!(ReadRecord(dec).Attributes & RecordInUse)) return false;
    CheckWritable();
    const uint8_t hash = HashFilename(newName);
    SetFileName(fileIndex, newName);
    for (int dec : chain) HIT[static_cast<size_t>(dec)] = hash;
    Flush();
    return true;
}

}  // namespace FileSystem
