#include "diskimage/OutputFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <set>
#include <utility>

#include "diskimage/HostFile.h"

namespace DiskImage {

namespace {

constexpr std::string_view TemporaryMark = ".qbpart-";
// Earlier versions built converted images under ".NAME.converting-PID".
constexpr std::array<std::string_view, 2> TemporaryMarks = {TemporaryMark, ".converting-"};
// The part of a long name kept in its temporary, so that the temporary fits NAME_MAX.
constexpr size_t TemporaryNameKept = 200;

int OpenAt(int folder, const std::string& name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(folder, name.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// What stands at a name that must not be written through or into.
int NotAFileError(mode_t mode) {
    if (S_ISLNK(mode)) return ErrorOutputLink;
    if (S_ISDIR(mode)) return ErrorOutputFolder;
    if (S_ISFIFO(mode)) return ErrorOutputPipe;
    if (S_ISSOCK(mode)) return ErrorOutputSocket;
    return ErrorOutputDevice;
}

// The process id in a name of the form ".NAME<mark>PID", or 0 when the name is not one.
pid_t TemporaryOwner(std::string_view name) {
    if (name.size() < 2 || name[0] != '.') return 0;
    for (std::string_view mark : TemporaryMarks) {
        size_t at = name.rfind(mark);
        if (at == std::string_view::npos || at == 0) continue;
        std::string_view digits = name.substr(at + mark.size());
        if (digits.empty() || digits.size() > 9) continue;
        pid_t pid = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return 0;
            pid = pid * 10 + (c - '0');
        }
        return pid;
    }
    return 0;
}

// Whether a file may be written at name in the folder: see TOutputFolder::CheckName.
int CheckOutputName(int folder, const std::string& name, bool overwrite) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISREG(info.st_mode)) return NotAFileError(info.st_mode);
    if (!overwrite) return EEXIST;
    // Replacing is a rename, which a read-only file does not stop; refuse as writing it would.
    if (::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

bool ProcessGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Folders already cleared by this process, by device and inode: one look per folder.
bool FirstVisit(const struct stat& folder) {
    static std::mutex mutex;
    static std::set<std::pair<dev_t, ino_t>> visited;
    std::lock_guard<std::mutex> lock(mutex);
    return visited.insert({folder.st_dev, folder.st_ino}).second;
}

}  // namespace

TOutputFolder::~TOutputFolder() {
    if (Fd >= 0) ::close(Fd);
}

TOutputFolder::TOutputFolder(TOutputFolder&& other) noexcept { *this = std::move(other); }

TOutputFolder& TOutputFolder::operator=(TOutputFolder&& other) noexcept {
    if (this != &other) {
        if (Fd >= 0) ::close(Fd);
        Fd = std::exchange(other.Fd, -1);
        FolderPath = std::move(other.FolderPath);
    }
    return *this;
}

// Creates the folder at path and every missing folder above it, as mkdir -p does. A name
// on the way that is there but is no folder is left for the open that follows to refuse.
namespace {
int MakeFolderPath(const std::string& path) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return errno;
        if (end == std::string::npos) return 0;
    }
}
}  // namespace

int TOutputFolder::Open(const std::string& path, bool make) {
    *this = TOutputFolder();
    const std::string folder = path.empty() ? "." : path;
    if (make) {
        if (int error = MakeFolderPath(folder); error != 0) return error;
    }
    int fd = OpenAt(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return errno;
    Fd = fd;
    FolderPath = path;
    ClearStaleTemporaries();
    return 0;
}

int TOutputFolder::OpenFolderOf(const std::string& filePath, std::string& name) {
    size_t slash = filePath.rfind('/');
    name = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return EISDIR;
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : filePath.substr(0, slash));
    int error = Open(folder, false);
    if (error == 0 && slash == std::string::npos) FolderPath.clear();  // messages name the file as given
    return error;
}

int TOutputFolder::OpenInside(const std::string& name, bool make, TOutputFolder& inside) const {
    inside = TOutputFolder();
    if (make && ::mkdirat(Fd, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    struct stat info {};
    if (::fstatat(Fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISLNK(info.st_mode)) return ErrorOutputLink;
    if (!S_ISDIR(info.st_mode)) return ErrorOutputNotFolder;
    // O_NOFOLLOW: a link swapped in since the look above is refused, not entered.
    int fd = OpenAt(Fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) return errno == ELOOP ? ErrorOutputLink : errno;
    inside.Fd = fd;
    inside.FolderPath = PathOf(name);
    inside.ClearStaleTemporaries();
    return 0;
}

int TOutputFolder::CheckName(const std::string& name, bool overwrite) const {
    return CheckOutputName(Fd, name, overwrite);
}

std::string TOutputFolder::PathOf(const std::string& name) const {
    if (FolderPath.empty()) return name;
    return FolderPath.back() == '/' ? FolderPath + name : FolderPath + "/" + name;
}

void TOutputFolder::ClearStaleTemporaries() const {
    struct stat folderInfo {};
    if (::fstat(Fd, &folderInfo) != 0 || !FirstVisit(folderInfo)) return;
    int listing = OpenAt(Fd, ".", O_RDONLY | O_DIRECTORY);
    if (listing < 0) return;
    DIR* folder = ::fdopendir(listing);
    if (folder == nullptr) {
        ::close(listing);
        return;
    }
    const uid_t user = ::geteuid();
    while (const dirent* entry = ::readdir(folder)) {
        const pid_t owner = TemporaryOwner(entry->d_name);
        if (owner <= 0 || owner == ::getpid() || !ProcessGone(owner)) continue;
        struct stat info {};
        if (::fstatat(Fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(info.st_mode) && info.st_uid == user) ::unlinkat(Fd, entry->d_name, 0);
    }
    ::closedir(folder);
}

TOutputFile::~TOutputFile() { Abandon(); }

void TOutputFile::Abandon() {
    if (Fd >= 0) {
        ::close(Fd);
        ::unlinkat(FolderFd, Temporary.c_str(), 0);
    }
    Fd = -1;
}

int TOutputFile::Begin(const TOutputFolder& folder, const std::string& name, bool overwrite) {
    Abandon();
    if (int error = folder.CheckName(name, overwrite); error != 0) return error;
    FolderFd = folder.Descriptor();
    Overwrite = overwrite;
    Name = name;
    // Built in a string of its own: GCC 12 at -O3 warns falsely about "." + std::string.
    std::string temporary(1, '.');
    temporary.append(name, 0, TemporaryNameKept).append(TemporaryMark).append(std::to_string(::getpid()));
    Temporary = std::move(temporary);
    // A temporary of ours from an earlier file of this run that failed to go is no one's.
    ::unlinkat(FolderFd, Temporary.c_str(), 0);
    int fd = OpenAt(FolderFd, Temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    if (fd < 0) return errno;
    Fd = fd;
    // A replaced file keeps its permissions.
    struct stat existing {};
    if (::fstatat(FolderFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode))
        (void)::fchmod(Fd, existing.st_mode & 07777);
    return 0;
}

bool TOutputFile::Write(const void* data, size_t length) {
    if (Fd < 0) {
        errno = EBADF;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        ssize_t written = ::write(Fd, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

void TOutputFile::SetTime(std::time_t time) {
    if (Fd < 0) return;
    std::array<timespec, 2> times{};
    times[0].tv_sec = time;
    times[1].tv_sec = time;
    (void)::futimens(Fd, times.data());
}

int TOutputFile::Commit() {
    if (Fd < 0) return EBADF;
    int error = 0;
    if (::fsync(Fd) != 0 || ::close(Fd) != 0) error = errno;
    Fd = -1;
    // What stands at the name is looked at once more: it may have changed while we wrote.
    if (error == 0) error = CheckOutputName(FolderFd, Name, Overwrite);
    if (error == 0 && !Overwrite) {
        // A hard link takes the name only if nothing holds it. File systems without hard
        // links get the rename, after the look above.
        if (::linkat(FolderFd, Temporary.c_str(), FolderFd, Name.c_str(), 0) != 0) {
            if (errno == EEXIST)
                error = EEXIST;
            else if (::renameat(FolderFd, Temporary.c_str(), FolderFd, Name.c_str()) != 0)
                error = errno;
        }
    } else if (error == 0 && ::renameat(FolderFd, Temporary.c_str(), FolderFd, Name.c_str()) != 0) {
        error = errno;
    }
    ::unlinkat(FolderFd, Temporary.c_str(), 0);
    return error;
}

int WriteOutputFile(const TOutputFolder& folder, const std::string& name, std::string_view bytes, bool overwrite,
                    const std::time_t* time) {
    TOutputFile file;
    if (int error = file.Begin(folder, name, overwrite); error != 0) return error;
    if (!file.Write(bytes)) return errno;
    if (time != nullptr) file.SetTime(*time);
    return file.Commit();
}

}  // namespace DiskImage
