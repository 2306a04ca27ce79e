// One side of a floppy track as a WD1771/WD1791 controller sees it pass under the
// head: bytes tagged with their recording density and with whether they are address
// marks. Sectors are found, read, written and formatted here; image containers turn
// their stored bytes into a TRawTrack and back.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace DiskImage {

// One position of the raw track: data byte in bits 0-7, bit 8 double density,
// bit 9 address mark (missing clock). A single-density byte takes two cells.
using Cell = uint16_t;
constexpr Cell CellDoubleDensity = 0x100;
constexpr Cell CellMark = 0x200;

// A cursor through one track side. side names the side for the image's own
// operations; a TRawTrack is one side and does not look at it.
struct CellState {
    uint8_t value = 0;
    int side = 0;
    bool density = false;  // true = double density
    bool mark = false;
    int position = 0;
    uint16_t crc = 0;
    int count = 0;
    int passes = 1;
};

// CRC-16-CCITT, polynomial 0x1021, MSB first, no reflection, no final XOR.
// Inline: every byte laid on or read from a raw track takes one step.
extern const std::array<uint16_t, 256> CrcTable;
inline uint16_t CrcStep(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc << 8) ^ CrcTable[((crc >> 8) ^ byte) & 0xFF]);
}
uint16_t Crc16(const uint8_t* data, size_t length, uint16_t preset = 0xFFFF);

// One sector as it lies on a floppy track: everything an image format may keep of it.
struct TTrackSector {
    int Sector = 0;  // the sector number of its ID field
    int Size = 256;
    bool Density = false;  // true = double density
    uint8_t DAM = 0xFB;
    bool CrcError = false;  // the data field's CRC is wrong
    std::vector<uint8_t> Data;
};

class TRawTrack {
public:
    // A 5.25-inch double-density track: 6,272 double-density or 3,136 single-density bytes.
    static constexpr int FiveInchCells = 6272;
    // An 8-inch track (360 rpm, 500,000 cells a second): 10,416 double-density or
    // 5,208 single-density bytes.
    static constexpr int EightInchCells = 10416;
    // No container builds a longer side: it bounds what a damaged file can make us allocate.
    static constexpr int MaxCells = 32768;
    static constexpr int SectorBufferSize = 4096;
    // 128 << 5 = 4096: larger ID size codes cannot be read into a sector buffer.
    static constexpr int MaxSizeCode = 5;

    explicit TRawTrack(int length = FiveInchCells);

    // 0xF8 to 0xFB: the data address marks a controller accepts.
    static bool IsDataMark(uint8_t value) { return value >= 0xF8 && value <= 0xFB; }

    int Length() const { return static_cast<int>(Cells.size()); }
    // Every cell 0 (never written), and the side `length` cells long.
    void Clear(int length);
    bool IsBlank() const;
    Cell At(int position) const {
        return (position >= 0 && position < Length()) ? Cells[static_cast<size_t>(position)] : Cell{0};
    }
    // One cell exactly as given, for a container that stores the marks itself.
    void Set(int position, Cell cell);
    // Changes whenever a cell does; equal versions of one side mean equal cells.
    uint64_t Version() const { return Changes; }

    // A container's own byte stream, laid at the end of the side, which grows by one
    // cell per double-density byte and two per single-density byte (up to MaxCells);
    // a single-density byte that is not whole takes one cell, as at the end of a track.
    void Append(uint8_t value, bool density, bool mark, bool whole = true);
    // Room for this many cells without reallocating, for a side built by Append.
    void Reserve(int cells) { Cells.reserve(static_cast<size_t>(std::clamp(cells, 0, MaxCells))); }
    // count bytes without marks, bytes[0], bytes[stride], ..., as Append lays them.
    void AppendPlain(const uint8_t* bytes, int count, int stride, bool density);
    // Calls visit(value, density, mark, whole) for every byte in order: one cell per
    // double-density byte, two per single-density byte. A single-density byte that
    // starts on the last cell is visited too, with whole false: it has only that cell.
    template <class Visit>
    void ForEachByte(Visit visit) const;

    // Controller primitives on a cursor. PutCell and ReadTrackByte are inline below:
    // every byte of every track that is built or searched goes through them.
    bool PutCell(CellState& state, uint8_t byte);
    // count data bytes, each as PutCell lays it; false when the track ended first.
    bool PutCells(CellState& state, const uint8_t* bytes, int count);
    // count copies of byte, as PutCells lays them.
    bool PutRun(CellState& state, uint8_t byte, int count);
    bool WriteTrackByte(CellState& state, uint8_t byte);
    void WriteTrackStart(CellState& state);
    void FillTrackEnd(CellState& state);
    // Lays out one whole sector at the cursor. compact shortens the single-density
    // gap after the data so that layouts a JV3 header block allows still fit the track.
    // False when the sector ran off the end of the track (nothing is written past it).
    bool WriteFormattedSector(CellState& state, int track, int side, int sector, int size, uint8_t dam,
                              const uint8_t* data, bool crcError, bool compact = false);
    // Cells one formatted sector takes, as WriteFormattedSector lays it out.
    static int FormattedSectorCells(int size, bool density, bool compact = false);
    // Cells WriteTrackStart lays down.
    static int TrackStartCells(bool density);
    bool FindIDMark(CellState& state);
    bool ReadIDField(CellState& state, uint8_t id[6]);
    bool FindDataMark(CellState& state, int limit, uint8_t& dam);
    // Reads length data bytes and the two CRC bytes after them; false when the track ends first.
    bool ReadDataField(CellState& state, int length, uint8_t* buffer);
    // Reads one byte as the controller sees it (cells of the other density read as 0).
    bool ReadTrackByte(CellState& state);

    // Sector operations, one revolution from the index hole. buffer holds SectorBufferSize bytes.
    // With acceptCrcError the first data field found is handed over even when its CRC
    // fails, as a controller does with its error flag. crcError, when given, tells
    // whether the sector's data field failed its CRC: the one handed over, or (a read
    // that fails) one that was passed over.
    bool ReadSector(int track, int side, bool density, int sector, int& size, uint8_t& dam, uint8_t* buffer,
                    bool ignoreSideField, bool acceptCrcError, bool* crcError = nullptr);
    bool WriteSector(int track, int side, bool density, int sector, uint8_t dam, const uint8_t* data);
    // The next readable sector of the track in physical order from the cursor's position,
    // in the cursor's density.
    bool ReadNextSector(CellState& state, int track, int& sector, int& size, uint8_t& dam, uint8_t* buffer,
                        bool& crcError);
    // Every readable sector of the track, both densities, in physical order.
    std::vector<TTrackSector> ReadSectors(int track);

    // The layout of a DOS formatter: sectorsPerSide 256-byte sectors from cell 0 on,
    // numbered from 0 or 1, interleaved; the rest of the side is left never written.
    // False, with nothing changed, when they do not fit the side.
    bool Format(int track, int side, int sectorsPerSide, bool firstSectorIsOne, uint8_t dam, bool density,
                int interleave);
    // The layout of a sector-list container: the start of the track, the sectors in the
    // order given, and the end filler. Single-density gaps are shortened when the usual
    // ones do not fit. False, with nothing changed, when the sectors do not fit even so.
    bool LayOut(int track, int side, const std::vector<TTrackSector>& sectors);
    // Cells LayOut takes for the sectors, the start of the track included.
    static int LayoutCells(const std::vector<TTrackSector>& sectors, bool compact);
    // The fewest cells LayOut takes for sectors of one size and density: with the shorter
    // single-density gaps when the usual ones do not fit.
    static int UniformLayoutCells(int sectors, int size, bool density);

private:
    // The end-of-track rule of the cursor: one pass fewer, back to cell 0.
    static void WrapCursor(CellState& state) {
        --state.passes;
        state.position = 0;
        state.mark = false;
    }
    void Changed() { ++Changes; }

    struct SectorWanted {
        int track, side, sector;
        bool ignoreSideField;
        bool operator()(const CellState& afterId, const uint8_t id[6]) const;
        bool operator==(const SectorWanted&) const = default;
    };
    // A read that starts at an ID field always ends the same way while the cells stay as
    // they are, so the last successful one is kept with the field.
    struct ReadKept {
        bool Valid = false;
        SectorWanted Wanted{};
        bool AcceptCrcError = false;
        uint8_t Dam = 0;
        bool CrcError = false;
        std::vector<uint8_t> Data;
    };
    // Every ID field a scan from the start of the side reaches in one revolution, in
    // order, with the cursor just after it: a sector read skips straight to the one
    // it wants instead of decoding the track up to it.
    struct IDFieldSeen {
        CellState After;
        uint8_t Id[6] = {};
        ReadKept LastRead;
    };
    struct SectorIndex {
        bool Built = false;
        std::vector<IDFieldSeen> Fields;
    };
    std::vector<IDFieldSeen>& IDFields(bool density);
    // FindIDMark's cursor after the ID mark at position, bytesRead bytes after where it started.
    bool IDMarkFound(CellState& state, int position, int bytesRead);
    bool ReadSectorAfterID(CellState& state, const uint8_t wantedId[6], const SectorWanted& wanted, int& size,
                           uint8_t& dam, uint8_t* buffer, bool acceptCrcError, bool& crcError);
    void LayOutSectors(int track, int side, const std::vector<TTrackSector>& sectors, bool compact);

    std::vector<Cell> Cells;
    uint64_t Changes = 0;
    std::array<SectorIndex, 2> Index;  // by density
    uint64_t IndexVersion = 0;         // the version the index describes
};

inline bool TRawTrack::PutCell(CellState& state, uint8_t byte) {
    const int length = Length();
    if (state.position < 0 || state.position >= length) {
        WrapCursor(state);
        return false;
    }
    Changed();
    Cell cell = static_cast<Cell>(byte | (state.density ? CellDoubleDensity : 0) | (state.mark ? CellMark : 0));
    Cells[static_cast<size_t>(state.position)] = cell;
    state.crc = CrcStep(state.crc, byte);
    ++state.position;
    ++state.count;
    if (!state.density) {
        // A single-density byte lasts two cells.
        if (state.position >= length) {
            WrapCursor(state);
            return false;
        }
        Cells[static_cast<size_t>(state.position)] = cell;
        ++state.position;
    }
    state.mark = false;
    return true;
}

inline bool TRawTrack::ReadTrackByte(CellState& state) {
    int cellsPerByte = state.density ? 1 : 2;
    if (state.position < 0 || state.position + cellsPerByte > Length()) {
        WrapCursor(state);
        return false;
    }
    Cell cell = Cells[static_cast<size_t>(state.position)];
    bool cellDensity = (cell & CellDoubleDensity) != 0;
    if (cellDensity != state.density) {
        state.value = 0;
        state.mark = false;
    } else {
        state.value = static_cast<uint8_t>(cell & 0xFF);
        state.mark = (cell & CellMark) != 0;
    }
    state.crc = CrcStep(state.crc, state.value);
    state.position += cellsPerByte;
    ++state.count;
    return true;
}

template <class Visit>
void TRawTrack::ForEachByte(Visit visit) const {
    const size_t length = Cells.size();
    for (size_t c = 0; c < length;) {
        const Cell cell = Cells[c];
        const bool density = (cell & CellDoubleDensity) != 0;
        const size_t cells = density ? 1 : 2;
        visit(static_cast<uint8_t>(cell & 0xFF), density, (cell & CellMark) != 0, c + cells <= length);
        c += cells;
    }
}

}  // namespace DiskImage
