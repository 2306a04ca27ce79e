// JV1: ten single-density 256-byte sectors per track, side 0 only, no header.
#pragma once

#include "diskimage/DiskImage.h"

namespace DiskImage {

class JV1 : public TFloppyImage {
public:
    static constexpr int SectorsPerTrack = 10;
    static constexpr int SectorSize = 256;
    static constexpr int TrackBytes = SectorsPerTrack * SectorSize;

    // Takes the file over only when its contents are accepted; refuses with EInvalidFormat.
    JV1(THostFile& file, bool readOnly, const std::string& path);
    ~JV1() override;

    std::string GetFormatName() const override { return "JV1"; }
    bool Flush() override;
    bool LoadTrack(int track) override;

    int StoredSectorCount(int side) const override;

    // The first two bytes that make a file recognisable as JV1.
    static bool HasSignature(const uint8_t* bytes);
    // A new image: one track of zeros that passes the signature test.
    static std::vector<uint8_t> EmptyImage();

protected:
    bool CanStoreLoadedTrack() override;

private:
    std::vector<uint8_t> TrackData = std::vector<uint8_t>(TrackBytes, 0);  // one track as the file holds it
};

}  // namespace DiskImage
