// MULTIDOS 1.x: the geometry of DOSPLUS with three ways of storing dates.
#pragma once

#include <string>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class MULTIDOS : public TRSDOSBase {
public:
    explicit MULTIDOS(DiskImage::TDiskImage* image);

    std::string GetDOSName(bool family) override;
    FileDate GetFileDate(int fileIndex) override;
    void SetFileDate(int fileIndex, const FileDate& date) override;
    void SetUpdatePassword(int dec, uint16_t hash) override;
    void SetAccessPassword(int dec, uint16_t hash) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;

    // 0: dates in bytes 1-2 only; 1: year and time also in bytes 18-19;
    // 2: full date and time in bytes 16-19, access password in bytes 1-2.
    int GetDateMode() const { return DateMode; }

protected:
    void ChooseDateMode();

    int DateMode = 0;
};

}  // namespace FileSystem
