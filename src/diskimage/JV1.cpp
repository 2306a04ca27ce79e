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

JV1::JV1(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    uint8_t first[SectorSize];
    if (!file.ReadAt(0, first, sizeof first) || !HasSignature(first)) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    FormatBuffer.assign(TrackBytes, 0);
    LoadTrack(0);
}

JV1::~JV1() { FlushBeforeClosing(); }

bool JV1::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (!File.ReadAt(static_cast<uint64_t>(track) * TrackBytes, FormatBuffer.data(), TrackBytes)) {
        return false;  // beyond the end of the file: an empty track a formatter can fill
    }
    CellState state;
    state.side = 0;
    state.density = false;
    WriteTrackStart(state);
    for (int sector : PhysicalOrder) {
        WriteFormattedSector(state, track, 0, sector, SectorSize, DataMarkForTrack(track),
                             FormatBuffer.data() + sector * SectorSize, false);
    }
    FillTrackEnd(state);
    return TrackLoaded();
}

bool JV1::Flush() {
    if (!TrackDirty) {
        return true;
    }
    std::fill(FormatBuffer.begin(), FormatBuffer.end(), 0);
    std::vector<uint8_t> sector(SectorBufferSize);
    for (int s = 0; s < SectorsPerTrack; ++s) {
        int size = 0;
        uint8_t dam = 0;
        if (ReadSector(CurrentTrack, 0, 0, s, size, dam, sector.data(), false, false)) {
            std::memcpy(FormatBuffer.data() + s * SectorSize, sector.data(), std::min(size, SectorSize));
        }
    }
    if (CurrentTrack == 0 && !HasSignature(FormatBuffer.data())) {
        // The image must stay recognisable as JV1.
        FormatBuffer[0] = 0x00;
        FormatBuffer[1] = 0xFE;
    }
    if (!File.WriteAt(static_cast<uint64_t>(CurrentTrack) * TrackBytes, FormatBuffer.data(), TrackBytes)) {
        return false;
    }
    TrackDirty = false;
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
            while (ReadNextSector(state, CurrentTrack, side, sector, size, dam, buffer.data(), crcError)) {
                if (side != 0 || density != 0 || sector >= SectorsPerTrack || size != SectorSize) {
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace DiskImage
