// A raw sector dump: the sectors of every track in order, sides interleaved by track,
// and nothing else. The file says nothing of its geometry, so the opener offers the
// layouts whose size it matches (GeometriesFor) and keeps one only when a DOS
// recognises the disk under it.
#pragma once

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
    ~RawDump() override;

    std::string GetFormatName() const override { return "raw sector dump"; }
    bool CanSetWriteProtect() const override { return false; }  // no place in the file records it
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;

    const Geometry& GetGeometry() const { return Layout; }
    // Hands the file back to an opener that decided against this geometry.
    THostFile ReleaseFile() { return std::move(File); }

protected:
    bool CanStoreLoadedTrack() override;
    int EmptySideCells() const override { return Cells; }

private:
    uint64_t TrackOffset(int track, int side) const;

    Geometry Layout;
    int Cells = TRawTrack::FiveInchCells;
};

}  // namespace DiskImage
