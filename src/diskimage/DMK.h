// DMK: every track side stored byte by byte, gaps, marks and CRCs included,
// behind a table of pointers to its ID address marks.
#pragma once

#include "diskimage/DiskImage.h"

namespace DiskImage {

class DMK : public TFloppyImage {
public:
    static constexpr int HeaderBytes = 16;
    static constexpr int PointerTableBytes = 128;
    static constexpr int MaxPointers = 64;
    static constexpr int MaxTrackBytes = 0x2940;
    static constexpr uint8_t OptionSingleSided = 0x10;
    static constexpr uint8_t OptionSingleDensityOnce = 0x40;

    DMK(THostFile& file, bool readOnly, const std::string& path);
    ~DMK() override;

    std::string GetFormatName() const override { return "DMK"; }
    bool Flush() override;
    bool LoadTrack(int track) override;

    int GetStoredTracks() const { return FormatBuffer[1]; }
    int GetStoredTrackLength() const { return FormatBuffer[2] | (FormatBuffer[3] << 8); }
    int GetSides() const { return (FormatBuffer[4] & OptionSingleSided) ? 1 : 2; }

protected:
    bool CanStoreLoadedTrack() override;

private:
    void ConvertStoredSide(const std::vector<uint8_t>& stored, int side);
    std::vector<uint8_t> BuildStoredSide(int side) const;
    uint64_t SideOffset(int track, int side) const;
};

}  // namespace DiskImage
