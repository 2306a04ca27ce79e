// DMK: stored track sides with their ID pointer tables, turned into raw track
// sides and back.
#include "diskimage/DMK.h"

#include <algorithm>

namespace DiskImage {

namespace {

constexpr uint16_t PointerDoubleDensity = 0x8000;
constexpr uint16_t PointerOffsetMask = 0x3FFF;

struct IDPointer {
    int offset = 0;
    bool density = false;
};

}  // namespace

std::optional<DMK::THeader> DMK::THeader::Parse(const uint8_t* bytes) {
    THeader header;
    header.WriteProtect = bytes[0];
    header.Tracks = bytes[1];
    header.TrackBytes = bytes[2] | (bytes[3] << 8);
    header.Options = bytes[4];
    std::copy(bytes + 5, bytes + 8, header.Reserved.begin());
    const bool zeroTail = std::all_of(bytes + 8, bytes + Size, [](uint8_t b) { return b == 0; });
    if ((header.WriteProtect != Writable && header.WriteProtect != Protected) || !zeroTail ||
        header.TrackBytes > MaxTrackBytes) {
        return std::nullopt;
    }
    return header;
}

std::array<uint8_t, DMK::THeader::Size> DMK::THeader::Encode() const {
    std::array<uint8_t, Size> bytes{};
    bytes[0] = WriteProtect;
    bytes[1] = Tracks;
    bytes[2] = static_cast<uint8_t>(TrackBytes & 0xFF);
    bytes[3] = static_cast<uint8_t>(TrackBytes >> 8);
    bytes[4] = Options;
    std::copy(Reserved.begin(), Reserved.end(), bytes.begin() + 5);
    return bytes;
}

std::vector<uint8_t> DMK::EmptyImage(int trackCells) {
    THeader header;
    header.TrackBytes = std::clamp(PointerTableBytes + trackCells, PointerTableBytes, THeader::MaxTrackBytes);
    const auto bytes = header.Encode();
    return {bytes.begin(), bytes.end()};
}

DMK::DMK(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    uint8_t bytes[THeader::Size];
    std::optional<THeader> header;
    if (!file.ReadAt(0, bytes, sizeof bytes) || !(header = THeader::Parse(bytes))) {
        throw EInvalidFormat();
    }
    Header = *header;
    File = std::move(file);
    if (Header.WriteProtect == THeader::Protected) {
        Flags |= FlagWriteProtected;
    }
    LoadTrack(0);
}

DMK::~DMK() { FlushBeforeClosing(); }

uint64_t DMK::SideOffset(int track, int side) const {
    return THeader::Size + (static_cast<uint64_t>(track) * Header.Sides() + side) * Header.TrackBytes;
}

int DMK::EmptySideCells() const {
    // Single-density bytes stored once take two cells each.
    return Header.SingleDensityOnce() ? 2 * StoredTrackBytes() : StoredTrackBytes();
}

bool DMK::HoldsTrack(int sectors, int size, bool density) const {
    const int cells = density ? StoredTrackBytes() : EmptySideCells();
    return TRawTrack::UniformLayoutCells(sectors, size, density) <= cells;
}

int DMK::StoredSectorCount(int side) const {
    const int track = GetCurrentTrack();
    if (side < 0 || side >= Header.Sides() || track < 0 || track >= Header.Tracks ||
        Header.TrackBytes < PointerTableBytes) {
        return 0;
    }
    uint8_t table[PointerTableBytes];
    if (!File.ReadAt(SideOffset(track, side), table, sizeof table)) {
        return 0;
    }
    int count = 0;
    while (count < MaxPointers && (table[2 * count] | table[2 * count + 1]) != 0) {
        ++count;
    }
    return count;
}

bool DMK::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (track >= Header.Tracks) {
        return TrackLoaded();  // not formatted yet: an empty track
    }
    std::vector<uint8_t> stored(static_cast<size_t>(Header.TrackBytes));
    for (int side = 0; side < Header.Sides(); ++side) {
        if (!File.ReadAt(SideOffset(track, side), stored.data(), stored.size())) {
            TrackLoadFailed();
            return false;
        }
        ConvertStoredSide(stored, RawSide(side));
    }
    return TrackLoaded();
}

// The file keeps no clock information: the address marks are restored from the ID
// pointers and from where the data marks of each sector must lie. The side gets
// exactly the cells the stored bytes make, so that writing it back gives them again.
void DMK::ConvertStoredSide(const std::vector<uint8_t>& stored, TRawTrack& side) const {
    const int length = static_cast<int>(stored.size());
    auto storedByte = [&](int position) -> uint8_t {
        return (position >= 0 && position < length) ? stored[position] : 0;
    };
    const bool singleOnce = Header.SingleDensityOnce();

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

    side.Clear(0);
    side.Reserve(singleOnce ? 2 * length : length);
    // Stored single-density bytes are doubled unless the header says otherwise.
    auto storedStep = [singleOnce](bool doubleDensity) { return (doubleDensity || singleOnce) ? 1 : 2; };
    for (int position = PointerTableBytes; position < length && side.Length() < TRawTrack::MaxCells;) {
        // Up to the next place where a mark may be restored the bytes are copied as they are.
        const bool idPending = current >= 0 && !idPlaced;
        const bool indexPending = !indexDone && position < indexAreaEnd;
        const bool inWindow = windowOpen && position >= windowStart && position <= windowEnd;
        if (!idPending && !indexPending && !inWindow) {
            int runEnd = length;
            if (nextSwitch < count) runEnd = std::min(runEnd, pointers[nextSwitch].offset - 10);
            if (current + 1 < count) runEnd = std::min(runEnd, pointers[current + 1].offset - 5);
            if (windowOpen && position < windowStart) runEnd = std::min(runEnd, windowStart);
            const int step = storedStep(density);
            // A doubled byte whose copy the track has no room for is left to the step below.
            const int bytes = (runEnd - position + step - 1) / step - (step == 2 && runEnd == length && (length - position) % 2);
            if (bytes > 0) {
                side.AppendPlain(stored.data() + position, bytes, step, density);
                position += bytes * step;
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

        // The side has exactly the cells of the stored bytes: a doubled single-density byte
        // whose copy lies past the end takes one cell.
        side.Append(value, density, mark, storedStep(density) == 1 || position + 1 < length);
        position += storedStep(density);
    }
}

std::vector<uint8_t> DMK::BuildStoredSide(const TRawTrack& side) const {
    const int length = Header.TrackBytes;
    const bool singleOnce = Header.SingleDensityOnce();
    std::vector<uint8_t> out(PointerTableBytes, 0);
    out.reserve(static_cast<size_t>(std::max(length, PointerTableBytes + 2 * side.Length())));
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
    side.ForEachByte([&](uint8_t value, bool doubleDensity, bool mark, bool whole) {
        const int output = static_cast<int>(out.size());
        if (doubleDensity) {
            if (value == 0xA1 && mark) {
                ++syncRun;
            } else {
                if (value == 0xFE && syncRun == 3) {
                    addPointer(output, true);
                }
                syncRun = 0;
            }
            out.push_back(value);
        } else {
            if (value == 0xFE && mark) {
                addPointer(output, false);
            }
            syncRun = 0;
            out.push_back(value);
            // A byte cut short by the end of the side has no room for its copy.
            if (!singleOnce && whole) {
                out.push_back(value);
            }
        }
    });
    if (out.size() < static_cast<size_t>(length)) {
        out.resize(static_cast<size_t>(length), 0);
    }
    return out;
}

bool DMK::Flush() {
    const bool dirty = IsTrackDirty();
    const bool readOnly = (Flags & FlagReadOnlyFile) != 0;
    if (dirty && readOnly) {
        return false;
    }
    const int track = GetCurrentTrack();
    bool headerChanged = false;
    if (dirty && track >= Header.Tracks) {
        Header.Tracks = static_cast<uint8_t>(track + 1);
        headerChanged = true;
    }
    const uint8_t protectByte = (Flags & FlagWriteProtected) ? THeader::Protected : THeader::Writable;
    if (Header.WriteProtect != protectByte && !readOnly) {
        Header.WriteProtect = protectByte;
        headerChanged = true;
    }
    if (headerChanged) {
        const auto bytes = Header.Encode();
        File.WriteAt(0, bytes.data(), bytes.size());  // a failure here does not stop the track write
    }
    if (!dirty) {
        return true;
    }
    for (int side = 0; side < Header.Sides(); ++side) {
        std::vector<uint8_t> stored = BuildStoredSide(RawSide(side));
        if (!File.WriteAt(SideOffset(track, side), stored.data(), static_cast<size_t>(Header.TrackBytes))) {
            return false;
        }
    }
    TrackFlushed();
    return true;
}

bool DMK::CanStoreLoadedTrack() {
    // Everything laid out must lie within the stored track length, and a
    // single-sided image has no place for side 1.
    for (int side = 0; side < 2; ++side) {
        if (side >= Header.Sides()) {
            if (!RawSide(side).IsBlank()) {
                return false;
            }
            continue;
        }
        std::vector<uint8_t> stored = BuildStoredSide(RawSide(side));
        auto lastUsed = std::find_if(stored.rbegin(), stored.rend(), [](uint8_t b) { return b != 0; });
        if (stored.rend() - lastUsed > Header.TrackBytes) {
            return false;
        }
    }
    return true;
}

}  // namespace DiskImage
