// The floppy image base: the loaded track and its two sides, the sector operations
// on it, the kept-track cache, and the rewrite of a whole track that a format
// either stores or refuses.
#include <algorithm>

#include "diskimage/DiskImage.h"

namespace DiskImage {

TFloppyImage::~TFloppyImage() = default;

bool TFloppyImage::IsTrackModified() const {
    return Sides[0].Version() != LoadedVersion[0] || Sides[1].Version() != LoadedVersion[1];
}

bool TFloppyImage::IsTrackDirty() const {
    return Sides[0].Version() != FlushedVersion[0] || Sides[1].Version() != FlushedVersion[1];
}

void TFloppyImage::MarkClean() {
    for (int side = 0; side < 2; ++side) {
        LoadedVersion[side] = FlushedVersion[side] = Sides[side].Version();
    }
}

void TFloppyImage::TrackFlushed() {
    for (int side = 0; side < 2; ++side) {
        FlushedVersion[side] = Sides[side].Version();
    }
}

void TFloppyImage::ClearSides() {
    for (auto& side : Sides) {
        side.Clear(EmptySideCells());
    }
}

bool TFloppyImage::HoldsTrack(int sectors, int size, bool density) const {
    return TRawTrack::UniformLayoutCells(sectors, size, density) <= EmptySideCells();
}

// ---------------------------------------------------------------------------
// Loading, keeping and writing back tracks

TFloppyImage::TrackLoadStart TFloppyImage::BeginLoadTrack(int track) {
    if (IsTrackModified()) {
        KeptTracks.clear();  // the file may change under every kept track
    }
    Flush();
    if (IsTrackDirty()) {
        return TrackLoadStart::Failed;  // keep the unsaved track rather than throw it away
    }
    if (track == CurrentTrack && !IsTrackModified()) {
        return TrackLoadStart::AlreadyLoaded;
    }
    if (track < 0 || track > MaxTrackNumber) {
        return TrackLoadStart::Failed;
    }
    KeepCurrentTrack();
    CurrentTrack = track;
    if (TakeKeptTrack(track)) {
        return TrackLoadStart::AlreadyLoaded;
    }
    ClearSides();
    MarkClean();
    TrackReusable = false;
    return TrackLoadStart::Build;
}

bool TFloppyImage::TrackLoaded() {
    MarkClean();
    TrackReusable = true;
    return true;
}

void TFloppyImage::TrackLoadFailed() {
    ClearSides();
    MarkClean();
    TrackReusable = false;
}

void TFloppyImage::KeepCurrentTrack() {
    if (!TrackReusable || IsTrackModified() || CurrentTrack < 0) {
        return;
    }
    const size_t limit = TracksWorthKeeping();
    if (limit == 0) {
        return;
    }
    if (KeptTracks.size() >= limit) {
        KeptTracks.erase(KeptTracks.begin());
    }
    KeptTrack kept{CurrentTrack, {}};
    // Only the sides with something on them go to the kept track; a blank side stays for
    // the next track. Most disks use one side, and memory a short run never touches is
    // time it never spends.
    for (int side = 0; side < 2; ++side) {
        if (!Sides[side].IsBlank()) {
            kept.Sides[side] = std::move(Sides[side]);
            Sides[side] = TRawTrack(0);
        }
    }
    KeptTracks.push_back(std::move(kept));
}

bool TFloppyImage::TakeKeptTrack(int track) {
    auto found = std::find_if(KeptTracks.begin(), KeptTracks.end(),
                              [track](const KeptTrack& kept) { return kept.Track == track; });
    if (found == KeptTracks.end()) {
        return false;
    }
    for (int side = 0; side < 2; ++side) {
        if (found->Sides[side]) {
            Sides[side] = std::move(*found->Sides[side]);
        } else {
            Sides[side].Clear(EmptySideCells());
        }
    }
    MarkClean();
    TrackReusable = true;
    KeptTracks.erase(found);
    return true;
}

void TFloppyImage::FlushBeforeClosing() noexcept {
    try {
        Flush();
    } catch (...) {
        // only an allocation failure gets here; a destructor must not throw
    }
}

bool TFloppyImage::RewriteTrack(int track, const std::function<bool()>& layOut) {
    LoadTrack(track);
    if (CurrentTrack != track) {
        return false;
    }
    // A copy of the sides carries their versions: putting it back restores the
    // modified and dirty state as well as the cells.
    const auto before = Sides;
    if (!layOut() || !CanStoreLoadedTrack()) {
        Sides = before;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Sector operations

bool TFloppyImage::ReadSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                              uint8_t* buffer, bool ignoreSideField, bool acceptCrcError, bool* crcError) {
    if (side != 0 && side != 1) {
        return false;
    }
    return Sides[side].ReadSector(track, side, density != 0, sector, size, dam, buffer, ignoreSideField,
                                  acceptCrcError, crcError);
}

bool TFloppyImage::WriteSector(int track, int side, int density, int sector, uint8_t dam, const uint8_t* data) {
    if (side != 0 && side != 1) {
        return false;
    }
    return Sides[side].WriteSector(track, side, density != 0, sector, dam, data);
}

bool TFloppyImage::ReadNextSector(CellState& state, int track, int side, int& sector, int& size, uint8_t& dam,
                                  uint8_t* buffer, bool& crcError) {
    if (side != 0 && side != 1) {
        return false;
    }
    state.side = side;
    return Sides[side].ReadNextSector(state, track, sector, size, dam, buffer, crcError);
}

std::vector<TTrackSector> TFloppyImage::ReadTrackSide(int side) {
    return Sides[side & 1].ReadSectors(CurrentTrack);
}

bool TFloppyImage::FormatTrack(int track, int sectorsPerSide, int sides, bool firstSectorIsOne, uint8_t dam,
                               bool density, int interleave) {
    if (track < 0 || track > MaxTrackNumber || sides < 1 || sides > 2 || sectorsPerSide < 1 ||
        !TRawTrack::IsDataMark(dam)) {
        return false;
    }
    // A track the file does not hold yet starts out empty.
    return RewriteTrack(track, [&] {
        for (int side = 0; side < sides; ++side) {
            if (!Sides[side].Format(track, side, sectorsPerSide, firstSectorIsOne, dam, density, interleave)) {
                return false;
            }
        }
        return true;
    });
}

bool TFloppyImage::LayOutTrack(int track, const std::array<std::vector<TTrackSector>, 2>& sides) {
    if (track < 0 || track > MaxTrackNumber) {
        return false;
    }
    return RewriteTrack(track, [&] {
        for (int side = 0; side < 2; ++side) {
            Sides[side].Clear(SideCellsFor(sides[side]));
            if (!Sides[side].LayOut(track, side, sides[side])) {
                return false;
            }
        }
        return true;
    });
}

}  // namespace DiskImage
