// JVC: the Color Computer's sector image. Sector data only, track by track with the
// sides interleaved, after an optional header of up to five bytes (as many as the file
// size exceeds a multiple of 256) that overrides the usual geometry: 18 double-density
// sectors of 256 bytes a track, one side, sectors numbered from 1.
#pragma once

#include <string>

#include "diskimage/DiskImage.h"
#include "diskimage/SectorImage.h"

namespace DiskImage {

class JVC : public TFloppyImage {
public:
    struct Geometry {
        int SectorsPerTrack = 18;
        int Sides = 1;
        int SizeCode = 1;
        int FirstSector = 1;
        int SectorSize() const { return 128 << SizeCode; }
        int SideBytes() const { return SectorsPerTrack * SectorSize(); }
        int TrackBytes() const { return SideBytes() * Sides; }
        TSectorLayout Sectors() const { return {SectorsPerTrack, SectorSize(), true, FirstSector, Sides}; }
        bool operator==(const Geometry&) const = default;
    };

    // Takes the file over only when its size and header describe a whole number of tracks
    // of a geometry a track can hold; refuses with EInvalidFormat. An empty file is a new
    // image whose geometry the first track laid out on it sets.
    JVC(THostFile& file, bool readOnly, const std::string& path);
    ~JVC() override;

    std::string GetFormatName() const override { return "JVC"; }
    bool CanSetWriteProtect() const override { return false; }  // no place in the file records it
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;
    std::optional<bool> ReadStoredSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                                         uint8_t* buffer) override;

    // False for a file without a header, whose geometry is only the usual one assumed:
    // nothing in such a file says that it is a disk image at all.
    bool HasHeader() const { return HeaderLength > 0; }
    const Geometry& GetGeometry() const { return Layout; }
    int GetTracks() const { return Tracks; }

    // The geometry a track of these sides would give a new image, or why it has none:
    // every side with sectors must hold the same run of numbers, one size, double density.
    static std::string GeometryOf(const std::array<std::vector<TTrackSector>, 2>& sides, Geometry& geometry);
    // Why a track side cannot be stored under the geometry, naming the first sector at fault; empty when it can.
    static std::string SideLoss(const Geometry& geometry, int side, const std::vector<TTrackSector>& sectors);

protected:
    bool CanStoreLoadedTrack() override;

private:
    uint64_t TrackOffset(int track, int side) const;
    void WriteHeader();

    Geometry Layout;
    int HeaderLength = 0;
    int Tracks = 0;          // whole tracks the file holds
    bool Fixed = false;      // the geometry is known (false only for a new, empty image)
    bool HeaderDue = false;  // a new image's header is still to be written
};

}  // namespace DiskImage
