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
    return true;
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

bool TFileSystem::ReadDiskSector(int track, int sector, int side, int density, uint8_t& dam,
                                 std::vector<uint8_t>& data, bool acceptCrcError) {
    data.clear();
    if (FloppyImage != nullptr) {
        if (track != FloppyImage->GetCurrentTrack() && !FloppyImage->LoadTrack(track)) return false;
        // One buffer for every read: zeroing a fresh 4 KB for each sector cost more than reading it.
        SectorBuffer.resize(DiskImage::TFloppyImage::SectorBufferSize);
        int size = 0;
        if (!FloppyImage->ReadSector(track, side, density, sector, size, dam, SectorBuffer.data(), true,
                                     acceptCrcError))
            return false;
        if (size < 0 || size > DiskImage::TFloppyImage::SectorBufferSize) return false;
        data.assign(SectorBuffer.begin(), SectorBuffer.begin() + size);
        return true;
    }
    if (HardImage != nullptr) {
        int cylinder = track;
        int head = side;
        MapHardDiskSector(cylinder, sector, head);
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
