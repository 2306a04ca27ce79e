#include "diskimage/HostFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diskimage/Journal.h"

namespace DiskImage {

namespace {

// Offsets come from image contents; anything a signed file offset cannot hold is refused.
bool FitsFileOffset(uint64_t offset, size_t length) {
    constexpr uint64_t maxOffset = static_cast<uint64_t>(INT64_MAX);
    return offset <= maxOffset && length <= maxOffset - offset;
}

int OpenDescriptor(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        // Non-blocking so that naming a pipe cannot hang the program; plain files ignore it.
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// An image is a plain file or a disk device; everything else gets its own message.
int KindError(mode_t mode) {
    if (S_ISREG(mode) || S_ISBLK(mode)) return 0;
    if (S_ISDIR(mode)) return ErrorFolder;
    if (S_ISFIFO(mode)) return ErrorNamedPipe;
    if (S_ISSOCK(mode)) return ErrorSocket;
    return ErrorDevice;
}

// Checked by name before opening, so that no device or pipe is ever opened, and again
// on the descriptor, in case the name was swapped in between.
int RefuseNonImagePath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    return KindError(info.st_mode);
}

int RefuseNonImage(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    return KindError(info.st_mode);
}

bool FolderWritable(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string HostErrorText(int error) {
    switch (error) {
        case ErrorFolder: return "this is a folder, not a disk image file";
        case ErrorNamedPipe: return "this is a named pipe (FIFO), not a disk image file";
        case ErrorDevice: return "this is a device, not a disk image file";
        case ErrorSocket: return "this is a socket, not a disk image file";
        case ErrorNoReadPermission: return "no permission to read this file";
        case ErrorUnfinishedChange:
            return "the image holds an unfinished change (a .qbjournal file lies beside it); open it for writing "
                   "to roll the change back";
        default: return std::strerror(error);
    }
}

THostFile::THostFile() = default;

THostFile::~THostFile() { Close(); }

THostFile::THostFile(THostFile&& other) noexcept { *this = std::move(other); }

THostFile& THostFile::operator=(THostFile&& other) noexcept {
    if (this != &other) {
        Close();
        Fd = other.Fd;
        Writable = other.Writable;
        Discard = other.Discard;
        Path = std::move(other.Path);
        NewPath = std::move(other.NewPath);
        ReplacedFd = other.ReplacedFd;
        Journal = std::move(other.Journal);
        other.Reset();
    }
    return *this;
}

void THostFile::Reset() {
    Fd = -1;
    ReplacedFd = -1;
    Writable = false;
    Discard = false;
    Path.clear();
    NewPath.clear();
    Journal.reset();
}

int THostFile::OpenExisting(const std::string& path, bool& readOnly, bool readingOnly) {
    Close();
    readOnly = false;
    if (int error = RefuseNonImagePath(path); error != 0) return error;
    // Without a writable folder there is nowhere to keep a journal: such an image is read only.
    int fd = (readingOnly || !FolderWritable(path)) ? -1 : OpenDescriptor(path, O_RDWR);
    if (fd >= 0) {
        if (int error = RefuseNonImage(fd); error != 0) {
            ::close(fd);
            return error;
        }
        // Another writer holds the image: fall back to reading, as for a read-only file.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Only the holder of the writer's lock may roll back an unfinished change.
            if (FindJournal(path) != TJournalState::None) {
                if (int error = RollBackJournal(path, fd); error != 0) {
                    ::close(fd);
                    return error;
                }
            }
            Fd = fd;
            Writable = true;
            Path = path;
            return 0;
        }
        ::close(fd);
    }
    fd = OpenDescriptor(path, O_RDONLY);
    if (fd < 0) return errno == EACCES ? ErrorNoReadPermission : errno;
    if (int error = RefuseNonImage(fd); error != 0) {
        ::close(fd);
        return error;
    }
    // A shared lock keeps other writers out while we read; when a writer already
    // holds the file we still read it.
    bool noWriter = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    // A journal with no writer at work is what a crash left: the bytes on disk may be half
    // a change, and rolling back would be a write.
    if (noWriter && FindJournal(path) == TJournalState::Live) {
        ::close(fd);
        return ErrorUnfinishedChange;
    }
    readOnly = true;
    Fd = fd;
    Path = path;
    return 0;
}

int THostFile::Create(const std::string& path) {
    Close();
    // The file being replaced must be one we may replace, and not open in another writer.
    int replaced = -1;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (int error = KindError(info.st_mode); error != 0 || S_ISBLK(info.st_mode))
            return error != 0 ? error : ErrorDevice;
        replaced = OpenDescriptor(path, O_RDWR);
        if (replaced < 0) replaced = OpenDescriptor(path, O_RDONLY);
        if (replaced < 0) return errno;
        if (::flock(replaced, LOCK_EX | LOCK_NB) != 0) {
            int error = (errno == EWOULDBLOCK) ? EBUSY : errno;
            ::close(replaced);
            return error;
        }
        // A change cut short on the old file is rolled back, so that a crash before the new
        // file takes its place leaves the old one whole.
        if (FindJournal(path) != TJournalState::None) {
            if (int error = RollBackJournal(path, replaced); error != 0) {
                ::close(replaced);
                return error;
            }
        }
    }
    const std::string newPath = path + ".qbnew";
    int fd = OpenDescriptor(newPath, O_RDWR | O_CREAT | O_NOFOLLOW, replaced >= 0 ? (info.st_mode & 0777) : 0666);
    int error = fd < 0 ? errno : RefuseNonImage(fd);
    // A .qbnew left by a crash is ours to reuse, but not while another creator holds it.
    if (error == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) error = (errno == EWOULDBLOCK) ? EBUSY : errno;
    if (error == 0 && ::ftruncate(fd, 0) != 0) error = errno;
    if (error == 0 && replaced >= 0) (void)::fchmod(fd, info.st_mode & 0777);
    if (error != 0) {
        if (fd >= 0) ::close(fd);
        if (replaced >= 0) ::close(replaced);
        return error;
    }
    Fd = fd;
    Writable = true;
    Path = path;
    NewPath = newPath;
    ReplacedFd = replaced;
    return 0;
}

bool THostFile::Commit() {
    if (Fd < 0 || !Writable) return true;
    if (!NewPath.empty()) {
        if (::fsync(Fd) != 0 || ::rename(NewPath.c_str(), Path.c_str()) != 0) return false;
        SyncParentFolder(Path);
        NewPath.clear();
        if (ReplacedFd >= 0) ::close(ReplacedFd);
        ReplacedFd = -1;
        return true;
    }
    if (!Journal) return true;
    if (::fsync(Fd) != 0 || !Journal->Remove()) return false;
    Journal.reset();
    return true;
}

void THostFile::RollBack() {
    if (!NewPath.empty()) {
        ::unlink(NewPath.c_str());
        NewPath.clear();
    } else if (Journal) {
        // On failure the journal stays, and the next open for writing tries again.
        (void)RollBackJournal(Path, Fd);
        Journal.reset();
    }
}

void THostFile::Close() {
    if (Fd >= 0) {
        if (Discard || !Commit()) RollBack();
        ::close(Fd);  // closing also releases the lock
    }
    if (ReplacedFd >= 0) ::close(ReplacedFd);
    Reset();
}

bool THostFile::Protect(uint64_t offset, uint64_t length) {
    // A new file has no original bytes: until it takes its name, it is not yet the image.
    if (!NewPath.empty()) return true;
    if (!Journal) {
        int64_t size = Size();
        if (size < 0) return false;
        Journal = std::make_unique<TJournal>(Path, Fd, static_cast<uint64_t>(size));
    }
    return Journal->Protect(offset, length);
}

size_t THostFile::ReadSomeAt(uint64_t offset, void* buffer, size_t length) const {
    if (Fd < 0 || !FitsFileOffset(offset, length)) {
        errno = EINVAL;
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(Fd, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (n == 0) {
            break;  // end of file
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool THostFile::ReadAt(uint64_t offset, void* buffer, size_t length) const {
    return ReadSomeAt(offset, buffer, length) == length;
}

bool THostFile::WriteAt(uint64_t offset, const void* buffer, size_t length) {
    if (Fd < 0 || !FitsFileOffset(offset, length)) {
        errno = EINVAL;
        return false;
    }
    if (!Writable) {
        errno = EBADF;
        return false;
    }
    if (!Protect(offset, length)) return false;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(Fd, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t THostFile::Size() const {
    struct stat info {};
    if (Fd < 0 || ::fstat(Fd, &info) != 0) {
        return -1;
    }
    return static_cast<int64_t>(info.st_size);
}

bool THostFile::Truncate(uint64_t length) {
    if (Fd < 0 || !Writable || !FitsFileOffset(length, 0)) {
        return false;
    }
    int64_t size = Size();
    if (size < 0) return false;
    // Bytes cut off are saved like overwritten ones; growing only needs the journal begun.
    uint64_t current = static_cast<uint64_t>(size);
    if (!Protect(std::min(length, current), length < current ? current - length : 0)) return false;
    return ::ftruncate(Fd, static_cast<off_t>(length)) == 0;
}

bool THostFile::Sync() { return Fd >= 0 && ::fsync(Fd) == 0; }

}  // namespace DiskImage
