// The directory track of the TRSDOS family: sectors and granules, GAT, HIT,
// directory records, attributes, dates, loading and formatting.
#include "filesystem/TRSDOSBase.h"

#include <algorithm>
#include <cctype>

#include "diskimage/DiskImage.h"

namespace FileSystem {

namespace {

constexpr int GatDiskName = 0xD0;
constexpr int GatDiskDate = 0xD8;
constexpr int LockoutTable = 0x60;
constexpr int MapWithoutLockout = 0xCB;  // 203 tracks

// A Z80 routine that shows the text after it, then the text itself.
constexpr uint8_t BootCode[16] = {0x00, 0xFE, 0x00, 0x21, 0x10, 0x42, 0x7E, 0x23,
                                  0xB7, 0x28, 0xFD, 0xCD, 0x33, 0x00, 0x18, 0xF6};
constexpr char BootMessage[] = "Not a system disk";

void PutPadded(uint8_t* target, size_t width, const std::string& text) {
    for (size_t i = 0; i < width; ++i) target[i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

}  // namespace

TRSDOSBase::TRSDOSBase(DiskImage::TDiskImage* image)
    : TFileSystem(image), GAT(SectorSize, 0), HIT(SectorSize, 0) {}

TRSDOSBase::~TRSDOSBase() {
    try {
        Flush();
    } catch (...) {
        // Nothing can be reported from here; the image keeps its last state.
    }
}

void TRSDOSBase::CheckWritable() const {
    const DiskImage::TDiskImage* image = GetImage();
    if (image != nullptr && image->GetWriteProtect() != 0) throw EWriteProtected();
}

// ---------------------------------------------------------------- sectors

bool TRSDOSBase::ReadPhysicalSector(int track, int sector, int side, int density, bool& normalData,
                                    std::vector<uint8_t>& buffer) {
    normalData = false;
    FoundDensity = static_cast<uint8_t>(density);
    uint8_t dam = 0;
    if (!ReadDiskSector(track, sector, side, density, dam, buffer) || buffer.size() != SectorSize) {
        buffer.clear();
        return false;
    }
    normalData = dam == 0xFB;
    LastDAM = dam;
    return true;
}

std::vector<uint8_t> TRSDOSBase::SectorSlice(const std::vector<uint8_t>& data, size_t offset) {
    std::vector<uint8_t> bytes(SectorSize, 0);
    if (offset < data.size()) {
        const size_t count = std::min<size_t>(SectorSize, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), count, bytes.begin());
    }
    return bytes;
}

bool TRSDOSBase::ReadSector(int track, int sector, bool& normalData, std::vector<uint8_t>& buffer) {
    int side = 0;
    if (sector >= SectorsPerSide) {
        side = 1;
        sector -= SectorsPerSide;
    }
    if (ReadPhysicalSector(track, sector, side, Density, normalData, buffer)) return true;
    return ReadPhysicalSector(track, sector, side, Density ? 0 : 1, normalData, buffer);
}

bool TRSDOSBase::AppendSector(int track, int sector, std::vector<uint8_t>& buffer) {
    std::vector<uint8_t> data;
    bool normalData = false;
    const TSectorRead read = ReadUsedSector([&] { return ReadSector(track, sector, normalData, data); },
                                            TReadPurpose::File, buffer.size(), SectorSize);
    if (read == TSectorRead::Missing || data.size() != SectorSize) data.assign(SectorSize, 0);
    buffer.insert(buffer.end(), data.begin(), data.end());
    return read == TSectorRead::Clean;
}

bool TRSDOSBase::WriteSector(int track, int sector, const std::vector<uint8_t>& data, size_t offset) {
    const std::vector<uint8_t> bytes = SectorSlice(data, offset);
    const uint8_t dam = track == DirectoryTrack ? DirectoryDAM : 0xFB;
    int side = 0;
    if (sector >= SectorsPerSide) {
        side = 1;
        sector -= SectorsPerSide;
    }
    if (WriteDiskSector(track, sector, side, Density, dam, bytes)) return true;
    return WriteDiskSector(track, sector, side, Density ? 0 : 1, dam, bytes);
}

bool TRSDOSBase::ReadGranule(int& track, int& sector, std::vector<uint8_t>& buffer) {
    bool ok = true;
    for (int i = 0; i < SectorsPerGranule; ++i) {
        if (!AppendSector(track, sector, buffer)) ok = false;
        if (++sector >= SectorsPerTrack) {
            sector = 0;
            ++track;
        }
    }
    return ok;
}

bool TRSDOSBase::WriteGranule(int& track, int& sector, const std::vector<uint8_t>& data, size_t offset) {
    bool ok = true;
    for (int i = 0; i < SectorsPerGranule; ++i) {
        if (!WriteSector(track, sector, data, offset)) ok = false;
        offset += SectorSize;
        if (++sector >= SectorsPerTrack) {
            sector = 0;
            ++track;
        }
    }
    return ok;
}

bool TRSDOSBase::ReadBootSector(int sector, int density, uint8_t& dam, std::vector<uint8_t>& data) {
    return ReadDiskSector(0, sector, 0, density, dam, data) && data.size() >= 3;
}

std::vector<uint8_t> TRSDOSBase::ReadBootSectorEitherDensity(const uint8_t (&sectorOneSignature)[4]) {
    std::vector<uint8_t> boot;
    uint8_t dam = 0;
    if (ReadBootSector(1, 1, dam, boot)) {
        Density = 1;
        if (boot.size() >= 4 && std::equal(std::begin(sectorOneSignature), std::end(sectorOneSignature), boot.begin()) &&
            !ReadBootSector(0, 1, dam, boot))
            throw EInvalidFormat();
        return boot;
    }
    if (!ReadBootSector(0, 0, dam, boot)) throw EInvalidFormat();
    Density = 0;
    return boot;
}

namespace {

constexpr int GatDescriptor = 0xF5;  // 0x03 'R' 'S' 'H'
constexpr int GatHeadsAndSectors = 0xFD;
constexpr int GatGranules = 0xFE;

bool HasHardDiskDescriptor(const std::vector<uint8_t>& gat) {
    return gat.size() >= 256 && gat[GatDescriptor] == 0x03 && gat[GatDescriptor + 1] == 'R' &&
           gat[GatDescriptor + 2] == 'S' && gat[GatDescriptor + 3] == 'H';
}

}  // namespace

void TRSDOSBase::SetHardDiskGeometry() {
    GAT.resize(SectorSize, 0);
    int granulesPerSide = 0;
    if (HasHardDiskDescriptor(GAT)) {
        const int sectorsPerHead = (GAT[GatHeadsAndSectors] & 0x1F) + 1;
        const int heads = (GAT[GatHeadsAndSectors] >> 5) + 1;
        SectorsPerSide = sectorsPerHead * heads;
        granulesPerSide = (GAT[GatGranules] >> 5) + 1;
    } else {
        const DiskImage::THardImage* hard = GetHardImage();
        SectorsPerSide = DiskImage::THardImage::SectorsPerHead * (hard ? hard->GetHeads() : 1);
        granulesPerSide = (GAT[GatConfiguration] & 0x07) + 1;
    }
    NoLockoutTable = true;
    GranulesPerTrack = granulesPerSide * Sides;
    SectorsPerTrack = SectorsPerSide * Sides;
    SectorsPerGranule = SectorsPerTrack / GranulesPerTrack;
    // A geometry in which a granule holds no sector cannot be a disk's.
    if (SectorsPerGranule == 0) throw EInvalidFormat();
    DirectorySectors = std::min(SectorsPerTrack, 34);
}

void TRSDOSBase::MapPartitionSector(int& track, int& sector, int& side) const {
    const int cylinder = Sides == 2 ? track * 2 + side : track;
    track = FirstCylinder + cylinder;
    side = FirstHead + (sector >> 5);
    sector &= 31;
}

void TRSDOSBase::SetSidedGeometry() {
    const int granulesPerSide = Density ? 3 : 2;
    SectorsPerSide = Density ? 18 : 10;
    SectorsPerGranule = SectorsPerSide / granulesPerSide;
    SectorsPerTrack = SectorsPerSide * Sides;
    GranulesPerTrack = granulesPerSide * Sides;
    DirectorySectors = std::min(SectorsPerTrack, 34);
}

// ---------------------------------------------------------------- records

// Where each field of a directory record lies. The extents run from FirstExtentByte to the
// two link bytes that close the record.
namespace RecordByte {
constexpr int Attributes = 0;
constexpr int Flags = 1;
constexpr int DayYear = 2;
constexpr int EofOffset = 3;
constexpr int RecordLength = 4;
constexpr int Name = 5;
constexpr int Extension = 13;
constexpr int UpdatePassword = 16;  // high byte first
constexpr int AccessPassword = 18;  // high byte first
constexpr int EndingRecord = 20;    // low byte first
constexpr int FirstExtent = 22;
constexpr int LinkBytes = 2;
}  // namespace RecordByte

TDirectoryRecord TDirectoryRecord::Decode(const uint8_t* bytes, int size) {
    auto highFirst = [bytes](int at) { return static_cast<uint16_t>((bytes[at] << 8) | bytes[at + 1]); };
    TDirectoryRecord record;
    record.Attributes = bytes[RecordByte::Attributes];
    record.Flags = bytes[RecordByte::Flags];
    record.DayYear = bytes[RecordByte::DayYear];
    record.EofOffset = bytes[RecordByte::EofOffset];
    record.RecordLength = bytes[RecordByte::RecordLength];
    std::copy_n(bytes + RecordByte::Name, record.Name.size(), record.Name.begin());
    std::copy_n(bytes + RecordByte::Extension, record.Extension.size(), record.Extension.begin());
    record.UpdatePassword = highFirst(RecordByte::UpdatePassword);
    record.AccessPassword = highFirst(RecordByte::AccessPassword);
    record.EndingRecord = static_cast<uint16_t>(bytes[RecordByte::EndingRecord] | (bytes[RecordByte::EndingRecord + 1] << 8));
    const int link = size - RecordByte::LinkBytes;
    for (int at = RecordByte::FirstExtent; at + 1 < link; at += 2) record.Extents.push_back({bytes[at], bytes[at + 1]});
    record.LinkMark = bytes[link];
    record.LinkDEC = bytes[link + 1];
    return record;
}

void TDirectoryRecord::Encode(uint8_t* bytes, int size) const {
    auto putHighFirst = [bytes](int at, uint16_t value) {
        bytes[at] = static_cast<uint8_t>(value >> 8);
        bytes[at + 1] = static_cast<uint8_t>(value & 0xFF);
    };
    bytes[RecordByte::Attributes] = Attributes;
    bytes[RecordByte::Flags] = Flags;
    bytes[RecordByte::DayYear] = DayYear;
    bytes[RecordByte::EofOffset] = EofOffset;
    bytes[RecordByte::RecordLength] = RecordLength;
    std::copy(Name.begin(), Name.end(), bytes + RecordByte::Name);
    std::copy(Extension.begin(), Extension.end(), bytes + RecordByte::Extension);
    putHighFirst(RecordByte::UpdatePassword, UpdatePassword);
    putHighFirst(RecordByte::AccessPassword, AccessPassword);
    bytes[RecordByte::EndingRecord] = static_cast<uint8_t>(EndingRecord & 0xFF);
    bytes[RecordByte::EndingRecord + 1] = static_cast<uint8_t>(EndingRecord >> 8);
    const int link = size - RecordByte::LinkBytes;
    size_t slot = 0;
    for (int at = RecordByte::FirstExtent; at + 1 < link && slot < Extents.size(); at += 2, ++slot) {
        bytes[at] = Extents[slot].Track;
        bytes[at + 1] = Extents[slot].Granules;
    }
    bytes[link] = LinkMark;
    bytes[link + 1] = LinkDEC;
}

TDirectoryRecord TDirectoryRecord::Blank(int size) {
    std::vector<uint8_t> bytes(static_cast<size_t>(size), 0xFF);
    std::fill_n(bytes.begin(), RecordByte::FirstExtent, 0);
    return Decode(bytes.data(), size);
}

uint8_t* TRSDOSBase::GetDirectoryRecord(int dec) {
    if (dec < 0 || dec > 255) throw EIllegalFileIndex();
    const size_t offset = static_cast<size_t>(dec & 31) * SectorSize + static_cast<size_t>(dec & 0xE0);
    if (offset + RecordSize > Directory.size()) throw EIllegalFileIndex();
    return Directory.data() + offset;
}

const uint8_t* TRSDOSBase::GetDirectoryRecord(int dec) const {
    return const_cast<TRSDOSBase*>(this)->GetDirectoryRecord(dec);
}

TDirectoryRecord TRSDOSBase::ReadRecord(int dec) const {
    return TDirectoryRecord::Decode(GetDirectoryRecord(dec), GetRecordBytes());
}

void TRSDOSBase::WriteRecord(int dec, const TDirectoryRecord& record) {
    record.Encode(GetDirectoryRecord(dec), GetRecordBytes());
}

std::vector<int> TRSDOSBase::GetRecordChain(int dec, TChainEnd* end) const {
    std::vector<int> chain{dec};
    std::vector<bool> visited(256, false);
    TDirectoryRecord record = ReadRecord(dec);
    visited[static_cast<size_t>(dec & 0xFF)] = true;
    TChainEnd how = TChainEnd::LastRecord;
    while (record.LinkMark != TDirectoryRecord::Unlinked) {
        const int next = record.LinkDEC;
        if (visited[static_cast<size_t>(next)]) {
            how = TChainEnd::Loop;
            break;
        }
        TDirectoryRecord nextRecord;
        try {
            nextRecord = ReadRecord(next);
        } catch (const EIllegalFileIndex&) {
            how = TChainEnd::OutsideDirectory;
            break;
        }
        if ((nextRecord.Attributes & RecordExtension) == 0) {
            how = TChainEnd::NotExtension;  // another file's record, or a free one
            break;
        }
        visited[static_cast<size_t>(next)] = true;
        chain.push_back(next);
        record = nextRecord;
    }
    if (end != nullptr) *end = how;
    return chain;
}

TRSDOSBase::TChainEnd TRSDOSBase::GetRecordChainEnd(int dec) const {
    TChainEnd end = TChainEnd::LastRecord;
    const std::vector<int> chain = GetRecordChain(dec, &end);
    // The link of a record with an empty extent is never followed: the file ends there,
    // whatever the link bytes hold (system files often keep other bytes in them).
    const auto extents = GetRecordExtents(ReadRecord(chain.back()));
    if (extents.size() < static_cast<size_t>(ExtentsPerRecord)) return TChainEnd::LastRecord;
    return end;
}

std::vector<TExtent> TRSDOSBase::GetRecordExtents(const TDirectoryRecord& record) const {
    std::vector<TExtent> extents;
    for (const TExtentSlot& slot : record.Extents) {
        if (slot.Track == 0xFF) break;
        TExtent extent;
        extent.Track = slot.Track;
        extent.Sector = static_cast<uint32_t>(slot.Granules >> 5) * static_cast<uint32_t>(SectorsPerGranule);
        extent.Count = static_cast<uint8_t>((slot.Granules & 31) + (GranuleCountMinusOne ? 1 : 0));
        extents.push_back(extent);
    }
    return extents;
}

TExtentSlot TRSDOSBase::MakeExtentSlot(int track, int granule, int count) const {
    return {static_cast<uint8_t>(track), static_cast<uint8_t>(granule * 32 + count - (GranuleCountMinusOne ? 1 : 0))};
}

std::vector<TExtent> TRSDOSBase::GetExtents(int dec) {
    std::vector<TExtent> extents;
    for (int d : GetRecordChain(dec)) {
        std::vector<TExtent> part = GetRecordExtents(ReadRecord(d));
        extents.insert(extents.end(), part.begin(), part.end());
        if (part.size() < ExtentsPerRecord) break;  // an empty extent ends the file
    }
    return extents;
}

namespace {

// A name field up to its first space, in capitals.
template <size_t N>
std::string FieldText(const std::array<uint8_t, N>& field) {
    std::string text;
    for (size_t i = 0; i < N && field[i] != ' '; ++i) text += static_cast<char>(std::toupper(field[i]));
    return text;
}

}  // namespace

std::string TRSDOSBase::GetFileName(int fileIndex) { return FieldText(ReadRecord(fileIndex).Name); }

std::string TRSDOSBase::GetFileExtension(int fileIndex) { return FieldText(ReadRecord(fileIndex).Extension); }

void TRSDOSBase::SetFileName(int fileIndex, const std::string& name) {
    TDirectoryRecord record = ReadRecord(fileIndex);
    CheckWritable();
    record.Name.fill(' ');
    record.Extension.fill(' ');
    // The name fills its field until a '.' or '/' moves on to the extension; what does
    // not fit is dropped.
    uint8_t* field = record.Name.data();
    size_t position = 0, limit = record.Name.size();
    for (char c : name) {
        if (c == '.' || c == '/') {
            field = record.Extension.data();
            position = 0;
            limit = record.Extension.size();
            continue;
        }
        if (position < limit) field[position++] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(c)));
    }
    WriteRecord(fileIndex, record);
    Modified = true;
}

int TRSDOSBase::GetFileSize(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    const int eof = record.EofOffset;
    const int ern = record.EndingRecord;
    if (EofInLastSector && eof != 0) return eof + SectorSize * (ern - 1);
    return eof + SectorSize * ern;
}

void TRSDOSBase::SetFileSize(int dec, int size) {
    TDirectoryRecord record = ReadRecord(dec);
    size = std::max(size, 0);
    // Where the last sector is not counted by the ERN, store whole sectors so
    // that the size reads back unchanged.
    const int ern = EofInLastSector ? (size + SectorSize - 1) / SectorSize : size / SectorSize;
    record.EofOffset = static_cast<uint8_t>(size & 0xFF);
    record.EndingRecord = static_cast<uint16_t>(ern & 0xFFFF);
    WriteRecord(dec, record);
    Modified = true;
}

void TRSDOSBase::SetUpdatePassword(int dec, uint16_t hash) {
    TDirectoryRecord record = ReadRecord(dec);
    record.UpdatePassword = hash;
    WriteRecord(dec, record);
    Modified = true;
}

void TRSDOSBase::SetAccessPassword(int dec, uint16_t hash) {
    TDirectoryRecord record = ReadRecord(dec);
    record.AccessPassword = hash;
    WriteRecord(dec, record);
    Modified = true;
}

int TRSDOSBase::GetRecordLength(int dec) {
    const uint8_t length = ReadRecord(dec).RecordLength;
    return length == 0 ? 256 : length;
}

int TRSDOSBase::GetProtectionLevel(int dec) { return ReadRecord(dec).Attributes & 7; }

uint8_t TRSDOSBase::HashFilename(const std::string& name) {
    uint8_t laidOut[11];
    std::fill(std::begin(laidOut), std::end(laidOut), ' ');
    int position = 0;
    for (char c : name) {
        if (position > 10) break;
        if ((c == '.' || c == '/') && position < 9) {
            position = 8;
            continue;
        }
        laidOut[position++] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(c)));
    }
    uint8_t hash = 0;
    for (uint8_t byte : laidOut) {
        hash ^= byte;
        hash = static_cast<uint8_t>((hash << 1) | (hash >> 7));
    }
    return hash == 0 ? 1 : hash;
}

// ---------------------------------------------------------------- attributes and dates

std::vector<AttributeDescriptor> TRSDOSBase::GetAttributeList() {
    std::vector<AttributeDescriptor> list{{"Invisible", 'I', true, AttrInvisible}, {"System", 'S', true, AttrSystem}};
    if (Attributes & AttrCreated) list.push_back({"Created", 'C', true, AttrCreated});
    if (Attributes & AttrMOD) list.push_back({"MOD", '*', true, AttrMOD});
    list.push_back({"Deleted", 'D', false, AttrDeleted});
    return list;
}

bool TRSDOSBase::HasAttribute(int fileIndex, uint32_t mask) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    mask &= Attributes | AttrInvisible | AttrSystem | AttrDeleted;
    if ((mask & AttrInvisible) && (record.Attributes & RecordInvisible)) return true;
    if ((mask & AttrSystem) && (record.Attributes & RecordSystem)) return true;
    if ((mask & AttrCreated) && (record.Flags & RecordCreated)) return true;
    if ((mask & AttrMOD) && (record.Flags & RecordMod)) return true;
    if ((mask & AttrDeleted) && !(record.Attributes & RecordInUse)) return true;
    return false;
}

void TRSDOSBase::SetAttribute(int fileIndex, uint32_t mask, bool on) {
    TDirectoryRecord record = ReadRecord(fileIndex);
    mask &= Attributes;
    if (mask == 0) return;
    CheckWritable();
    auto apply = [on](uint8_t& byte, uint8_t bit) {
        byte = static_cast<uint8_t>(byte & ~bit);
        if (on) byte |= bit;
    };
    if (mask & AttrInvisible) apply(record.Attributes, RecordInvisible);
    if (mask & AttrSystem) apply(record.Attributes, RecordSystem);
    if (mask & AttrCreated) apply(record.Flags, RecordCreated);
    if (mask & AttrMOD) apply(record.Flags, RecordMod);
    if (mask & AttrDeleted) {
        record.Attributes |= RecordInUse;
        if (on) record.Attributes = static_cast<uint8_t>(record.Attributes & ~RecordInUse);
    }
    WriteRecord(fileIndex, record);
    Modified = true;
}

bool TRSDOSBase::SupportsAttribute(uint32_t mask) { return mask == 0 || (mask & Attributes) != 0; }

FileDate TRSDOSBase::GetFileDate(int fileIndex) {
    const TDirectoryRecord record = ReadRecord(fileIndex);
    FileDate date;
    const int month = record.Flags & 0x0F;
    if (month < 1 || month > 12) return date;
    date.HasDate = true;
    date.Month = month;
    date.Day = record.DayYear >> 3;
    date.Year = 1980 + (record.DayYear & 7);
    return date;
}

void TRSDOSBase::SetFileDate(int fileIndex, const FileDate& date) {
    TDirectoryRecord record = ReadRecord(fileIndex);
    CheckWritable();
    record.Flags &= 0xF0;
    record.DayYear = 0;
    if (date.HasDate) {
        record.Flags |= static_cast<uint8_t>(date.Month & 0x0F);
        record.DayYear = static_cast<uint8_t>((date.Day & 31) * 8 + ((date.Year - 1980) & 7));
    }
    WriteRecord(fileIndex, record);
    Modified = true;
}

// ---------------------------------------------------------------- disk name and date

std::string TRSDOSBase::GetDiskName() {
    std::string name(GAT.begin() + GatDiskName, GAT.begin() + GatDiskName + 8);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0' || name.back() == '\r' ||
                             name.back() == '\n' || name.back() == '\t'))
        name.pop_back();
    return name;
}

std::string TRSDOSBase::GetDiskDate() {
    return std::string(GAT.begin() + GatDiskDate, GAT.begin() + GatDiskDate + 8);
}

void TRSDOSBase::SetDiskName(const std::string& name) {
    CheckWritable();
    PutPadded(GAT.data() + GatDiskName, 8, name);
    Modified = true;
}

void TRSDOSBase::SetDiskDate(const std::string& date) {
    CheckWritable();
    PutPadded(GAT.data() + GatDiskDate, 8, date);
    Modified = true;
}

// ---------------------------------------------------------------- allocation

int TRSDOSBase::AllocationMapLimit() const {
    return (NoLockoutTable || Tracks > 95) ? MapWithoutLockout : LockoutTable;
}

bool TRSDOSBase::IsGranuleMarkedUsed(int track, int granule) const {
    if (track < 0 || track >= AllocationMapLimit() || granule < 0 || granule > 7) return false;
    return (GAT[static_cast<size_t>(track)] & (1 << granule)) != 0;
}

bool TRSDOSBase::IsGranuleLockedOut(int track, int granule) const {
    if (NoLockoutTable || Tracks > 95 || track < 0 || track >= LockoutTable || granule < 0 || granule > 7) return false;
    return (GAT[static_cast<size_t>(LockoutTable + track)] & (1 << granule)) != 0;
}

std::vector<TRSDOSBase::TGranule> TRSDOSBase::GetExtentGranules(const TExtent& extent) const {
    const int perTrack = std::max(1, GranulesPerTrack);
    const int start = static_cast<int>(extent.Sector) / std::max(1, SectorsPerGranule);
    std::vector<TGranule> granules;
    granules.reserve(extent.Count);
    for (int k = 0; k < extent.Count; ++k) {
        granules.push_back(TGranule{static_cast<int>(extent.Track) + (start + k) / perTrack, (start + k) % perTrack});
    }
    return granules;
}

bool TRSDOSBase::IsGranuleFree(int track, int granule) const {
    if (track < 0 || track >= AllocationMapLimit() || granule < 0 || granule > 7) return false;
    uint8_t used = GAT[static_cast<size_t>(track)];
    if (!NoLockoutTable && Tracks <= 95) used |= GAT[static_cast<size_t>(LockoutTable + track)];
    return (used & (1 << granule)) == 0;
}

int TRSDOSBase::GetCapacity() { return SectorsPerTrack * Tracks * SectorSize; }

// A two-sided track spans two image cylinders, and a side's sectors fill heads of the
// image's sectors per head.
std::optional<PartitionExtent> TRSDOSBase::GetPartitionExtent() {
    return PartitionExtent{Tracks * Sides, SectorsPerSide / DiskImage::THardImage::SectorsPerHead};
}

int TRSDOSBase::GetFreeSpace() {
    if (Tracks > 255) return 0;
    int freeGranules = 0;
    for (int t = 0; t < Tracks; ++t)
        for (int g = 0; g < GranulesPerTrack; ++g)
            if (IsGranuleFree(t, g)) ++freeGranules;
    return freeGranules * SectorsPerGranule * SectorSize;
}

bool TRSDOSBase::FindFreeGranules(int wanted, int& count, int& track, int& granule) {
    int runLength = 0, runTrack = 0, runGranule = 0;
    int bestLength = 0, bestTrack = 0, bestGranule = 0;
    if (wanted <= 0) return false;
    for (int t = 0; t < Tracks; ++t) {
        for (int g = 0; g < GranulesPerTrack; ++g) {
            if (IsGranuleFree(t, g)) {
                if (runLength == 0) {
                    runTrack = t;
                    runGranule = g;
                }
                if (++runLength == wanted) {
                    count = wanted;
                    track = runTrack;
                    granule = runGranule;
                    return true;
                }
            } else {
                if (runLength > bestLength) {
                    bestLength = runLength;
                    bestTrack = runTrack;
                    bestGranule = runGranule;
                }
                runLength = 0;
            }
        }
    }
    if (bestLength == 0) return false;
    count = bestLength;
    track = bestTrack;
    granule = bestGranule;
    return true;
}

void TRSDOSBase::MarkGranules(int track, int granule, int count, bool used) {
    const int limit = AllocationMapLimit();
    for (int i = 0; i < count && track < limit; ++i) {
        if (track >= 0 && granule >= 0 && granule < 8) {
            const uint8_t bit = static_cast<uint8_t>(1 << granule);
            uint8_t& map = GAT[static_cast<size_t>(track)];
            map = static_cast<uint8_t>(used ? (map | bit) : (map & ~bit));
        }
        if (++granule >= GranulesPerTrack) {
            granule = 0;
            ++track;
        }
    }
    Modified = true;
}

void TRSDOSBase::AllocateGranules(int track, int granule, int count) { MarkGranules(track, granule, count, true); }

void TRSDOSBase::FreeGranules(int track, int granule, int count) { MarkGranules(track, granule, count, false); }

int TRSDOSBase::FindFreeDirectoryEntry(int start) {
    for (int i = 0; i < 256; ++i) {
        const int candidate = (start + i) & 0xFF;
        if ((candidate & 31) < DirectorySectors - 2 && candidate > 1 && HIT[static_cast<size_t>(candidate)] == 0)
            return candidate;
    }
    return -1;
}

// ---------------------------------------------------------------- loading

TFileSystem::TSectorRead TRSDOSBase::ReadDirectoryTrackSector(int sector, bool& normalData,
                                                             std::vector<uint8_t>& buffer) {
    const TSectorRead result =
        ReadUsedSector([&] { return ReadSector(DirectoryTrack, sector, normalData, buffer); }, TReadPurpose::Directory,
                       static_cast<size_t>(sector) * SectorSize, SectorSize);
    if (result != TSectorRead::Clean) ReadError = true;
    return result;
}

void TRSDOSBase::LoadGAT() {
    bool normalData = false;
    if (ReadDirectoryTrackSector(0, normalData, GAT) != TSectorRead::Clean || (!IsHardDisk && normalData)) {
        Suspicion += 10;
        ReadError = true;
    }
    GAT.resize(SectorSize, 0);
}

void TRSDOSBase::LoadHIT() {
    bool normalData = false;
    const TSectorRead read = ReadDirectoryTrackSector(1, normalData, HIT);
    if (read == TSectorRead::Missing) throw EInvalidFormat();
    // A HIT whose CRC fails is used, but costs what an unreadable directory sector costs.
    if (read == TSectorRead::CrcError) Suspicion += 5;
    DirectoryDAM = LastDAM;
    if (!IsHardDisk && normalData) Suspicion += 10;
    HIT.resize(SectorSize, 0);
}

void TRSDOSBase::LoadDirectory(bool tolerant) {
    Directory.clear();
    for (int s = 2; s < DirectorySectors; ++s) {
        std::vector<uint8_t> data;
        bool normalData = false;
        const TSectorRead read = ReadDirectoryTrackSector(s, normalData, data);
        // A sector whose CRC fails is used as read, but weighs on recognition as an unreadable one.
        if (read != TSectorRead::Clean) Suspicion += 5;
        if (read == TSectorRead::Missing) {
            data.assign(SectorSize, 0);
        } else if (!IsHardDisk && normalData) {
            if (s == 18) {
                DirectorySectors = 18;
                break;
            }
            Suspicion += 2;
        }
        Directory.insert(Directory.end(), data.begin(), data.end());
    }
    try {
        const std::vector<int> files = ListFiles({"*/*"}, ListInvisible | ListSystem);
        for (int dec : files) {
            if (GetFileSize(dec) >= 0) continue;
            if (tolerant)
                EofInLastSector = false;
            else
                Suspicion = 100;
        }
        if (files.empty()) Suspicion = 100;
    } catch (const TFileSystem::Exception&) {
        Suspicion = 100;
    }
}

void TRSDOSBase::Flush() {
    if (!Modified) return;
    bool ok = WriteSector(DirectoryTrack, 0, GAT, 0);
    ok = WriteSector(DirectoryTrack, 1, HIT, 0) && ok;
    for (int s = 2; s < DirectorySectors; ++s)
        ok = WriteSector(DirectoryTrack, s, Directory, static_cast<size_t>(s - 2) * SectorSize) && ok;
    if (ok) Modified = false;
}

// ---------------------------------------------------------------- formatting

void TRSDOSBase::InitGAT(const std::string& diskName, const std::string& diskDate) {
    GAT.assign(SectorSize, 0);
    const uint8_t unusable = static_cast<uint8_t>(0xFF << std::clamp(GranulesPerTrack, 0, 8));
    const int mapEnd = NoLockoutTable ? MapWithoutLockout : LockoutTable;
    for (int t = 0; t < mapEnd; ++t) GAT[static_cast<size_t>(t)] = t < Tracks ? unusable : 0xFF;
    if (!NoLockoutTable) {
        std::copy_n(GAT.begin(), LockoutTable, GAT.begin() + LockoutTable);
        std::fill(GAT.begin() + 2 * LockoutTable, GAT.begin() + MapWithoutLockout, 0xFF);
    }
    PutPadded(GAT.data() + GatDiskName, 8, diskName);
    PutPadded(GAT.data() + GatDiskDate, 8, diskDate);
    GAT[GatPassword] = 0x2C;
    GAT[GatPassword + 1] = 0x95;
    GAT[GatAutoCommand] = 0x0D;
    GAT[GatTrackCount] = static_cast<uint8_t>(Tracks - 35);
    uint8_t configuration = 0;
    if (Sides == 2) configuration |= 0x20;
    if (Density == 1) configuration |= 0x40;
    GAT[GatConfiguration] = configuration;
}

void TRSDOSBase::InitHIT() {
    HIT.assign(SectorSize, 0);
    HIT[0] = HashFilename("BOOT/SYS");
    HIT[1] = HashFilename("DIR/SYS");
}

void TRSDOSBase::InitDirectory() {
    Directory.assign(static_cast<size_t>(DirectorySectors) * SectorSize, 0);
    auto makeSystemRecord = [this](int dec, const char* name, int ern, int track, uint8_t granuleByte) {
        TDirectoryRecord record = TDirectoryRecord::Blank(GetRecordBytes());
        record.Attributes = 0x5D;
        record.UpdatePassword = 0x5A17;
        record.AccessPassword = 0x5A17;
        record.EndingRecord = static_cast<uint16_t>(ern);
        record.Extents[0] = {static_cast<uint8_t>(track), granuleByte};
        WriteRecord(dec, record);
        SetFileName(dec, name);
    };
    AllocateGranules(0, 0, 1);
    makeSystemRecord(0, "BOOT/SYS", 5, 0, 0x00);
    const int directoryGranules = (DirectorySectors + SectorsPerGranule - 1) / SectorsPerGranule;
    AllocateGranules(DirectoryTrack, 0, directoryGranules);
    makeSystemRecord(1, "DIR/SYS", DirectorySectors, DirectoryTrack, static_cast<uint8_t>(directoryGranules - 1));
}

bool TRSDOSBase::WriteBootSector() {
    std::vector<uint8_t> boot(SectorSize, 0);
    std::copy(std::begin(BootCode), std::end(BootCode), boot.begin());
    boot[2] = static_cast<uint8_t>(DirectoryTrack);
    std::copy(std::begin(BootMessage), std::end(BootMessage), boot.begin() + 16);
    const bool first = WriteSector(0, 0, boot, 0);
    boot[5] = 0x43;
    return WriteSector(0, 1, boot, 0) && first;
}

bool TRSDOSBase::FormatTrack(int track) {
    if (FloppyImage == nullptr) return false;
    return FloppyImage->FormatTrack(track, SectorsPerSide, Sides, false, 0xFB, Density != 0, Interleave);
}

void TRSDOSBase::Format(const std::string& diskName, const std::string& diskDate) {
    CheckWritable();
    bool formatted = true;
    for (int t = 0; t < Tracks; ++t) formatted = FormatTrack(t) && formatted;
    formatted = WriteBootSector() && formatted;
    InitGAT(diskName, diskDate);
    InitHIT();
    InitDirectory();
    Modified = true;
    Flush();
    // A container that cannot hold the tracks (JV1 keeps single-density, one-sided ones)
    // leaves them unformatted and the directory unwritten: say so rather than hand out a
    // disk that will never open. Where the host refused a write, its reason is the one to tell.
    if (!formatted || Modified) {
        const DiskImage::TDiskImage* image = GetImage();
        if (image != nullptr && image->GetLastHostError() != 0) throw EFileError(WriteFailureError());
        throw EInvalidFormat();
    }
}

}  // namespace FileSystem
