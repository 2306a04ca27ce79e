// Loaded into qbox with LD_PRELOAD by the crash tests, never into the product: stops the
// process the way a crash would, at the Nth call (QB_CRASH_AT=N) that changes a file.
// Writes to files other than the standard streams, truncations, renames and removals
// count. A write stopped at is done by half first, so torn records are tried too.
// QB_NO_SPACE_AT=N instead plays a full file system: from the Nth write or truncation on,
// each that would make a file longer fails with ENOSPC. Overwriting bytes a file already
// has, shortening it, renaming and removing need no new space and still work.
// (The readlink below may itself be intercepted by a sanitizer runtime; it writes nothing.)
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int CrashStatus = 86;

long CrashAt() {
    static const long at = [] {
        const char* value = std::getenv("QB_CRASH_AT");
        return value != nullptr ? std::atol(value) : 0L;
    }();
    return at;
}

bool Due() {
    static long calls = 0;
    return CrashAt() > 0 && ++calls == CrashAt();
}

long NoSpaceAt() {
    static const long at = [] {
        const char* value = std::getenv("QB_NO_SPACE_AT");
        return value != nullptr ? std::atol(value) : 0L;
    }();
    return at;
}

// True when a change that leaves fd's file reaching `end` must fail as on a full file
// system; errno is then set.
bool OutOfSpace(int fd, off_t end) {
    static long writes = 0;
    if (fd <= 2 || NoSpaceAt() <= 0 || ++writes < NoSpaceAt()) return false;
    struct stat info {};
    if (fstat(fd, &info) == 0 && end <= info.st_size) return false;
    errno = ENOSPC;
    return true;
}

off_t Position(int fd) { return lseek(fd, 0, SEEK_CUR); }

// A new image is built under NAME.qbnew and is nobody's image until renamed: stopping at
// any of its writes leaves the same state, so only its first write counts.
bool DueFor(int fd) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length > 6 && std::strncmp(target + length - 6, ".qbnew", 6) == 0) {
        static bool counted = false;
        if (counted) return false;
        counted = true;
    }
    return Due();
}

template <class Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t length) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (OutOfSpace(fd, Position(fd) + static_cast<off_t>(length))) return -1;
    if (fd > 2 && DueFor(fd)) {
        if (length > 1) real(fd, buffer, length / 2);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length);
}

ssize_t pwrite(int fd, const void* buffer, size_t length, off_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (OutOfSpace(fd, offset + static_cast<off_t>(length))) return -1;
    if (DueFor(fd)) {
        if (length > 1) real(fd, buffer, length / 2, offset);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t length, off64_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    if (OutOfSpace(fd, offset + static_cast<off64_t>(length))) return -1;
    if (DueFor(fd)) {
        if (length > 1) real(fd, buffer, length / 2, offset);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length, offset);
}

int ftruncate(int fd, off_t length) {
    static auto real = Next<int (*)(int, off_t)>("ftruncate");
    if (OutOfSpace(fd, length)) return -1;
    if (DueFor(fd)) _exit(CrashStatus);
    return real(fd, length);
}

int ftruncate64(int fd, off64_t length) {
    static auto real = Next<int (*)(int, off64_t)>("ftruncate64");
    if (OutOfSpace(fd, length)) return -1;
    if (DueFor(fd)) _exit(CrashStatus);
    return real(fd, length);
}

int rename(const char* from, const char* to) {
    static auto real = Next<int (*)(const char*, const char*)>("rename");
    if (Due()) _exit(CrashStatus);
    return real(from, to);
}

int unlink(const char* path) {
    static auto real = Next<int (*)(const char*)>("unlink");
    if (Due()) _exit(CrashStatus);
    return real(path);
}

}  // extern "C"
