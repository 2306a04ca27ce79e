// CP/M file system: layout recognition, directory entries and their parts,
// block allocation, and the file operations.
#include "filesystem/CPM.h"

#include <algorithm>
#include <numeric>

#include "diskimage/DiskImage.h"

namespace FileSystem {

namespace {

constexpr int EntrySize = 32;
constexpr uint8_t FreeUser = 0xE5;
constexpr int MaxUser = 15;
constexpr int RecordSize = 128;
constexpr int RecordsPerLogicalExtent = 128;  // 16384 bytes
constexpr int ScoreRejected = 0;
constexpr int ScoreEmpty = 50;
constexpr int ScoreFiles = 100;

// CP/M names are ASCII: upper case by the ASCII rule, whatever the host's locale says.
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Bytes [first, first + count) of an entry's name: bit 7 dropped, upper case, trailing blanks removed.
std::string NameText(const std::array<uint8_t, 11>& name, size_t first, size_t count) {
    std::string text;
    for (size_t i = first; i < first + count; ++i) text += Upper(static_cast<char>(name[i] & 0x7F));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool AllBytesAre(const std::vector<uint8_t>& bytes, uint8_t value) {
    return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

bool IsPowerOfTwo(unsigned value) { return value != 0 && (value & (value - 1)) == 0; }

// The boot sector of an MS-DOS or PC-DOS disk: a jump, then a BIOS parameter block
// whose numbers describe a FAT file system laid out in sectors of this very size.
bool IsPCBootSector(const std::vector<uint8_t>& sector) {
    if (sector.size() < 512) return false;
    const bool jump = (sector[0] == 0xEB && sector[2] == 0x90) || sector[0] == 0xE9;
    const unsigned bytesPerSector = sector[11] | (sector[12] << 8);
    const unsigned sectorsPerCluster = sector[13];
    const unsigned reservedSectors = sector[14] | (sector[15] << 8);
    const unsigned fats = sector[16];
    const unsigned media = sector[21];
    return jump && bytesPerSector == sector.size() && IsPowerOfTwo(sectorsPerCluster) && reservedSectors >= 1 &&
           (fats == 1 || fats == 2) && (media == 0xF0 || media >= 0xF8);
}

}  // namespace

struct CPM::Probes {
    bool P0 = false;
    bool P1 = false;
    bool S512 = false;
    bool S1024 = false;
    bool PDS = false;
    bool P80 = false;  // track 79 has a sector 1 of either density: an 80-track disk
    bool PSide1 = false;
    bool P8 = false;  // track 0 has a single-density sector 26: an 8-inch disk
};

CPM::CPM(DiskImage::TDiskImage* image) : TFileSystem(image) { SelectFormat(); }

CPM::~CPM() {
    try {
        Flush();
    } catch (const Exception&) {
        // A protected image keeps its old directory; nothing else can be done here.
    }
}

// ---------------------------------------------------------------------------
// Recognition

bool CPM::ImageHoldsTrack(const CPMFormat& f) const {
    const DiskImage::TFloppyImage* floppy = GetFloppyImage();
    return floppy == nullptr || floppy->HoldsTrack(f.SectorsPerTrack, f.SectorSize(), f.IsDoubleDensity());
}

bool CPM::RowApplies(const CPMFormat& f, const Probes& p) const {
    // A track the container cannot hold whole (six 1024-byte sectors on a 5.25-inch
    // track) would read with its last sectors as zeros: the layout is not offered at all.
    if (!ImageHoldsTrack(f)) return false;
    if (f.IsEightInch() != p.P8) return false;
    if (f.NeedsAll(CPMNeedsSector0) && !p.P0) return false;
    if (f.NeedsAll(CPMNeedsSector1) && !p.P1) return false;
    if (f.NeedsAll(CPMNeedsBlankSide1) && p.PSide1) return false;
    switch (f.SectorSize()) {
        case 1024:
            if (!p.S1024) return false;
            break;
        case 512:
            if (!p.S512 || p.S1024) return false;
            break;
        case 256:
            if (p.S512 || p.S1024) return false;
            break;
        default:
            if (p.S1024) return false;
            break;
    }
    if (f.IsDoubleSided() && !p.PDS) return false;
    if (f.Tracks > 40 && !f.IsEightInch() && !p.P80) return false;
    return true;
}

void CPM::SelectFormat() {
    Probes p;
    uint8_t dam = 0;
    std::vector<uint8_t> data;
    // A PC disk's sectors would fit some layouts, and its FAT read as an empty directory.
    if (ReadDiskSector(0, 1, 0, 1, dam, data) && IsPCBootSector(data)) throw EInvalidFormat();
    p.P0 = ReadDiskSector(0, 0, 0, 0, dam, data);
    p.P1 = ReadDiskSector(0, 1, 0, 0, dam, data);
    if (ReadDiskSector(1, 1, 0, 1, dam, data)) {
        p.S512 = data.size() == 512;
        p.S1024 = data.size() == 1024;
    }
    p.PDS = ReadDiskSector(1, 1, 1, 1, dam, data);
    p.P80 = ReadDiskSector(79, 1, 0, 1, dam, data) || ReadDiskSector(79, 1, 0, 0, dam, data);
    p.P8 = ReadDiskSector(0, 26, 0, 0, dam, data);
    if (ReadDiskSector(2, 1, 1, 1, dam, data)) {
        // A freshly formatted 256-byte sector is no data.
        p.PSide1 = std::count(data.begin(), data.end(), 0xE5) != 256;
    }

    std::vector<int> emptyCandidates;
    int withFiles = -1;
    std::vector<int> alternatives;  // later rows with files that read the same directory sectors
    // Rows are tried in catalogue order, except that a disk whose track 79 reads tries the
    // layouts that use such tracks first: a 40-track layout would read only its first half.
    std::vector<int> order(CPMFormatCount);
    std::iota(order.begin(), order.end(), 0);
    if (p.P80) {
        std::stable_partition(order.begin(), order.end(), [](int row) { return FormatCatalogue[row].Tracks > 40; });
    }
    for (int row : order) {
        if (!RowApplies(FormatCatalogue[row], p)) continue;
        if (withFiles >= 0 && !SameDirectorySectors(withFiles, row)) continue;
        const int score = TryFormat(row);
        if (withFiles >= 0) {
            if (score == ScoreFiles) alternatives.push_back(row);
            continue;
        }
        if (score == ScoreFiles) {
            withFiles = row;
            // Only a disk with a readable side 1 can be a double-sided disk that an
            // earlier row happens to read the directory of.
            if (!p.PDS) break;
        } else if (score == ScoreEmpty) {
            emptyCandidates.push_back(row);
        }
    }

    int selected = -1;
    if (withFiles >= 0) {
        selected = withFiles;
        if (!alternatives.empty()) {
            // Several rows see the same directory: keep the one whose file blocks hold
            // written data; on a tie a double-sided row, then the earlier row.
            alternatives.insert(alternatives.begin(), withFiles);
            int best = -1;
            for (int row : alternatives) {
                TryFormat(row);
                const int unwritten = CountUnwrittenFileSectors();
                const bool doubleSided = FormatCatalogue[row].IsDoubleSided();
                const bool bestDoubleSided = selected >= 0 && FormatCatalogue[selected].IsDoubleSided();
                if (best < 0 || unwritten < best || (unwritten == best && doubleSided && !bestDoubleSided)) {
                    best = unwritten;
                    selected = row;
                }
            }
        }
    } else if (!emptyCandidates.empty()) {
        selected = emptyCandidates.front();
        for (int row : emptyCandidates) {
            if (FormatCatalogue[row].IsDoubleSided()) {
                selected = row;
                break;
            }
        }
    }
    if (selected < 0) throw EInvalidFormat();
    TryFormat(selected);
    // A directory read with errors is used, but the disk is not to be written.
    ReadError = !DirectoryProblems.empty();
}

int CPM::TryFormat(int row) {
    Format = &FormatCatalogue[row];
    FormatRow = row;
    BlockSize = Format->BlockSize();
    SectorSize = Format->SectorSize();
    WideBlockNumbers = Format->WideBlockNumbers();
    DirectoryBlocks = Format->DirectoryBlocks();
    Directory.clear();
    Modified = false;
    DirectoryProblems.clear();
    const int directorySectors = DirectoryBlocks * BlockSize / SectorSize;
    for (int n = 0; n < directorySectors; ++n) AppendUsedSector(n, Directory, TReadPurpose::Directory);
    if (!BuildAllocationMap()) return ScoreRejected;
    return ListFiles({"*.*"}, ListInvisible | ListSystem).empty() ? ScoreEmpty : ScoreFiles;
}

bool CPM::SameDirectorySectors(int rowA, int rowB) const {
    const CPMFormat& a = FormatCatalogue[rowA];
    const CPMFormat& b = FormatCatalogue[rowB];
    if (a.SectorSize() != b.SectorSize() || a.IsDoubleDensity() != b.IsDoubleDensity() || a.Tracks != b.Tracks)
        return false;
    const int bytes = a.DirectoryBlocks() * a.BlockSize();
    if (bytes != b.DirectoryBlocks() * b.BlockSize()) return false;
    for (int n = 0; n < bytes / a.SectorSize(); ++n) {
        CPMSectorAddress x;
        CPMSectorAddress y;
        if (!MapSector(a, n, x) || !MapSector(b, n, y)) return false;
        if (x.Track != y.Track || x.Side != y.Side || x.SectorId != y.SectorId) return false;
    }
    return true;
}

// Sectors of the blocks the directory gives to files that are unreadable or still
// hold nothing but the formatting filler: few of them under the right layout.
int CPM::CountUnwrittenFileSectors() {
    int unwritten = 0;
    const int sectorsPerBlock = BlockSize / SectorSize;
    std::vector<uint8_t> sector;
    for (int n = 0; n <= Format->DRM; ++n) {
        if (UserNumber(n) > MaxUser) continue;
        for (int slot = 0; slot < Format->BlocksPerEntry(); ++slot) {
            const int block = EntryBlock(n, slot);
            if (block == 0) break;
            for (int k = 0; k < sectorsPerBlock; ++k) {
                if (!ReadLogicalSector(block * sectorsPerBlock + k, sector) || AllBytesAre(sector, 0xE5)) ++unwritten;
            }
        }
    }
    return unwritten;
}

bool CPM::BuildAllocationMap() {
    AllocationMap.assign(static_cast<size_t>(Format->DSM) + 1, false);
    for (int n = 0; n <= Format->DRM; ++n) {
        const DirectoryEntry entry = ReadEntry(n);
        if (entry.User == FreeUser) continue;
        if (entry.User > MaxUser) return false;
        for (uint8_t c : entry.Name) {
            if ((c & 0x7F) < 0x20) return false;
        }
        for (int slot = 0; slot < Format->BlocksPerEntry(); ++slot) {
            const int block = EntryBlock(n, slot);
            if (block > Format->DSM) return false;
            if (block == 0) break;
            AllocationMap[block] = true;
        }
    }
    for (int block = 0; block < DirectoryBlocks && block <= Format->DSM; ++block) AllocationMap[block] = true;
    MarkUnmappableBlocks();
    MarkUnwritableBlocks();
    return true;
}

// Blocks with a sector the image does not hold (a track or side it lacks, a sector of
// another size) could not keep what is written to them. Finding them reads the whole
// data area, so it is done when free space first matters, not while recognising.
void CPM::FindUnwritableBlocks() {
    if (UnwritableFormat == Format) return;
    UnwritableFormat = Format;
    UnwritableBlocks.assign(static_cast<size_t>(Format->DSM) + 1, false);
    if (FloppyImage == nullptr) return;
    const int sectorsPerBlock = BlockSize / SectorSize;
    std::vector<uint8_t> data;
    for (int block = DirectoryBlocks; block <= Format->DSM; ++block) {
        for (int k = 0; k < sectorsPerBlock; ++k) {
            CPMSectorAddress a;
            uint8_t dam = 0;
            if (!MapSector(block * sectorsPerBlock + k, a)) break;  // MarkUnmappableBlocks has it
            if (!ReadDiskSector(a.Track, a.SectorId, a.Side, a.Density, dam, data, true) ||
                static_cast<int>(data.size()) != SectorSize) {
                UnwritableBlocks[static_cast<size_t>(block)] = true;
                break;
            }
        }
    }
    MarkUnwritableBlocks();
}

void CPM::MarkUnwritableBlocks() {
    if (UnwritableFormat != Format) return;
    for (size_t block = 0; block < UnwritableBlocks.size() && block < AllocationMap.size(); ++block)
        if (UnwritableBlocks[block]) AllocationMap[block] = true;
}

// A block whose sectors run past the last track could never hold its data: it is
// kept out of allocation so that no file is stored there and lost.
void CPM::MarkUnmappableBlocks() {
    const int sectorsPerBlock = BlockSize / SectorSize;
    CPMSectorAddress address;
    for (int block = Format->DSM; block >= 0; --block) {
        if (MapSector((block + 1) * sectorsPerBlock - 1, address)) break;
        AllocationMap[block] = true;
    }
}

// ---------------------------------------------------------------------------
// Sectors and blocks

bool CPM::MapSector(const CPMFormat& f, int n, CPMSectorAddress& address) {
    if (n < 0 || f.SectorsPerTrack <= 0) return false;
    const int t = n / f.SectorsPerTrack;
    const int s = n % f.SectorsPerTrack;
    if (!f.IsDoubleSided()) {
        address.Side = 0;
        address.Track = t + f.OFF;
    } else if ((f.Flags & CPMSideAfterSide) != 0) {
        const int logicalTrack = t + f.OFF;
        address.Side = logicalTrack < f.Tracks ? 0 : 1;
        address.Track = logicalTrack < f.Tracks ? logicalTrack : logicalTrack - f.Tracks;
    } else {
        address.Side = t % 2;
        address.Track = (f.OFF + t) / 2;
    }
    if (address.Track >= f.Tracks) return false;
    address.SectorId = f.Translation[static_cast<size_t>(s)];
    address.Density = f.IsDoubleDensity() ? 1 : 0;
    return true;
}

bool CPM::ReadLogicalSector(int n, std::vector<uint8_t>& bytes) {
    bytes.clear();
    CPMSectorAddress a;
    if (!MapSector(n, a)) return false;
    uint8_t dam = 0;
    if (!ReadDiskSector(a.Track, a.SectorId, a.Side, a.Density, dam, bytes, false) ||
        static_cast<int>(bytes.size()) != SectorSize) {
        bytes.clear();
        return false;
    }
    return true;
}

bool CPM::AppendLogicalSector(int n, std::vector<uint8_t>& bytes) {
    return AppendUsedSector(n, bytes, TReadPurpose::File);
}

bool CPM::AppendUsedSector(int n, std::vector<uint8_t>& bytes, TReadPurpose purpose) {
    std::vector<uint8_t> sector;
    const TSectorRead read =
        ReadUsedSector([&] { return ReadLogicalSector(n, sector); }, purpose, bytes.size(), SectorSize);
    if (read == TSectorRead::Missing) sector.assign(static_cast<size_t>(SectorSize), 0);
    bytes.insert(bytes.end(), sector.begin(), sector.end());
    return read == TSectorRead::Clean;
}

bool CPM::WriteLogicalSector(int n, const std::vector<uint8_t>& data, size_t offset) {
    CPMSectorAddress a;
    if (!MapSector(n, a)) return false;
    std::vector<uint8_t> sector(static_cast<size_t>(SectorSize), 0);
    if (offset <= data.size()) {
        const size_t count = std::min(sector.size(), data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), count, sector.begin());
    }
    return WriteDiskSector(a.Track, a.SectorId, a.Side, a.Density, 0xFB, sector);
}

void CPM::ReadBlock(int block, std::vector<uint8_t>& bytes) {
    if (block < 0 || block > Format->DSM) return;
    const int sectorsPerBlock = BlockSize / SectorSize;
    for (int k = 0; k < sectorsPerBlock; ++k) AppendLogicalSector(block * sectorsPerBlock + k, bytes);
}

bool CPM::WriteBlock(int block, const std::vector<uint8_t>& data, size_t offset) {
    if (block < 0 || block > Format->DSM) return false;
    const int sectorsPerBlock = BlockSize / SectorSize;
    for (int k = 0; k < sectorsPerBlock; ++k) {
        if (!WriteLogicalSector(block * sectorsPerBlock + k, data, offset + static_cast<size_t>(k) * SectorSize))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Directory entries

namespace {

// Where an entry's fields lie.
constexpr int UserOffset = 0;
constexpr int NameOffset = 1;
constexpr int ExtentLowOffset = 12;
constexpr int S1Offset = 13;
constexpr int ExtentHighOffset = 14;
constexpr int RecordsOffset = 15;
constexpr int AllocationOffset = 16;

}  // namespace

CPM::DirectoryEntry CPM::ReadEntry(int n) const {
    if (n < 0 || n > Format->DRM || static_cast<size_t>(n + 1) * EntrySize > Directory.size())
        throw EIllegalFileIndex();
    const uint8_t* e = Directory.data() + static_cast<size_t>(n) * EntrySize;
    DirectoryEntry entry;
    entry.User = e[UserOffset];
    std::copy(e + NameOffset, e + NameOffset + entry.Name.size(), entry.Name.begin());
    entry.ExtentLow = e[ExtentLowOffset];
    entry.S1 = e[S1Offset];
    entry.ExtentHigh = e[ExtentHighOffset];
    entry.Records = e[RecordsOffset];
    std::copy(e + AllocationOffset, e + AllocationOffset + entry.Allocation.size(), entry.Allocation.begin());
    return entry;
}

void CPM::WriteEntry(int n, const DirectoryEntry& entry) {
    ReadEntry(n);  // refuses an entry outside the directory
    uint8_t* e = Directory.data() + static_cast<size_t>(n) * EntrySize;
    e[UserOffset] = entry.User;
    std::copy(entry.Name.begin(), entry.Name.end(), e + NameOffset);
    e[ExtentLowOffset] = entry.ExtentLow;
    e[S1Offset] = entry.S1;
    e[ExtentHighOffset] = entry.ExtentHigh;
    e[RecordsOffset] = entry.Records;
    std::copy(entry.Allocation.begin(), entry.Allocation.end(), e + AllocationOffset);
}

void CPM::DirectoryEntry::SetExtent(int extent) {
    ExtentLow = static_cast<uint8_t>(extent % 32);
    ExtentHigh = static_cast<uint8_t>(extent / 32);
}

int CPM::DirectoryEntry::Block(int slot, bool wide) const {
    if (wide) return Allocation[static_cast<size_t>(2 * slot)] | (Allocation[static_cast<size_t>(2 * slot + 1)] << 8);
    return Allocation[static_cast<size_t>(slot)];
}

void CPM::DirectoryEntry::SetBlock(int slot, int block, bool wide) {
    if (wide) {
        Allocation[static_cast<size_t>(2 * slot)] = static_cast<uint8_t>(block & 0xFF);
        Allocation[static_cast<size_t>(2 * slot + 1)] = static_cast<uint8_t>(block >> 8);
    } else {
        Allocation[static_cast<size_t>(slot)] = static_cast<uint8_t>(block);
    }
}

int CPM::UserNumber(int entry) const { return ReadEntry(entry).User; }

int CPM::ExtentNumber(int entry) const { return ReadEntry(entry).Extent(); }

int CPM::PartOf(int entry) const { return ExtentNumber(entry) / (Format->EXM + 1); }

bool CPM::IsEntryInUse(int entry) const {
    return entry >= 0 && entry <= Format->DRM && ReadEntry(entry).User != FreeUser;
}

std::vector<int> CPM::GetEntryBlocks(int entry) const {
    std::vector<int> blocks;
    if (!IsEntryInUse(entry)) return blocks;
    for (int slot = 0; slot < Format->BlocksPerEntry(); ++slot) {
        const int block = EntryBlock(entry, slot);
        if (block == 0) break;
        blocks.push_back(block);
    }
    return blocks;
}

int CPM::EntryBlock(int entry, int slot) const { return ReadEntry(entry).Block(slot, WideBlockNumbers); }

void CPM::SetEntryBlock(int entry, int slot, int block) {
    DirectoryEntry e = ReadEntry(entry);
    e.SetBlock(slot, block, WideBlockNumbers);
    WriteEntry(entry, e);
}

// An entry holds as many bytes as its blocks address, but no more than its extent
// mask lets the record count express (rows with EXM 0 and 2K blocks: 16K).
int CPM::EntryCapacity() const {
    return std::min(Format->BytesPerFullEntry(), (Format->EXM + 1) * RecordsPerLogicalExtent * RecordSize);
}

int CPM::EntryBytes(int entry) const {
    const DirectoryEntry e = ReadEntry(entry);
    const int records = (e.ExtentLow & Format->EXM) * RecordsPerLogicalExtent + e.Records;
    return std::min(records * RecordSize, EntryCapacity());
}

// No file can have more parts than the disk holds; entries claiming a later part are damage.
int CPM::MaxParts() const {
    const int diskBytes = Format->BlockCount() * BlockSize;
    return (diskBytes + EntryCapacity() - 1) / EntryCapacity();
}

int CPM::FindFreeDirectoryEntry() const {
    for (int n = 0; n <= Format->DRM; ++n) {
        if (ReadEntry(n).User == FreeUser) return n;
    }
    return -1;
}

std::string CPM::NameKey(const std::string& name) {
    std::string key;
    for (char c : name) key += Upper(c);
    while (!key.empty() && (key.back() == '/' || key.back() == '.' || key.back() == ' ')) key.pop_back();
    std::replace(key.begin(), key.end(), '/', '.');
    return key;
}

bool CPM::NamesEqual(const std::string& a, const std::string& b) { return NameKey(a) == NameKey(b); }

const std::vector<std::string>& CPM::EntryNameKeys() {
    if (KeyedFormat != Format || KeyedDirectory != Directory) {
        EntryKeys.clear();
        for (int n = 0; n <= Format->DRM; ++n) EntryKeys.push_back(NameKey(GetFullFileName(n)));
        KeyedFormat = Format;
        KeyedDirectory = Directory;
    }
    return EntryKeys;
}

std::vector<int> CPM::GetExtentList(int fileIndex) {
    const int user = UserNumber(fileIndex);
    if (user > MaxUser) return {};
    const std::vector<std::string>& keys = EntryNameKeys();
    const std::string& name = keys[static_cast<size_t>(fileIndex)];
    const int maxParts = MaxParts();
    std::vector<int> parts;
    for (int n = 0; n <= Format->DRM; ++n) {
        if (UserNumber(n) != user || keys[static_cast<size_t>(n)] != name) continue;
        const int part = PartOf(n);
        if (part >= maxParts) continue;
        if (part >= static_cast<int>(parts.size())) parts.resize(static_cast<size_t>(part) + 1, -1);
        parts[static_cast<size_t>(part)] = n;
    }
    return parts;
}

// Every entry with the file's user number and name, damaged or duplicate parts included.
std::vector<int> CPM::EntriesOfFile(int fileIndex) {
    const int user = UserNumber(fileIndex);
    if (user > MaxUser) return {};
    const std::vector<std::string>& keys = EntryNameKeys();
    const std::string& name = keys[static_cast<size_t>(fileIndex)];
    std::vector<int> entries;
    for (int n = 0; n <= Format->DRM; ++n) {
        if (UserNumber(n) == user && keys[static_cast<size_t>(n)] == name) entries.push_back(n);
    }
    return entries;
}

// ---------------------------------------------------------------------------
// Queries

int CPM::GetFreeSpace() {
    FindUnwritableBlocks();
    return static_cast<int>(std::count(AllocationMap.begin(), AllocationMap.end(), false)) * BlockSize;
}

int CPM::GetCapacity() { return (Format->DSM + 1 - DirectoryBlocks) * BlockSize; }

std::string CPM::GetFileName(int fileIndex) { return NameText(ReadEntry(fileIndex).Name, 0, 8); }

std::string CPM::GetFileExtension(int fileIndex) { return NameText(ReadEntry(fileIndex).Name, 8, 3); }

int CPM::GetFileSize(int fileIndex) {
    int size = 0;
    for (int entry : GetExtentList(fileIndex)) size += entry < 0 ? EntryCapacity() : EntryBytes(entry);
    return size;
}

std::vector<int> CPM::ListFiles(const std::vector<std::string>& patterns, int /*flags*/) {
    std::vector<int> files;
    for (int n = 0; n <= Format->DRM; ++n) {
        if (UserNumber(n) > MaxUser || PartOf(n) != 0) continue;
        if (MatchesPattern(patterns, GetFileName(n) + "." + GetFileExtension(n))) files.push_back(n);
    }
    return files;
}

int CPM::FindFile(const std::string& name) {
    const std::vector<std::string>& keys = EntryNameKeys();
    const std::string wanted = NameKey(name);
    for (int n = 0; n <= Format->DRM; ++n) {
        if (UserNumber(n) <= MaxUser && keys[static_cast<size_t>(n)] == wanted) return n;
    }
    return -1;
}

std::vector<uint8_t> CPM::ReadFile(int fileIndex) {
    const int size = GetFileSize(fileIndex);
    const int capacity = EntryCapacity();
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(size));
    for (int entry : GetExtentList(fileIndex)) {
        if (entry < 0) {
            bytes.insert(bytes.end(), static_cast<size_t>(capacity), 0);
            continue;
        }
        const size_t start = bytes.size();
        for (int slot = 0; slot < Format->BlocksPerEntry(); ++slot) {
            if (bytes.size() - start >= static_cast<size_t>(capacity)) break;
            const int block = EntryBlock(entry, slot);
            if (block != 0) ReadBlock(block, bytes);
        }
        if (bytes.size() - start > static_cast<size_t>(capacity)) bytes.resize(start + static_cast<size_t>(capacity));
    }
    bytes.resize(static_cast<size_t>(size), 0);
    return bytes;
}

bool CPM::IsValidFilename(const std::string& name) {
    if (name.empty() || name[0] == '$') return false;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7F) return false;
        if (std::string(",;:_[]=<>/").find(c) != std::string::npos) return false;
    }
    if (std::count(name.begin(), name.end(), '.') > 1) return false;
    const size_t dot = name.find('.');
    const size_t stemLength = dot == std::string::npos ? name.size() : dot;
    if (stemLength == 0 || stemLength > 8) return false;
    if (dot != std::string::npos && name.size() - dot - 1 > 3) return false;
    return true;
}

std::vector<AttributeDescriptor> CPM::GetAttributeList() {
    return {{"System", 'S', true, AttrSystem}, {"Archive", 'A', true, AttrArchive}, {"Read-only", 'R', true, AttrReadOnly}};
}

int CPM::GetUserArea(int fileIndex) {
    if (!IsEntryInUse(fileIndex) || UserNumber(fileIndex) > MaxUser) throw EIllegalFileIndex();
    return UserNumber(fileIndex);
}

std::string CPM::GetFilenameRule() {
    return "A CP/M name is 1 to 8 characters, then optionally a '.' and an extension of up to 3; "
           "it may not begin with '$' nor hold any of , ; : _ [ ] = < > /";
}

namespace {
// The byte of the name (one of the extension's three) whose bit 7 carries an attribute, or -1.
int AttributeByte(uint32_t mask) {
    switch (mask) {
        case AttrReadOnly: return 8;
        case AttrSystem: return 9;
        case AttrArchive: return 10;
        default: return -1;
    }
}
}  // namespace

bool CPM::HasAttribute(int fileIndex, uint32_t mask) {
    const DirectoryEntry e = ReadEntry(fileIndex);
    for (uint32_t bit : {AttrReadOnly, AttrSystem, AttrArchive}) {
        if ((mask & bit) != 0 && (e.Name[static_cast<size_t>(AttributeByte(bit))] & 0x80) != 0) return true;
    }
    return false;
}

void CPM::SetAttribute(int fileIndex, uint32_t mask, bool on) {
    ReadEntry(fileIndex);  // refuses an entry outside the directory
    Modified = true;
    const int byte = AttributeByte(mask);
    if (byte < 0) return;
    // Every entry of the file carries the attribute, as the system checks it per entry.
    std::vector<int> entries = EntriesOfFile(fileIndex);
    if (entries.empty()) entries.push_back(fileIndex);
    for (int n : entries) {
        DirectoryEntry e = ReadEntry(n);
        uint8_t& flagged = e.Name[static_cast<size_t>(byte)];
        flagged = static_cast<uint8_t>((flagged & 0x7F) | (on ? 0x80 : 0));
        WriteEntry(n, e);
    }
}

bool CPM::SupportsAttribute(uint32_t mask) { return mask == 0 || (mask & 0x1A00) != 0; }

std::string CPM::GetDOSName(bool family) { return family ? "CP/M" : Format->VendorName; }

std::string CPM::GetDOSDescription() { return std::string(Format->VendorName) + " " + Format->Description.c_str(); }

// ---------------------------------------------------------------------------
// Changes

void CPM::SetFileName(int entry, const std::string& name) {
    DirectoryEntry e = ReadEntry(entry);
    for (uint8_t& c : e.Name) c = static_cast<uint8_t>((c & 0x80) | 0x20);
    size_t position = 0;
    size_t end = 8;  // one past the last byte of the current part
    for (char c : name) {
        if (c == '.' || c == '/') {
            position = 8;
            end = 11;
            continue;
        }
        if (position >= end) continue;  // never beyond the field
        e.Name[position] = static_cast<uint8_t>((e.Name[position] & 0x80) | (static_cast<uint8_t>(Upper(c)) & 0x7F));
        ++position;
    }
    WriteEntry(entry, e);
    Modified = true;
}

void CPM::ChangeDirectory(const std::function<void()>& change) {
    const std::vector<uint8_t> savedDirectory = Directory;
    const std::vector<bool> savedMap = AllocationMap;
    try {
        change();
        Flush();
    } catch (...) {
        Directory = savedDirectory;
        AllocationMap = savedMap;
        // Whatever part of the new directory reached the image is written over by the old one.
        Modified = true;
        try {
            Flush();
        } catch (const Exception&) {
            // The image refuses writes: it still holds the old directory, or the change's own error tells.
        }
        throw;
    }
    BuildAllocationMap();
}

bool CPM::CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& /*date*/) {
    if (FindFile(name) != -1) throw EFileExists();
    if (!IsValidFilename(name)) throw EInvalidFilename();
    FindUnwritableBlocks();
    ChangeDirectory([&] { StoreNewFile(name, data); });
    return true;
}

void CPM::StoreNewFile(const std::string& name, const std::vector<uint8_t>& data) {
    const int blocksPerEntry = EntryCapacity() / BlockSize;
    const int recordsPerEntry = EntryCapacity() / RecordSize;
    long long blocksLeft = (static_cast<long long>(data.size()) + BlockSize - 1) / BlockSize;
    long long recordsLeft = (static_cast<long long>(data.size()) + RecordSize - 1) / RecordSize;
    int entryCount = 0;
    int slot = 0;
    size_t offset = 0;
    int entry = -1;
    do {
        if (slot == 0) {
            entry = FindFreeDirectoryEntry();
            if (entry < 0) throw ETooManyFiles();
            WriteEntry(entry, DirectoryEntry{});
            SetFileName(entry, name);
            int records = static_cast<int>(std::min<long long>(recordsLeft, recordsPerEntry));
            int extra = 0;
            while (records > RecordsPerLogicalExtent) {
                ++extra;
                records -= RecordsPerLogicalExtent;
            }
            const int extent = (Format->EXM + 1) * entryCount + extra;
            DirectoryEntry e = ReadEntry(entry);
            e.SetExtent(extent);
            e.Records = static_cast<uint8_t>(records);
            WriteEntry(entry, e);
        }
        if (blocksLeft == 0) break;
        const auto freeBlock = std::find(AllocationMap.begin(), AllocationMap.end(), false);
        if (freeBlock == AllocationMap.end()) throw EDiskFull();
        *freeBlock = true;
        const int block = static_cast<int>(freeBlock - AllocationMap.begin());
        // Data that did not reach the disk must not be claimed by a directory entry.
        if (!WriteBlock(block, data, offset)) throw EFileError(WriteFailureError());
        SetEntryBlock(entry, slot, block);
        offset += static_cast<size_t>(BlockSize);
        if (++slot == blocksPerEntry) {
            slot = 0;
            ++entryCount;
        }
        --blocksLeft;
        recordsLeft -= BlockSize / RecordSize;
    } while (blocksLeft > 0);
}

bool CPM::DeleteFile(int fileIndex) {
    if (UserNumber(fileIndex) == FreeUser) return false;
    ChangeDirectory([&] {
        for (int n : EntriesOfFile(fileIndex)) {
            DirectoryEntry e = ReadEntry(n);
            e.User = FreeUser;
            WriteEntry(n, e);
        }
        Modified = true;
    });
    return true;
}

bool CPM::RenameFile(int fileIndex, const std::string& newName) {
    if (UserNumber(fileIndex) > MaxUser) return false;
    if (FindFile(newName) != -1) throw EFileExists();
    if (!IsValidFilename(newName)) throw EInvalidFilename();
    ChangeDirectory([&] {
        for (int n : EntriesOfFile(fileIndex)) SetFileName(n, newName);
    });
    return true;
}

void CPM::Flush() {
    if (!Modified || Format == nullptr) return;
    const int sectorsPerBlock = BlockSize / SectorSize;
    bool written = true;
    for (int block = 0; block < DirectoryBlocks; ++block) {
        for (int k = 0; k < sectorsPerBlock; ++k) {
            written = WriteLogicalSector(block * sectorsPerBlock + k, Directory,
                                         static_cast<size_t>(block) * BlockSize + static_cast<size_t>(k) * SectorSize) &&
                      written;
        }
    }
    // A directory that did not reach the disk stays to be written, and the caller hears of it.
    if (!written) throw EFileError(WriteFailureError());
    Modified = false;
}

}  // namespace FileSystem
