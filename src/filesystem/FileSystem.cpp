// The base of every file system: sector helpers, wildcard matching, name
// composition and the error classes.
#include "filesystem/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "diskimage/DiskImage.h"

namespace FileSystem {

bool FileDate::SetFromTime(std::time_t time) {
    std::tm local{};
    if (localtime_r(&time, &local) == nullptr) {
        HasDate = false;
        HasTime = false;
        return false;
    }
    Month = local.tm_mon + 1;
    Day = local.tm_mday;
    Year = local.tm_year + 1900;
    Hour = local.tm_hour;
    Minute = local.tm_min;
    Second = local.tm_sec;
    HasDate = true;
    HasTime = true;
    HasDay = true;
    return true;
}

std::string DescribeSectorProblem(const TSectorProblem& problem) {
    const std::string fault =
        problem.Fault == TSectorFault::CrcError ? "data CRC error, its bytes used as read" : "missing, read as zeros";
    if (problem.Track < 0) return "a sector past the last track: " + fault;
    return "track " + std::to_string(problem.Track) + ", side " + std::to_string(problem.Side) + ", sector " +
           std::to_string(problem.Sector) + ": " + fault;
}

std::string ComparableName(const std::string& name) {
    std::string key;
    key.reserve(name.size());
    // ASCII only: DOS names are ASCII, whatever the host's locale says.
    for (char c : name) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    while (!key.empty() && (key.back() == '/' || key.back() == '.' || key.back() == ' ')) key.pop_back();
    std::replace(key.begin(), key.end(), '/', '.');
    return key;
}

TFileSystem::EFileError::EFileError(int errorNumber)
    : Exception(DiskImage::HostErrorText(errorNumber)), ErrorNumber(errorNumber) {}

TFileSystem::TFileSystem(DiskImage::TDiskImage* image) {
    if (image == nullptr) return;
    if (image->IsHardDisk() == 1) {
        HardImage = static_cast<DiskImage::THardImage*>(image);
        IsHardDisk = true;
    } else {
        FloppyImage = static_cast<DiskImage::TFloppyImage*>(image);
    }
}

TFileSystem::~TFileSystem() = default;

void TFileSystem::MapHardDiskSector(int& /*track*/, int& sector, int& side) {
    side = sector >> 5;
    sector &= 31;
}

bool TFileSystem::MatchesPattern(const std::vector<std::string>& patterns, const std::string& name) {
    const char sep = GetExtensionSeparator();
    const int nameLength = static_cast<int>(name.size());
    auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    for (const std::string& pattern : patterns) {
        const int patternLength = static_cast<int>(pattern.size());
        int i = 0;
        int j = 0;
        while (j < patternLength && i < nameLength) {
            const char c = pattern[j];
            const char x = name[i];
            if (c == '?') {
                if (x == sep) break;
            } else if (c == '*') {
                // The star takes the rest of the name part but never the separator.
                while (i < nameLength && name[i] != sep) ++i;
                --i;
            } else if (lower(c) != lower(x)) {
                break;
            }
            ++i;
            ++j;
        }
        const bool bothDone = j == patternLength && i == nameLength;
        const bool trailingStar = i == nameLength && j == patternLength - 1 && pattern[j] == '*';
        const bool trailingSeparator = j == patternLength && i == nameLength - 1 && name[i] == sep;
        if (bothDone || trailingStar || trailingSeparator) return true;
    }
    return false;
}

std::string TFileSystem::GetFullFileName(int fileIndex) {
    return GetFileName(fileIndex) + GetExtensionSeparator() + GetFileExtension(fileIndex);
}

std::string TFileSystem::GetDisplayName(int fileIndex) {
    const std::string extension = GetFileExtension(fileIndex);
    if (extension.empty()) return GetFileName(fileIndex);
    return GetFileName(fileIndex) + GetExtensionSeparator() + extension;
}

std::string TFileSystem::GetHostFileName(int fileIndex) {
    std::string name = GetFileName(fileIndex) + "." + GetFileExtension(fileIndex);
    // Names come from the image: a path separator or control character in
    // them must never reach a host path.
    for (char& c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) c = '_';
    }
    return name;
}

TFileRead TFileSystem::ReadFileChecked(int fileIndex) {
    TFileRead read;
    // A size the directory cannot express (a damaged record's negative one) promises nothing.
    read.Size = std::max(GetFileSize(fileIndex), 0);
    FileProblems.clear();
    FileByteSources.clear();
    CheckingFileRead = true;
    try {
        read.Bytes = ReadFile(fileIndex);
    } catch (...) {
        CheckingFileRead = false;
        throw;
    }
    CheckingFileRead = false;
    if (read.Size >= 0 && read.Bytes.size() > static_cast<size_t>(read.Size))
        read.Bytes.resize(static_cast<size_t>(read.Size));
    // Sectors read only because they share a granule or block with the file's end are not its problem.
    for (const TSectorProblem& problem : FileProblems)
        if (problem.Offset < read.Bytes.size()) read.Problems.push_back(problem);
    FileProblems.clear();
    read.BytesRead = read.Bytes.size();
    if (FileByteSources.empty()) {
        // A file system that reads without the sector helpers is taken at its word.
        read.GoodBytes = read.Bytes.size();
    } else {
        // Bytes no sector put there (zeros for a part of the file the directory does not place) are not good.
        const size_t known = std::min(read.Bytes.size(), FileByteSources.size());
        read.GoodBytes = static_cast<size_t>(std::count(FileByteSources.begin(), FileByteSources.begin() + known, 1));
    }
    FileByteSources.clear();
    return read;
}

void TFileSystem::NoteSectorRead(TSectorRead result, TReadPurpose purpose, size_t offset, size_t length) {
    if (purpose == TReadPurpose::File && CheckingFileRead && length > 0) {
        if (FileByteSources.size() < offset + length) FileByteSources.resize(offset + length, 0);
        std::fill_n(FileByteSources.begin() + static_cast<std::ptrdiff_t>(offset), length,
                    result == TSectorRead::Clean ? 1 : 2);
    }
    if (result == TSectorRead::Clean) return;
    const TSectorFault fault = result == TSectorRead::CrcError ? TSectorFault::CrcError : TSectorFault::Missing;
    TSectorProblem problem{LastRead.Track, LastRead.Side, LastRead.Sector, fault, offset, length};
    // Only ReadFileChecked gathers what files meet; the directory's problems stay for the disk's life.
    if (purpose == TReadPurpose::File && !CheckingFileRead) return;
    std::vector<TSectorProblem>& log = purpose == TReadPurpose::Directory ? DirectoryProblems : FileProblems;
    // A sector read again (the directory by a second loading) is noted once.
    if (std::find(log.begin(), log.end(), problem) == log.end()) log.push_back(problem);
}

bool TFileSystem::ReadDiskSector(int track, int sector, int side, int density, uint8_t& dam,
                                 std::vector<uint8_t>& data, bool acceptCrcError) {
    data.clear();
    LastRead = TLastRead{track, side, sector, false};
    if (FloppyImage != nullptr) {
        // One buffer for every read: zeroing a fresh 4 KB for each sector cost more than reading it.
        SectorBuffer.resize(DiskImage::TFloppyImage::SectorBufferSize);
        int size = 0;
        // A format that keeps sectors whole answers from the file: no track is laid out, which
        // is most of what judging a disk under a wrong layout would cost.
        const std::optional<bool> stored =
            FloppyImage->ReadStoredSector(track, side, density, sector, size, dam, SectorBuffer.data());
        if (!stored && track != FloppyImage->GetCurrentTrack() && !FloppyImage->LoadTrack(track)) return false;
        const bool read = stored ? *stored
                                 : FloppyImage->ReadSector(track, side, density, sector, size, dam, SectorBuffer.data(),
                                                           true, acceptCrcError || AcceptingCrcErrors, &LastRead.CrcError);
        CrcErrorSeen = CrcErrorSeen || LastRead.CrcError;
        if (!read) return false;
        if (size < 0 || size > DiskImage::TFloppyImage::SectorBufferSize) return false;
        data.assign(SectorBuffer.begin(), SectorBuffer.begin() + size);
        return true;
    }
    if (HardImage != nullptr) {
        int cylinder = track;
        int head = side;
        MapHardDiskSector(cylinder, sector, head);
        LastRead = TLastRead{cylinder, head, sector, false};
        std::vector<uint8_t> buffer(DiskImage::THardImage::SectorSize);
        int size = 0;
        if (!HardImage->ReadSector(cylinder, head, sector, size, buffer.data())) return false;
        dam = 0xFB;
        data = std::move(buffer);
        return true;
    }
    return false;
}

int TFileSystem::WriteFailureError() const {
    const DiskImage::TDiskImage* image = GetImage();
    const int error = image != nullptr ? image->GetLastHostError() : 0;
    return error != 0 ? error : EIO;
}

bool TFileSystem::WriteDiskSector(int track, int sector, int side, int density, uint8_t dam,
                                  const std::vector<uint8_t>& data) {
    DiskImage::TDiskImage* image = GetImage();
    if (image == nullptr) return false;
    if (image->GetWriteProtect() != 0) throw EWriteProtected();
    std::vector<uint8_t> padded(DiskImage::TFloppyImage::SectorBufferSize, 0);
    std::memcpy(padded.data(), data.data(), std::min(data.size(), padded.size()));
    if (FloppyImage != nullptr) {
        if (track != FloppyImage->GetCurrentTrack() && !FloppyImage->LoadTrack(track)) return false;
        return FloppyImage->WriteSector(track, side, density, sector, dam, padded.data());
    }
    int cylinder = track;
    int head = side;
    MapHardDiskSector(cylinder, sector, head);
    return HardImage->WriteSector(cylinder, head, sector, padded.data());
}

std::string TFileSystem::GetImageFormatName() const {
    const DiskImage::TDiskImage* image = GetImage();
    return image != nullptr ? image->GetFormatName() : std::string();
}

std::string TFileSystem::GetImageFileName() const {
    const DiskImage::TDiskImage* image = GetImage();
    return image != nullptr ? image->FileName : std::string();
}

std::string TFileSystem::GetAttributeLetters(int fileIndex) {
    std::string letters;
    for (const AttributeDescriptor& descriptor : GetAttributeList()) {
        if (descriptor.Shown && HasAttribute(fileIndex, descriptor.Mask)) letters += descriptor.Letter;
    }
    return letters;
}

DiskImage::TDiskImage* TFileSystem::GetImage() const {
    if (FloppyImage != nullptr) return FloppyImage;
    return HardImage;
}

}  // namespace FileSystem
