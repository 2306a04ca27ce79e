// Host names, the text test, line-end conversions, extraction and storing.
#include "filesystem/HostTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <ctime>
#include <set>
#include <string_view>

#include "diskimage/DiskImage.h"
#include "diskimage/OutputFolder.h"
#include "filesystem/CPM.h"

namespace FileSystem {

// The file's date as a host time stamp, or false when it has none or it is not a real date.
bool HostTimeOf(const FileDate& date, std::time_t& result) {
    if (!date.HasDate) return false;
    if (date.Month < 1 || date.Month > 12 || date.Day < 1 || date.Day > 31 || date.Year < 1900) return false;
    std::tm calendar{};
    calendar.tm_year = date.Year - 1900;
    calendar.tm_mon = date.Month - 1;
    calendar.tm_mday = date.Day;
    if (date.HasTime) {
        if (date.Hour < 0 || date.Hour > 23 || date.Minute < 0 || date.Minute > 59 || date.Second < 0 ||
            date.Second > 60)
            return false;
        calendar.tm_hour = date.Hour;
        calendar.tm_min = date.Minute;
        calendar.tm_sec = date.Second;
    }
    calendar.tm_isdst = -1;  // the host decides daylight saving
    std::time_t time = std::mktime(&calendar);
    if (time == static_cast<std::time_t>(-1)) return false;
    result = time;
    return true;
}

namespace {

// A POSIX host reserves no file names: "con" and "nul" are names like any other there.
constexpr bool HostReservesDeviceNames = false;

std::string ToLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Makes one part of a name read from the image safe as part of a host file name.
std::string HarmlessNamePart(const std::string& part) {
    std::string safe;
    safe.reserve(part.size());
    for (char c : part) {
        auto byte = static_cast<unsigned char>(c);
        bool harmless = byte >= 0x20 && byte < 0x7F && c != '/' && c != '\\';
        safe.push_back(harmless ? c : '_');
    }
    return safe;
}

// Everything a replaced file needs to come back as it was.
struct SavedFile {
    std::vector<uint8_t> Bytes;
    FileDate Date;
    std::vector<uint32_t> Attributes;  // masks that were set
    int FileType = -1;
};

SavedFile SaveFile(TFileSystem& fs, int fileIndex) {
    SavedFile saved;
    saved.Bytes = fs.ReadFile(fileIndex);
    saved.Date = fs.GetFileDate(fileIndex);
    for (const AttributeDescriptor& attribute : fs.GetAttributeList())
        if (attribute.Shown && fs.HasAttribute(fileIndex, attribute.Mask)) saved.Attributes.push_back(attribute.Mask);
    if (fs.SupportsFileTypes()) saved.FileType = fs.GetFileType(fileIndex);
    return saved;
}

void RestoreFile(TFileSystem& fs, const std::string& name, const SavedFile& saved) {
    try {
        fs.CreateFile(name, saved.Bytes, saved.Date);
        int fileIndex = fs.FindFile(name);
        if (fileIndex < 0) return;
        for (uint32_t mask : saved.Attributes) fs.SetAttribute(fileIndex, mask, true);
        if (saved.FileType >= 0) fs.SetFileType(fileIndex, saved.FileType);
    } catch (const TFileSystem::Exception&) {
        // The error that made us restore is the one worth reporting.
    }
}

}  // namespace

bool IsTextFile(const std::string& extension, const std::vector<uint8_t>& bytes) {
    if (extension == "TXT" || extension == "DOC" || extension == "NOW") return true;
    if (bytes.empty()) return false;
    size_t textLike = 0;
    for (uint8_t byte : bytes) {
        if ((byte >= 0x20 && byte <= 0x7F) || byte == 0x0D || byte == 0x0A || byte == 0x09 || byte == 0x1A)
            ++textLike;
    }
    return textLike != 0 && textLike * 100 / bytes.size() > 96;
}

std::vector<uint8_t> ConvertFromTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes,
                                      const std::string& extension, int conversionType) {
    if (bytes.empty() || !IsTextFile(extension, bytes)) return bytes;
    std::vector<uint8_t> result;
    if (fs.GetFileSystemType() == TypeCPM) {
        for (uint8_t byte : bytes) {
            if (byte == 0x1A) break;
            result.push_back(byte);
        }
        return result;
    }
    if (conversionType != 1 && conversionType != 2) return bytes;
    result.reserve(bytes.size() + bytes.size() / 16);
    for (uint8_t byte : bytes) {
        if (byte == 0x0D && conversionType == 2) {
            result.push_back(0x0A);
            continue;
        }
        result.push_back(byte);
        if (byte == 0x0D) result.push_back(0x0A);
    }
    return result;
}

std::vector<uint8_t> ConvertToTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes, int conversionTypeIn) {
    if (bytes.empty() || !IsTextFile("", bytes)) return bytes;
    if (fs.GetFileSystemType() == TypeCPM) {
        std::vector<uint8_t> result = bytes;
        if (result.size() >= 4 && result.back() != 0x1A) result.push_back(0x1A);
        return result;
    }
    if (conversionTypeIn != 1 && conversionTypeIn != 2) return bytes;
    std::vector<uint8_t> result;
    result.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool lineFeed = bytes[i] == 0x0A;
        const bool afterCR = i > 0 && bytes[i - 1] == 0x0D;
        if (lineFeed && afterCR) continue;
        // A host whose text lines end in LF alone: each LF becomes the TRS-80's CR.
        result.push_back(lineFeed && conversionTypeIn == 2 ? 0x0D : bytes[i]);
    }
    return result;
}

bool IsReservedHostName(const std::string& hostName) {
    static const std::array<std::string_view, 4> Devices = {"con.", "prn.", "nul.", "aux."};
    std::string lower = ToLower(hostName);
    for (std::string_view device : Devices)
        if (lower == device) return true;
    // lpt1. to lpt9. and com1. to com9.
    if (lower.size() == 5 && (lower.compare(0, 3, "lpt") == 0 || lower.compare(0, 3, "com") == 0) &&
        lower[3] >= '1' && lower[3] <= '9' && lower[4] == '.')
        return true;
    return false;
}

std::string ExtractedFileName(TFileSystem& fs, int fileIndex) {
    std::string name = HarmlessNamePart(fs.GetFileName(fileIndex));
    std::string extension = HarmlessNamePart(fs.GetFileExtension(fileIndex));
    std::string fileName = extension.empty() ? name : name + "." + extension;
    if (fileName.find_first_not_of('.') == std::string::npos) {
        // "", "." and ".." would name the folder itself or its parent.
        fileName.assign(fileName.empty() ? 1 : fileName.size(), '_');
    }
    return ToLower(fileName);
}

namespace {

// "game~2.bas" from "game.bas" and 2; "readme~2" from "readme".
std::string NumberedName(const std::string& name, int number) {
    const size_t dot = name.rfind('.');
    const size_t stemEnd = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stemEnd) + "~" + std::to_string(number) + name.substr(stemEnd);
}

std::string JoinedHostName(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

}  // namespace

std::vector<std::string> UniqueHostNames(const std::vector<THostPlacement>& files) {
    std::set<std::string> plainNames;  // folder/name of every file
    std::set<std::string> given;       // host names handed out, and the folders
    for (const THostPlacement& file : files) {
        plainNames.insert(JoinedHostName(file.Folder, file.Name));
        if (!file.Folder.empty()) given.insert(file.Folder);
    }
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const THostPlacement& file : files) {
        std::string name = JoinedHostName(file.Folder, file.Name);
        for (int number = 2; given.count(name) != 0; ++number) {
            const std::string candidate = JoinedHostName(file.Folder, NumberedName(file.Name, number));
            if (plainNames.count(candidate) == 0) name = candidate;
        }
        given.insert(name);
        names.push_back(name);
    }
    return names;
}

std::map<int, std::string> HostNamesOfDisk(TFileSystem& fs, bool userFolders) {
    const std::vector<int> files = ListAllFiles(fs, ListInvisible | ListSystem);
    auto* cpm = userFolders ? dynamic_cast<CPM*>(&fs) : nullptr;
    std::vector<THostPlacement> placements;
    placements.reserve(files.size());
    for (int fileIndex : files) {
        THostPlacement placement;
        placement.Name = ExtractedFileName(fs, fileIndex);
        const int user = cpm != nullptr ? cpm->UserNumber(fileIndex) : 0;
        if (user != 0) placement.Folder = "user" + std::to_string(user);
        placements.push_back(placement);
    }
    const std::vector<std::string> names = UniqueHostNames(placements);
    std::map<int, std::string> result;
    for (size_t i = 0; i < files.size(); ++i) result[files[i]] = names[i];
    return result;
}

std::string DescribeShortRead(const TFileRead& read) {
    if (read.IsWhole()) return {};
    const bool allThere = read.BytesRead >= static_cast<size_t>(read.Size);
    const bool crcOnly = std::all_of(read.Problems.begin(), read.Problems.end(), [](const TSectorProblem& problem) {
        return problem.Fault == TSectorFault::CrcError;
    });
    return "only " + std::to_string(read.GoodBytes) + " of " + std::to_string(read.Size) + " bytes could be read" +
           (allThere && crcOnly && !read.Problems.empty() ? " cleanly" : "");
}

std::string ExtractFile(TFileSystem& fs, int fileIndex, bool overwrite, const TransferSettings& settings,
                        TFileRead* read) {
    return ExtractFileAs(fs, fileIndex, ExtractedFileName(fs, fileIndex), overwrite, settings, read);
}

std::string ExtractFileAs(TFileSystem& fs, int fileIndex, const std::string& hostName, bool overwrite,
                          const TransferSettings& settings, TFileRead* read) {
    const std::string& fileName = hostName;
    // Only the file's own name is lower-cased: the folder is the user's and host names are case-sensitive.
    std::string path = settings.ExtractDirectory;
    if (!path.empty() && path.back() != '/') path += '/';
    path += fileName;
    const size_t slash = fileName.rfind('/');
    const size_t nameLength = slash == std::string::npos ? fileName.size() : fileName.size() - slash - 1;
    if (nameLength > NAME_MAX || path.size() >= PATH_MAX) throw TFileSystem::EFileError(ENAMETOOLONG);

    if (HostReservesDeviceNames && IsReservedHostName(fs.GetHostFileName(fileIndex)))
        throw TFileSystem::EInvalidFilename();

    // Read before creating anything, so an unreadable file leaves no empty host file behind.
    TFileRead checked = fs.ReadFileChecked(fileIndex);
    std::vector<uint8_t> bytes = std::move(checked.Bytes);
    checked.Bytes.clear();
    if (read != nullptr) {
        *read = checked;
        read->Bytes.clear();
    }
    if (!settings.ByteExact)
        bytes = ConvertFromTRS80(fs, bytes, fs.GetFileExtension(fileIndex), settings.ConversionTypeOut);

    // The file is made new beside its name and renamed into place once whole: nothing
    // planted under the name (a link, a pipe) is ever opened or written through.
    DiskImage::TOutputFolder opened;
    if (settings.Folder == nullptr) {
        if (int error = opened.Open(settings.ExtractDirectory, false); error != 0)
            throw TFileSystem::EFileError(error);
    }
    const DiskImage::TOutputFolder& base = settings.Folder != nullptr ? *settings.Folder : opened;
    // A host name with a folder (user3/pip.com) goes into that folder, made when missing and
    // entered without following a link.
    DiskImage::TOutputFolder inside;
    if (slash != std::string::npos) {
        if (int error = base.OpenInside(fileName.substr(0, slash), true, inside); error != 0)
            throw TFileSystem::EFileError(error, DiskImage::OutputErrorText(error, path));
    }
    const DiskImage::TOutputFolder& folder = slash != std::string::npos ? inside : base;
    DiskImage::TOutputFile out;
    int error = out.Begin(folder, fileName.substr(slash == std::string::npos ? 0 : slash + 1), overwrite);
    if (error == 0 && !out.Write(bytes.data(), bytes.size())) error = errno;
    std::time_t time = 0;
    if (error == 0 && HostTimeOf(fs.GetFileDate(fileIndex), time)) out.SetTime(time);
    if (error == 0) error = out.Commit();
    if (error == EEXIST) throw TFileSystem::EFileExists();
    if (error < 0) throw TFileSystem::EFileError(error, DiskImage::OutputErrorText(error, path));
    if (error != 0) throw TFileSystem::EFileError(error);
    return path;
}

std::vector<int> ListAllFiles(TFileSystem& fs, int flags) { return fs.ListFiles({"*.*"}, flags); }

std::string DiskPattern(TFileSystem& fs, std::string pattern) {
    const char separator = fs.GetExtensionSeparator();
    if (separator != '.') {
        for (char& c : pattern)
            if (c == '.') c = separator;
    }
    if (pattern.find(separator) == std::string::npos) {
        pattern += separator;
        pattern += '*';
    }
    return pattern;
}

int StoreFile(TFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data, size_t hostSize,
              const FileDate& date, bool replace) {
    if (!fs.IsValidFilename(name)) throw TFileSystem::EInvalidFilename();
    int existing = fs.FindFile(name);
    bool replacing = existing >= 0;
    SavedFile replaced;
    if (replacing) {
        if (!replace) throw TFileSystem::EFileExists();
        replaced = SaveFile(fs, existing);
        // A file whose records cannot be freed stays as it was, and is still in the way.
        if (!fs.DeleteFile(existing)) throw TFileSystem::EFileExists();
    }
    try {
        int freeSpace = fs.GetFreeSpace();
        if (freeSpace < 0 || hostSize > static_cast<size_t>(freeSpace)) throw ENotEnoughSpace(hostSize, freeSpace);
        fs.CreateFile(name, data, date);
    } catch (const TFileSystem::Exception&) {
        if (replacing) RestoreFile(fs, name, replaced);
        throw;
    }
    return fs.FindFile(name);
}

std::string WriteRefusal(TFileSystem& fs) {
    if (!fs.SupportsWriting())
        return "Quarrybox does not support modifying " + fs.GetDOSName(true) + " disk images.";
    DiskImage::TDiskImage* image = fs.GetImage();
    if (image && image->GetWriteProtect() == 2) {
        // The file opened for reading only: say what stood in the way, where the host told us.
        const std::string reason = DiskImage::ReadOnlyReasonText(image->GetReadOnlyReason());
        if (!reason.empty()) return "The disk image cannot be written to because " + reason + ".";
    }
    if (image && image->GetWriteProtect() != 0)
        return "The disk image cannot be written to because it is write protected.";
    if (fs.ReadError) return "The disk image cannot be written to because the file system is damaged.";
    return {};
}

}  // namespace FileSystem
