#include "diskimage/DMK.h"

#include <algorithm>
#include <limits>

namespace DiskImage {

namespace {

constexpr uint16_t PointerDoubleDensity = 0x8000;
constexpr uint16_t PointerOffsetMask = 0x3FFF;

struct IDPointer {
    int offset = 0;
    bool density = false;
};

}  // namespace

DMK::DMK(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    FormatBuffer.assign(HeaderBytes, 0);
    if (!file.ReadAt(0, FormatBuffer.data(), HeaderBytes)) {
        throw EInvalidFormat();
    }
    bool reservedZero = std::all_of(FormatBuffer.begin() + 8, FormatBuffer.end(), [](uint8_t b) { return b == 0; });
    if ((FormatBuffer[0] != 0x00 && FormatBuffer[0] != 0xFF) || !reservedZero ||
        GetStoredTrackLength() > MaxTrackBytes) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    if (FormatBuffer[0] == 0xFF) {
        Flags |= FlagWriteProtected;
    }
    LoadTrack(0);
}

DMK::~DMK() { FlushBeforeClosing(); }

uint64_t DMK::SideOffset(int track, int side) const {
    return HeaderBytes + (static_cast<uint64_t>(track) * GetSides() + side) * GetStoredTrackLength();
}

bool DMK::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (track >= GetStoredTracks()) {
        return TrackLoaded();  // not formatted yet: an empty track
    }
    const int length = GetStoredTrackLength();
    if (length > MaxTrackBytes) {
        return false;
    }
    std::vector<uint8_t> stored(length);
    for (int side = 0; side < GetSides(); ++side) {
        if (!File.ReadAt(SideOffset(track, side), stored.data(), stored.size())) {
            ClearRawTrack();
            TrackModified = false;
            TrackDirty = false;
            return false;
        }
        ConvertStoredSide(stored, side);
    }
    return TrackLoaded();
}

// The file keeps no clock information: the address marks are restored from the ID
// pointers and from where the data marks of each sector must lie.
void DMK::ConvertStoredSide(const std::vector<uint8_t>& stored, int side) {
    const int length = static_cast<int>(stored.size());
    auto storedByte = [&](int position) -> uint8_t {
        return (position >= 0 && position < length) ? stored[position] : 0;
    };
    const bool singleOnce = (FormatBuffer[4] & OptionSingleDensityOnce) != 0;

    std::vector<IDPointer> pointers;
    for (int i = 0; i < MaxPointers; ++i) {
        int value = storedByte(2 * i) | (storedByte(2 * i + 1) << 8);
        if (value == 0) {
            break;
        }
        pointers.push_back(IDPointer{value & PointerOffsetMask, (value & PointerDoubleDensity) != 0});
    }
    const int count = static_cast<int>(pointers.size());

    bool density = pointers.empty() ? !singleOnce : pointers[0].density;
    const int indexAreaEnd = pointers.empty() ? length : pointers[0].offset - 10;
    int nextSwitch = 0;  // next pointer whose density is still to take over
    int current = -1;    // pointer of the ID mark being placed or just placed
    bool idPlaced = false;
    int syncLeft = -1;  // double-density ID: sync cells still to mark
    bool windowOpen = false;
    int windowStart = 0, windowEnd = 0;
    int syncRun = 0;
    bool indexDone = false;
    int indexMarks = 0;

    // Laid as PutCell would lay them, without the CRC and cursor upkeep nobody reads here:
    // a single-density byte lasts two cells, and nothing goes past the end of the raw track.
    Cell* cells = RawTrack[side & 1].data();
    int cell = 0;
    auto lay = [&](Cell laid, bool doubleDensity) {
        for (int copy = 0; copy < (doubleDensity ? 1 : 2) && cell < TrackLength; ++copy) {
            cells[cell++] = laid;
        }
    };
    // Stored single-density bytes are doubled unless the header says otherwise.
    auto storedStep = [singleOnce](bool doubleDensity) { return (doubleDensity || singleOnce) ? 1 : 2; };
    for (int position = PointerTableBytes;;) {
        // Up to the next place where a mark may be restored the bytes are copied as they are.
        const bool idPending = current >= 0 && !idPlaced;
        const bool indexPending = !indexDone && position < indexAreaEnd;
        const bool inWindow = windowOpen && position >= windowStart && position <= windowEnd;
        const int cellsPerByte = density ? 1 : 2;
        if (!idPending && !indexPending && !inWindow && cell + cellsPerByte <= TrackLength) {
            int runEnd = std::numeric_limits<int>::max();
            if (nextSwitch < count) runEnd = std::min(runEnd, pointers[nextSwitch].offset - 10);
            if (current + 1 < count) runEnd = std::min(runEnd, pointers[current + 1].offset - 5);
            if (windowOpen && position < windowStart) runEnd = std::min(runEnd, windowStart);
            if (position < runEnd) {
                const Cell densityBit = density ? CellDoubleDensity : 0;
                for (; position < runEnd && cell + cellsPerByte <= TrackLength; position += storedStep(density)) {
                    lay(static_cast<Cell>(storedByte(position) | densityBit), density);
                }
                if (cell >= TrackLength) {
                    break;
                }
                continue;
            }
        }
        while (nextSwitch < count && position >= pointers[nextSwitch].offset - 10) {
            density = pointers[nextSwitch].density;
            ++nextSwitch;
        }
        if (current + 1 < count && position >= pointers[current + 1].offset - 5) {
            ++current;
            const IDPointer& id = pointers[current];
            const int bytesPer = storedStep(id.density);
            idPlaced = false;
            syncLeft = -1;
            windowOpen = true;
            windowStart = id.offset + 10 * bytesPer;
            windowEnd = id.offset + 50 * bytesPer;
            syncRun = 0;
        }

        uint8_t value = storedByte(position);
        bool mark = false;
        if (current >= 0 && !idPlaced) {
            const IDPointer& id = pointers[current];
            if (!id.density) {
                if (position >= id.offset) {
                    value = 0xFE;
                    mark = true;
                    idPlaced = true;
                }
            } else {
                if (syncLeft < 0 && position >= id.offset - 3) {
                    syncLeft = 3;
                }
                if (syncLeft > 0) {
                    value = 0xA1;
                    mark = true;
                    idPlaced = --syncLeft == 0;
                }
            }
        }
        if (!mark && !indexDone && position < indexAreaEnd) {
            if (!density) {
                if (value == 0xFC) {
                    mark = true;
                    indexDone = true;
                }
            } else if (value == 0xC2) {
                mark = true;
                indexDone = ++indexMarks == 3;
            } else if (indexMarks > 0) {
                indexDone = true;
            }
        }
        if (!mark && idPlaced && windowOpen && position >= windowStart && position <= windowEnd) {
            if (!density) {
                if (value >= 0xF8 && value <= 0xFB) {
                    mark = true;
                    windowOpen = false;
                }
            } else if (value == 0xA1) {
                mark = true;
                ++syncRun;
            } else if (syncRun > 0) {
                // The byte after the sync run (the data mark, or a broken run) ends the search,
                // so 0xA1 bytes among the sector's data stay ordinary data.
                windowOpen = false;
            }
        }

        lay(static_cast<Cell>(value | (density ? CellDoubleDensity : 0) | (mark ? CellMark : 0)), density);
        if (cell >= TrackLength) {
            break;  // the raw track is full
        }
        position += storedStep(density);
    }
    RawTrackChanged();
}

std::vector<uint8_t> DMK::BuildStoredSide(int side) const {
    const int length = GetStoredTrackLength();
    const bool singleOnce = (FormatBuffer[4] & OptionSingleDensityOnce) != 0;
    std::vector<uint8_t> out(std::max(length, PointerTableBytes + TrackLength), 0);
    int output = PointerTableBytes;
    int pointers = 0;
    int syncRun = 0;
    auto addPointer = [&](int offset, bool dd) {
        if (pointers < MaxPointers && offset < length) {
            int value = offset | (dd ? PointerDoubleDensity : 0);
            out[2 * pointers] = static_cast<uint8_t>(value & 0xFF);
            out[2 * pointers + 1] = static_cast<uint8_t>(value >> 8);
            ++pointers;
        }
    };
    const auto& cells = RawTrack[side & 1];
    for (int c = 0; c < TrackLength;) {
        Cell cell = cells[c];
        auto value = static_cast<uint8_t>(cell & 0xFF);
        bool mark = (cell & CellMark) != 0;
        if (cell & CellDoubleDensity) {
            if (value == 0xA1 && mark) {
                ++syncRun;
            } else {
                if (value == 0xFE && syncRun == 3) {
                    addPointer(output, true);
                }
                syncRun = 0;
            }
            out[output++] = value;
            c += 1;
        } else {
            if (value == 0xFE && mark) {
                addPointer(output, false);
            }
            syncRun = 0;
            out[output++] = value;
            // A single-density byte that starts on the last cell has no room for its copy.
            if (!singleOnce && output < static_cast<int>(out.size())) {
                out[output++] = value;
            }
            c += 2;
        }
    }
    return out;
}

bool DMK::Flush() {
    const bool readOnly = (Flags & FlagReadOnlyFile) != 0;
    if (TrackDirty && readOnly) {
        return false;
    }
    bool headerChanged = false;
    if (TrackDirty && CurrentTrack >= GetStoredTracks()) {
        FormatBuffer[1] = static_cast<uint8_t>(CurrentTrack + 1);
        headerChanged = true;
    }
    const uint8_t protectByte = (Flags & FlagWriteProtected) ? 0xFF : 0x00;
    if (FormatBuffer[0] != protectByte && !readOnly) {
        FormatBuffer[0] = protectByte;
        headerChanged = true;
    }
    if (headerChanged) {
        File.WriteAt(0, FormatBuffer.data(), HeaderBytes);  // a failure here does not stop the track write
    }
    if (!TrackDirty) {
        return true;
    }
    const int length = GetStoredTrackLength();
    for (int side = 0; side < GetSides(); ++side) {
        std::vector<uint8_t> stored = BuildStoredSide(side);
        if (!File.WriteAt(SideOffset(CurrentTrack, side), stored.data(), length)) {
            return false;
        }
    }
    TrackDirty = false;
    return true;
}

bool DMK::CanStoreLoadedTrack() {
    // Everything laid out must lie within the stored track length, and a
    // single-sided image has no place for side 1.
    const int length = GetStoredTrackLength();
    for (int side = 0; side < 2; ++side) {
        if (side >= GetSides()) {
            const auto& cells = RawTrack[side];
            if (std::any_of(cells.begin(), cells.begin() + TrackLength, [](Cell c) { return c != 0; })) {
                return false;
            }
            continue;
        }
        std::vector<uint8_t> stored = BuildStoredSide(side);
        auto lastUsed = std::find_if(stored.rbegin(), stored.rend(), [](uint8_t b) { return b != 0; });
        if (stored.rend() - lastUsed > length) {
            return false;
        }
    }
    return true;
}

}  // namespace DiskImage
