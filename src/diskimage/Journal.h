// The rollback journal of an image file: before a change first overwrites a byte range,
// the range's original bytes are appended to NAME.qbjournal beside the image and forced
// to stable storage. Committing removes the journal; finding one when the image is next
// opened for writing puts the original bytes back, so a change lands whole or not at all.
//
// Layout, little-endian: a header (8-byte magic, the image's original length, CRC-32 of
// the two), then records (marker, offset, length, CRC-32 of offset, length and data,
// then the data). Only records that are whole and whose CRC matches count: the record
// being appended when a crash came protects nothing yet, because its range of the image
// was not yet overwritten.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace DiskImage {

class TJournal {
public:
    static std::string PathFor(const std::string& imagePath) { return imagePath + ".qbjournal"; }

    // Journals the change about to begin on the image open at imageFd.
    TJournal(std::string imagePath, int imageFd, uint64_t originalLength);
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Makes the original bytes of [offset, offset + length) safe before they are overwritten,
    // saving only what this change has not saved yet. False with errno set on failure;
    // the image must then not be written.
    bool Protect(uint64_t offset, uint64_t length);
    // Called with the image already synced: removes the journal. False with errno on failure.
    bool Remove();

    uint64_t OriginalLength() const { return OriginalSize; }

private:
    bool Start();
    bool Append(uint64_t offset, uint64_t length);

    std::string ImagePath;
    int ImageFd;
    int Fd = -1;
    uint64_t OriginalSize;
    std::map<uint64_t, uint64_t> Saved;  // start -> end of the ranges already saved
};

enum class TJournalState { None, Live, Torn };

// Whether a journal lies beside the image: None, Live (it holds a header, so the image may
// have been changed under it) or Torn (its header never reached the disk: nothing to undo).
TJournalState FindJournal(const std::string& imagePath);

// Puts back what the journal beside the image saved, cuts the image to its original length,
// syncs it and removes the journal. Safe to repeat after a crash part way through.
// Returns 0, or an errno when the image could not be restored (the journal is then kept).
int RollBackJournal(const std::string& imagePath, int imageFd);

// Syncs the folder holding path, so that a created, renamed or removed name is stable.
void SyncParentFolder(const std::string& path);

}  // namespace DiskImage
