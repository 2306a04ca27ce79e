// TRSDOS 1.3: double density, one side, sectors numbered from 1, data sectors
// marked 0xF8 and directory sectors 0xFB. Its directory holds at most 80
// files in 48-byte records, five to a sector, each with twelve extents, a
// 24-bit file size and a month/year date; GAT, HIT and granules are those of
// the family core.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class TRSDOS13 : public TRSDOSBase {
public:
    // Recognises the disk and loads GAT, HIT and directory; throws
    // EInvalidFormat when the boot sector or the HIT cannot be read.
    explicit TRSDOS13(DiskImage::TDiskImage* image);
    // Formats the image as a new 40-track TRSDOS 1.3 disk; throws
    // EInvalidFormat when the image cannot hold it (JV1 is single density).
    TRSDOS13(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate);
    ~TRSDOS13() override;

    std::string GetDOSName(bool family) override;
    bool LinksDirectoryRecords() const override { return false; }
    bool ReservesSystemTracksWithoutFiles() const override { return true; }
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) override;
    bool DeleteFile(int fileIndex) override;
    bool RenameFile(int fileIndex, const std::string& newName) override;
    std::vector<int> ListFiles(const std::vector<std::string>& patterns, int flags) override;
    int GetFileSize(int fileIndex) override;
    FileDate GetFileDate(int fileIndex) override;
    void SetFileDate(int fileIndex, const FileDate& date) override;

    std::vector<TExtent> GetExtents(int dec) override;
    bool ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) override;
    bool WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) override;
    uint8_t* GetDirectoryRecord(int dec) override;
    using TRSDOSBase::GetDirectoryRecord;
    int GetRecordBytes() const override { return RecordBytes; }
    void SetFileSize(int dec, int size) override;
    int FindFreeDirectoryEntry(int start) override;
    void LoadHIT() override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;
    void InitHIT() override;
    void InitDirectory() override;
    bool WriteBootSector() override;
    bool FormatTrack(int track) override;
    // Reads directory sectors 2 to 17 and judges the files they describe.
    virtual void LoadRecordDirectory();

    // Number of directory records the loaded directory holds. The core's
    // FindFile ends its search at the first HIT position past them, where
    // GetDirectoryRecord refuses the DEC.
    virtual int GetRecordCount() const;

    // The largest granule run one extent can describe.
    static constexpr int LargestExtentRun = 31;

protected:
    // Sets the geometry shared with TRSDOS 2.8 and loads nothing.
    struct NoLoad {};
    TRSDOS13(DiskImage::TDiskImage* image, NoLoad);

    // Recognition of the boot sector of both systems: the directory track and
    // the track count, or EInvalidFormat when the sector is of neither form.
    void TakeBootSector(const std::vector<uint8_t>& boot);
    bool IsPrimaryInUse(const TDirectoryRecord& record) const;

    // The parts in which TRSDOS 2.8 differs.
    int RecordBytes = 48;
    int RecordLimit = 80;
    int MaxExtents = 12;
    // A directory naming a larger file is not of this DOS (0: no such test).
    int LargestPlausibleSize = 370000;
    bool SkipExtensionRecords = false;
    uint8_t DataMark = 0xF8;
    uint8_t DirectoryMark = 0xFB;
};

}  // namespace FileSystem
