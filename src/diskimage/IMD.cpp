#include "diskimage/IMD.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace DiskImage {

namespace {

// The head byte's flags: a cylinder map and a head map follow the numbering map.
constexpr uint8_t HasCylinderMap = 0x80;
constexpr uint8_t HasHeadMap = 0x40;
// A size byte of 0xFF: a table of 16-bit sizes, one per sector, follows the maps.
constexpr uint8_t SizeTable = 0xFF;
constexpr uint8_t EndOfComment = 0x1A;
constexpr int ModeCount = 6;
constexpr int LargestSizeCode = 6;  // 8192 bytes: larger than a raw track's sector can be
// No disk of any kind comes near this; it bounds what a damaged file makes us read.
constexpr int64_t MaxFileBytes = 64 << 20;

// The kinds of sector data record.
enum RecordKind : uint8_t { Unavailable = 0, Normal = 1, Compressed = 2 };
constexpr int RecordKinds = 9;  // 1-8: normal or compressed, then deleted, data error, both

bool IsFM500(int mode) { return mode == 0 || mode == 3; }

// Reads a file's bytes in order; any read past the end refuses the file.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}
    bool AtEnd() const { return Position >= Bytes.size(); }
    uint8_t Byte() {
        if (Position >= Bytes.size()) throw TDiskImage::EInvalidFormat();
        return Bytes[Position++];
    }
    const uint8_t* Take(size_t count) {
        if (count > Bytes.size() - Position) throw TDiskImage::EInvalidFormat();
        const uint8_t* start = Bytes.data() + Position;
        Position += count;
        return start;
    }

private:
    const std::vector<uint8_t>& Bytes;
    size_t Position = 0;
};

bool IsStorableSize(int size) {
    for (int code = 0; code <= TRawTrack::MaxSizeCode; ++code) {
        if ((128 << code) == size) return true;
    }
    return false;
}

int SizeCodeOf(int size) {
    int code = 0;
    while ((128 << code) < size) ++code;
    return code;
}

TTrackSector ToTrackSector(const IMD::Sector& sector, bool density) {
    TTrackSector out;
    out.Sector = sector.Number;
    out.Size = sector.Size;
    out.Density = density;
    out.DAM = sector.Deleted ? 0xF8 : 0xFB;
    out.CrcError = sector.DataError;
    out.Data = sector.Data;
    return out;
}

// The cells a side gets: a 5.25-inch track, or an 8-inch one at 500 kbit/s, and longer
// only when its sectors need it.
int CellsFor(const std::vector<TTrackSector>& sectors, bool fastRate) {
    const int usual = fastRate ? TRawTrack::EightInchCells : TRawTrack::FiveInchCells;
    if (TRawTrack::LayoutCells(sectors, true) <= usual) return usual;
    if (TRawTrack::LayoutCells(sectors, true) <= TRawTrack::EightInchCells) return TRawTrack::EightInchCells;
    return std::min(TRawTrack::LayoutCells(sectors, false), TRawTrack::MaxCells);
}

// The side and cylinder each readable ID field of a side holds, in the order the sectors
// are met, keyed by density and sector number.
std::multimap<std::pair<bool, int>, std::pair<int, int>> IDFieldsOf(TRawTrack& side, int track) {
    std::multimap<std::pair<bool, int>, std::pair<int, int>> fields;
    for (bool density : {false, true}) {
        CellState state;
        state.density = density;
        state.passes = 1;
        uint8_t id[6];
        for (int guard = 0; guard < side.Length() && side.FindIDMark(state); ++guard) {
            if (!side.ReadIDField(state, id)) break;
            if (state.crc == 0 && id[0] == track) fields.insert({{density, id[2]}, {id[0], id[1]}});
        }
    }
    return fields;
}

void AppendMap(std::vector<uint8_t>& out, const IMD::Track& track, int IMD::Sector::*field) {
    for (const auto& sector : track.Sectors) out.push_back(static_cast<uint8_t>(sector.*field));
}

}  // namespace

IMD::IMD(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    const int64_t size = file.Size();
    if (size < 0 || size > MaxFileBytes) throw EInvalidFormat();
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!file.ReadAt(0, bytes.data(), bytes.size())) throw EInvalidFormat();
    Parse(bytes);
    Stored = std::move(bytes);
    File = std::move(file);
    LoadTrack(0);
}

IMD::~IMD() { FlushBeforeClosing(); }

std::vector<uint8_t> IMD::EmptyImage() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char line[64];
    std::strftime(line, sizeof line, "IMD 1.18: %d/%m/%Y %H:%M:%S\r\n", &local);
    std::vector<uint8_t> image(line, line + std::strlen(line));
    image.push_back(EndOfComment);
    return image;
}

void IMD::Parse(const std::vector<uint8_t>& bytes) {
    const size_t signatureLength = std::strlen(Signature);
    if (bytes.size() < signatureLength || std::memcmp(bytes.data(), Signature, signatureLength) != 0) {
        throw EInvalidFormat();
    }
    const auto end = std::find(bytes.begin(), bytes.end(), EndOfComment);
    if (end == bytes.end()) throw EInvalidFormat();
    Header.assign(bytes.begin(), end + 1);
    Reader reader(bytes);
    reader.Take(Header.size());
    while (!reader.AtEnd()) {
        Track track;
        track.Mode = reader.Byte();
        const int cylinder = reader.Byte();
        const uint8_t headByte = reader.Byte();
        const int count = reader.Byte();
        const uint8_t sizeByte = reader.Byte();
        const int head = headByte & 0x3F;
        if (track.Mode >= ModeCount || head > 1 || cylinder > MaxTrackNumber ||
            (sizeByte > LargestSizeCode && sizeByte != SizeTable) || Tracks.count({cylinder, head})) {
            throw EInvalidFormat();
        }
        track.Sectors.resize(static_cast<size_t>(count));
        for (auto& sector : track.Sectors) sector.Number = reader.Byte();
        for (auto& sector : track.Sectors) sector.Cylinder = (headByte & HasCylinderMap) ? reader.Byte() : cylinder;
        for (auto& sector : track.Sectors) sector.Head = (headByte & HasHeadMap) ? reader.Byte() : head;
        for (auto& sector : track.Sectors) {
            if (sizeByte == SizeTable) {
                const uint8_t* size = reader.Take(2);
                sector.Size = size[0] | (size[1] << 8);
            } else {
                sector.Size = 128 << sizeByte;
            }
        }
        std::vector<TTrackSector> laidOut;
        for (auto& sector : track.Sectors) {
            const uint8_t kind = reader.Byte();
            if (kind >= RecordKinds) throw EInvalidFormat();
            // An unavailable sector has no data; the size of one that has must fit a raw track.
            if (kind != Unavailable && !IsStorableSize(sector.Size)) throw EInvalidFormat();
            sector.Available = kind != Unavailable;
            if (sector.Available) {
                const bool compressed = (kind - 1) % 2 == 1;
                sector.Deleted = ((kind - 1) / 2) % 2 == 1;
                sector.DataError = (kind - 1) / 4 == 1;
                if (compressed) {
                    sector.Data.assign(static_cast<size_t>(sector.Size), reader.Byte());
                } else {
                    const uint8_t* data = reader.Take(static_cast<size_t>(sector.Size));
                    sector.Data.assign(data, data + sector.Size);
                }
                laidOut.push_back(ToTrackSector(sector, track.DoubleDensity()));
            }
        }
        if (TRawTrack::LayoutCells(laidOut, true) > TRawTrack::MaxCells) throw EInvalidFormat();
        Tracks.emplace(std::make_pair(cylinder, head), std::move(track));
    }
}

std::string IMD::GetComment() const {
    const size_t lineEnd = Header.find('\n');
    if (lineEnd == std::string::npos) return {};
    return Header.substr(lineEnd + 1, Header.size() - lineEnd - 2);
}

const IMD::Track* IMD::FindTrack(int cylinder, int head) const {
    auto found = Tracks.find({cylinder, head});
    return found == Tracks.end() ? nullptr : &found->second;
}

int IMD::UnavailableSectorCount() const {
    int count = 0;
    for (const auto& [key, track] : Tracks) {
        count += static_cast<int>(std::count_if(track.Sectors.begin(), track.Sectors.end(),
                                                [](const Sector& sector) { return !sector.Available; }));
    }
    return count;
}

bool IMD::LoadTrack(int track) {
    if (auto start = BeginLoadTrack(track); start != TrackLoadStart::Build) {
        return start == TrackLoadStart::AlreadyLoaded;
    }
    bool any = false;
    for (int side = 0; side < 2; ++side) {
        const Track* record = FindTrack(track, side);
        if (record == nullptr) continue;
        any = true;
        // Sectors are laid out under the cylinder and head of their ID fields; a track
        // whose ID fields differ among themselves is laid out a run of equal ones at a time.
        std::vector<TTrackSector> sectors;
        int idCylinder = track;
        int idHead = side;
        for (const auto& sector : record->Sectors) {
            if (!sector.Available) continue;
            if (sectors.empty()) {
                idCylinder = sector.Cylinder;
                idHead = sector.Head;
            }
            sectors.push_back(ToTrackSector(sector, record->DoubleDensity()));
        }
        TRawTrack& raw = RawSide(side);
        raw.Clear(CellsFor(sectors, IsFM500(record->Mode)));
        const bool uniform = std::all_of(record->Sectors.begin(), record->Sectors.end(), [&](const Sector& sector) {
            return !sector.Available || (sector.Cylinder == idCylinder && sector.Head == idHead);
        });
        if (uniform) {
            raw.LayOut(idCylinder, idHead, sectors);  // fits: the constructor checked it
        } else {
            // The cells of a layout of every sector, each ID field written with its own cylinder and head.
            CellState state;
            state.side = side;
            state.density = record->DoubleDensity();
            state.passes = 1;
            const bool compact = TRawTrack::LayoutCells(sectors, false) > raw.Length();
            raw.WriteTrackStart(state);
            for (const auto& sector : record->Sectors) {
                if (!sector.Available) continue;
                raw.WriteFormattedSector(state, sector.Cylinder, sector.Head, sector.Number, sector.Size,
                                         sector.Deleted ? 0xF8 : 0xFB, sector.Data.data(), sector.DataError, compact);
            }
            raw.FillTrackEnd(state);
        }
    }
    if (!any) return false;  // no record: an empty track a formatter can fill
    return TrackLoaded();
}

std::string IMD::SideLoss(const std::vector<TTrackSector>& sectors) {
    for (const auto& sector : sectors) {
        const std::string where = "sector " + std::to_string(sector.Sector);
        // 0xFA, the other mark that sets a directory or deleted sector apart, is kept as deleted too.
        if (sector.DAM != 0xFB && sector.DAM != 0xF8 && sector.DAM != 0xFA) {
            return where + " would lose its data address mark in IMD";
        }
        if (sector.Density != sectors.front().Density) {
            return where + " is of another density than the sectors before it: an IMD track side has one";
        }
    }
    if (sectors.size() > 255) return "sector " + std::to_string(sectors[255].Sector) + " would be lost: an IMD track side lists at most 255 sectors";
    return {};
}

bool IMD::BuildSide(int side, Track& record, bool& present) {
    const int track = GetCurrentTrack();
    const std::vector<TTrackSector> sectors = ReadTrackSide(side);
    if (!SideLoss(sectors).empty()) return false;
    const Track* old = FindTrack(track, side);
    record = Track{};
    const bool density = sectors.empty() ? (old && old->DoubleDensity()) : sectors.front().Density;
    const bool fast = old ? IsFM500(old->Mode) : RawSide(side).Length() >= TRawTrack::EightInchCells;
    record.Mode = (density ? 3 : 0) + (old && old->DoubleDensity() == density ? old->Mode % 3 : (fast ? 0 : 2));
    auto fields = IDFieldsOf(RawSide(side), track);
    for (const auto& found : sectors) {
        Sector sector;
        sector.Number = found.Sector;
        sector.Cylinder = track;
        sector.Head = side;
        if (auto field = fields.find({found.Density, found.Sector}); field != fields.end()) {
            sector.Cylinder = field->second.first;
            sector.Head = field->second.second;
            fields.erase(field);
        }
        sector.Size = found.Size;
        sector.Deleted = found.DAM != 0xFB;
        sector.DataError = found.CrcError;
        sector.Data = found.Data;
        record.Sectors.push_back(std::move(sector));
    }
    // Sectors the file lists without data stay listed while the side keeps its density
    // and no readable sector took their number.
    if (old && old->DoubleDensity() == density) {
        for (const auto& sector : old->Sectors) {
            const bool taken = std::any_of(record.Sectors.begin(), record.Sectors.end(),
                                           [&](const Sector& s) { return s.Number == sector.Number; });
            if (!sector.Available && !taken) record.Sectors.push_back(sector);
        }
    }
    if (record.Sectors.size() > 255) return false;
    present = !record.Sectors.empty();
    return true;
}

bool IMD::CanStoreLoadedTrack() {
    for (int side = 0; side < 2; ++side) {
        if (!SideLoss(ReadTrackSide(side)).empty()) return false;
    }
    return true;
}

int IMD::SideCellsFor(const std::vector<TTrackSector>& sectors) const { return CellsFor(sectors, false); }

std::vector<uint8_t> IMD::Serialise() const {
    std::vector<uint8_t> out(Header.begin(), Header.end());
    for (const auto& entry : Tracks) {
        const Track& track = entry.second;
        const int cylinder = entry.first.first;
        const int head = entry.first.second;
        const auto differs = [&](auto test) { return std::any_of(track.Sectors.begin(), track.Sectors.end(), test); };
        const bool cylinderMap = differs([&](const Sector& s) { return s.Cylinder != cylinder; });
        const bool headMap = differs([&](const Sector& s) { return s.Head != head; });
        const int size = track.Sectors.empty() ? 256 : track.Sectors.front().Size;
        const bool sizeTable = differs([&](const Sector& s) { return s.Size != size; });
        out.push_back(static_cast<uint8_t>(track.Mode));
        out.push_back(static_cast<uint8_t>(cylinder));
        out.push_back(static_cast<uint8_t>(head | (cylinderMap ? HasCylinderMap : 0) | (headMap ? HasHeadMap : 0)));
        out.push_back(static_cast<uint8_t>(track.Sectors.size()));
        out.push_back(sizeTable ? SizeTable : static_cast<uint8_t>(SizeCodeOf(size)));
        AppendMap(out, track, &Sector::Number);
        if (cylinderMap) AppendMap(out, track, &Sector::Cylinder);
        if (headMap) AppendMap(out, track, &Sector::Head);
        if (sizeTable) {
            for (const auto& sector : track.Sectors) {
                out.push_back(static_cast<uint8_t>(sector.Size & 0xFF));
                out.push_back(static_cast<uint8_t>(sector.Size >> 8));
            }
        }
        for (const auto& sector : track.Sectors) {
            if (!sector.Available) {
                out.push_back(Unavailable);
                continue;
            }
            // Equal bytes throughout are stored once.
            const bool compressed = std::all_of(sector.Data.begin(), sector.Data.end(),
                                                [&](uint8_t b) { return b == sector.Data.front(); });
            out.push_back(static_cast<uint8_t>(1 + (compressed ? 1 : 0) + (sector.Deleted ? 2 : 0) +
                                               (sector.DataError ? 4 : 0)));
            if (compressed) {
                out.push_back(sector.Data.front());
            } else {
                out.insert(out.end(), sector.Data.begin(), sector.Data.end());
            }
        }
    }
    return out;
}

bool IMD::Flush() {
    if (!IsTrackDirty()) return true;
    if (Flags & FlagReadOnlyFile) return false;
    const int track = GetCurrentTrack();
    std::array<Track, 2> records;
    std::array<bool, 2> present{};
    for (int side = 0; side < 2; ++side) {
        if (!BuildSide(side, records[side], present[side])) return false;  // nothing written
    }
    auto tracks = Tracks;
    for (int side = 0; side < 2; ++side) {
        if (present[side]) {
            tracks[{track, side}] = std::move(records[side]);
        } else {
            tracks.erase({track, side});
        }
    }
    std::swap(Tracks, tracks);
    const std::vector<uint8_t> bytes = Serialise();
    // The file is rewritten from the first byte that changed: a track's record moves all after it.
    const size_t same = static_cast<size_t>(
        std::mismatch(bytes.begin(), bytes.end(), Stored.begin(), Stored.end()).first - bytes.begin());
    if ((same < bytes.size() && !File.WriteAt(same, bytes.data() + same, bytes.size() - same)) ||
        (bytes.size() < Stored.size() && !File.Truncate(bytes.size()))) {
        std::swap(Tracks, tracks);  // the file may be part written; what it holds is known only by reading it again
        Stored.clear();
        return false;
    }
    Stored = bytes;
    TrackFlushed();
    return true;
}

int IMD::StoredSectorCount(int side) const {
    const Track* record = FindTrack(GetCurrentTrack(), side);
    return record ? static_cast<int>(record->Sectors.size()) : 0;
}

}  // namespace DiskImage
