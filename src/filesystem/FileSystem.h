// The interface every disk operating system implements, with the shared
// date record, attribute descriptors, wildcard matching and errors.
#pragma once

#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

namespace DiskImage {
class TDiskImage;
class TFloppyImage;
class THardImage;
}  // namespace DiskImage

namespace FileSystem {

struct FileDate {
    bool HasDate = false;
    bool HasTime = false;
    int Month = 0;  // 1-12
    int Day = 0;
    int Year = 0;  // full year
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    // Converts a host time stamp to the local calendar; false (and both flags
    // cleared) when it cannot be converted.
    bool SetFromTime(std::time_t time);
};

struct AttributeDescriptor {
    std::string Name;
    char Letter = 0;
    bool Shown = false;
    uint32_t Mask = 0;
};

// Attribute mask bits shared by every file system.
constexpr uint32_t AttrCreated = 0x0001;
constexpr uint32_t AttrASCII = 0x0001;  // RSDOS
constexpr uint32_t AttrInvisible = 0x0100;
constexpr uint32_t AttrSystem = 0x0200;
constexpr uint32_t AttrDeleted = 0x0400;
constexpr uint32_t AttrMOD = 0x0800;
constexpr uint32_t AttrArchive = 0x0800;  // CP/M
constexpr uint32_t AttrReadOnly = 0x1000;

// Flags of ListFiles.
constexpr int ListInvisible = 0x100;
constexpr int ListSystem = 0x200;

enum FileSystemType { TypeTRSDOS = 0, TypeRSDOS = 1, TypeCPM = 2 };

class TFileSystem {
public:
    class Exception : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };
    class EInvalidFilename : public Exception {
    public:
        EInvalidFilename() : Exception("Illegal filename") {}
    };
    class EFileExists : public Exception {
    public:
        EFileExists() : Exception("File exists") {}
    };
    class EInvalidFormat : public Exception {
    public:
        EInvalidFormat() : Exception("Unrecognized disk format") {}
    };
    class EFileError : public Exception {
    public:
        explicit EFileError(int errorNumber);
        EFileError(int errorNumber, const std::string& message) : Exception(message), ErrorNumber(errorNumber) {}
        int ErrorNumber;
    };
    class EDiskFull : public Exception {
    public:
        EDiskFull() : Exception("Disk full") {}
    };
    class EWriteProtected : public Exception {
    public:
        EWriteProtected() : Exception("Write protected") {}
    };
    class EIllegalFileIndex : public Exception {
    public:
        EIllegalFileIndex() : Exception("Illegal file index") {}
    };
    class ETooManyFiles : public Exception {
    public:
        ETooManyFiles() : Exception("Too many files") {}
    };
    class ETooManyExtents : public Exception {
    public:
        ETooManyExtents() : Exception("Too many file extents") {}
    };

    explicit TFileSystem(DiskImage::TDiskImage* image);
    TFileSystem(const TFileSystem&) = delete;
    TFileSystem& operator=(const TFileSystem&) = delete;

    // The virtual operations, in their fixed order.
    virtual ~TFileSystem();
    virtual void MapHardDiskSector(int& track, int& sector, int& side);
    virtual int GetFileSystemType() = 0;
    virtual int GetFreeSpace() = 0;
    virtual int GetCapacity() = 0;
    virtual std::vector<uint8_t> ReadFile(int fileIndex) = 0;
    virtual bool RewriteFile(int fileIndex, const std::vector<uint8_t>& data) = 0;
    virtual bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) = 0;
    virtual bool DeleteFile(int fileIndex) = 0;
    virtual bool RenameFile(int fileIndex, const std::string& newName) = 0;
    virtual std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) = 0;
    virtual std::string GetFileName(int fileIndex) = 0;
    virtual std::string GetFileExtension(int fileIndex) = 0;
    virtual int GetFileSize(int fileIndex) = 0;
    virtual int FindFile(const std::string& name) = 0;
    virtual bool IsValidFilename(const std::string& name) = 0;
    virtual bool ReservedQuery(int, int, int, int) { return false; }
    virtual void Flush() = 0;
    virtual std::vector<AttributeDescriptor> GetAttributeList() = 0;
    virtual bool HasAttribute(int fileIndex, uint32_t mask) = 0;
    virtual void SetAttribute(int fileIndex, uint32_t mask, bool on) = 0;
    virtual std::vector<std::string> GetFileTypeList() { return {}; }
    virtual int GetFileType(int) { return -1; }
    virtual void SetFileType(int, int) {}
    virtual char GetExtensionSeparator() { return '.'; }
    virtual std::string GetDiskName() { return {}; }
    virtual std::string GetDiskDate() { return {}; }
    virtual void SetDiskName(const std::string&) {}
    virtual void SetDiskDate(const std::string&) {}
    virtual FileDate GetFileDate(int) { return {}; }
    virtual void SetFileDate(int, const FileDate&) {}
    virtual bool MatchesPattern(const std::vector<std::string>& patterns, const std::string& name);
    virtual void SetFileName(int fileIndex, const std::string& name) = 0;
    virtual bool SupportsDiskName() { return false; }
    virtual bool SupportsDiskDate() { return false; }
    virtual bool ReservedCapabilityA() { return false; }
    virtual bool ReservedCapabilityB() { return false; }
    virtual bool SupportsAttribute(uint32_t) { return false; }
    virtual bool SupportsFileTypes() { return false; }
    virtual bool SupportsWriting() { return true; }
    virtual std::string GetDOSName(bool family) = 0;
    virtual std::string GetDOSDescription() { return GetDOSName(false); }
    virtual std::string GetFullFileName(int fileIndex);
    // The name as people read it: the full name, without a separator that no extension follows.
    std::string GetDisplayName(int fileIndex);
    virtual std::string GetHostFileName(int fileIndex);

    // The only way a DOS reaches the image. Reads return false on failure;
    // writes throw EWriteProtected when the image is protected or read-only.
    bool ReadDiskSector(int track, int sector, int side, int density, uint8_t& dam, std::vector<uint8_t>& data,
                        bool acceptCrcError = false);
    bool WriteDiskSector(int track, int sector, int side, int density, uint8_t dam, const std::vector<uint8_t>& data);

    // The error number a failed write reports: the host's, when the image file refused
    // the bytes (a full disk, say), else EIO.
    int WriteFailureError() const;

    std::string GetImageFormatName() const;
    std::string GetImageFileName() const;
    std::string GetAttributeLetters(int fileIndex);

    DiskImage::TDiskImage* GetImage() const;
    DiskImage::TFloppyImage* GetFloppyImage() const { return FloppyImage; }
    DiskImage::THardImage* GetHardImage() const { return HardImage; }

    int Suspicion = 0;
    bool ReadError = false;
    bool IsHardDisk = false;

protected:
    DiskImage::TFloppyImage* FloppyImage = nullptr;
    DiskImage::THardImage* HardImage = nullptr;
    std::vector<uint8_t> SectorBuffer;  // ReadDiskSector's working buffer
};

}  // namespace FileSystem
