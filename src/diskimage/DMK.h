// DMK: every track side stored byte by byte, gaps, marks and CRCs included,
// behind a table of pointers to its ID address marks.
#pragma once

#include <algorithm>
#include <array>
#include <optional>

#include "diskimage/DiskImage.h"

namespace DiskImage {

class DMK : public TFloppyImage {
public:
    static constexpr int PointerTableBytes = 128;
    static constexpr int MaxPointers = 64;
    // Option bits of header byte 4.
    static constexpr uint8_t OptionSingleSided = 0x10;
    static constexpr uint8_t OptionSingleDensityOnce = 0x40;  // single-density bytes stored once, not twice
    static constexpr uint8_t OptionIgnoreDensity = 0x80;      // kept as found, not used here

    // The 16 bytes at the start of the file.
    struct THeader {
        static constexpr int Size = 16;
        static constexpr uint8_t Protected = 0xFF;
        static constexpr uint8_t Writable = 0x00;
        static constexpr int MaxTrackBytes = 0x2940;

        uint8_t WriteProtect = Writable;  // byte 0
        uint8_t Tracks = 0;               // byte 1: tracks stored
        int TrackBytes = 0;               // bytes 2-3: one stored track side, pointer table included
        uint8_t Options = 0;              // byte 4
        std::array<uint8_t, 3> Reserved{};  // bytes 5-7, written back as found; 8-15 are zero

        // Nothing when the bytes are not a DMK header.
        static std::optional<THeader> Parse(const uint8_t* bytes);
        std::array<uint8_t, Size> Encode() const;
        int Sides() const { return (Options & OptionSingleSided) ? 1 : 2; }
        bool SingleDensityOnce() const { return (Options & OptionSingleDensityOnce) != 0; }
    };

    DMK(THostFile& file, bool readOnly, const std::string& path);
    ~DMK() override;

    std::string GetFormatName() const override { return "DMK"; }
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;
    bool HoldsTrack(int sectors, int size, bool density) const override;

    // A new image: no tracks, two sides, trackCells track bytes a side after the pointer table.
    static std::vector<uint8_t> EmptyImage(int trackCells);

    int GetStoredTracks() const { return Header.Tracks; }
    int GetStoredTrackLength() const { return Header.TrackBytes; }
    int GetSides() const { return Header.Sides(); }

protected:
    int EmptySideCells() const override;
    bool CanStoreLoadedTrack() override;

private:
    void ConvertStoredSide(const std::vector<uint8_t>& stored, TRawTrack& side) const;
    std::vector<uint8_t> BuildStoredSide(const TRawTrack& side) const;
    uint64_t SideOffset(int track, int side) const;
    // Bytes of the track side after the pointer table.
    int StoredTrackBytes() const { return std::max(0, Header.TrackBytes - PointerTableBytes); }

    THeader Header;
};

}  // namespace DiskImage
