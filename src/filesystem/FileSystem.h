// The interface every disk operating system implements, with the shared
// date record, attribute descriptors, wildcard matching and errors.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diskimage/Error.h"

namespace DiskImage {
class TDiskImage;
class TFloppyImage;
class THardImage;
}  // namespace DiskImage

namespace FileSystem {

struct TFinding;
struct TStructureMap;

// The size of one hard-disk partition, in image cylinders and heads.
struct PartitionExtent {
    int Cylinders = 0;
    int Heads = 0;
};

struct FileDate {
    bool HasDate = false;
    bool HasTime = false;
    int Month = 0;  // 1-12
    int Day = 0;
    int Year = 0;  // full year
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    bool HasDay = true;  // false: the DOS keeps only the month and year (Day is then 1)

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

// What kept a sector that a file system needed from being read cleanly.
enum class TSectorFault {
    CrcError,  // the data field was read but its CRC fails: its bytes are used as read
    Missing,   // no readable ID or data field: zeros stand in for its bytes
};

// One such sector. Track, side and sector give its place on the image as it was
// addressed (cylinder, head and sector on a hard disk; Track -1 when the sector lies
// past the last track of the layout). Offset and Length say where its bytes lie in the
// file (or the directory) that was being read.
struct TSectorProblem {
    int Track = -1;
    int Side = 0;
    int Sector = 0;
    TSectorFault Fault = TSectorFault::Missing;
    size_t Offset = 0;
    size_t Length = 0;
    bool operator==(const TSectorProblem&) const = default;
};

// "track 17, side 0, sector 9: data CRC error" and the like.
std::string DescribeSectorProblem(const TSectorProblem& problem);

// A file read whole, with the sectors that did not come back cleanly.
struct TFileRead {
    std::vector<uint8_t> Bytes;  // never more than the file's size
    int Size = 0;                // the size the directory gives
    std::vector<TSectorProblem> Problems;
    size_t BytesRead = 0;  // Bytes.size() as read, kept when Bytes is handed on
    size_t GoodBytes = 0;  // bytes of Bytes that came from sectors read cleanly
    // Every byte of the file was read, and read cleanly.
    bool IsWhole() const { return Size >= 0 && GoodBytes == static_cast<size_t>(Size); }
};

// The names the DOSes compare when they look a file up: one letter case, no trailing
// '/', '.' or blanks, '.' as the separator. NAME, NAME/ and name. are one name.
std::string ComparableName(const std::string& name);

class TFileSystem {
public:
    class Exception : public Quarrybox::Error {
    public:
        using Quarrybox::Error::Error;
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
    // The user area (0-15) a file belongs to, on DOSes that divide the disk into
    // user areas; -1 elsewhere.
    virtual bool SupportsUserAreas() { return false; }
    virtual int GetUserArea(int) { return -1; }
    // The rule IsValidFilename applies, in a sentence for the user.
    virtual std::string GetFilenameRule() { return {}; }
    // The drive parameters the DOS keeps on the disk, as its PDRIVE command writes them;
    // none on a DOS that keeps no such record.
    virtual std::optional<std::string> GetPDrive() { return std::nullopt; }
    // Whether the LDOS date patches are for this DOS's system files.
    virtual bool OffersDatePatches() { return false; }
    // The checks of the DOS's own structures against each other (its allocation table,
    // directory and hash table, say); the sector reads every DOS shares are checked
    // apart (CheckSectorsRead). Defined with the other checks in DiskCheck.cpp.
    virtual std::vector<TFinding> CheckStructure();
    // Claims the places on the disk that hold the DOS's system areas, its directory and
    // each file, for the disk map; the default claims none, so every sector shows as
    // outside the file system. Defined with the rest of the mapping in DiskMap.cpp.
    virtual void MapStructure(TStructureMap& map);
    // On a hard disk: the cylinders and heads this file system's partition covers, where
    // its own geometry tells (the next partition is looked for past them); none otherwise.
    virtual std::optional<PartitionExtent> GetPartitionExtent() { return std::nullopt; }
    // On a hard disk: the further logical drives this file system's tables describe,
    // mounted, besides the partitions found one after another. Defined with the rest of
    // the mounting in MountedDisk.cpp; the default finds none.
    virtual std::vector<std::unique_ptr<TFileSystem>> MountFurtherDrives();

    // The only way a DOS reaches the image. Reads return false on failure;
    // writes throw EWriteProtected when the image is protected or read-only.
    bool ReadDiskSector(int track, int sector, int side, int density, uint8_t& dam, std::vector<uint8_t>& data,
                        bool acceptCrcError = false);
    bool WriteDiskSector(int track, int sector, int side, int density, uint8_t dam, const std::vector<uint8_t>& data);

    // Reads a file and says which of its sectors did not come back cleanly.
    TFileRead ReadFileChecked(int fileIndex);
    // The sectors of the directory and its tables that were read with an error (or not
    // at all) when the file system was loaded.
    const std::vector<TSectorProblem>& GetDirectoryProblems() const { return DirectoryProblems; }
    // The error number a failed write reports: the host's, when the image file refused
    // the bytes (a full disk, say), else EIO.
    int WriteFailureError() const;

    // Where one of the DOS's own sector reads lands on the image, once its interleave,
    // sides and hard-disk mapping have had their say: the place the last image read
    // addressed, whether the data came back and whether its CRC failed.
    struct TSectorPlace {
        int Track = -1, Side = 0, Sector = 0;
        bool Read = false;
        bool CrcError = false;
    };
    template <class TRead>
    TSectorPlace LocateSector(TRead&& read) {
        LastRead = TLastRead{};
        const bool read_ = read();
        return TSectorPlace{LastRead.Track, LastRead.Side, LastRead.Sector, read_, LastRead.CrcError};
    }

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
    enum class TSectorRead { Clean, CrcError, Missing };
    enum class TReadPurpose { File, Directory };
    // Reads a sector whose bytes the file system goes on to use, through read (one of the
    // DOS's own sector reads, which ends in ReadDiskSector): a clean copy when the disk has
    // one; else, as a controller hands over a data field whose CRC fails with its error
    // flag, those bytes. Either fault is noted for the file or the directory being read,
    // with offset and length: where the sector's bytes go in it.
    template <class TRead>
    TSectorRead ReadUsedSector(TRead&& read, TReadPurpose purpose, size_t offset, size_t length);

    DiskImage::TFloppyImage* FloppyImage = nullptr;
    DiskImage::THardImage* HardImage = nullptr;
    std::vector<uint8_t> SectorBuffer;  // ReadDiskSector's working buffer
    std::vector<TSectorProblem> DirectoryProblems;

private:
    void NoteSectorRead(TSectorRead result, TReadPurpose purpose, size_t offset, size_t length);

    // The place the last ReadDiskSector addressed, and whether the data it gave failed its CRC.
    struct TLastRead {
        int Track = -1, Side = 0, Sector = 0;
        bool CrcError = false;
    };
    TLastRead LastRead;
    // Whether a ReadDiskSector since ReadUsedSector began met the data field it wanted with a bad CRC.
    bool CrcErrorSeen = false;
    // Set only inside ReadUsedSector: every ReadDiskSector then accepts CRC errors.
    bool AcceptingCrcErrors = false;
    // What ReadFileChecked is gathering: the faulty sectors, and per byte of the file
    // whether a sector read cleanly (1) or with a fault (2) put it there (0: nothing did).
    std::vector<TSectorProblem> FileProblems;
    std::vector<uint8_t> FileByteSources;
    bool CheckingFileRead = false;
};

template <class TRead>
TFileSystem::TSectorRead TFileSystem::ReadUsedSector(TRead&& read, TReadPurpose purpose, size_t offset,
                                                     size_t length) {
    LastRead = TLastRead{};
    CrcErrorSeen = false;
    TSectorRead result = TSectorRead::Clean;
    if (!read()) {
        result = TSectorRead::Missing;
        // Only a sector whose data field was met with a bad CRC is worth a second read.
        if (CrcErrorSeen) {
            LastRead = TLastRead{};
            AcceptingCrcErrors = true;
            bool readWithError = false;
            try {
                readWithError = read();
            } catch (...) {
                AcceptingCrcErrors = false;
                throw;
            }
            AcceptingCrcErrors = false;
            if (readWithError) result = LastRead.CrcError ? TSectorRead::CrcError : TSectorRead::Clean;
        }
    }
    NoteSectorRead(result, purpose, offset, length);
    return result;
}

}  // namespace FileSystem
