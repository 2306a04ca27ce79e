#include "diskimage/RawDump.h"

#include <algorithm>
#include <cstring>

namespace DiskImage {

namespace {

struct SectorLayout {
    int Sectors;
    int Size;
    bool DoubleDensity;
};

// The track layouts of the disks this program reads: TRSDOS 2.3 and the other Model I
// DOSes (10 single-density sectors of 256 bytes), the Model III and 4 DOSes and the Color
// Computer (18 double-density ones), and the CP/M layouts of the catalogue.
constexpr SectorLayout Layouts[] = {
    {10, 256, false}, {18, 128, false}, {26, 128, false}, {18, 256, true},
    {10, 512, true},  {8, 512, true},   {5, 1024, true},  {28, 128, true},
};

constexpr int TrackCounts[] = {35, 40, 77, 80};

int CellsFor(const SectorLayout& layout) {
    const int cells = TRawTrack::UniformLayoutCells(layout.Sectors, layout.Size, layout.DoubleDensity);
    if (cells <= TRawTrack::FiveInchCells) return TRawTrack::FiveInchCells;
    if (cells <= TRawTrack::EightInchCells) return TRawTrack::EightInchCells;
    return 0;
}

}  // namespace

std::vector<RawDump::Geometry> RawDump::GeometriesFor(int64_t fileSize) {
    std::vector<Geometry> geometries;
    if (fileSize <= 0) return geometries;
    for (const SectorLayout& layout : Layouts) {
        if (CellsFor(layout) == 0) continue;
        for (int sides = 1; sides <= 2; ++sides) {
            const int64_t trackBytes = static_cast<int64_t>(layout.Sectors) * layout.Size * sides;
            if (fileSize % trackBytes != 0) continue;
            const int64_t tracks = fileSize / trackBytes;
            if (std::find(std::begin(TrackCounts), std::end(TrackCounts), tracks) == std::end(TrackCounts)) continue;
            for (int first = 0; first <= 1; ++first) {
                geometries.push_back(
                    {layout.Sectors, layout.Size, layout.DoubleDensity, sides, first, static_cast<int>(tracks)});
            }
        }
    }
    return geometries;
}

RawDump::RawDump(THostFile& file, bool readOnly, const std::string& path, const Geometry& geometry)
    : Layout(geometry) {
    SetOpened(path, readOnly);
    const SectorLayout layout{geometry.SectorsPerTrack, geometry.SectorSize, geometry.DoubleDensity};
    Cells = geometry.SectorsPerTrack > 0 ? CellsFor(layout) : 0;
    const int64_t size = file.Size();
    if (Cells == 0 || geometry.Sides < 1 || geometry.Sides > 2 || geometry.FirstSector < 0 ||
        geometry.FirstSector + geometry.SectorsPerTrack - 1 > 255 || geometry.Tracks < 1 ||
        geometry.Tracks > MaxTrackNumber + 1 || size != static_cast<int64_t>(geometry.TrackBytes()) * geometry.Tracks) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    LoadTrack(0);
}

RawDump::~RawDump() { FlushBeforeClosing(); }

uint64_t RawDump::TrackOffset(int track, int side) const {
    return (static_cast<uint64_t>(track) * Layout.Sides + side) * Layout.SideBytes();
}

bool RawDump::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (track >= Layout.Tracks) {
        return false;  // the dump holds no more tracks, and cannot grow
    }
    std::vector<uint8_t> data(Layout.SideBytes());
    for (int side = 0; side < Layout.Sides; ++side) {
        if (!File.ReadAt(TrackOffset(track, side), data.data(), data.size())) {
            TrackLoadFailed();
            return false;
        }
        const std::vector<TTrackSector> sectors = SectorsOfSide(Layout.Sectors(), data);
        if (!RawSide(side).LayOut(track, side, sectors)) {
            TrackLoadFailed();  // cannot happen: the constructor checked that the sectors fit
            return false;
        }
    }
    return TrackLoaded();
}

bool RawDump::Flush() {
    if (!IsTrackDirty()) {
        return true;
    }
    const int track = GetCurrentTrack();
    if (track < 0 || track >= Layout.Tracks) {
        return false;  // the file has no place for the track
    }
    // Every sector is checked before anything is written, so a refused track leaves the file as it was.
    std::vector<uint8_t> data(Layout.TrackBytes());
    std::vector<uint8_t> sector(SectorBufferSize);
    for (int side = 0; side < Layout.Sides; ++side) {
        for (int i = 0; i < Layout.SectorsPerTrack; ++i) {
            int found = 0;
            uint8_t dam = 0;
            if (!ReadSector(track, side, Layout.DoubleDensity ? 1 : 0, Layout.FirstSector + i, found, dam,
                            sector.data(), false, false) ||
                dam != SectorImageDataMark || found != Layout.SectorSize) {
                return false;  // the file would give the sector back changed: refuse rather than do that
            }
            std::memcpy(data.data() + side * Layout.SideBytes() + i * Layout.SectorSize, sector.data(), found);
        }
    }
    if (!File.WriteAt(TrackOffset(track, 0), data.data(), data.size())) {
        return false;
    }
    TrackFlushed();
    return true;
}

bool RawDump::CanStoreLoadedTrack() {
    if (GetCurrentTrack() >= Layout.Tracks) return false;
    for (int side = 0; side < 2; ++side) {
        if (!SectorLayoutLoss(Layout.Sectors(), side, ReadTrackSide(side), GetFormatName()).empty()) return false;
    }
    return true;
}

int RawDump::StoredSectorCount(int side) const {
    return side < Layout.Sides && GetCurrentTrack() < Layout.Tracks ? Layout.SectorsPerTrack : 0;
}

}  // namespace DiskImage
