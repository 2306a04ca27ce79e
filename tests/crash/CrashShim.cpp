// Loaded into qbox with LD_PRELOAD by the crash tests, never into the product: stops the
// process the way a crash would, at the Nth call (QB_CRASH_AT=N) that changes a file.
// Writes to files other than the standard streams, truncations, renames and removals
// count. A write stopped at is done by half first, so torn records are tried too.
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

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

template <class Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t length) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd > 2 && Due()) {
        if (length > 1) real(fd, buffer, length / 2);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length);
}

ssize_t pwrite(int fd, const void* buffer, size_t length, off_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (Due()) {
        if (length > 1) real(fd, buffer, length / 2, offset);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t length, off64_t offset) {
    static auto real = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    if (Due()) {
        if (length > 1) real(fd, buffer, length / 2, offset);
        _exit(CrashStatus);
    }
    return real(fd, buffer, length, offset);
}

int ftruncate(int fd, off_t length) {
    static auto real = Next<int (*)(int, off_t)>("ftruncate");
    if (Due()) _exit(CrashStatus);
    return real(fd, length);
}

int ftruncate64(int fd, off64_t length) {
    static auto real = Next<int (*)(int, off64_t)>("ftruncate64");
    if (Due()) _exit(CrashStatus);
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
