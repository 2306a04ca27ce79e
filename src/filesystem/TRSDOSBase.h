// The common core of the TRS-80 disk operating systems that keep a granule
// allocation table (GAT), a hash index table (HIT) and 32-byte directory
// records on one directory track. Subclasses set the layout parameters in
// their constructors, judge the image, load GAT, HIT and directory through
// the hooks below, and override the few hooks in which their DOS differs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace FileSystem {

// One run of contiguous granules of a file, held in logical sectors.
struct TExtent {
    uint32_t Track = 0;   // track of the first granule
    uint32_t Sector = 0;  // first logical sector: granule within the track x SectorsPerGranule
    uint8_t Count = 0;    // number of granules
};

// One extent slot of a directory record as stored: the track (0xFF marks an empty slot)
// and the granule byte (first granule in bits 7-5, the run of granules in bits 4-0).
struct TExtentSlot {
    uint8_t Track = 0xFF;
    uint8_t Granules = 0xFF;
};

// A directory record with its fields named. ReadRecord fills it from the directory and
// WriteRecord stores every field back, so a change made through it leaves the other
// bytes of the record as they were. The names follow the family's 32-byte record; a DOS
// that gives a field another meaning says so where it reads it.
struct TDirectoryRecord {
    uint8_t Attributes = 0;    // extension, system, in-use and invisible bits; protection level
    uint8_t Flags = 0;         // created and MOD bits; the month in the low four bits
    uint8_t DayYear = 0;       // day x 8 + years since the DOS's first year
    uint8_t EofOffset = 0;     // bytes used in the last sector
    uint8_t RecordLength = 0;  // logical record length; 0 stands for 256
    std::array<uint8_t, 8> Name{};       // padded with spaces
    std::array<uint8_t, 3> Extension{};  // padded with spaces
    uint16_t UpdatePassword = 0;  // password hash
    uint16_t AccessPassword = 0;  // password hash
    uint16_t EndingRecord = 0;    // the ERN: sectors the file spans
    std::vector<TExtentSlot> Extents;  // four in the 32-byte record, more in a longer one
    // After the extents: 0xFE and the DEC of the record the extents continue in, or 0xFF
    // where the file ends.
    uint8_t LinkMark = 0xFF;
    uint8_t LinkDEC = 0xFF;

    static constexpr uint8_t Linked = 0xFE;
    static constexpr uint8_t Unlinked = 0xFF;

    // The record's fields from its bytes, and the fields stored into them.
    static TDirectoryRecord Decode(const uint8_t* bytes, int size);
    void Encode(uint8_t* bytes, int size) const;
    // A cleared record: zeros up to the extents, 0xFF from there to its end.
    static TDirectoryRecord Blank(int size);
};

class TRSDOSBase : public TFileSystem {
public:
    static constexpr int SectorSize = 256;
    static constexpr int RecordSize = 32;
    static constexpr int ExtentsPerRecord = 4;
    // GAT bytes beyond the allocation map.
    static constexpr int GatVersion = 0xCB;
    static constexpr int GatTrackCount = 0xCC;
    static constexpr int GatConfiguration = 0xCD;
    static constexpr int GatPassword = 0xCE;     // the disk's password hash, two bytes
    static constexpr int GatAutoCommand = 0xE0;  // a command run at start-up, ended by 0x0D
    // Bits of directory record bytes 0 and 1.
    static constexpr uint8_t RecordExtension = 0x80;
    static constexpr uint8_t RecordSystem = 0x40;
    static constexpr uint8_t RecordInUse = 0x10;
    static constexpr uint8_t RecordInvisible = 0x08;
    static constexpr uint8_t RecordCreated = 0x80;
    static constexpr uint8_t RecordMod = 0x40;

    // Sets the default layout; the subclass constructor adjusts it and loads.
    explicit TRSDOSBase(DiskImage::TDiskImage* image);
    // Flushes pending directory changes; errors are swallowed (a destructor
    // must not throw), so callers that care call Flush themselves first.
    ~TRSDOSBase() override;

    // The TFileSystem operations (file index = directory entry code, DEC).
    int GetFileSystemType() override { return TypeTRSDOS; }
    std::vector<TFinding> CheckStructure() override;
    void MapStructure(TStructureMap& map) override;
    std::optional<PartitionExtent> GetPartitionExtent() override;
    // Whether a file's extents continue in further directory records that the first one
    // links to; TRSDOS 1.3 keeps them all in its one record.
    virtual bool LinksDirectoryRecords() const { return true; }
    // Whether the GAT marks system tracks used that no directory entry owns, as
    // TRSDOS 1.3 reserves its own.
    virtual bool ReservesSystemTracksWithoutFiles() const { return false; }
    int GetFreeSpace() override;
    int GetCapacity() override;
    std::vector<uint8_t> ReadFile(int fileIndex) override;
    bool RewriteFile(int fileIndex, const std::vector<uint8_t>& data) override;
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) override;
    bool DeleteFile(int fileIndex) override;
    bool RenameFile(int fileIndex, const std::string& newName) override;
    std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) override;
    std::string GetFileName(int fileIndex) override;
    std::string GetFileExtension(int fileIndex) override;
    int GetFileSize(int fileIndex) override;
    int FindFile(const std::string& name) override;
    bool IsValidFilename(const std::string& name) override;
    std::string GetFilenameRule() override;
    void Flush() override;
    std::vector<AttributeDescriptor> GetAttributeList() override;
    bool HasAttribute(int fileIndex, uint32_t mask) override;
    void SetAttribute(int fileIndex, uint32_t mask, bool on) override;
    char GetExtensionSeparator() override { return '/'; }
    std::string GetDiskName() override;
    std::string GetDiskDate() override;
    void SetDiskName(const std::string& name) override;
    void SetDiskDate(const std::string& date) override;
    FileDate GetFileDate(int fileIndex) override;
    void SetFileDate(int fileIndex, const FileDate& date) override;
    void SetFileName(int fileIndex, const std::string& name) override;
    bool SupportsDiskName() override { return true; }
    bool SupportsDiskDate() override { return true; }
    bool ReservedCapabilityA() override { return true; }
    bool SupportsAttribute(uint32_t mask) override;

    // The hooks of the family, in their fixed order.
    virtual std::vector<TExtent> GetExtents(int dec);
    // Reads one logical sector into buffer (exactly 256 bytes on success).
    // normalData tells whether the sector carries the mark of ordinary data,
    // which a directory-track sector must not carry.
    virtual bool ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer);
    // Appends 256 bytes to buffer: the sector, the bytes of a data field whose CRC fails,
    // or zeros when it cannot be read. True only for a sector read cleanly.
    virtual bool AppendSector(int track, int sector, std::vector<uint8_t>& buffer);
    // Writes data[offset .. offset + 255], zero-padded where data ends.
    virtual bool WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset);
    // The record of a DEC inside Directory; throws EIllegalFileIndex when it
    // lies outside. The const form forwards to the other.
    virtual uint8_t* GetDirectoryRecord(int dec);
    virtual const uint8_t* GetDirectoryRecord(int dec) const;
    // Bytes in one directory record.
    virtual int GetRecordBytes() const { return RecordSize; }
    // The record of a DEC with its fields named, and its fields stored back (throwing
    // EIllegalFileIndex as GetDirectoryRecord does). Writing leaves Modified alone.
    TDirectoryRecord ReadRecord(int dec) const;
    void WriteRecord(int dec, const TDirectoryRecord& record);
    // Granule transfer; track and sector are left pointing past the granule.
    virtual bool ReadGranule(int& track, int& sector, std::vector<uint8_t>& buffer);
    virtual bool WriteGranule(int& track, int& sector, const std::vector<uint8_t>& data, size_t offset);
    virtual void SetFileSize(int dec, int size);
    virtual void SetUpdatePassword(int dec, uint16_t hash);
    virtual void SetAccessPassword(int dec, uint16_t hash);
    static uint8_t HashFilename(const std::string& name);
    virtual bool FindFreeGranules(int wanted, int& count, int& track, int& granule);
    virtual void FreeGranules(int track, int granule, int count);
    virtual void AllocateGranules(int track, int granule, int count);
    virtual int FindFreeDirectoryEntry(int start);
    virtual void LoadGAT();
    virtual void LoadHIT();
    virtual void LoadDirectory(bool tolerant);
    virtual int GetRecordLength(int dec);
    virtual int GetProtectionLevel(int dec);
    virtual void InitGAT(const std::string& diskName, const std::string& diskDate);
    virtual void InitHIT();
    virtual void InitDirectory();
    virtual void Format(const std::string& diskName, const std::string& diskDate);
    // Writes the boot sector of a new disk; false when the image refuses it.
    virtual bool WriteBootSector();
    virtual bool FormatTrack(int track);

    // Read access to the geometry for the mounting code and the shells.
    int GetTracks() const { return Tracks; }
    int GetSides() const { return Sides; }
    int GetSectorsPerSide() const { return SectorsPerSide; }
    int GetSectorsPerTrack() const { return SectorsPerTrack; }
    int GetSectorsPerGranule() const { return SectorsPerGranule; }
    int GetGranulesPerTrack() const { return GranulesPerTrack; }
    int GetDirectoryTrack() const { return DirectoryTrack; }
    int GetDensity() const { return Density; }
    // Read-only views of the directory track for the disk check.
    const std::vector<uint8_t>& GetHITBytes() const { return HIT; }
    // The allocation map bit alone, and the lockout table bit where the disk has one.
    // How the chain of a file's directory records ends: where the file ends, or at a link
    // the file needs that loops, leaves the directory or reaches a record that is no extension.
    enum class TChainEnd { LastRecord, Loop, OutsideDirectory, NotExtension };
    TChainEnd GetRecordChainEnd(int dec) const;
    bool IsGranuleMarkedUsed(int track, int granule) const;
    bool IsGranuleLockedOut(int track, int granule) const;
    // The granules an extent covers, in order; the last may lie past the last track.
    struct TGranule {
        int Track = 0;
        int Granule = 0;
    };
    std::vector<TGranule> GetExtentGranules(const TExtent& extent) const;

    // On a hard-disk image: where this file system's track 0 lies (0, 0 for a whole image).
    int FirstCylinder = 0;
    int FirstHead = 0;

protected:
    // Throws EWriteProtected before any change when the image refuses writes,
    // so the in-memory directory never drifts from the image.
    void CheckWritable() const;
    // The DECs of a file's records, primary first. The walk stops at a link
    // that loops, leaves the directory or reaches a record that is not an
    // extension record: such a chain is damaged and ends there.
    std::vector<int> GetRecordChain(int dec, TChainEnd* end = nullptr) const;
    // The extents stored in one record, up to the first empty one.
    std::vector<TExtent> GetRecordExtents(const TDirectoryRecord& record) const;
    // The slot of a run of count granules from granule on track.
    TExtentSlot MakeExtentSlot(int track, int granule, int count) const;
    bool IsGranuleFree(int track, int granule) const;
    // Sets or clears the map bits of a run of granules, walking on to the
    // next track after the last granule of a track.
    void MarkGranules(int track, int granule, int count, bool used);
    // Number of GAT bytes the allocation map may use.
    int AllocationMapLimit() const;
    // One physical read: exactly 256 bytes required; records the density
    // tried in FoundDensity and the mark in LastDAM.
    bool ReadPhysicalSector(int track, int sector, int side, int density, bool& normalData,
                            std::vector<uint8_t>& buffer);
    // The 256 bytes of data from offset on, zero-padded where data ends.
    static std::vector<uint8_t> SectorSlice(const std::vector<uint8_t>& data, size_t offset);
    // The boot sector of a disk that may be single or double density: track 0
    // sector 1 in double density (Density 1), or, when that sector begins with
    // the given four bytes, sector 0 in double density; failing both, sector 0
    // in single density (Density 0). Throws EInvalidFormat when unreadable.
    std::vector<uint8_t> ReadBootSectorEitherDensity(const uint8_t (&sectorOneSignature)[4]);
    // Sectors, granules and directory size of one- or two-sided disks with
    // 10 sectors and 2 granules per side (single density) or 18 and 3 (double).
    void SetSidedGeometry();
    // Reads one sector of the directory track while loading (CRC errors tolerated, see
    // ReadUsedSector); any fault marks the disk as damaged (ReadError).
    TSectorRead ReadDirectoryTrackSector(int sector, bool& normalData, std::vector<uint8_t>& buffer);
    // An LDOS-style hard-disk partition (LDOS, MULTIDOS): sectors per track from the GAT's
    // hard-disk descriptor, or 32 on every head of the image; granules per track from the
    // descriptor, or from GAT byte 0xCD bits 2-0. Sides must be set. No lockout table.
    void SetHardDiskGeometry();
    // The sector mapping of an LDOS-style partition: track 0 at (FirstCylinder, FirstHead),
    // 32 sectors a head, and a two-sided track spanning two cylinders.
    void MapPartitionSector(int& track, int& sector, int& side) const;
    // Reads the boot sector into data; false when unreadable.
    bool ReadBootSector(int sector, int density, uint8_t& dam, std::vector<uint8_t>& data);

    // Layout parameters.
    uint32_t Attributes = AttrCreated | AttrInvisible | AttrSystem;
    uint8_t Density = 0;
    uint8_t FoundDensity = 0;
    uint8_t LastDAM = 0xF8;
    uint8_t DirectoryDAM = 0xF8;
    int DirectoryTrack = 17;
    int Tracks = 35;
    int Sides = 1;
    int SectorsPerSide = 10;
    int SectorsPerTrack = 10;
    int DirectorySectors = 10;
    int SectorsPerGranule = 5;
    int GranulesPerTrack = 2;
    bool NoLockoutTable = false;
    bool GranuleCountMinusOne = true;
    bool EofInLastSector = true;
    uint16_t NoPasswordHash = 0x5A17;
    int FirstUserEntry = 40;
    int Interleave = 2;

    // Working copies of the directory track.
    std::vector<uint8_t> GAT;
    std::vector<uint8_t> HIT;
    std::vector<uint8_t> Directory;  // directory sectors 2 onward, 256 bytes each
    bool Modified = false;
};

}  // namespace FileSystem
