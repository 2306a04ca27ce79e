// TRSDOS 2.3 and ULTRADOS: single density, one side, 35 tracks.
#pragma once

#include <string>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class TRSDOS23 : public TRSDOSBase {
public:
    // Judges an existing disk and loads its directory.
    explicit TRSDOS23(DiskImage::TDiskImage* image);
    // Lays out a new disk of the given track count on a fresh floppy image.
    TRSDOS23(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate, int tracks);

    std::string GetDOSName(bool family) override;
    bool ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;

    // The track counts a new disk may have: the directory track must exist
    // and the allocation map holds 96 tracks.
    static constexpr int MinimumTracks = 18;
    static constexpr int MaximumTracks = 96;
    static constexpr int StandardTracks = 35;

private:
    int TracksOfDisk();
};

}  // namespace FileSystem
