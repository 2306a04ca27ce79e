#include "diskimage/JVC.h"

#include <algorithm>
#include <cstring>

namespace DiskImage {

namespace {

// The header's bytes in order; a shorter header leaves the later ones at their defaults.
enum HeaderField { FieldSectorsPerTrack, FieldSides, FieldSizeCode, FieldFirstSector, FieldAttributes, FieldCount };

int SizeCodeOf(int size) {
    for (int code = 0; code <= 3; ++code) {
        if ((128 << code) == size) return code;
    }
    return -1;
}

}  // namespace

JVC::JVC(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    const int64_t size = file.Size();
    if (size < 0) throw EInvalidFormat();
    if (size > 0) {
        HeaderLength = static_cast<int>(size % 256);
        uint8_t header[FieldCount] = {18, 1, 1, 1, 0};
        if (!file.ReadAt(0, header, std::min(HeaderLength, static_cast<int>(FieldCount)))) throw EInvalidFormat();
        Layout.SectorsPerTrack = header[FieldSectorsPerTrack];
        Layout.Sides = header[FieldSides];
        Layout.SizeCode = header[FieldSizeCode];
        Layout.FirstSector = header[FieldFirstSector];
        // Sectors with attribute bytes are a layout this program does not write or read.
        if (header[FieldAttributes] != 0 || Layout.SectorsPerTrack < 1 || Layout.Sides < 1 || Layout.Sides > 2 ||
            Layout.SizeCode > 3 || Layout.FirstSector + Layout.SectorsPerTrack - 1 > 255 ||
            !HoldsTrack(Layout.SectorsPerTrack, Layout.SectorSize(), true)) {
            throw EInvalidFormat();
        }
        const uint64_t payload = static_cast<uint64_t>(size) - HeaderLength;
        const uint64_t trackBytes = static_cast<uint64_t>(Layout.TrackBytes());
        if (payload == 0 || payload % trackBytes != 0 || payload / trackBytes > MaxTrackNumber + 1) {
            throw EInvalidFormat();
        }
        Tracks = static_cast<int>(payload / trackBytes);
        Fixed = true;
    }
    File = std::move(file);
    // A file's tracks are laid out when asked for (a DOS reads its sectors straight from the
    // file, ReadStoredSector); a new image has its empty first track ready.
    if (!Fixed) LoadTrack(0);
}

JVC::~JVC() { FlushBeforeClosing(); }

uint64_t JVC::TrackOffset(int track, int side) const {
    return HeaderLength + (static_cast<uint64_t>(track) * Layout.Sides + side) * Layout.SideBytes();
}

bool JVC::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (!Fixed || track >= Tracks) {
        return false;  // beyond the end of the file: an empty track a formatter can fill
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

void JVC::WriteHeader() {
    const uint8_t header[FieldCount] = {static_cast<uint8_t>(Layout.SectorsPerTrack), static_cast<uint8_t>(Layout.Sides),
                                        static_cast<uint8_t>(Layout.SizeCode),
                                        static_cast<uint8_t>(Layout.FirstSector), 0};
    if (File.WriteAt(0, header, HeaderLength)) HeaderDue = false;
}

bool JVC::Flush() {
    if (!IsTrackDirty()) {
        return true;
    }
    if (!Fixed) {
        return false;  // nothing laid out yet gives the file a geometry
    }
    if (HeaderDue) {
        WriteHeader();
        if (HeaderDue) return false;
    }
    const int track = GetCurrentTrack();
    const int size = Layout.SectorSize();
    std::vector<uint8_t> data(Layout.SideBytes());
    std::vector<uint8_t> sector(SectorBufferSize);
    for (int side = 0; side < Layout.Sides; ++side) {
        std::fill(data.begin(), data.end(), 0);
        for (int i = 0; i < Layout.SectorsPerTrack; ++i) {
            int found = 0;
            uint8_t dam = 0;
            if (ReadSector(track, side, 1, Layout.FirstSector + i, found, dam, sector.data(), false, false)) {
                if (dam != SectorImageDataMark) {
                    return false;  // the file would give the sector back as plain data: refuse rather than change it
                }
                std::memcpy(data.data() + i * size, sector.data(), std::min(found, size));
            }
        }
        if (!File.WriteAt(TrackOffset(track, side), data.data(), data.size())) {
            return false;
        }
    }
    Tracks = std::max(Tracks, track + 1);
    TrackFlushed();
    return true;
}

std::string JVC::SideLoss(const Geometry& geometry, int side, const std::vector<TTrackSector>& sectors) {
    return SectorLayoutLoss(geometry.Sectors(), side, sectors, "JVC");
}

std::string JVC::GeometryOf(const std::array<std::vector<TTrackSector>, 2>& sides, Geometry& geometry) {
    const auto& first = sides[0];
    if (first.empty()) return "side 0 holds no sectors";
    geometry.SectorsPerTrack = static_cast<int>(first.size());
    geometry.Sides = sides[1].empty() ? 1 : 2;
    geometry.SizeCode = std::max(SizeCodeOf(first.front().Size), 0);
    geometry.FirstSector = LowestSectorNumber(first);
    const std::string loss = FirstSideLoss(
        sides, [&geometry](int side, const std::vector<TTrackSector>& sectors) { return SideLoss(geometry, side, sectors); });
    if (!loss.empty()) return loss;
    // The header's length is the file size beyond a multiple of 256, so the tracks must keep to whole multiples.
    if (geometry.TrackBytes() % 256 != 0) return "a track of " + std::to_string(geometry.TrackBytes()) +
                                                 " bytes cannot be stored: JVC tracks are whole multiples of 256 bytes";
    return {};
}

bool JVC::CanStoreLoadedTrack() {
    const std::array<std::vector<TTrackSector>, 2> sides = {ReadTrackSide(0), ReadTrackSide(1)};
    if (!Fixed) {
        Geometry geometry;
        if (!GeometryOf(sides, geometry).empty()) return false;
        // The header says only what differs from the usual geometry, and is as short as that allows.
        const Geometry usual;
        const int fields[] = {geometry.SectorsPerTrack != usual.SectorsPerTrack, geometry.Sides != usual.Sides,
                              geometry.SizeCode != usual.SizeCode, geometry.FirstSector != usual.FirstSector};
        HeaderLength = 0;
        for (int i = 0; i < 4; ++i) {
            if (fields[i]) HeaderLength = i + 1;
        }
        Layout = geometry;
        HeaderDue = HeaderLength > 0;
        Fixed = true;
        return true;
    }
    for (int side = 0; side < 2; ++side) {
        if (!SideLoss(Layout, side, sides[side]).empty()) return false;
    }
    return true;
}

std::optional<bool> JVC::ReadStoredSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                                          uint8_t* buffer) {
    if (!Fixed || (track == GetCurrentTrack() && IsTrackModified())) return std::nullopt;
    if (track < 0 || track >= Tracks || side < 0 || side >= Layout.Sides) return false;
    return ReadSectorOfSide(File, TrackOffset(track, side), Layout.Sectors(), density != 0, sector, size, dam, buffer);
}

int JVC::StoredSectorCount(int side) const {
    return Fixed && side < Layout.Sides && GetCurrentTrack() < Tracks ? Layout.SectorsPerTrack : 0;
}

}  // namespace DiskImage
