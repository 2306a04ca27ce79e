// DOSPLUS 3.x: single or double density, one or two sides, with a MOD flag.
#pragma once

#include <string>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class DOSPLUS : public TRSDOSBase {
public:
    explicit DOSPLUS(DiskImage::TDiskImage* image);

    std::string GetDOSName(bool family) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;
};

}  // namespace FileSystem
