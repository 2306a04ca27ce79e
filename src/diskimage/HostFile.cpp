#include "diskimage/HostFile.h"

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <utility>
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

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int RefuseNonImage(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    return KindError(info.st_mode);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool FolderWritable(const std::string& path) { return ::access(FolderOf(path).c_str(), W_OK | X_OK) == 0; }

// Errors of opening a file for writing that mean it may still be read.
bool MeansReadOnlyFile(int error) { return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY; }

// How long an open waits for another process's change to end before it gives up on the
// lock: a qbox verb changes an image in well under this, while a program that keeps an
// image open for a long time is reported as holding it.
constexpr int LockWaitMilliseconds = 1500;

// The files this process holds open for writing, by device and inode. Made on first use,
// so that files opened while other units' statics are being built find it ready.
struct HeldFiles {
    std::mutex Mutex;
    std::set<std::pair<dev_t, ino_t>> Identities;
};

HeldFiles& Held() {
    static HeldFiles held;
    return held;
}

std::pair<dev_t, ino_t> FileIdentity(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return {0, 0};
    return {info.st_dev, info.st_ino};
}

bool HeldHere(int fd) {
    std::lock_guard<std::mutex> lock(Held().Mutex);
    return Held().Identities.count(FileIdentity(fd)) != 0;
}

void SetHeld(int fd, bool held) {
    std::lock_guard<std::mutex> lock(Held().Mutex);
    if (held)
        Held().Identities.insert(FileIdentity(fd));
    else
        Held().Identities.erase(FileIdentity(fd));
}

// Takes the lock (LOCK_EX or LOCK_SH), waiting for a holder to let go for a while, so
// that two runs at once take turns instead of one reading the other's change half done.
// A file this process holds itself is not waited for: no change of ours ends meanwhile.
bool LockWithin(int fd, int operation) {
    constexpr int stepMilliseconds = 10;
    const bool ours = HeldHere(fd);
    for (int waited = 0;; waited += stepMilliseconds) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (ours || waited >= LockWaitMilliseconds) {
            errno = EWOULDBLOCK;
            return false;
        }
        ::usleep(stepMilliseconds * 1000);
    }
}

std::string Resolved(char* resolved) {
    std::string path = resolved;
    std::free(resolved);
    return path;
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
        case ErrorInUse: return "the image is in use by another program (it holds the image's lock)";
        case ErrorJournalFolder: return "not a disk image: a folder stands where its journal belongs";
        case ErrorOutputLink:
        case ErrorOutputFolder:
        case ErrorOutputPipe:
        case ErrorOutputDevice:
        case ErrorOutputSocket:
        case ErrorOutputNotFolder: return OutputErrorText(error, "this name");
        default: return std::strerror(error);
    }
}

std::string OutputErrorText(int error, const std::string& path) {
    switch (error) {
        case ErrorOutputLink: return "a symbolic link stands at " + path + "; nothing is written through it";
        case ErrorOutputFolder: return "a folder stands at " + path;
        case ErrorOutputPipe: return "a named pipe (FIFO) stands at " + path + "; nothing is written to it";
        case ErrorOutputDevice: return "a device stands at " + path + "; nothing is written to it";
        case ErrorOutputSocket: return "a socket stands at " + path + "; nothing is written to it";
        case ErrorOutputNotFolder: return "a file that is not a folder stands at " + path;
        default: return path + ": " + HostErrorText(error);
    }
}

std::string ReadOnlyReasonText(TReadOnlyReason reason) {
    switch (reason) {
        case TReadOnlyReason::InUse: return "it is in use by another program (it holds the image's lock)";
        case TReadOnlyReason::FolderReadOnly:
            return "the folder holding the image is read-only (its journal cannot be made there)";
        case TReadOnlyReason::FileReadOnly: return "the image file is read-only";
        default: return {};
    }
}

std::string JournalBlockedText(const std::string& path) {
    return "not a disk image: a folder stands at " + TJournal::PathFor(RealPathOf(path));
}

std::string RealPathOf(const std::string& path) {
    if (path.empty()) return path;
    if (char* resolved = ::realpath(path.c_str(), nullptr)) return Resolved(resolved);
    size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return path;
    char* folder = ::realpath(FolderOf(path).c_str(), nullptr);
    if (folder == nullptr) return path;
    std::string resolved = Resolved(folder);
    return resolved + (resolved == "/" ? "" : "/") + name;
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
        Unjournalled = other.Unjournalled;
        WhyReadOnly = other.WhyReadOnly;
        LastFailure = other.LastFailure;
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
    Unjournalled = false;
    WhyReadOnly = TReadOnlyReason::None;
    LastFailure = 0;
    Path.clear();
    NewPath.clear();
    Journal.reset();
}

int THostFile::OpenExisting(const std::string& givenPath, bool& readOnly, bool readingOnly) {
    Close();
    readOnly = false;
    const std::string path = RealPathOf(givenPath);
    if (int error = RefuseNonImagePath(path); error != 0) return error;
    TReadOnlyReason reason = readingOnly ? TReadOnlyReason::Requested : TReadOnlyReason::None;
    int fd = -1;
    if (!readingOnly) {
        // Without a writable folder there is nowhere to keep a journal: such an image is read only.
        if (!FolderWritable(path)) {
            reason = TReadOnlyReason::FolderReadOnly;
        } else {
            fd = OpenDescriptor(path, O_RDWR);
            if (fd < 0 && MeansReadOnlyFile(errno)) reason = TReadOnlyReason::FileReadOnly;
        }
    }
    if (fd >= 0) {
        if (int error = RefuseNonImage(fd); error != 0) {
            ::close(fd);
            return error;
        }
        // Another writer holds the image past the wait: fall back to reading, and say why it
        // cannot be written.
        if (LockWithin(fd, LOCK_EX)) {
            // A folder at the journal's name would make every change fail half way.
            if (IsFolder(TJournal::PathFor(path))) {
                ::close(fd);
                return ErrorJournalFolder;
            }
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
            SetHeld(Fd, true);
            return 0;
        }
        reason = TReadOnlyReason::InUse;
        ::close(fd);
    }
    fd = OpenDescriptor(path, O_RDONLY);
    if (fd < 0) return errno == EACCES ? ErrorNoReadPermission : errno;
    if (int error = RefuseNonImage(fd); error != 0) {
        ::close(fd);
        return error;
    }
    // A shared lock keeps other writers out while we read; when a writer holds the file
    // past the wait (a program that keeps it open) we still read it.
    bool noWriter = LockWithin(fd, LOCK_SH);
    // A journal with no writer at work is what a crash left: the bytes on disk may be half
    // a change, and rolling back would be a write.
    if (noWriter && FindJournal(path) == TJournalState::Live) {
        ::close(fd);
        return ErrorUnfinishedChange;
    }
    readOnly = true;
    Fd = fd;
    Path = path;
    WhyReadOnly = reason == TReadOnlyReason::None ? TReadOnlyReason::FileReadOnly : reason;
    return 0;
}

int THostFile::Create(const std::string& givenPath) {
    Close();
    const std::string path = RealPathOf(givenPath);
    // The file being replaced must be one we may replace, and not open in another writer.
    int replaced = -1;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (int error = KindError(info.st_mode); error != 0 || S_ISBLK(info.st_mode))
            return error != 0 ? error : ErrorDevice;
        replaced = OpenDescriptor(path, O_RDWR);
        if (replaced < 0) replaced = OpenDescriptor(path, O_RDONLY);
        if (replaced < 0) return errno;
        if (!LockWithin(replaced, LOCK_EX)) {
            int error = (errno == EWOULDBLOCK) ? ErrorInUse : errno;
            ::close(replaced);
            return error;
        }
        if (IsFolder(TJournal::PathFor(path))) {
            ::close(replaced);
            return ErrorJournalFolder;
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
    if (error == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) error = (errno == EWOULDBLOCK) ? ErrorInUse : errno;
    const bool ours = error == 0;  // we hold it: on failure it goes
    if (error == 0 && ::ftruncate(fd, 0) != 0) error = errno;
    if (error == 0 && replaced >= 0) (void)::fchmod(fd, info.st_mode & 0777);
    if (error != 0) {
        if (ours) ::unlink(newPath.c_str());
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

void THostFile::AdoptNew(int fd) {
    Close();
    Fd = fd;
    Writable = true;
    Unjournalled = true;
}

bool THostFile::Failed() {
    LastFailure = errno != 0 ? errno : EIO;
    errno = LastFailure;
    return false;
}

bool THostFile::Commit() {
    if (Fd < 0 || !Writable) return true;
    if (!NewPath.empty()) {
        if (::fsync(Fd) != 0 || ::rename(NewPath.c_str(), Path.c_str()) != 0) return Failed();
        SyncParentFolder(Path);
        NewPath.clear();
        if (ReplacedFd >= 0) ::close(ReplacedFd);
        ReplacedFd = -1;
        return true;
    }
    if (!Journal) return true;
    if (::fsync(Fd) != 0 || !Journal->Remove()) return Failed();
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
        if (Writable && !Unjournalled) SetHeld(Fd, false);
        ::close(Fd);  // closing also releases the lock
    }
    if (ReplacedFd >= 0) ::close(ReplacedFd);
    Reset();
}

bool THostFile::Protect(uint64_t offset, uint64_t length) {
    // A new file has no original bytes: until it takes its name, it is not yet the image.
    if (!NewPath.empty() || Unjournalled) return true;
    if (!Journal) {
        int64_t size = Size();
        if (size < 0) return Failed();
        Journal = std::make_unique<TJournal>(Path, Fd, static_cast<uint64_t>(size));
    }
    return Journal->Protect(offset, length) || Failed();
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
            return Failed();
        }
        if (n == 0) {
            errno = EIO;
            return Failed();
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
    return ::ftruncate(Fd, static_cast<off_t>(length)) == 0 || Failed();
}

bool THostFile::Sync() { return Fd >= 0 && ::fsync(Fd) == 0; }

}  // namespace DiskImage
