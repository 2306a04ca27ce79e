// TRSDOS 2.8: the TRSDOS 1.3 forms of file size, date and extents in 32-byte
// directory records laid out one after another, eight to a sector, with the
// marks of the family core (data 0xFB, directory 0xF8). Disks are only
// recognised, never formatted.
#pragma once

#include <string>

#include "filesystem/TRSDOS13.h"

namespace FileSystem {

class TRSDOS28 : public TRSDOS13 {
public:
    // Recognises the disk and loads GAT, HIT and directory; throws
    // EInvalidFormat when the boot sector or the HIT cannot be read.
    explicit TRSDOS28(DiskImage::TDiskImage* image);
    ~TRSDOS28() override;

    std::string GetDOSName(bool family) override;
    // Deleting and renaming follow the record links of the family core.
    bool DeleteFile(int fileIndex) override;
    bool RenameFile(int fileIndex, const std::string& newName) override;
    void LoadHIT() override;
};

}  // namespace FileSystem
