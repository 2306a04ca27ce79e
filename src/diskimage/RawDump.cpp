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

// The disk track a layout needing this many cells is written on: 5-inch, 8-inch, or none (0).
int DiskTrackCells(int cells) {
    if (cells <= TRawTrack::FiveInchCells) return TRawTrack::FiveInchCells;
    if (cells <= TRawTrack::EightInchCells) return TRawTrack::EightInchCells;
    return 0;
}

int CellsFor(const SectorLayout& layout) {
    return DiskTrackCells(TRawTrack::UniformLayoutCells(layout.Sectors, layout.Size, layout.DoubleDensity));
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
    // No track is laid out yet: the opener may judge a dozen layouts of one file, and a DOS
    // reads a dump's sectors straight from the file (ReadStoredSector).
}

RawDump::RawDump(THostFile& file, const std::string& path) : Fixed(false), Growing(true) {
    SetOpened(path, false);
    if (file.Size() != 0) throw EInvalidFormat();
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
    if (!Fixed || track >= Layout.Tracks) {
        return false;  // the dump holds no more tracks: an empty one, which only a new dump can take
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
    if (!Fixed || track < 0 || (track >= Layout.Tracks && !Growing)) {
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
    Layout.Tracks = std::max(Layout.Tracks, track + 1);
    TrackFlushed();
    return true;
}

std::string RawDump::SideLoss(const Geometry& geometry, int side, const std::vector<TTrackSector>& sectors) {
    return SectorLayoutLoss(geometry.Sectors(), side, sectors, "raw sector dump");
}

std::string RawDump::GeometryOf(const std::array<std::vector<TTrackSector>, 2>& sides, Geometry& geometry) {
    const auto& first = sides[0];
    if (first.empty()) return "side 0 holds no sectors";
    geometry = Geometry();
    geometry.SectorsPerTrack = static_cast<int>(first.size());
    geometry.SectorSize = first.front().Size;
    geometry.DoubleDensity = first.front().Density;
    geometry.Sides = sides[1].empty() ? 1 : 2;
    geometry.FirstSector = LowestSectorNumber(first);
    const std::string loss = FirstSideLoss(
        sides, [&geometry](int side, const std::vector<TTrackSector>& sectors) { return SideLoss(geometry, side, sectors); });
    if (!loss.empty()) return loss;
    if (CellsFor({geometry.SectorsPerTrack, geometry.SectorSize, geometry.DoubleDensity}) == 0) {
        return std::to_string(geometry.SectorsPerTrack) + " sectors of " + std::to_string(geometry.SectorSize) +
               " bytes do not fit one disk track";
    }
    return {};
}

int RawDump::SideCellsFor(const std::vector<TTrackSector>& sectors) const {
    if (Fixed || sectors.empty()) return Cells;
    // A new dump's first track is laid out on the disk track its sectors need.
    const int cells = DiskTrackCells(TRawTrack::LayoutCells(sectors, true));
    return cells != 0 ? cells : TRawTrack::MaxCells;
}

bool RawDump::CanStoreLoadedTrack() {
    const std::array<std::vector<TTrackSector>, 2> sides = {ReadTrackSide(0), ReadTrackSide(1)};
    if (!Fixed) {
        Geometry geometry;
        if (!GeometryOf(sides, geometry).empty()) return false;
        Layout = geometry;
        Cells = CellsFor({geometry.SectorsPerTrack, geometry.SectorSize, geometry.DoubleDensity});
        Fixed = true;
        return true;
    }
    if (GetCurrentTrack() >= Layout.Tracks && !Growing) return false;
    for (int side = 0; side < 2; ++side) {
        if (!SideLoss(Layout, side, sides[side]).empty()) return false;
    }
    return true;
}

std::optional<bool> RawDump::ReadStoredSector(int track, int side, int density, int sector, int& size,
                                              uint8_t& dam, uint8_t* buffer) {
    if (!Fixed || (track == GetCurrentTrack() && IsTrackModified())) return std::nullopt;
    if (track < 0 || track >= Layout.Tracks || side < 0 || side >= Layout.Sides) return false;
    return ReadSectorOfSide(File, TrackOffset(track, side), Layout.Sectors(), density != 0, sector, size, dam, buffer);
}

int RawDump::StoredSectorCount(int side) const {
    return Fixed && side < Layout.Sides && GetCurrentTrack() < Layout.Tracks ? Layout.SectorsPerTrack : 0;
}

}  // namespace DiskImage
