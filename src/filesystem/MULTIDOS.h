// MULTIDOS 1.x: the geometry of DOSPLUS with three ways of storing dates.
#pragma once

#include <string>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class MULTIDOS : public TRSDOSBase {
public:
    explicit MULTIDOS(DiskImage::TDiskImage* image);
    // A partition of a hard disk whose track 0 lies at (firstCylinder, firstHead).
    // MULTIDOS lays out its hard disks as LDOS does: the directory track from the
    // boot sector, the geometry from the GAT's hard-disk fields.
    MULTIDOS(DiskImage::TDiskImage* image, int firstCylinder, int firstHead);

    void MapHardDiskSector(int& track, int& sector, int& side) override;
    std::string GetDOSName(bool family) override;
    FileDate GetFileDate(int fileIndex) override;
    void SetFileDate(int fileIndex, const FileDate& date) override;
    void SetUpdatePassword(int dec, uint16_t hash) override;
    void SetAccessPassword(int dec, uint16_t hash) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;

    // 0: dates in the record's month and day-year bytes only; 1: year and time also in
    // its access password field; 2: full date and time in both password fields, the
    // access password in the month and day-year bytes.
    int GetDateMode() const { return DateMode; }

protected:
    void ChooseDateMode();
    void RecogniseFloppy();
    void RecogniseHardDisk();
    // A version byte that is neither 1.3's, 1.7's nor blank raises suspicion.
    void JudgeVersion();

    int DateMode = 0;
};

}  // namespace FileSystem
