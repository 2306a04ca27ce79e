// A raw sector dump: the sectors of every track in order, sides interleaved by track,
// and nothing else. The file says nothing of its geometry, so the opener offers the
// layouts whose size it matches (GeometriesFor) and keeps one only when a DOS
// recognises the disk under it. A new dump starts as an empty file whose geometry the
// first track laid out on it sets.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "diskimage/SectorImage.h"

namespace DiskImage {

class RawDump : public TFloppyImage {
public:
    struct Geometry {
        int SectorsPerTrack = 0;
        int SectorSize = 0;
        bool DoubleDensity = false;
        int Sides = 1;
        int FirstSector = 0;
        int Tracks = 0;
        int SideBytes() const { return SectorsPerTrack * SectorSize; }
        int TrackBytes() const { return SideBytes() * Sides; }
        TSectorLayout Sectors() const { return {SectorsPerTrack, SectorSize, DoubleDensity, FirstSector, Sides}; }
        bool operator==(const Geometry&) const = default;
    };

    // The layouts a file of this many bytes could be a dump of, in the order they are tried:
    // the sector layouts of the TRS-80 DOSes and CP/M systems, on 35, 40, 77 or 80 tracks
    // of one or two sides, sectors numbered from 0 or from 1. Empty for any other size.
    static std::vector<Geometry> GeometriesFor(int64_t fileSize);

    // Takes the file over as a dump of this geometry; EInvalidFormat unless its size is
    // exactly that of the geometry's tracks.
    RawDump(THostFile& file, bool readOnly, const std::string& path, const Geometry& geometry);
    // Takes an empty file over as a new dump; EInvalidFormat for any other.
    RawDump(THostFile& file, const std::string& path);
    ~RawDump() override;

    std::string GetFormatName() const override { return "raw sector dump"; }
    bool CanSetWriteProtect() const override { return false; }  // no place in the file records it
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;
    std::optional<bool> ReadStoredSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                                         uint8_t* buffer) override;

    const Geometry& GetGeometry() const { return Layout; }

    // The geometry a track of these sides would give a new dump (Tracks left 0), or why it
    // has none: every side with sectors must hold the same run of numbers, of one size and density.
    static std::string GeometryOf(const std::array<std::vector<TTrackSector>, 2>& sides, Geometry& geometry);
    // Why a track side cannot be stored under the geometry, naming the first sector at fault; empty when it can.
    static std::string SideLoss(const Geometry& geometry, int side, const std::vector<TTrackSector>& sectors);

protected:
    bool CanStoreLoadedTrack() override;
    int EmptySideCells() const override { return Cells; }
    int SideCellsFor(const std::vector<TTrackSector>& sectors) const override;

private:
    uint64_t TrackOffset(int track, int side) const;

    Geometry Layout;
    int Cells = TRawTrack::FiveInchCells;
    bool Fixed = true;     // the geometry is known (false only for a new, empty dump)
    bool Growing = false;  // a new dump takes tracks past its end; an opened one keeps its size
};

}  // namespace DiskImage
