// The emulated raw track side: every floppy sector is found, read, written and
// formatted here the way a WD1771/WD1791 controller would do it.
#include <algorithm>
#include <cstring>

#include "diskimage/RawTrack.h"

namespace DiskImage {

namespace {

constexpr uint16_t SingleDensityPreset = 0xFFFF;
constexpr uint16_t DoubleDensityPreset = 0xCDB4;  // after three 0xA1 sync bytes
constexpr uint16_t SyncBytePreset = 0x968B;       // gives 0xCDB4 once 0xA1 is added
constexpr int SingleDensityDataMarkLimit = 30;
constexpr int DoubleDensityDataMarkLimit = 43;

uint16_t MarkPreset(bool density) { return density ? DoubleDensityPreset : SingleDensityPreset; }

int DataMarkLimit(bool density) { return density ? DoubleDensityDataMarkLimit : SingleDensityDataMarkLimit; }

int SizeCodeFor(int size) {
    if (size < 128) {
        return 1;
    }
    int code = 0;
    for (int rest = size / 256; rest != 0; rest >>= 1) {
        ++code;
    }
    return code;
}

// FindIDMark looks at cells this many at a time to pass over those without a mark.
constexpr int SkipBlock = 16;
// Four cells to a 64-bit word: a lane of the masked cells XOR the wanted cell is zero
// exactly where a cell is the wanted one, and lanes below 0x400 make the zero test exact.
bool AnyCellIs(const Cell* cells, Cell wanted) {
    constexpr uint64_t Lanes = 0x0001000100010001;
    const uint64_t mask = Lanes * (CellDoubleDensity | CellMark | 0xFF);
    const uint64_t pattern = Lanes * wanted;
    uint64_t zeroLanes = 0;
    for (int i = 0; i < SkipBlock; i += 4) {
        uint64_t word;
        std::memcpy(&word, cells + i, sizeof word);
        const uint64_t difference = (word & mask) ^ pattern;
        zeroLanes |= (difference - Lanes) & ~difference & (Lanes << 15);
    }
    return zeroLanes != 0;
}

// Bytes around the data of one formatted sector, see WriteFormattedSector.
constexpr int SingleDensityOverhead = 6 + 1 + 4 + 2 + 11 + 6 + 1 + 2 + 14;
constexpr int DoubleDensityOverhead = 12 + 3 + 1 + 4 + 2 + 22 + 12 + 3 + 1 + 2 + 1 + 17;
constexpr int SingleDensityTrailingGap = 14;
constexpr int CompactTrailingGap = 7;

}  // namespace

bool TRawTrack::PutCells(CellState& state, const uint8_t* bytes, int count) {
    const int cellsPerByte = state.density ? 1 : 2;
    if (count <= 0 || state.position < 0 || state.position + count * cellsPerByte > Length()) {
        for (int i = 0; i < count; ++i) {
            if (!PutCell(state, bytes[i])) {
                return false;
            }
        }
        return true;
    }
    // All of it fits: the same cells and CRC as PutCell byte by byte, without its checks.
    Changed();
    const Cell densityBit = state.density ? CellDoubleDensity : 0;
    Cell* cells = Cells.data() + state.position;
    for (int i = 0; i < count; ++i) {
        Cell cell = static_cast<Cell>(bytes[i] | densityBit | (i == 0 && state.mark ? CellMark : 0));
        cells[i * cellsPerByte] = cell;
        if (cellsPerByte == 2) {
            cells[i * 2 + 1] = cell;
        }
    }
    state.crc = Crc16(bytes, static_cast<size_t>(count), state.crc);
    state.position += count * cellsPerByte;
    state.count += count;
    state.mark = false;
    return true;
}

bool TRawTrack::WriteTrackByte(CellState& state, uint8_t byte) {
    state.mark = false;
    if (byte == 0xF7) {
        uint16_t crc = state.crc;
        bool ok = PutCell(state, static_cast<uint8_t>(crc >> 8));
        ok = ok && PutCell(state, static_cast<uint8_t>(crc & 0xFF));
        state.crc = crc;
        return ok;
    }
    if (state.density) {
        if (byte == 0xF5) {
            state.crc = SyncBytePreset;
            state.mark = true;
            return PutCell(state, 0xA1);
        }
        if (byte == 0xF6) {
            state.mark = true;
            return PutCell(state, 0xC2);
        }
    } else {
        if (IsDataMark(byte) || byte == 0xFE) {
            state.crc = SingleDensityPreset;
            state.mark = true;
        } else if (byte == 0xFC) {
            state.mark = true;
        }
    }
    return PutCell(state, byte);
}

void TRawTrack::WriteTrackStart(CellState& state) {
    state.position = 0;
    int count = state.density ? 20 : 14;
    uint8_t filler = state.density ? 0x4E : 0xFF;
    for (int i = 0; i < count; ++i) {
        WriteTrackByte(state, filler);
    }
}

bool TRawTrack::PutRun(CellState& state, uint8_t byte, int count) {
    constexpr int Chunk = 32;
    uint8_t run[Chunk];
    std::fill_n(run, Chunk, byte);
    bool ok = true;
    for (int done = 0; done < count && ok; done += Chunk) {
        ok = PutCells(state, run, std::min(Chunk, count - done));
    }
    return ok;
}

void TRawTrack::FillTrackEnd(CellState& state) {
    uint8_t filler = state.density ? 0xFE : 0xFF;
    if (state.position >= Length()) {
        return;
    }
    if (state.position < 0) {
        PutCell(state, filler);  // refused: the cursor goes back to the start
        return;
    }
    const int cellsPerByte = state.density ? 1 : 2;
    const int cellsLeft = Length() - state.position;
    // A single-density byte that starts on the last cell still takes it.
    if (PutRun(state, filler, cellsLeft / cellsPerByte) && cellsLeft % cellsPerByte != 0) {
        PutCell(state, filler);
    }
}

int TRawTrack::FormattedSectorCells(int size, bool density, bool compact) {
    if (density) {
        return DoubleDensityOverhead + size;
    }
    int overhead = SingleDensityOverhead - (compact ? SingleDensityTrailingGap - CompactTrailingGap : 0);
    return 2 * (overhead + size);
}

bool TRawTrack::WriteFormattedSector(CellState& state, int track, int side, int sector, int size,
                                        uint8_t dam, const uint8_t* data, bool crcError, bool compact) {
    size = std::clamp(size, 0, SectorBufferSize);
    const bool dd = state.density;
    // Once a write runs off the end the cursor is back at cell 0: stop rather than
    // overwrite the start of the track.
    bool ok = true;
    auto put = [&](uint8_t byte) { ok = ok && PutCell(state, byte); };
    auto control = [&](uint8_t byte) { ok = ok && WriteTrackByte(state, byte); };
    auto repeat = [&](int count, uint8_t byte) {
        if (byte == 0xF5) {  // sync bytes, each one an address mark
            for (int i = 0; i < count && ok; ++i) {
                control(byte);
            }
        } else if (ok) {  // gap bytes: plain data, as WriteTrackByte lays them
            state.mark = false;
            ok = PutRun(state, byte, count);
        }
    };

    repeat(dd ? 12 : 6, 0x00);
    if (dd) {
        repeat(3, 0xF5);
    }
    control(0xFE);
    // The ID bytes are plain data: a sector numbered 0xF7 must not turn into CRC bytes.
    put(static_cast<uint8_t>(track));
    put(static_cast<uint8_t>(side));
    put(static_cast<uint8_t>(sector));
    put(static_cast<uint8_t>(SizeCodeFor(size)));
    control(0xF7);
    repeat(dd ? 22 : 11, dd ? 0x4E : 0xFF);
    repeat(dd ? 12 : 6, 0x00);
    if (dd) {
        repeat(3, 0xF5);
    }
    control(dam);
    if (data) {
        ok = ok && PutCells(state, data, size);
    } else {
        for (int i = 0; i < size && ok; ++i) {
            put(dd ? ((i & 1) ? 0x6D : 0xB6) : 0xE5);
        }
    }
    if (crcError) {
        put(0x00);
        put(0x00);
    } else {
        control(0xF7);
    }
    if (dd) {
        repeat(1, 0xFF);
        repeat(17, 0x4E);
    } else {
        repeat(compact ? CompactTrailingGap : SingleDensityTrailingGap, 0xFF);
    }
    return ok;
}

// The same search as reading the track byte by byte with ReadTrackByte, a CRC
// restart before every byte, but over the cells directly: every sector read and every
// index of a track side walks whole revolutions through here.
bool TRawTrack::FindIDMark(CellState& state) {
    const Cell* cells = Cells.data();
    const int step = state.density ? 1 : 2;
    const Cell densityBit = state.density ? CellDoubleDensity : 0;
    // A cell of this density with its value and mark bits, as ReadTrackByte sees it.
    constexpr Cell Seen = CellDoubleDensity | CellMark | 0xFF;
    const Cell idMark = static_cast<Cell>(densityBit | CellMark | 0xFE);
    const Cell syncMark = static_cast<Cell>(CellDoubleDensity | CellMark | 0xA1);
    // Where no sync byte (double density) or ID mark (single) lies, no ID mark can start.
    const Cell blockMark = state.density ? syncMark : idMark;
    int syncCount = 0;
    for (;;) {
        int position = state.position;
        int read = 0;
        if (position >= 0) {
            for (; position + step <= Length(); position += step) {
                // Most of a track is gaps and data: pass over cells with nothing to start a mark.
                if (syncCount == 0 && position + SkipBlock <= Length() && !AnyCellIs(cells + position, blockMark)) {
                    read += SkipBlock / step;
                    position += SkipBlock - step;
                    continue;
                }
                ++read;
                const Cell cell = cells[position] & Seen;
                if (!state.density) {
                    if (cell == idMark) {
                        return IDMarkFound(state, position, read);
                    }
                    continue;
                }
                if (cell == syncMark) {
                    ++syncCount;
                    continue;
                }
                const bool found = (cell & ~CellMark) == (CellDoubleDensity | 0xFE) && syncCount == 3;
                syncCount = 0;
                if (found) {
                    return IDMarkFound(state, position, read);
                }
            }
        }
        // The end of the revolution, where ReadTrackByte would have failed.
        if (read > 0) {
            const Cell last = cells[position - step];
            state.value = (last & CellDoubleDensity) == densityBit ? static_cast<uint8_t>(last & 0xFF) : 0;
        }
        state.count += read;
        state.crc = MarkPreset(state.density);
        WrapCursor(state);
        if (state.passes <= 0) {
            return false;
        }
        syncCount = 0;
    }
}

bool TRawTrack::IDMarkFound(CellState& state, int position, int bytesRead) {
    const Cell cell = Cells[static_cast<size_t>(position)];
    state.value = 0xFE;
    state.mark = (cell & CellMark) != 0;
    state.crc = CrcStep(MarkPreset(state.density), 0xFE);
    state.position = position + (state.density ? 1 : 2);
    state.count += bytesRead;
    return true;
}

bool TRawTrack::ReadIDField(CellState& state, uint8_t id[6]) {
    for (int i = 0; i < 6; ++i) {
        if (!ReadTrackByte(state)) {
            return false;
        }
        id[i] = state.value;
    }
    return true;
}

bool TRawTrack::FindDataMark(CellState& state, int limit, uint8_t& dam) {
    int syncCount = 0;
    for (int i = 0; i < limit; ++i) {
        state.crc = MarkPreset(state.density);
        if (!ReadTrackByte(state)) {
            return false;
        }
        if (!state.density) {
            if (state.mark && IsDataMark(state.value)) {
                dam = state.value;
                return true;
            }
            continue;
        }
        if (state.value == 0xA1 && state.mark) {
            ++syncCount;
            continue;
        }
        bool found = syncCount == 3 && IsDataMark(state.value);
        syncCount = 0;
        if (found) {
            dam = state.value;
            return true;
        }
    }
    return false;
}

bool TRawTrack::ReadDataField(CellState& state, int length, uint8_t* buffer) {
    const int bytes = length + 2;  // the data, then its two CRC bytes
    const int step = state.density ? 1 : 2;
    if (length < 0 || state.position < 0 || state.position + bytes * step > Length()) {
        for (int i = 0; i < bytes; ++i) {
            if (!ReadTrackByte(state)) {
                return false;
            }
            if (i < length) {
                buffer[i] = state.value;
            }
        }
        return true;
    }
    // All of it lies on the track: ReadTrackByte's result byte by byte, without its checks.
    const Cell* cells = Cells.data() + state.position;
    const Cell densityBit = state.density ? CellDoubleDensity : 0;
    auto valueOf = [densityBit](Cell cell) {
        return (cell & CellDoubleDensity) == densityBit ? static_cast<uint8_t>(cell & 0xFF) : uint8_t{0};
    };
    for (int i = 0; i < length; ++i) {
        buffer[i] = valueOf(cells[i * step]);
    }
    uint16_t crc = Crc16(buffer, static_cast<size_t>(length), state.crc);
    crc = CrcStep(crc, valueOf(cells[length * step]));
    const Cell cell = cells[(length + 1) * step];
    const uint8_t value = valueOf(cell);
    crc = CrcStep(crc, value);
    state.value = value;
    state.mark = (cell & CellDoubleDensity) == densityBit && (cell & CellMark) != 0;
    state.crc = crc;
    state.position += bytes * step;
    state.count += bytes;
    return true;
}

TRawTrack::TRawTrack(int length) : Cells(static_cast<size_t>(std::clamp(length, 0, MaxCells)), Cell{0}) {}

void TRawTrack::Clear(int length) {
    const size_t cells = static_cast<size_t>(std::clamp(length, 0, MaxCells));
    if (Cells.size() == cells) {
        std::fill(Cells.begin(), Cells.end(), Cell{0});
    } else {
        Cells.assign(cells, Cell{0});
    }
    Changed();
}

// All cells are 0 when the first one is and each equals the next: one library compare,
// which takes many cells a step, instead of a loop that stops at every cell.
bool TRawTrack::IsBlank() const {
    return Cells.empty() ||
           (Cells[0] == 0 && std::memcmp(Cells.data(), Cells.data() + 1, (Cells.size() - 1) * sizeof(Cell)) == 0);
}

void TRawTrack::Set(int position, Cell cell) {
    if (position >= 0 && position < Length()) {
        Cells[static_cast<size_t>(position)] = cell;
        Changed();
    }
}

void TRawTrack::Append(uint8_t value, bool density, bool mark, bool whole) {
    const Cell cell = static_cast<Cell>(value | (density ? CellDoubleDensity : 0) | (mark ? CellMark : 0));
    for (int copy = 0; copy < (density || !whole ? 1 : 2) && Length() < MaxCells; ++copy) {
        Cells.push_back(cell);
    }
    Changed();
}

void TRawTrack::AppendPlain(const uint8_t* bytes, int count, int stride, bool density) {
    const int cellsPerByte = density ? 1 : 2;
    count = std::clamp(count, 0, (MaxCells - Length() + cellsPerByte - 1) / cellsPerByte);
    const Cell densityBit = density ? CellDoubleDensity : 0;
    size_t at = Cells.size();
    Cells.resize(std::min<size_t>(at + static_cast<size_t>(count * cellsPerByte), MaxCells));
    for (int i = 0; i < count; ++i) {
        const Cell cell = static_cast<Cell>(bytes[static_cast<ptrdiff_t>(i) * stride] | densityBit);
        for (int copy = 0; copy < cellsPerByte && at < Cells.size(); ++copy) {
            Cells[at++] = cell;
        }
    }
    Changed();
}

int TRawTrack::TrackStartCells(bool density) { return density ? 20 : 2 * 14; }

std::vector<TRawTrack::IDFieldSeen>& TRawTrack::IDFields(bool density) {
    if (IndexVersion != Changes) {
        Index = {};
        IndexVersion = Changes;
    }
    SectorIndex& index = Index[density ? 1 : 0];
    if (!index.Built) {
        // The same steps as the scan in ReadSector, over the whole revolution.
        CellState state;
        state.density = density;
        state.passes = 1;
        while (state.passes > 0 && FindIDMark(state)) {
            IDFieldSeen field;
            if (ReadIDField(state, field.Id)) {
                field.After = state;
                index.Fields.push_back(field);
            }
        }
        index.Built = true;
    }
    return index.Fields;
}

bool TRawTrack::ReadSector(int track, int side, bool density, int sector, int& size, uint8_t& dam,
                           uint8_t* buffer, bool ignoreSideField, bool acceptCrcError, bool* crcError) {
    if (buffer == nullptr) {
        return false;
    }
    const SectorWanted wanted{track, side, sector, ignoreSideField};
    // Every search from the start of the track meets the same ID fields up to the
    // first one it wants; from there on it is the controller's own search.
    for (IDFieldSeen& field : IDFields(density)) {
        if (!wanted(field.After, field.Id)) {
            continue;
        }
        ReadKept& kept = field.LastRead;
        if (kept.Valid && kept.Wanted == wanted && kept.AcceptCrcError == acceptCrcError) {
            std::copy(kept.Data.begin(), kept.Data.end(), buffer);
            size = static_cast<int>(kept.Data.size());
            dam = kept.Dam;
            if (crcError != nullptr) *crcError = kept.CrcError;
            return true;
        }
        CellState state = field.After;
        bool badCrc = false;
        if (!ReadSectorAfterID(state, field.Id, wanted, size, dam, buffer, acceptCrcError, badCrc)) {
            if (crcError != nullptr) *crcError = badCrc;
            return false;
        }
        kept = ReadKept{true, wanted, acceptCrcError, dam, badCrc, std::vector<uint8_t>(buffer, buffer + size)};
        if (crcError != nullptr) *crcError = badCrc;
        return true;
    }
    return false;
}

bool TRawTrack::SectorWanted::operator()(const CellState& state, const uint8_t id[6]) const {
    return state.crc == 0 && id[0] == track && (ignoreSideField || id[1] == side) && id[2] == sector &&
           id[3] <= MaxSizeCode;
}

// The controller's search for a sector, one revolution from the start of the track,
// taken up just after a wanted ID field.
bool TRawTrack::ReadSectorAfterID(CellState& state, const uint8_t wantedId[6], const SectorWanted& wanted,
                                  int& size, uint8_t& dam, uint8_t* buffer, bool acceptCrcError,
                                  bool& crcError) {
    const int markLimit = DataMarkLimit(state.density);
    uint8_t id[6];
    std::copy(wantedId, wantedId + 6, id);
    for (;;) {
        uint8_t mark = 0;
        if (FindDataMark(state, markLimit, mark)) {
            int length = 128 << id[3];
            if (!ReadDataField(state, length, buffer)) {
                return false;  // the data runs off the end of the track
            }
            if (state.crc == 0 || acceptCrcError) {
                size = length;
                dam = mark;
                crcError = state.crc != 0;
                return true;
            }
            crcError = true;  // passed over: another copy may yet read cleanly
        }
        // On to the next ID field that is wanted, as long as the revolution lasts.
        do {
            if (state.passes <= 0 || !FindIDMark(state)) {
                return false;
            }
        } while (!ReadIDField(state, id) || !wanted(state, id));
    }
}

bool TRawTrack::WriteSector(int track, int side, bool density, int sector, uint8_t dam, const uint8_t* data) {
    if (data == nullptr || !IsDataMark(dam)) {
        return false;
    }
    CellState state;
    state.side = side;
    state.density = density;
    state.passes = 1;
    uint8_t id[6];
    for (;;) {
        if (!FindIDMark(state) || !ReadIDField(state, id)) {
            return false;
        }
        if (state.crc == 0 && id[0] == track && id[1] == side && id[2] == sector) {
            break;
        }
    }
    if (id[3] > MaxSizeCode) {
        return false;
    }
    const bool dd = state.density;
    const int length = 128 << id[3];
    const int gapCells = dd ? 11 : 22;
    // Everything from the gap to the CRC must fit before the end of the track: a
    // write that wrapped to cell 0 would destroy the first sector.
    const int fieldBytes = (dd ? 12 + 3 : 6) + 1 + length + 2;
    const int fieldCells = fieldBytes * (dd ? 1 : 2);
    if (state.position + gapCells + fieldCells > Length()) {
        return false;
    }
    state.position += gapCells;
    for (int i = 0; i < (dd ? 12 : 6); ++i) {
        WriteTrackByte(state, 0x00);
    }
    if (dd) {
        for (int i = 0; i < 3; ++i) {
            WriteTrackByte(state, 0xF5);
        }
    }
    WriteTrackByte(state, dam);
    bool ok = true;
    for (int i = 0; i < length && ok; ++i) {
        ok = PutCell(state, data[i]);
    }
    uint16_t crc = state.crc;
    ok = ok && PutCell(state, static_cast<uint8_t>(crc >> 8));
    ok = ok && PutCell(state, static_cast<uint8_t>(crc & 0xFF));
    return ok;
}

bool TRawTrack::ReadNextSector(CellState& state, int track, int& sector, int& size, uint8_t& dam,
                               uint8_t* buffer, bool& crcError) {
    if (buffer == nullptr) {
        return false;
    }
    const int markLimit = DataMarkLimit(state.density);
    while (state.passes > 0) {
        if (!FindIDMark(state)) {
            return false;
        }
        uint8_t id[6];
        if (!ReadIDField(state, id)) {
            return false;
        }
        if (state.crc != 0 || id[0] != track || id[3] > MaxSizeCode) {
            continue;
        }
        const int resume = state.position;
        uint8_t mark = 0;
        if (!FindDataMark(state, markLimit, mark)) {
            if (state.passes <= 0) {
                return false;
            }
            state.position = resume;
            continue;
        }
        int length = 128 << id[3];
        if (!ReadDataField(state, length, buffer)) {
            return false;  // a sector that wraps round the index is not readable
        }
        sector = id[2];
        size = length;
        dam = mark;
        crcError = state.crc != 0;
        return true;
    }
    return false;
}

std::vector<TTrackSector> TRawTrack::ReadSectors(int track) {
    struct Found {
        int end = 0;  // cell where the sector's data field ends: orders the two densities
        TTrackSector sector;
    };
    std::vector<Found> found;
    std::vector<uint8_t> buffer(SectorBufferSize);
    for (bool density : {false, true}) {
        CellState state;
        state.density = density;
        state.passes = 1;
        TTrackSector sector;
        sector.Density = density;
        // A side holds Length() cells, so this many sectors cannot all be real.
        for (int guard = 0; guard < Length(); ++guard) {
            if (!ReadNextSector(state, track, sector.Sector, sector.Size, sector.DAM, buffer.data(), sector.CrcError)) {
                break;
            }
            sector.Data.assign(buffer.begin(), buffer.begin() + sector.Size);
            found.push_back(Found{state.position, sector});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.end < b.end; });
    std::vector<TTrackSector> sectors;
    for (auto& f : found) {
        sectors.push_back(std::move(f.sector));
    }
    return sectors;
}

bool TRawTrack::Format(int track, int side, int sectorsPerSide, bool firstSectorIsOne, uint8_t dam, bool density,
                       int interleave) {
    constexpr int sectorSize = 256;
    // A layout that does not fit would wrap round and overwrite its own first sector.
    if (sectorsPerSide < 1 || !IsDataMark(dam) ||
        sectorsPerSide * FormattedSectorCells(sectorSize, density) > Length()) {
        return false;
    }
    uint8_t buffer[sectorSize];
    for (int i = 0; i < sectorSize; ++i) {
        buffer[i] = density ? ((i & 1) ? 0xB6 : 0x6D) : 0xE5;
    }
    const int step = std::max(1, sectorsPerSide / std::max(1, interleave));
    const int firstNumber = firstSectorIsOne ? 1 : 0;
    // A fresh format leaves nothing of an earlier layout on this side.
    Clear(Length());
    CellState state;
    state.side = side;
    state.density = density;
    state.passes = 1;
    int s = 0;
    for (int i = 0; i < sectorsPerSide; ++i) {
        WriteFormattedSector(state, track, side, s + firstNumber, sectorSize, dam, buffer, false);
        if (s != sectorsPerSide - 1) {
            s += step;
            if (s >= sectorsPerSide) {
                s = s - sectorsPerSide + 1;
            }
        } else {
            s = 0;
        }
    }
    return true;
}

int TRawTrack::LayoutCells(const std::vector<TTrackSector>& sectors, bool compact) {
    if (sectors.empty()) {
        return 0;
    }
    int cells = TrackStartCells(sectors.front().Density);
    for (const auto& sector : sectors) {
        cells += FormattedSectorCells(sector.Size, sector.Density, compact);
    }
    return cells;
}

int TRawTrack::UniformLayoutCells(int sectors, int size, bool density) {
    return TrackStartCells(density) + sectors * FormattedSectorCells(size, density, true);
}

bool TRawTrack::LayOut(int track, int side, const std::vector<TTrackSector>& sectors) {
    for (const auto& sector : sectors) {
        if (sector.Size < 128 || sector.Size > SectorBufferSize || sector.Data.size() < size_t(sector.Size) ||
            !IsDataMark(sector.DAM)) {
            return false;
        }
    }
    if (LayoutCells(sectors, true) > Length()) {
        return false;
    }
    LayOutSectors(track, side, sectors, LayoutCells(sectors, false) > Length());
    return true;
}

void TRawTrack::LayOutSectors(int track, int side, const std::vector<TTrackSector>& sectors, bool compact) {
    Clear(Length());
    if (sectors.empty()) {
        return;
    }
    CellState state;
    state.side = side;
    state.density = sectors.front().Density;
    state.passes = 1;
    WriteTrackStart(state);
    for (const auto& sector : sectors) {
        state.density = sector.Density;
        WriteFormattedSector(state, track, side, sector.Sector, sector.Size, sector.DAM, sector.Data.data(),
                             sector.CrcError, compact);
    }
    FillTrackEnd(state);
}

}  // namespace DiskImage
