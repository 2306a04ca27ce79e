// A host file opened byte-exact through POSIX calls, with an advisory lock
// that denies other writers while it is open for writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace DiskImage {

class THostFile {
public:
    THostFile() = default;
    ~THostFile();
    THostFile(THostFile&& other) noexcept;
    THostFile& operator=(THostFile&& other) noexcept;
    THostFile(const THostFile&) = delete;
    THostFile& operator=(const THostFile&) = delete;

    // Opens for reading and writing; when another process holds the writer's
    // lock or the file cannot be written, falls back to reading only.
    // Returns 0 on success, else errno. readOnly tells which way it opened.
    int OpenExisting(const std::string& path, bool& readOnly);
    // Creates (or truncates) a file for reading and writing, owner read/write.
    int Create(const std::string& path);
    void Close();

    bool IsOpen() const { return Fd >= 0; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) const;   // all or nothing
    size_t ReadSomeAt(uint64_t offset, void* buffer, size_t length) const;  // short at end of file
    bool WriteAt(uint64_t offset, const void* buffer, size_t length);
    int64_t Size() const;  // -1 on error
    bool Truncate(uint64_t length);
    bool Sync();
    int Descriptor() const { return Fd; }

private:
    int Fd = -1;
};

}  // namespace DiskImage
