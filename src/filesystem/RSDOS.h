// The Color Computer's Disk BASIC file system: 35 tracks of eighteen 256-byte
// sectors, files in granules of nine sectors chained through a one-sector FAT.
// Read-only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace FileSystem {

class RSDOS : public TFileSystem {
public:
    static constexpr int Granules = 68;
    static constexpr int GranuleSectors = 9;
    static constexpr int SectorSize = 256;
    static constexpr int GranuleSize = GranuleSectors * SectorSize;
    static constexpr int DirectoryEntries = 72;

    // Loads the FAT and the directory and judges them; never throws for a mismatch.
    explicit RSDOS(DiskImage::TDiskImage* image);
    ~RSDOS() override = default;

    int GetFileSystemType() override { return TypeRSDOS; }
    std::vector<TFinding> CheckStructure() override;
    void MapStructure(TStructureMap& map) override;
    int GetFreeSpace() override;
    int GetCapacity() override { return 35 * 18 * SectorSize; }
    std::vector<uint8_t> ReadFile(int fileIndex) override;
    bool RewriteFile(int, const std::vector<uint8_t>&) override { return false; }
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) override;
    bool DeleteFile(int fileIndex) override;
    bool RenameFile(int fileIndex, const std::string& newName) override;
    std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) override;
    std::string GetFileName(int fileIndex) override;
    std::string GetFileExtension(int fileIndex) override;
    int GetFileSize(int fileIndex) override;
    int FindFile(const std::string&) override { return -1; }
    bool IsValidFilename(const std::string& name) override;
    std::string GetFilenameRule() override;
    void Flush() override {}
    std::vector<AttributeDescriptor> GetAttributeList() override;
    bool HasAttribute(int fileIndex, uint32_t mask) override;
    void SetAttribute(int fileIndex, uint32_t mask, bool on) override;
    std::vector<std::string> GetFileTypeList() override;
    int GetFileType(int fileIndex) override;
    void SetFileName(int fileIndex, const std::string& name) override;
    bool SupportsAttribute(uint32_t mask) override { return mask == 0; }
    bool SupportsFileTypes() override { return true; }
    bool SupportsWriting() override { return false; }
    std::string GetDOSName(bool) override { return "RSDOS"; }

    virtual bool ReadSector(int track, int sector, std::vector<uint8_t>& bytes);
    virtual bool AppendSector(int track, int sector, std::vector<uint8_t>& bytes);
    virtual void LoadDirectory();
    virtual std::vector<uint8_t> ReadGranule(int granule);

    // Where granule g starts: its track and first sector.
    static int GranuleTrack(int granule);
    static int GranuleFirstSector(int granule);

    const int DirectoryTrack = 17;

    // Read-only views for the disk check: the granules of a file's chain (complete
    // tells whether it ends in a last-granule byte), and the FAT byte of a granule.
    std::vector<int> GetGranuleChain(int fileIndex, bool& complete) const;
    uint8_t GetFATByte(int granule) const;

private:
    bool AppendUsedSector(int track, int sector, std::vector<uint8_t>& bytes, TReadPurpose purpose);
    bool HoldsOS9IdentificationSector();

    struct Chain {
        std::vector<int> granules;
        int lastSectors = 0;  // sectors in use in the last granule
        bool complete = false;
    };
    Chain FollowChain(int fileIndex) const;

    // One 32-byte directory entry, read once into its fields.
    struct DirectoryEntry {
        std::string Name;       // blanks at the end dropped
        std::string Extension;  // the same
        uint8_t Status = 0;     // the name's first byte: DeletedEntry or EndOfDirectory say so
        uint8_t FileType = 0;
        bool Ascii = false;
        int FirstGranule = 0;
        int LastSectorBytes = 0;  // bytes in use in the file's last sector
    };
    DirectoryEntry ReadEntry(int fileIndex) const;

    std::vector<uint8_t> FAT;
    std::vector<uint8_t> Directory;
};

}  // namespace FileSystem
