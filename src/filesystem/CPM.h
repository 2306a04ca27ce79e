// CP/M 2.2-style file systems on TRS-80 floppies, in any layout of the catalogue.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filesystem/CPMFormats.h"
#include "filesystem/FileSystem.h"

namespace FileSystem {

// Where one logical sector of a layout lies on the disk.
struct CPMSectorAddress {
    int Track = 0;
    int SectorId = 0;
    int Side = 0;
    int Density = 0;  // 1 = double
};

class CPM : public TFileSystem {
public:
    // Recognises the layout; throws EInvalidFormat when no catalogue row fits.
    explicit CPM(DiskImage::TDiskImage* image);
    ~CPM() override;

    int GetFileSystemType() override { return TypeCPM; }
    int GetFreeSpace() override;
    int GetCapacity() override;
    std::vector<uint8_t> ReadFile(int fileIndex) override;
    bool RewriteFile(int, const std::vector<uint8_t>&) override { return false; }
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) override;
    bool DeleteFile(int fileIndex) override;
    bool RenameFile(int fileIndex, const std::string& newName) override;
    std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) override;
    std::string GetFileName(int fileIndex) override;
    std::string GetFileExtension(int fileIndex) override;
    int GetFileSize(int fileIndex) override;
    int FindFile(const std::string& name) override;
    bool IsValidFilename(const std::string& name) override;
    void Flush() override;
    std::vector<AttributeDescriptor> GetAttributeList() override;
    bool HasAttribute(int fileIndex, uint32_t mask) override;
    void SetAttribute(int fileIndex, uint32_t mask, bool on) override;
    void SetFileName(int entry, const std::string& name) override;
    bool SupportsAttribute(uint32_t mask) override;
    std::string GetDOSName(bool family) override;
    std::vector<TFinding> CheckStructure() override;
    void MapStructure(TStructureMap& map) override;
    std::string GetDOSDescription() override;
    bool SupportsUserAreas() override { return true; }
    int GetUserArea(int fileIndex) override;
    std::string GetFilenameRule() override;

    virtual bool ReadLogicalSector(int n, std::vector<uint8_t>& bytes);
    virtual bool AppendLogicalSector(int n, std::vector<uint8_t>& bytes);
    virtual bool WriteLogicalSector(int n, const std::vector<uint8_t>& data, size_t offset);
    virtual void ReservedOperation() {}

    // The physical place of logical sector n of a layout; false when it lies beyond the last track.
    static bool MapSector(const CPMFormat& format, int n, CPMSectorAddress& address);
    // Whether the image can hold a whole track of the layout; the container decides.
    bool ImageHoldsTrack(const CPMFormat& format) const;
    bool MapSector(int n, CPMSectorAddress& address) const { return MapSector(*Format, n, address); }

    // Entry numbers of the parts of a file in part order; -1 for a missing part.
    std::vector<int> GetExtentList(int fileIndex);
    int FindFreeDirectoryEntry() const;
    static bool NamesEqual(const std::string& a, const std::string& b);
    // A name as NamesEqual compares it.
    static std::string NameKey(const std::string& name);

    const CPMFormat& GetFormat() const { return *Format; }
    int GetFormatRow() const { return FormatRow; }
    // Bytes one directory entry holds as its reading rules count them.
    int EntryCapacity() const;
    int UserNumber(int entry) const;
    // Read-only views of the directory for the disk check: whether an entry is in use,
    // and the block numbers it claims, in slot order up to the first 0.
    bool IsEntryInUse(int entry) const;
    std::vector<int> GetEntryBlocks(int entry) const;
    int GetDirectoryBlockCount() const { return DirectoryBlocks; }

private:
    struct Probes;

    // AppendLogicalSector for the file or the directory being read: a sector whose CRC
    // fails is used as read, a missing one becomes zeros, and either is noted.
    bool AppendUsedSector(int n, std::vector<uint8_t>& bytes, TReadPurpose purpose);
    int TryFormat(int row);
    bool BuildAllocationMap();
    void ReadBlock(int block, std::vector<uint8_t>& bytes);
    // False when a sector of the block could not be written (or the block is not on the disk).
    bool WriteBlock(int block, const std::vector<uint8_t>& data, size_t offset);
    // Runs one change of the directory and writes it out; when anything fails, the
    // directory and the allocation are put back as they were and the error passes on.
    void ChangeDirectory(const std::function<void()>& change);
    void StoreNewFile(const std::string& name, const std::vector<uint8_t>& data);
    // Blocks with a sector the image does not hold count as used (see FindUnwritableBlocks).
    void FindUnwritableBlocks();
    void MarkUnwritableBlocks();
    bool RowApplies(const CPMFormat& format, const Probes& probes) const;
    void SelectFormat();
    bool SameDirectorySectors(int rowA, int rowB) const;
    int CountUnwrittenFileSectors();

    // One 32-byte directory entry in its fields. The name bytes keep bit 7, where the
    // attributes live.
    struct DirectoryEntry {
        uint8_t User = 0;                // 0-15, or 0xE5 for a free entry
        std::array<uint8_t, 11> Name{};  // eight of name, then three of extension
        uint8_t ExtentLow = 0;           // EX: the low five bits of the extent number
        uint8_t S1 = 0;
        uint8_t ExtentHigh = 0;          // S2: the extent number over 32
        uint8_t Records = 0;             // RC: 128-byte records in the last logical extent
        std::array<uint8_t, 16> Allocation{};

        int Extent() const { return ExtentHigh * 32 + (ExtentLow & 0x1F); }
        void SetExtent(int extent);
        // Sixteen one-byte or eight two-byte block numbers.
        int Block(int slot, bool wide) const;
        void SetBlock(int slot, int block, bool wide);
    };
    DirectoryEntry ReadEntry(int n) const;
    void WriteEntry(int n, const DirectoryEntry& entry);
    int ExtentNumber(int entry) const;
    int PartOf(int entry) const;
    int EntryBlock(int entry, int slot) const;
    void SetEntryBlock(int entry, int slot, int block);
    int EntryBytes(int entry) const;
    int MaxParts() const;
    std::vector<int> EntriesOfFile(int fileIndex);
    void MarkUnmappableBlocks();

    const CPMFormat* Format = nullptr;
    int FormatRow = -1;
    std::vector<bool> AllocationMap;
    int BlockSize = 0;
    int SectorSize = 0;
    int DirectoryBlocks = 0;
    bool WideBlockNumbers = false;
    std::vector<uint8_t> Directory;
    bool Modified = false;
    // Blocks of the layout UnwritableFormat that the image cannot hold.
    std::vector<bool> UnwritableBlocks;
    const CPMFormat* UnwritableFormat = nullptr;

    // The NameKey of every directory entry's full name, kept while the layout and the
    // directory bytes stay those they were made from: listing a disk asks for every
    // file's parts, and each time every entry's name is compared.
    const std::vector<std::string>& EntryNameKeys();
    std::vector<std::string> EntryKeys;
    const CPMFormat* KeyedFormat = nullptr;
    std::vector<uint8_t> KeyedDirectory;
};

}  // namespace FileSystem
