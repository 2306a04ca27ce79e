// RSDOS: FAT, directory, granule chains and file sizes.
#include "filesystem/RSDOS.h"

#include <algorithm>
#include <cctype>

namespace FileSystem {

namespace {

constexpr int EntrySize = 32;
constexpr uint8_t FreeGranule = 0xFF;
constexpr uint8_t LastGranule = 0xC0;
constexpr int LastGranuleMaxSectors = 9;
constexpr int MaxLink = 0x43;
constexpr uint8_t DeletedEntry = 0x00;
constexpr uint8_t EndOfDirectory = 0xFF;
constexpr int ListedEntries = 68;

bool IsLastGranule(uint8_t value) { return value >= LastGranule && value <= LastGranule + LastGranuleMaxSectors; }

std::string EntryText(const uint8_t* entry, int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) text += static_cast<char>(std::toupper(entry[i]));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

RSDOS::RSDOS(DiskImage::TDiskImage* image) : TFileSystem(image) {
    const TSectorRead fatRead = ReadUsedSector([&] { return ReadSector(DirectoryTrack, 2, FAT); },
                                               TReadPurpose::Directory, 0, SectorSize);
    if (fatRead != TSectorRead::Clean) ReadError = true;
    if (fatRead == TSectorRead::CrcError) Suspicion += 5;
    if (fatRead == TSectorRead::Missing) {
        Suspicion = 100;
        FAT.assign(SectorSize, 0);
    }
    LoadDirectory();
    // An OS-9 disk identifies itself in its first sector; whatever its track 17 holds is no FAT.
    if (HoldsOS9IdentificationSector()) Suspicion = 100;
    // Only the first 64 bytes are judged; the last granules' bytes vary between writers.
    for (int g = 0; g < 64; ++g) {
        const uint8_t v = FAT[g];
        if (v != FreeGranule && v > MaxLink && !IsLastGranule(v)) {
            Suspicion = 100;
            break;
        }
    }
}

bool RSDOS::ReadSector(int track, int sector, std::vector<uint8_t>& bytes) {
    uint8_t dam = 0;
    if (ReadDiskSector(track, sector, 0, 1, dam, bytes, false) && bytes.size() == SectorSize) return true;
    bytes.clear();
    return false;
}

bool RSDOS::AppendSector(int track, int sector, std::vector<uint8_t>& bytes) {
    return AppendUsedSector(track, sector, bytes, TReadPurpose::File);
}

bool RSDOS::AppendUsedSector(int track, int sector, std::vector<uint8_t>& bytes, TReadPurpose purpose) {
    std::vector<uint8_t> data;
    const TSectorRead read =
        ReadUsedSector([&] { return ReadSector(track, sector, data); }, purpose, bytes.size(), SectorSize);
    if (read == TSectorRead::Missing) data.assign(SectorSize, 0);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return read == TSectorRead::Clean;
}

void RSDOS::LoadDirectory() {
    Directory.clear();
    for (int sector = 3; sector <= 11; ++sector) {
        // A sector whose CRC fails is used as read, and weighs as an unreadable one.
        if (!AppendUsedSector(DirectoryTrack, sector, Directory, TReadPurpose::Directory)) {
            Suspicion += 5;
            ReadError = true;
        }
    }
}

// OS-9's identification sector (logical sector 0: track 0, sector 1) describes the disk
// in numbers that agree with each other and with an 18-sector track; file data at that
// place on an RSDOS disk does not.
bool RSDOS::HoldsOS9IdentificationSector() {
    std::vector<uint8_t> id;
    if (!ReadSector(0, 1, id)) return false;
    auto number = [&id](size_t at, size_t bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) value = (value << 8) | id[at + i];
        return value;
    };
    const uint32_t totalSectors = number(0, 3);
    const uint32_t sectorsPerTrack = number(17, 2);
    const uint32_t sectorsPerCluster = number(6, 2);
    const uint32_t mapBytes = number(4, 2);
    const uint32_t rootDirectory = number(8, 3);
    if (id[3] != 18 || sectorsPerTrack != 18 || totalSectors % 18 != 0) return false;
    const uint32_t tracks = totalSectors / 18;  // of both sides together
    if (tracks < 35 || tracks > 2 * 80) return false;
    if (sectorsPerCluster == 0 || (sectorsPerCluster & (sectorsPerCluster - 1)) != 0) return false;
    // The allocation map holds a bit per cluster; formatters round its size either way.
    const uint32_t clusters = totalSectors / sectorsPerCluster;
    const bool mapFits = mapBytes == clusters / 8 || mapBytes == (clusters + 7) / 8;
    return mapFits && rootDirectory > 0 && rootDirectory < totalSectors;
}

int RSDOS::GranuleTrack(int granule) {
    const int track = granule / 2;
    return track >= 17 ? track + 1 : track;
}

int RSDOS::GranuleFirstSector(int granule) { return 1 + GranuleSectors * (granule % 2); }

std::vector<uint8_t> RSDOS::ReadGranule(int granule) {
    std::vector<uint8_t> bytes;
    if (granule < 0 || granule >= Granules) return bytes;
    const int track = GranuleTrack(granule);
    const int first = GranuleFirstSector(granule);
    for (int k = 0; k < GranuleSectors; ++k) AppendSector(track, first + k, bytes);
    return bytes;
}

RSDOS::DirectoryEntry RSDOS::ReadEntry(int fileIndex) const {
    if (fileIndex < 0 || static_cast<size_t>(fileIndex + 1) * EntrySize > Directory.size())
        throw EIllegalFileIndex();
    const uint8_t* e = Directory.data() + static_cast<size_t>(fileIndex) * EntrySize;
    DirectoryEntry entry;
    entry.Name = EntryText(e, 0, 8);
    entry.Extension = EntryText(e, 8, 3);
    entry.Status = e[0];
    entry.FileType = e[11];
    entry.Ascii = e[12] == 0xFF;
    entry.FirstGranule = e[13];
    entry.LastSectorBytes = (e[14] << 8) | e[15];
    return entry;
}

// The granules of a file, at most one pass over the 68 granules. A link outside
// the disk, a free or unknown value, or a loop leaves the chain incomplete.
RSDOS::Chain RSDOS::FollowChain(int fileIndex) const {
    Chain chain;
    int granule = ReadEntry(fileIndex).FirstGranule;
    for (int step = 0; step < Granules; ++step) {
        if (granule >= Granules) return chain;
        chain.granules.push_back(granule);
        const uint8_t v = FAT[static_cast<size_t>(granule)];
        if (IsLastGranule(v)) {
            chain.lastSectors = v & 0x0F;
            chain.complete = true;
            return chain;
        }
        if (v > MaxLink) return chain;
        granule = v;
    }
    return chain;
}

std::vector<int> RSDOS::GetGranuleChain(int fileIndex, bool& complete) const {
    const Chain chain = FollowChain(fileIndex);
    complete = chain.complete;
    return chain.granules;
}

uint8_t RSDOS::GetFATByte(int granule) const {
    return (granule >= 0 && static_cast<size_t>(granule) < FAT.size()) ? FAT[static_cast<size_t>(granule)] : 0xFF;
}

int RSDOS::GetFileSize(int fileIndex) {
    const Chain chain = FollowChain(fileIndex);
    if (!chain.complete) return 0;
    // The last sector holds at most a sector's worth; a last granule with no sector in use holds nothing.
    const int lastBytes = std::min(ReadEntry(fileIndex).LastSectorBytes, SectorSize);
    const int inLastGranule = chain.lastSectors == 0 ? 0 : (chain.lastSectors - 1) * SectorSize + lastBytes;
    return GranuleSize * (static_cast<int>(chain.granules.size()) - 1) + inLastGranule;
}

std::vector<uint8_t> RSDOS::ReadFile(int fileIndex) {
    const int size = GetFileSize(fileIndex);
    std::vector<uint8_t> bytes;
    if (size == 0) return bytes;
    for (int granule : FollowChain(fileIndex).granules) {
        bool ninthRead = true;
        for (int k = 0; k < GranuleSectors; ++k)
            ninthRead = AppendSector(GranuleTrack(granule), GranuleFirstSector(granule) + k, bytes);
        // A granule whose ninth sector cannot be read ends the file.
        if (!ninthRead || bytes.size() >= static_cast<size_t>(size)) break;
    }
    bytes.resize(static_cast<size_t>(size), 0);
    return bytes;
}

std::vector<int> RSDOS::ListFiles(const std::vector<std::string>& patterns, int /*flags*/) {
    std::vector<int> files;
    for (int index = 0; index < ListedEntries; ++index) {
        const DirectoryEntry entry = ReadEntry(index);
        if (entry.Status == EndOfDirectory) break;
        if (entry.Status == DeletedEntry) continue;
        if (MatchesPattern(patterns, entry.Name + "." + entry.Extension)) files.push_back(index);
    }
    return files;
}

std::string RSDOS::GetFileName(int fileIndex) { return ReadEntry(fileIndex).Name; }

std::string RSDOS::GetFileExtension(int fileIndex) { return ReadEntry(fileIndex).Extension; }

int RSDOS::GetFreeSpace() {
    return GranuleSize * static_cast<int>(std::count(FAT.begin(), FAT.begin() + Granules, FreeGranule));
}

bool RSDOS::IsValidFilename(const std::string& name) {
    if (name.empty()) return false;
    int separators = 0;
    size_t separator = std::string::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c > 0x7F || c == ':') return false;
        if (c == '.' || c == '/') {
            ++separators;
            separator = i;
        }
    }
    if (separators > 1) return false;
    const size_t stem = separator == std::string::npos ? name.size() : separator;
    if (stem == 0 || stem > 8) return false;
    return separator == std::string::npos || name.size() - separator - 1 <= 3;
}

std::string RSDOS::GetFilenameRule() {
    return "A name is 1 to 8 characters, then optionally a '.' and an extension of up to 3; it may not hold ':'";
}

std::vector<AttributeDescriptor> RSDOS::GetAttributeList() { return {{"ASCII", 'A', true, AttrASCII}}; }

bool RSDOS::HasAttribute(int fileIndex, uint32_t mask) {
    const bool ascii = ReadEntry(fileIndex).Ascii;
    return (mask & AttrASCII) != 0 && ascii;
}

std::vector<std::string> RSDOS::GetFileTypeList() {
    return {"BASIC program", "BASIC data file", "Machine language program", "Text editor source file"};
}

int RSDOS::GetFileType(int fileIndex) { return ReadEntry(fileIndex).FileType; }

// The disk is never changed: every modifying call is refused before anything is written.
bool RSDOS::CreateFile(const std::string&, const std::vector<uint8_t>&, const FileDate&) { throw EWriteProtected(); }

bool RSDOS::DeleteFile(int fileIndex) {
    ReadEntry(fileIndex);  // an index outside the directory is refused first
    throw EWriteProtected();
}

bool RSDOS::RenameFile(int fileIndex, const std::string&) {
    ReadEntry(fileIndex);  // an index outside the directory is refused first
    throw EWriteProtected();
}

void RSDOS::SetAttribute(int fileIndex, uint32_t, bool) {
    ReadEntry(fileIndex);  // an index outside the directory is refused first
    throw EWriteProtected();
}

void RSDOS::SetFileName(int fileIndex, const std::string&) {
    ReadEntry(fileIndex);  // an index outside the directory is refused first
    throw EWriteProtected();
}

}  // namespace FileSystem
