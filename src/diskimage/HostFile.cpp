#include "diskimage/HostFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Directories, pipes and the like open on POSIX hosts; an image is a plain file or a disk device.
int RefuseNonImage(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return errno;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    return (S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)) ? 0 : EINVAL;
}

}  // namespace

THostFile::~THostFile() { Close(); }

THostFile::THostFile(THostFile&& other) noexcept : Fd(other.Fd) { other.Fd = -1; }

THostFile& THostFile::operator=(THostFile&& other) noexcept {
    if (this != &other) {
        Close();
        Fd = other.Fd;
        other.Fd = -1;
    }
    return *this;
}

int THostFile::OpenExisting(const std::string& path, bool& readOnly) {
    Close();
    readOnly = false;
    int fd = OpenDescriptor(path, O_RDWR);
    if (fd >= 0) {
        if (int error = RefuseNonImage(fd); error != 0) {
            ::close(fd);
            return error;
        }
        // Another writer holds the image: fall back to reading, as for a read-only file.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            Fd = fd;
            return 0;
        }
        ::close(fd);
    }
    fd = OpenDescriptor(path, O_RDONLY);
    if (fd < 0) {
        return errno;
    }
    if (int error = RefuseNonImage(fd); error != 0) {
        ::close(fd);
        return error;
    }
    // A shared lock keeps other writers out while we read; when a writer already
    // holds the file we still read it.
    (void)::flock(fd, LOCK_SH | LOCK_NB);
    readOnly = true;
    Fd = fd;
    return 0;
}

int THostFile::Create(const std::string& path) {
    Close();
    int fd = OpenDescriptor(path, O_RDWR | O_CREAT, 0666);
    if (fd < 0) {
        return errno;
    }
    if (int error = RefuseNonImage(fd); error != 0) {
        ::close(fd);
        return error;
    }
    // Truncate only once we own the writer's lock, so an image open elsewhere is not destroyed.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return error;
    }
    if (::ftruncate(fd, 0) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    Fd = fd;
    return 0;
}

void THostFile::Close() {
    if (Fd >= 0) {
        ::close(Fd);  // closing also releases the lock
        Fd = -1;
    }
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
    if (Fd < 0 || !FitsFileOffset(length, 0)) {
        return false;
    }
    return ::ftruncate(Fd, static_cast<off_t>(length)) == 0;
}

bool THostFile::Sync() { return Fd >= 0 && ::fsync(Fd) == 0; }

}  // namespace DiskImage
