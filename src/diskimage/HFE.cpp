#include "diskimage/HFE.h"

#include <algorithm>
#include <cstring>

namespace DiskImage {

namespace {

// Header offsets.
enum : size_t {
    FieldRevision = 8,
    FieldTracks = 9,
    FieldSides = 10,
    FieldEncoding = 11,
    FieldBitRate = 12,  // 16 bits, little-endian
    FieldRPM = 14,
    FieldInterface = 16,
    FieldTrackList = 18,  // in blocks
    FieldWriteAllowed = 20,
    FieldSingleStep = 21,
    FieldTrack0Side0Alternate = 22,
    FieldTrack0Side0Encoding = 23,
    FieldTrack0Side1Alternate = 24,
    FieldTrack0Side1Encoding = 25,
};

// Stream bits for one double-density byte, and the most one side may hold (TRawTrack::MaxCells).
constexpr int BitsPerCell = 16;
constexpr size_t MaxSideBytes = size_t(TRawTrack::MaxCells) * BitsPerCell / 8;
// The MFM patterns of the sync bytes, each with one clock bit missing.
constexpr uint16_t SyncA1 = 0x4489;
constexpr uint16_t SyncC2 = 0x5224;

unsigned Word(const uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }
void PutWord(uint8_t* bytes, unsigned value) {
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

// The stream bits of one side in order.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}
    size_t Count() const { return Bytes.size() * 8; }
    int At(size_t i) const { return (Bytes[i / 8] >> (i % 8)) & 1; }

private:
    const std::vector<uint8_t>& Bytes;
};

class BitWriter {
public:
    void Put(int bit) {
        if (Count % 8 == 0) Bytes.push_back(0);
        if (bit) Bytes.back() = static_cast<uint8_t>(Bytes.back() | (1 << (Count % 8)));
        ++Count;
    }
    // The bits of value, most significant first.
    void PutBits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) Put((value >> i) & 1);
    }
    std::vector<uint8_t> Bytes;
    size_t Count = 0;
};

// The clock byte of a single-density address mark with this data byte, or 0 for none.
uint8_t MarkClock(uint8_t value) {
    if (value == 0xFE || TRawTrack::IsDataMark(value)) return 0xC7;
    if (value == 0xFC) return 0xD7;
    return 0;
}

// Decoding as MFM: a data byte every 16 bits, realigned at every sync pattern. marks
// counts the ID fields found.
TRawTrack DecodeMFM(const std::vector<uint8_t>& bytes, int& marks) {
    TRawTrack side(0);
    side.Reserve(static_cast<int>(bytes.size() / 2));
    BitReader bits(bytes);
    uint16_t shift = 0;
    int count = 0;
    bool afterSync = false;
    marks = 0;
    for (size_t i = 0; i < bits.Count() && side.Length() < TRawTrack::MaxCells; ++i) {
        shift = static_cast<uint16_t>((shift << 1) | bits.At(i));
        ++count;
        // 0x4489 never occurs in MFM data at any offset, so it realigns the decoding; the
        // index mark's 0x5224 can, so it counts only where a byte is due.
        if (shift == SyncA1 || (count == BitsPerCell && shift == SyncC2)) {
            side.Append(shift == SyncA1 ? 0xA1 : 0xC2, true, true);
            afterSync = shift == SyncA1;
            count = 0;
        } else if (count == BitsPerCell) {
            uint8_t value = 0;
            for (int bit = 14; bit >= 0; bit -= 2) value = static_cast<uint8_t>((value << 1) | ((shift >> bit) & 1));
            side.Append(value, true, false);
            marks += afterSync && value == 0xFE;  // an ID field: what tells MFM from FM
            afterSync = false;
            count = 0;
        }
    }
    return side;
}

// Decoding as FM: a byte every 32 bits (clock, gap, data, gap for each bit), realigned at
// every address mark.
TRawTrack DecodeFM(const std::vector<uint8_t>& bytes, int& marks) {
    TRawTrack side(0);
    side.Reserve(static_cast<int>(bytes.size() / 2));
    BitReader bits(bytes);
    uint32_t shift = 0;
    int count = 0;
    marks = 0;
    const auto pick = [&](int offset) {
        uint8_t value = 0;
        for (int bit = 28 + offset; bit >= 0; bit -= 4) value = static_cast<uint8_t>((value << 1) | ((shift >> bit) & 1));
        return value;
    };
    for (size_t i = 0; i < bits.Count() && side.Length() + 2 <= TRawTrack::MaxCells; ++i) {
        shift = (shift << 1) | static_cast<uint32_t>(bits.At(i));
        ++count;
        const uint8_t clock = pick(3);
        const uint8_t value = pick(1);
        const bool mark = MarkClock(value) != 0 && clock == MarkClock(value) && (shift & 0x55555555u) == 0;
        if (mark || count == 2 * BitsPerCell) {
            side.Append(value, false, mark);
            marks += mark && value == 0xFE;
            count = 0;
        }
    }
    return side;
}

// One side's cells as stream bytes: each double-density byte in MFM, each single-density
// byte in FM, address marks with their missing clock bits.
std::vector<uint8_t> Encode(const TRawTrack& side) {
    BitWriter out;
    int previous = 0;  // the last data bit, which sets the next MFM clock bit
    side.ForEachByte([&](uint8_t value, bool density, bool mark, bool whole) {
        if (density) {
            if (mark && (value == 0xA1 || value == 0xC2)) {
                out.PutBits(value == 0xA1 ? SyncA1 : SyncC2, BitsPerCell);
                previous = value & 1;
                return;
            }
            for (int bit = 7; bit >= 0; --bit) {
                const int data = (value >> bit) & 1;
                out.Put(!previous && !data);
                out.Put(data);
                previous = data;
            }
            return;
        }
        const uint8_t clock = mark && MarkClock(value) ? MarkClock(value) : 0xFF;
        uint32_t bits = 0;
        for (int bit = 7; bit >= 0; --bit) {
            bits = (bits << 4) | (((clock >> bit) & 1u) << 3) | (((value >> bit) & 1u) << 1);
        }
        // A single-density byte cut short by the end of the side keeps only its first cell.
        if (whole) {
            out.PutBits(bits, 2 * BitsPerCell);
        } else {
            out.PutBits(bits >> BitsPerCell, BitsPerCell);
        }
        previous = 0;
    });
    return out.Bytes;
}

}  // namespace

HFE::HFE(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    const int64_t size = file.Size();
    // 256 tracks of the longest sides: nothing larger is a disk.
    if (size < BlockBytes || static_cast<uint64_t>(size) > 256 * 2 * MaxSideBytes + 2 * BlockBytes) {
        throw EInvalidFormat();
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!file.ReadAt(0, bytes.data(), bytes.size())) throw EInvalidFormat();
    Parse(bytes);
    Stored = std::move(bytes);
    File = std::move(file);
    LoadTrack(0);
}

HFE::~HFE() { FlushBeforeClosing(); }

std::vector<uint8_t> HFE::EmptyImage() {
    std::vector<uint8_t> header(2 * BlockBytes, 0xFF);
    std::memcpy(header.data(), Signature, 8);
    header[FieldRevision] = 0;
    header[FieldTracks] = 0;
    header[FieldSides] = 1;
    header[FieldEncoding] = IsoIbmMFM;
    PutWord(&header[FieldBitRate], 250);
    PutWord(&header[FieldRPM], 300);
    header[FieldInterface] = GenericShugartDD;
    header[FieldInterface + 1] = 1;
    PutWord(&header[FieldTrackList], 1);
    return header;
}

void HFE::Parse(const std::vector<uint8_t>& bytes) {
    if (std::memcmp(bytes.data(), Signature, 8) != 0 || bytes[FieldRevision] != 0) throw EInvalidFormat();
    const int tracks = bytes[FieldTracks];
    Sides = bytes[FieldSides];
    BitRate = static_cast<int>(Word(&bytes[FieldBitRate]));
    if (Sides < 1 || Sides > 2 || tracks > MaxTrackNumber + 1) throw EInvalidFormat();
    const size_t list = size_t(Word(&bytes[FieldTrackList])) * BlockBytes;
    if (tracks > 0 && (list == 0 || list + 4 * size_t(tracks) > bytes.size())) throw EInvalidFormat();
    Header.assign(bytes.begin(), bytes.begin() + BlockBytes);
    Tracks.resize(static_cast<size_t>(tracks));
    for (int t = 0; t < tracks; ++t) {
        const size_t start = size_t(Word(&bytes[list + 4 * t])) * BlockBytes;
        const size_t length = Word(&bytes[list + 4 * t + 2]);
        const size_t sideBytes = length / 2;
        const size_t blocks = (sideBytes + 255) / 256;
        if (sideBytes == 0 || sideBytes > MaxSideBytes || start == 0 || start + blocks * BlockBytes > bytes.size()) {
            throw EInvalidFormat();
        }
        for (int side = 0; side < Sides; ++side) {
            auto& out = Tracks[t].Bits[side];
            out.reserve(sideBytes);
            for (size_t i = 0; i < sideBytes; ++i) out.push_back(bytes[start + (i / 256) * BlockBytes + side * 256 + i % 256]);
        }
    }
}

void HFE::Decode(const std::vector<uint8_t>& bits, TRawTrack& side, bool& doubleDensity) const {
    int mfmMarks = 0;
    int fmMarks = 0;
    TRawTrack mfm = DecodeMFM(bits, mfmMarks);
    TRawTrack fm = DecodeFM(bits, fmMarks);
    doubleDensity = mfmMarks > fmMarks || fmMarks == 0;
    side = doubleDensity ? std::move(mfm) : std::move(fm);
}

bool HFE::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    if (track >= static_cast<int>(Tracks.size())) return false;  // an empty track a formatter can fill
    for (int side = 0; side < Sides; ++side) {
        Decode(Tracks[track].Bits[side], RawSide(side), Tracks[track].DoubleDensity[side]);
    }
    return TrackLoaded();
}

std::string HFE::SideLoss(const std::vector<TTrackSector>& sectors) {
    for (const auto& sector : sectors) {
        if (sector.Density != sectors.front().Density) {
            return "sector " + std::to_string(sector.Sector) +
                   " is of another density than the sectors before it: an HFE track side is read in one encoding";
        }
    }
    return {};
}

bool HFE::CanStoreLoadedTrack() {
    for (int side = 0; side < 2; ++side) {
        if (!SideLoss(ReadTrackSide(side)).empty()) return false;
    }
    return true;
}

int HFE::SideCellsFor(const std::vector<TTrackSector>& sectors) const {
    const int needed = TRawTrack::LayoutCells(sectors, true);
    if (needed <= TRawTrack::FiveInchCells) return TRawTrack::FiveInchCells;
    if (needed <= TRawTrack::EightInchCells) return TRawTrack::EightInchCells;
    return std::min(TRawTrack::LayoutCells(sectors, false), TRawTrack::MaxCells);
}

std::vector<uint8_t> HFE::Serialise() const {
    const int tracks = static_cast<int>(Tracks.size());
    std::vector<uint8_t> out = Header;
    out.resize(BlockBytes, 0xFF);
    out[FieldTracks] = static_cast<uint8_t>(tracks);
    out[FieldSides] = static_cast<uint8_t>(Sides);
    // The disk's encoding is that of its later tracks; track 0 says its own when it differs
    // (a TRS-80 Model I system disk: single density on track 0 only).
    const bool later = tracks > 1 ? Tracks[1].DoubleDensity[0] : (tracks == 1 && Tracks[0].DoubleDensity[0]);
    out[FieldEncoding] = later ? IsoIbmMFM : IsoIbmFM;
    for (int side = 0; side < 2; ++side) {
        const bool own = tracks > 0 && Tracks[0].DoubleDensity[side] != later;
        out[FieldTrack0Side0Alternate + 2 * side] = own ? 0x00 : 0xFF;
        out[FieldTrack0Side0Encoding + 2 * side] = own ? (later ? IsoIbmFM : IsoIbmMFM) : 0xFF;
    }
    PutWord(&out[FieldTrackList], 1);
    const size_t listBlocks = (4 * size_t(tracks) + BlockBytes - 1) / BlockBytes;
    out.resize(BlockBytes * (1 + std::max<size_t>(listBlocks, 1)), 0xFF);
    size_t block = out.size() / BlockBytes;
    for (int t = 0; t < tracks; ++t) {
        const size_t sideBytes = std::max(Tracks[t].Bits[0].size(), Tracks[t].Bits[1].size());
        const size_t blocks = (sideBytes + 255) / 256;
        PutWord(&out[BlockBytes + 4 * t], static_cast<unsigned>(block));
        PutWord(&out[BlockBytes + 4 * t + 2], static_cast<unsigned>(2 * sideBytes));
        std::vector<uint8_t> data(blocks * BlockBytes, 0);
        for (int side = 0; side < 2; ++side) {
            const auto& bits = Tracks[t].Bits[side];
            for (size_t i = 0; i < bits.size(); ++i) data[(i / 256) * BlockBytes + side * 256 + i % 256] = bits[i];
        }
        out.insert(out.end(), data.begin(), data.end());
        block += blocks;
    }
    return out;
}

bool HFE::Flush() {
    if (!IsTrackDirty()) return true;
    if (Flags & FlagReadOnlyFile) return false;
    if (!CanStoreLoadedTrack()) return false;
    const int track = GetCurrentTrack();
    const size_t needed = std::max(Tracks.size(), size_t(track) + 1);
    // A 16-bit block number must reach every track.
    if (needed > size_t(MaxTrackNumber) + 1) return false;
    auto tracks = Tracks;
    tracks.resize(needed);
    for (auto& added : tracks) {
        for (int side = 0; side < 2; ++side) {
            if (added.Bits[side].empty()) added.Bits[side] = Encode(TRawTrack(TRawTrack::FiveInchCells));
        }
    }
    const int sides = std::max(Sides, RawSide(1).IsBlank() ? 1 : 2);
    for (int side = 0; side < 2; ++side) {
        const auto sectors = ReadTrackSide(side);
        // A side with nothing on it is said to be in the encoding of the other side.
        tracks[track].DoubleDensity[side] =
            !sectors.empty() ? sectors.front().Density : side == 1 ? tracks[track].DoubleDensity[0] : true;
        tracks[track].Bits[side] = Encode(RawSide(side));
    }
    std::swap(Tracks, tracks);
    const int oldSides = Sides;
    Sides = sides;
    const std::vector<uint8_t> bytes = Serialise();
    if (bytes.size() > 0xFFFF * size_t(BlockBytes)) {
        std::swap(Tracks, tracks);
        Sides = oldSides;
        return false;
    }
    const size_t same = static_cast<size_t>(
        std::mismatch(bytes.begin(), bytes.end(), Stored.begin(), Stored.end()).first - bytes.begin());
    if ((same < bytes.size() && !File.WriteAt(same, bytes.data() + same, bytes.size() - same)) ||
        (bytes.size() < Stored.size() && !File.Truncate(bytes.size()))) {
        std::swap(Tracks, tracks);
        Sides = oldSides;
        Stored.clear();
        return false;
    }
    Stored = bytes;
    TrackFlushed();
    return true;
}

int HFE::StoredSectorCount(int side) const {
    // The stream keeps no list of sectors: what can be read is all there is.
    (void)side;
    return 0;
}

}  // namespace DiskImage
