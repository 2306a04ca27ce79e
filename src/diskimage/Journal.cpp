#include "diskimage/Journal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace DiskImage {

namespace {

constexpr std::array<uint8_t, 8> Magic = {'Q', 'B', 'J', 'R', 'N', 'L', '0', '1'};
constexpr size_t HeaderBytes = 8 + 8 + 4;
constexpr uint32_t RecordMarker = 0x43455251;  // "QREC"
constexpr size_t RecordHeaderBytes = 4 + 8 + 4 + 4;
// Changes save tracks and sectors; a record claiming more than this is damage.
constexpr uint64_t MaxRecordBytes = 64u << 20;

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t Get(const uint8_t* in, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool ReadAllAt(int fd, uint64_t offset, uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::pread(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        offset += static_cast<uint64_t>(n);
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool SyncDescriptor(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

// The whole journal file, read without following links or blocking on odd files.
bool ReadJournalFile(const std::string& path, std::vector<uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        bytes.resize(static_cast<size_t>(info.st_size));
        ok = ReadAllAt(fd, 0, bytes.data(), bytes.size());
    }
    ::close(fd);
    return ok;
}

bool ValidHeader(const std::vector<uint8_t>& bytes, uint64_t& originalLength) {
    if (bytes.size() < HeaderBytes || !std::equal(Magic.begin(), Magic.end(), bytes.begin())) return false;
    if (Crc32(bytes.data(), 16) != Get(bytes.data() + 16, 4)) return false;
    originalLength = Get(bytes.data() + 8, 8);
    return originalLength <= static_cast<uint64_t>(INT64_MAX);
}

struct Record {
    uint64_t Offset;
    size_t Position;  // of the data within the journal
    size_t Length;
};

// The whole records after the header, up to the first one that is torn or damaged.
std::vector<Record> WholeRecords(const std::vector<uint8_t>& bytes, uint64_t originalLength) {
    std::vector<Record> records;
    size_t at = HeaderBytes;
    while (bytes.size() - at >= RecordHeaderBytes) {
        const uint8_t* head = bytes.data() + at;
        uint64_t offset = Get(head + 4, 8);
        uint64_t length = Get(head + 12, 4);
        if (Get(head, 4) != RecordMarker || length > MaxRecordBytes || length > bytes.size() - at - RecordHeaderBytes)
            break;
        if (offset > originalLength || length > originalLength - offset) break;
        uint32_t crc = Crc32(head + 4, 12);
        crc = Crc32(head + RecordHeaderBytes, static_cast<size_t>(length), crc);
        if (crc != Get(head + 16, 4)) break;
        records.push_back({offset, at + RecordHeaderBytes, static_cast<size_t>(length)});
        at += RecordHeaderBytes + static_cast<size_t>(length);
    }
    return records;
}

}  // namespace

void SyncParentFolder(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)SyncDescriptor(fd);  // some file systems cannot sync a folder; the name is then as safe as they make it
    ::close(fd);
}

TJournal::TJournal(std::string imagePath, int imageFd, uint64_t originalLength)
    : ImagePath(std::move(imagePath)), ImageFd(imageFd), OriginalSize(originalLength) {}

TJournal::~TJournal() {
    if (Fd >= 0) ::close(Fd);
}

bool TJournal::Start() {
    const std::string path = PathFor(ImagePath);
    do {
        Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0) return false;
    std::vector<uint8_t> header(Magic.begin(), Magic.end());
    Put(header, OriginalSize, 8);
    Put(header, Crc32(header.data(), header.size()), 4);
    if (!WriteAll(Fd, header.data(), header.size()) || !SyncDescriptor(Fd)) return false;
    SyncParentFolder(path);
    return true;
}

bool TJournal::Append(uint64_t offset, uint64_t length) {
    std::vector<uint8_t> record;
    record.reserve(RecordHeaderBytes + length);
    Put(record, RecordMarker, 4);
    Put(record, offset, 8);
    Put(record, length, 4);
    Put(record, 0, 4);  // the CRC, filled in below
    record.resize(RecordHeaderBytes + length);
    if (!ReadAllAt(ImageFd, offset, record.data() + RecordHeaderBytes, static_cast<size_t>(length))) return false;
    uint32_t crc = Crc32(record.data() + 4, 12);
    crc = Crc32(record.data() + RecordHeaderBytes, static_cast<size_t>(length), crc);
    for (int i = 0; i < 4; ++i) record[16 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return WriteAll(Fd, record.data(), record.size());
}

bool TJournal::Protect(uint64_t offset, uint64_t length) {
    if (Fd < 0 && !Start()) return false;
    // Bytes past the original end need no saving: rolling back cuts the file there.
    uint64_t end = std::min(OriginalSize, offset + length);
    bool appended = false;
    uint64_t at = offset;
    while (at < end) {
        // Skip a saved range holding `at`, else save up to the next saved range.
        auto next = Saved.upper_bound(at);
        if (next != Saved.begin()) {
            auto previous = std::prev(next);
            if (previous->second > at) {
                at = previous->second;
                continue;
            }
        }
        uint64_t gapEnd = next == Saved.end() ? end : std::min(end, next->first);
        for (uint64_t piece = at; piece < gapEnd;) {
            uint64_t pieceLength = std::min(gapEnd - piece, MaxRecordBytes);
            if (!Append(piece, pieceLength)) return false;
            piece += pieceLength;
        }
        appended = true;
        Saved[at] = gapEnd;
        at = gapEnd;
    }
    if (appended && !SyncDescriptor(Fd)) return false;
    // Adjacent saved ranges merge, so the map stays as small as the change.
    for (auto it = Saved.begin(); it != Saved.end();) {
        auto next = std::next(it);
        if (next != Saved.end() && next->first <= it->second) {
            it->second = std::max(it->second, next->second);
            Saved.erase(next);
        } else {
            it = next;
        }
    }
    return true;
}

bool TJournal::Remove() {
    if (Fd < 0) return true;
    ::close(Fd);
    Fd = -1;
    const std::string path = PathFor(ImagePath);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
    SyncParentFolder(path);
    return true;
}

TJournalState FindJournal(const std::string& imagePath) {
    struct stat info {};
    if (::lstat(TJournal::PathFor(imagePath).c_str(), &info) != 0) return TJournalState::None;
    std::vector<uint8_t> bytes;
    uint64_t originalLength = 0;
    if (ReadJournalFile(TJournal::PathFor(imagePath), bytes) && ValidHeader(bytes, originalLength))
        return TJournalState::Live;
    return TJournalState::Torn;
}

int RollBackJournal(const std::string& imagePath, int imageFd) {
    const std::string path = TJournal::PathFor(imagePath);
    std::vector<uint8_t> bytes;
    uint64_t originalLength = 0;
    if (ReadJournalFile(path, bytes) && ValidHeader(bytes, originalLength)) {
        std::vector<Record> records = WholeRecords(bytes, originalLength);
        // Latest first, so that should a range ever be saved twice its oldest bytes end up in place.
        for (auto record = records.rbegin(); record != records.rend(); ++record) {
            const uint8_t* data = bytes.data() + record->Position;
            size_t done = 0;
            while (done < record->Length) {
                ssize_t n = ::pwrite(imageFd, data + done, record->Length - done,
                                     static_cast<off_t>(record->Offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return n == 0 ? EIO : errno;
                done += static_cast<size_t>(n);
            }
        }
        if (::ftruncate(imageFd, static_cast<off_t>(originalLength)) != 0) return errno;
        if (!SyncDescriptor(imageFd)) return errno;
    }
    // A journal without a whole header was cut short before the image was touched.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
    SyncParentFolder(path);
    return 0;
}

}  // namespace DiskImage
