#include "diskimage/JV1.h"

#include <algorithm>
#include <cstring>

namespace DiskImage {

namespace {

// Physical order of the ten sectors on a track: interleave 2.
constexpr int PhysicalOrder[JV1::SectorsPerTrack] = {0, 5, 1, 6, 2, 7, 3, 8, 4, 9};
constexpr int DirectoryTrack = 17;

uint8_t DataMarkForTrack(int track) { return track == DirectoryTrack ? 0xFA : 0xFB; }

}  // namespace

bool JV1::HasSignature(const uint8_t* bytes) { return bytes[0] == 0x00 && (bytes[1] == 0xFE || bytes[1] == 0x1E); }

std::vector<uint8_t> JV1::EmptyImage() {
    std::vector<uint8_t> image(TrackBytes, 0x00);
    image[1] = 0xFE;
    return image;
}

JV1::JV1(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    uint8_t first[SectorSize];
    if (!file.ReadAt(0, first, sizeof first) || !HasSignature(first)) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    LoadTrack(0);
}

JV1::~JV1() { FlushBeforeClosing(); }

bool JV1::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (!File.ReadAt(static_cast<uint64_t>(track) * TrackBytes, TrackData.data(), TrackBytes)) {
        return false;  // beyond the end of the file: an empty track a formatter can fill
    }
    TRawTrack& side = RawSide(0);
    CellState state;
    state.density = false;
    side.WriteTrackStart(state);
    for (int sector : PhysicalOrder) {
        side.WriteFormattedSector(state, track, 0, sector, SectorSize, DataMarkForTrack(track),
                                  TrackData.data() + sector * SectorSize, false);
    }
    side.FillTrackEnd(state);
    return TrackLoaded();
}

bool JV1::Flush() {
    if (!IsTrackDirty()) {
        return true;
    }
    const int track = GetCurrentTrack();
    std::fill(TrackData.begin(), TrackData.end(), 0);
    std::vector<uint8_t> sector(SectorBufferSize);
    for (int s = 0; s < SectorsPerTrack; ++s) {
        int size = 0;
        uint8_t dam = 0;
        if (ReadSector(track, 0, 0, s, size, dam, sector.data(), false, false)) {
            std::memcpy(TrackData.data() + s * SectorSize, sector.data(), std::min(size, SectorSize));
        }
    }
    if (track == 0 && !HasSignature(TrackData.data())) {
        // The image must stay recognisable as JV1.
        TrackData[0] = 0x00;
        TrackData[1] = 0xFE;
    }
    if (!File.WriteAt(static_cast<uint64_t>(track) * TrackBytes, TrackData.data(), TrackBytes)) {
        return false;
    }
    TrackFlushed();
    return true;
}

bool JV1::CanStoreLoadedTrack() {
    // Only single-density, side-0, 256-byte sectors numbered 0 to 9 have a place in the file.
    for (int side = 0; side < 2; ++side) {
        for (int density = 0; density < 2; ++density) {
            CellState state;
            state.density = density != 0;
            std::vector<uint8_t> buffer(SectorBufferSize);
            int sector = 0, size = 0;
            uint8_t dam = 0;
            bool crcError = false;
            while (RawSide(side).ReadNextSector(state, GetCurrentTrack(), sector, size, dam, buffer.data(), crcError)) {
                if (side != 0 || density != 0 || sector >= SectorsPerTrack || size != SectorSize) {
                    return false;
                }
            }
        }
    }
    return true;
}

int JV1::StoredSectorCount(int side) const {
    const int64_t size = File.Size();
    const bool inFile = size >= 0 && static_cast<uint64_t>(GetCurrentTrack() + 1) * TrackBytes <= static_cast<uint64_t>(size);
    return side == 0 && inFile ? SectorsPerTrack : 0;
}

}  // namespace DiskImage
