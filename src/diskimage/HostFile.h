// A host file opened byte-exact through POSIX calls, with an advisory lock
// that denies other writers while it is open for writing.
//
// Every change to an image file lands whole or not at all. An existing file keeps a
// rollback journal beside it (see Journal.h) from the first write of a change until
// Commit; a file made by Create is built under NAME.qbnew and takes its name at the
// first Commit. Close commits what is pending unless DiscardOnClose was called; a
// process that dies leaves the journal, and the next open for writing rolls back.
//
// The journal, the lock and NAME.qbnew belong to the image's real file: a path is
// resolved through every symbolic link first, so that every name of one image (the
// file itself, a link to it, a link to its folder) finds the same journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace DiskImage {

class TJournal;

// Host conditions without an errno of their own, reported by OpenExisting and Create.
enum THostError : int {
    ErrorFolder = -2001,
    ErrorNamedPipe = -2002,
    ErrorDevice = -2003,
    ErrorSocket = -2004,
    ErrorNoReadPermission = -2005,
    ErrorUnfinishedChange = -2006,
    ErrorInUse = -2007,          // another process holds the writer's lock
    ErrorJournalFolder = -2008,  // a folder stands where the journal belongs
    // What stands at an output's name, which is never written through (see OutputFolder.h).
    ErrorOutputLink = -2101,
    ErrorOutputFolder = -2102,
    ErrorOutputPipe = -2103,
    ErrorOutputDevice = -2104,
    ErrorOutputSocket = -2105,
    ErrorOutputNotFolder = -2106,
};
// The message for an errno value or a THostError. ErrorJournalFolder names the journal's
// path, which the message of that condition needs: see JournalBlockedText.
std::string HostErrorText(int error);
// The message for an error met writing an output at path: what stands there, or
// "PATH: " and the host's text.
std::string OutputErrorText(int error, const std::string& path);
// "not a disk image: a folder stands at PATH.qbjournal", for the image at path.
std::string JournalBlockedText(const std::string& path);

// Why an image opened for reading only could not be written.
enum class TReadOnlyReason {
    None,            // it opened for writing
    Requested,       // the caller asked for reading only
    FileReadOnly,    // the file itself cannot be written (permissions, a read-only mount)
    FolderReadOnly,  // its folder cannot be written, so no journal can be made there
    InUse,           // another process holds the writer's lock
};
// Why such an image cannot be written, as a clause ("the image file is read-only"); empty
// for None and Requested.
std::string ReadOnlyReasonText(TReadOnlyReason reason);

// The path with every symbolic link resolved, or the path itself when that fails. A
// name that does not exist yet keeps its last part under its resolved folder.
std::string RealPathOf(const std::string& path);

class THostFile {
public:
    THostFile();
    ~THostFile();
    THostFile(THostFile&& other) noexcept;
    THostFile& operator=(THostFile&& other) noexcept;
    THostFile(const THostFile&) = delete;
    THostFile& operator=(const THostFile&) = delete;

    // Opens for reading and writing; when another process holds the writer's
    // lock or the file cannot be written, falls back to reading only.
    // Returns 0 on success, else errno or a THostError. readOnly tells which way it opened.
    // readingOnly skips the attempt to open for writing.
    // A journal left by an unfinished change is rolled back when the file opens for
    // writing. Opened for reading only, nothing is ever written: the open is then
    // refused with ErrorUnfinishedChange, unless a live writer holds the file.
    int OpenExisting(const std::string& path, bool& readOnly, bool readingOnly = false);
    // Starts a new file (owner read/write, or the mode of the file it replaces). The file
    // at path, if any, is untouched until the first Commit puts the new one in its place.
    int Create(const std::string& path);
    // Takes over fd, a new, empty file the caller made for output (see OutputFolder.h). It is
    // nobody's image until the caller gives it its name, so it is written without a journal.
    void AdoptNew(int fd);
    // Closes the file, committing a pending change unless DiscardOnClose was called.
    void Close();

    // Ends the change: the file reaches stable storage and its journal goes (a new
    // file takes its name). False with errno set when that failed.
    bool Commit();
    // What was written since the last Commit is undone when the file closes.
    void DiscardOnClose() { Discard = true; }

    bool IsOpen() const { return Fd >= 0; }
    TReadOnlyReason ReadOnlyReason() const { return WhyReadOnly; }
    // The errno of the last write, truncation, journal step or commit that failed; 0 when none did.
    int LastError() const { return LastFailure; }
    bool ReadAt(uint64_t offset, void* buffer, size_t length) const;   // all or nothing
    size_t ReadSomeAt(uint64_t offset, void* buffer, size_t length) const;  // short at end of file
    bool WriteAt(uint64_t offset, const void* buffer, size_t length);
    int64_t Size() const;  // -1 on error
    bool Truncate(uint64_t length);
    bool Sync();
    int Descriptor() const { return Fd; }

private:
    // Saves the original bytes of a range before the change first overwrites it.
    bool Protect(uint64_t offset, uint64_t length);
    // Keeps errno as the reason of the failure the caller is about to report; returns false.
    bool Failed();
    void RollBack();
    void Reset();

    int Fd = -1;
    bool Writable = false;
    bool Discard = false;
    bool Unjournalled = false;  // AdoptNew: nothing to keep safe
    TReadOnlyReason WhyReadOnly = TReadOnlyReason::None;
    int LastFailure = 0;
    std::string Path;        // the image's real file, every link resolved
    std::string NewPath;     // Create: where the file is built until the first Commit
    int ReplacedFd = -1;     // Create: the file being replaced, locked until Commit
    std::unique_ptr<TJournal> Journal;
};

}  // namespace DiskImage
