#include "diskimage/JV3.h"

#include <algorithm>
#include <array>

namespace DiskImage {

namespace {

constexpr int TotalHeaders = 2 * JV3::HeadersPerBlock;
constexpr uint8_t FlagDoubleDensity = 0x80;
constexpr uint8_t FlagDataMarkFA = 0x20;
constexpr uint8_t FlagSide1 = 0x10;
constexpr uint8_t FlagCrcError = 0x08;
constexpr uint8_t FlagSizeCode = 0x03;
constexpr uint8_t Free = 0xFF;
constexpr int CapacityPerSector = 80;

// Sector sizes by the code of a used header (a free header stores the code inverted).
constexpr std::array<int, 4> SizeByCode = {256, 128, 1024, 512};

// Sectors 1 to 18 lie on the track in this order of their list positions (interleave 3).
constexpr std::array<int, 18> EighteenSectorOrder = {6, 12, 1, 7, 13, 2, 8, 14, 3, 9, 15, 4, 10, 16, 5, 11, 17, 0};

const uint8_t* HeaderAt(const uint8_t* headers, int index) {
    int block = index / JV3::HeadersPerBlock;
    return headers + block * JV3::BlockBytes + (index % JV3::HeadersPerBlock) * 3;
}

uint8_t* HeaderAt(uint8_t* headers, int index) {
    return const_cast<uint8_t*>(HeaderAt(static_cast<const uint8_t*>(headers), index));
}

bool IsFree(const uint8_t* header) { return header[0] == Free && header[1] == Free; }

// A header that places a sector on a track the image can hold.
bool IsListed(const uint8_t* header) { return !IsFree(header) && header[0] <= TFloppyImage::MaxTrackNumber; }

int HeaderSize(const uint8_t* header) {
    int code = header[2] & FlagSizeCode;
    return SizeByCode[IsFree(header) ? code ^ 3 : code];
}

// The used-header size code for a sector size, or -1 when the format has none.
int UsedCodeForSize(int size) {
    auto it = std::find(SizeByCode.begin(), SizeByCode.end(), size);
    return it == SizeByCode.end() ? -1 : static_cast<int>(it - SizeByCode.begin());
}

uint64_t BlockDataBytes(const uint8_t* headers, int block) {
    uint64_t total = 0;
    for (int i = 0; i < JV3::HeadersPerBlock; ++i) {
        total += HeaderSize(HeaderAt(headers, block * JV3::HeadersPerBlock + i));
    }
    return total;
}

// The ways of giving a track's sectors their slots, tried in this order.
struct PlacingWay {
    bool trimFirst;
    bool resizeTail;
};
constexpr PlacingWay PlacingWays[] = {{true, false}, {false, false}, {true, true}};

int HeaderCount(bool secondBlock) { return secondBlock ? TotalHeaders : JV3::HeadersPerBlock; }

// Sector data of one track side is read in one go when it lies this close together.
constexpr uint64_t MaxSpanBytes = 64 * 1024;

}  // namespace

int JV3::SectorCapacityCells(int size, bool density) { return CapacityPerSector + (density ? size : 2 * size); }

bool JV3::CanStoreSize(int size) { return UsedCodeForSize(size) >= 0; }

bool JV3::FitsRawTrack(const uint8_t* headers, int blockCount, int trackLength) {
    std::vector<int> cells(2 * (MaxTrackNumber + 1), CapacityStart);
    for (int i = 0; i < blockCount * HeadersPerBlock; ++i) {
        const uint8_t* header = HeaderAt(headers, i);
        if (!IsListed(header)) {
            continue;
        }
        int size = HeaderSize(header);
        bool dd = (header[2] & FlagDoubleDensity) != 0;
        int& used = cells[header[0] * 2 + ((header[2] & FlagSide1) ? 1 : 0)];
        used += SectorCapacityCells(size, dd);
        if (used > trackLength) {
            return false;
        }
    }
    return true;
}

bool JV3::ListsSectorsWithin(const uint8_t* block, uint64_t fileSize) {
    // Every entry, free or not, has its slot in the data area; a listed sector's data ends
    // where its slot ends.
    uint64_t slotEnd = BlockBytes;
    uint64_t listedEnd = 0;
    for (int entry = 0; entry < HeadersPerBlock; ++entry) {
        const uint8_t* header = block + entry * 3;
        slotEnd += HeaderSize(header);
        if (IsListed(header)) listedEnd = slotEnd;
    }
    return listedEnd > 0 && listedEnd <= fileSize;
}

std::vector<uint8_t> JV3::EmptyImage() { return std::vector<uint8_t>(BlockBytes, Free); }

namespace {

// The cells of one side's sectors when laid out: a 5.25-inch track holds them unless even
// the shorter single-density gaps do not fit, and then an 8-inch track holds them.
int SideCells(int usual, int compact) {
    return (usual <= TRawTrack::FiveInchCells || compact <= TRawTrack::FiveInchCells) ? TRawTrack::FiveInchCells
                                                                                      : JV3::MaxTrackCells;
}

}  // namespace

JV3::JV3(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    if (!file.ReadAt(0, Headers.data(), BlockBytes) || !FitsRawTrack(Headers.data(), 1, MaxTrackCells)) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    if (Headers[WriteProtectOffset] == 0x00) {
        Flags |= FlagWriteProtected;
    }
    uint64_t secondBlockOffset = BlockBytes + BlockDataBytes(Headers.data(), 0);
    int64_t fileSize = File.Size();
    if (fileSize > 0 && static_cast<uint64_t>(fileSize) > secondBlockOffset &&
        File.ReadAt(secondBlockOffset, Headers.data() + BlockBytes, BlockBytes) &&
        FitsRawTrack(Headers.data(), 2, MaxTrackCells)) {
        SecondHeaderBlock = true;
    } else {
        std::fill(Headers.begin() + BlockBytes, Headers.end(), Free);
    }
    LoadTrack(0);
}

JV3::~JV3() { FlushBeforeClosing(); }

void JV3::BuildSectorMap() {
    // Every used header in header order, then grouped by track side with a counting
    // sort, which keeps the header order within each side.
    // Room for just the headers in use: most disks use a few hundred of the thousands.
    std::vector<StoredSector> used;
    std::vector<int> keys;
    const size_t inUse = UsedHeaderCount();
    used.reserve(inUse);
    keys.reserve(inUse);
    uint64_t offset = BlockBytes;
    for (int block = 0; block < (SecondHeaderBlock ? 2 : 1); ++block) {
        if (block == 1) {
            offset += BlockBytes;  // the second block's headers sit between the two data areas
        }
        const uint8_t* header = Headers.data() + block * BlockBytes;
        for (int i = 0; i < HeadersPerBlock; ++i, header += 3) {
            const int size = HeaderSize(header);
            if (IsListed(header)) {
                const uint8_t flags = header[2];
                used.push_back(StoredSector{header[1], size, offset, (flags & FlagDoubleDensity) != 0,
                                            static_cast<uint8_t>((flags & FlagDataMarkFA) ? 0xFA : 0xFB),
                                            (flags & FlagCrcError) != 0});
                keys.push_back(header[0] * 2 + ((flags & FlagSide1) ? 1 : 0));
            }
            offset += size;
        }
    }
    SideStarts.assign(2 * (MaxTrackNumber + 1) + 1, 0);
    for (int key : keys) {
        ++SideStarts[key + 1];
    }
    for (size_t i = 1; i < SideStarts.size(); ++i) {
        SideStarts[i] += SideStarts[i - 1];
    }
    SectorMap.resize(used.size());
    std::vector<int> next(SideStarts.begin(), SideStarts.end() - 1);
    for (size_t i = 0; i < used.size(); ++i) {
        SectorMap[next[keys[i]]++] = used[i];
    }
    SectorMapBuilt = true;
}

size_t JV3::UsedHeaderCount() const {
    size_t count = 0;
    const int headers = (SecondHeaderBlock ? 2 : 1) * HeadersPerBlock;
    for (int i = 0; i < headers; ++i) {
        count += IsListed(HeaderAt(Headers.data(), i)) ? 1 : 0;
    }
    return count;
}

std::span<const JV3::StoredSector> JV3::SideSectors(int track, int side) {
    if (!SectorMapBuilt) {
        BuildSectorMap();
    }
    const int key = track * 2 + side;
    return {SectorMap.begin() + SideStarts[key], SectorMap.begin() + SideStarts[key + 1]};
}

std::vector<JV3::StoredSector> JV3::StoredSectors(int track, int side) {
    const std::span<const StoredSector> sectors = SideSectors(track, side);
    return {sectors.begin(), sectors.end()};
}

// LoadTrack lays a side's sectors out in header order (eighteen numbered in a row are put
// in their interleave, which changes no answer since their numbers differ), so a search
// for a sector meets the first header that names it whose data the file holds; one whose
// data lies past the end of the file is never laid out. A sector stored with a CRC error
// is left to the laid-out track, which answers as a controller does.
std::optional<bool> JV3::ReadStoredSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                                          uint8_t* buffer) {
    if (track == GetCurrentTrack() && IsTrackModified()) return std::nullopt;
    if (track < 0 || track > MaxTrackNumber || side < 0 || side > 1) return false;
    for (const StoredSector& entry : SideSectors(track, side)) {
        if (entry.sector != sector || entry.density != (density != 0)) continue;
        if (entry.crcError) return std::nullopt;
        if (!File.ReadAt(entry.offset, buffer, static_cast<size_t>(entry.size))) continue;
        size = entry.size;
        dam = entry.dam;
        return true;
    }
    return false;
}

// The data of a side's sectors, read in one go when they lie close together. Empty
// when they do not, or when the file ends within them.
std::vector<uint8_t> JV3::ReadSpan(const std::vector<StoredSector>& list, uint64_t& spanStart) {
    spanStart = list.front().offset;
    uint64_t spanEnd = spanStart;
    for (const auto& entry : list) {
        spanStart = std::min(spanStart, entry.offset);
        spanEnd = std::max(spanEnd, entry.offset + entry.size);
    }
    std::vector<uint8_t> span;
    if (spanEnd - spanStart <= MaxSpanBytes) {
        span.resize(spanEnd - spanStart);
        if (!File.ReadAt(spanStart, span.data(), span.size())) {
            span.clear();
        }
    }
    return span;
}

bool JV3::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }

    std::array<std::vector<StoredSector>, 2> sides = {StoredSectors(track, 0), StoredSectors(track, 1)};
    std::vector<uint8_t> data(SectorBufferSize);
    for (int side = 0; side < 2; ++side) {
        auto& list = sides[side];
        if (list.empty()) {
            continue;
        }
        bool consecutive = list.size() == EighteenSectorOrder.size();
        for (size_t i = 1; consecutive && i < list.size(); ++i) {
            consecutive = list[i].sector == list[i - 1].sector + 1;
        }
        if (consecutive) {
            std::vector<StoredSector> reordered;
            for (int position : EighteenSectorOrder) {
                reordered.push_back(list[position]);
            }
            list = std::move(reordered);
        }
        // The header block allows less gap per single-density sector than the usual
        // layout takes; such a track gets shorter gaps after its sectors so it still fits.
        int cells = TRawTrack::TrackStartCells(list.front().density);
        int compactCells = cells;
        for (const auto& entry : list) {
            cells += TRawTrack::FormattedSectorCells(entry.size, entry.density);
            compactCells += TRawTrack::FormattedSectorCells(entry.size, entry.density, true);
        }
        TRawTrack& raw = RawSide(side);
        raw.Clear(SideCells(cells, compactCells));
        const bool compact = cells > raw.Length();

        uint64_t spanStart = 0;
        const std::vector<uint8_t> span = ReadSpan(list, spanStart);
        CellState state;
        state.density = list.front().density;
        raw.WriteTrackStart(state);
        for (const auto& entry : list) {
            state.density = entry.density;
            const uint8_t* sectorData = span.empty() ? nullptr : span.data() + (entry.offset - spanStart);
            if (!sectorData) {
                if (!File.ReadAt(entry.offset, data.data(), entry.size)) {
                    continue;  // the file ends before this sector's data
                }
                sectorData = data.data();
            }
            raw.WriteFormattedSector(state, track, side, entry.sector, entry.size, entry.dam, sectorData,
                                     entry.crcError, compact);
        }
        raw.FillTrackEnd(state);
    }
    return TrackLoaded();
}

std::vector<JV3::FoundSector> JV3::CollectTrackSectors() {
    std::vector<FoundSector> found;
    std::vector<uint8_t> buffer(SectorBufferSize);
    for (int side = 0; side < 2; ++side) {
        for (bool density : {false, true}) {
            CellState state;
            state.side = side;
            state.density = density;
            int sector = 0, size = 0;
            uint8_t dam = 0;
            bool crcError = false;
            while (RawSide(side).ReadNextSector(state, GetCurrentTrack(), sector, size, dam, buffer.data(), crcError)) {
                FoundSector entry;
                entry.sector = sector;
                entry.size = size;
                entry.flags = static_cast<uint8_t>((density ? FlagDoubleDensity : 0) | (side ? FlagSide1 : 0) |
                                                   (dam != 0xFB ? FlagDataMarkFA : 0) | (crcError ? FlagCrcError : 0));
                entry.data.assign(buffer.begin(), buffer.begin() + size);
                found.push_back(std::move(entry));
            }
        }
    }
    return found;
}

uint64_t JV3::DataOffset(const std::vector<uint8_t>& headers, int header) const {
    uint64_t offset = BlockBytes;
    int first = 0;
    if (header >= HeadersPerBlock) {
        offset += BlockDataBytes(headers.data(), 0) + BlockBytes;
        first = HeadersPerBlock;
    }
    for (int i = first; i < header; ++i) {
        offset += HeaderSize(HeaderAt(headers.data(), i));
    }
    return offset;
}

// Gives every sector of the loaded track a header slot of its size. Works on copies
// so that a track that does not fit leaves the image untouched.
bool JV3::PlaceSectors(std::vector<uint8_t>& headers, bool& secondBlock, const std::vector<FoundSector>& sectors,
                       bool trimFirst, bool resizeTail, std::vector<Placement>& placements) const {
    const int currentTrack = GetCurrentTrack();
    uint8_t* table = headers.data();
    for (int i = 0; i < HeaderCount(secondBlock); ++i) {
        uint8_t* header = HeaderAt(table, i);
        if (!IsFree(header) && header[0] == currentTrack) {
            header[0] = Free;
            header[1] = Free;
            header[2] = static_cast<uint8_t>((header[2] & FlagSizeCode) ^ 3);  // a free slot keeps its size
        }
    }
    // Trailing free slots become plain 256-byte slots; when the whole second block is
    // free it is dropped.
    auto trim = [&] {
        for (int i = HeaderCount(secondBlock) - 1; i >= 0; --i) {
            uint8_t* header = HeaderAt(table, i);
            if (!IsFree(header)) {
                break;
            }
            header[2] = Free;
            if (i == HeadersPerBlock) {
                secondBlock = false;
            }
        }
    };
    auto findSlot = [&](int size) {
        for (int i = 0; i < TotalHeaders; ++i) {
            if (i == HeadersPerBlock && !secondBlock) {
                std::fill(headers.begin() + BlockBytes, headers.end(), Free);
                secondBlock = true;
            }
            const uint8_t* header = HeaderAt(table, i);
            if (IsFree(header) && HeaderSize(header) == size) {
                return i;
            }
        }
        // Last resort, no freed slot of this size: the first slot of the free tail can take any size,
        // since resizing it moves only the data of free slots after it. Without this a
        // new image could never receive a sector of 128, 512 or 1024 bytes.
        int tail = HeaderCount(secondBlock);
        while (tail > 0 && IsFree(HeaderAt(table, tail - 1))) {
            --tail;
        }
        if (!resizeTail || tail >= TotalHeaders || UsedCodeForSize(size) < 0) {
            return -1;
        }
        HeaderAt(table, tail)[2] = static_cast<uint8_t>(UsedCodeForSize(size) ^ 3);
        return tail;
    };

    if (trimFirst) {
        trim();
    }
    for (const auto& sector : sectors) {
        int code = UsedCodeForSize(sector.size);
        int slot = code < 0 ? -1 : findSlot(sector.size);
        if (slot < 0) {
            return false;
        }
        uint8_t* header = HeaderAt(table, slot);
        header[0] = static_cast<uint8_t>(currentTrack);
        header[1] = static_cast<uint8_t>(sector.sector);
        header[2] = static_cast<uint8_t>(code | sector.flags);
        placements.push_back(Placement{slot, &sector});
    }
    if (!trimFirst) {
        trim();
    }
    // The stored table must pass the test the next open applies.
    return FitsRawTrack(table, secondBlock ? 2 : 1, MaxTrackCells);
}

bool JV3::CanStoreLoadedTrack() {
    auto sectors = CollectTrackSectors();
    for (const auto& way : PlacingWays) {
        std::vector<uint8_t> headers = Headers;
        bool secondBlock = SecondHeaderBlock;
        std::vector<Placement> placements;
        if (PlaceSectors(headers, secondBlock, sectors, way.trimFirst, way.resizeTail, placements)) {
            return true;
        }
    }
    return false;
}

bool JV3::Flush() {
    const bool dirty = IsTrackDirty();
    const bool readOnly = (Flags & FlagReadOnlyFile) != 0;
    if (dirty && readOnly) {
        return false;
    }
    const bool hadSecondBlock = SecondHeaderBlock;
    if (dirty) {
        auto sectors = CollectTrackSectors();
        std::vector<uint8_t> headers;
        bool secondBlock = false;
        std::vector<Placement> placements;
        // Trailing slots are trimmed before placing; when that would leave a sector
        // without a slot of its size (the last track of a disk of 512-byte sectors,
        // say), place first and trim afterwards. A sector is never dropped: when
        // neither way finds room, the first free slot of the tail is resized to the sector
        // (a new image has only 256-byte slots); failing that too, the flush fails and
        // the file keeps the old track.
        bool placed = false;
        for (const auto& way : PlacingWays) {
            headers = Headers;
            secondBlock = SecondHeaderBlock;
            placements.clear();
            if (PlaceSectors(headers, secondBlock, sectors, way.trimFirst, way.resizeTail, placements)) {
                placed = true;
                break;
            }
        }
        if (!placed) {
            return false;
        }
        Headers = std::move(headers);
        SecondHeaderBlock = secondBlock;
        SectorMapBuilt = false;
        for (const auto& placement : placements) {
            const auto& data = placement.source->data;
            if (!File.WriteAt(DataOffset(Headers, placement.header), data.data(), data.size())) {
                return false;
            }
        }
    }

    bool headerChanged = false;
    const bool protectedFlag = (Flags & FlagWriteProtected) != 0;
    // Only 0x00 protects (as the constructor reads it): any other byte is left as the file has
    // it until the state really changes, so that a flush with nothing to say writes nothing.
    const bool protectedByte = Headers[WriteProtectOffset] == 0x00;
    if (protectedFlag != protectedByte && !readOnly) {
        Headers[WriteProtectOffset] = protectedFlag ? 0x00 : 0xFF;
        headerChanged = true;
    }
    if (dirty || headerChanged) {
        if (!File.WriteAt(0, Headers.data(), BlockBytes)) {
            return false;
        }
    }
    if (!dirty) {
        return true;  // every step below is for a changed track
    }
    const uint64_t secondBlockOffset = BlockBytes + BlockDataBytes(Headers.data(), 0);
    if (SecondHeaderBlock) {
        if (!File.WriteAt(secondBlockOffset, Headers.data() + BlockBytes, BlockBytes)) {
            return false;
        }
    }
    if (hadSecondBlock && !SecondHeaderBlock) {
        // A dropped second block must not come back from the file at the next open.
        int64_t size = File.Size();
        if (size > 0 && static_cast<uint64_t>(size) > secondBlockOffset && !File.Truncate(secondBlockOffset)) {
            return false;
        }
    }
    TrackFlushed();
    return true;
}

int JV3::StoredSectorCount(int side) const {
    const int track = GetCurrentTrack();
    int count = 0;
    for (int i = 0; i < HeaderCount(SecondHeaderBlock); ++i) {
        const uint8_t* header = HeaderAt(Headers.data(), i);
        count += !IsFree(header) && header[0] == track && ((header[2] & FlagSide1) ? 1 : 0) == side;
    }
    return count;
}

bool JV3::HoldsTrack(int sectors, int size, bool density) const {
    return CanStoreSize(size) && CapacityStart + sectors * SectorCapacityCells(size, density) <= MaxTrackCells;
}

int JV3::SideCellsFor(const std::vector<TTrackSector>& sectors) const {
    return SideCells(TRawTrack::LayoutCells(sectors, false), TRawTrack::LayoutCells(sectors, true));
}

}  // namespace DiskImage
