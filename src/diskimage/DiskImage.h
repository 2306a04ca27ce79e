// Image containers: an open emulator disk image file and the two ways its
// sectors are addressed (floppy raw track, hard-disk cylinder/head/sector).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "diskimage/Error.h"
#include "diskimage/HostFile.h"
#include "diskimage/RawTrack.h"

namespace DiskImage {

class TDiskImage {
public:
    class Exception : public Quarrybox::Error {
    public:
        using Quarrybox::Error::Error;
    };
    class EInvalidFormat : public Exception {
    public:
        EInvalidFormat() : Exception("Not a recognized virtual disk file") {}
    };
    class EFileError : public Exception {
    public:
        explicit EFileError(int errorNumber);
        EFileError(int errorNumber, const std::string& message) : Exception(message), ErrorNumber(errorNumber) {}
        int ErrorNumber;
    };

    static constexpr uint32_t FlagWriteProtected = 0x1;
    static constexpr uint32_t FlagReadOnlyFile = 0x2;

    virtual ~TDiskImage();

    // 0 writable, 1 write-protected, 2 the file could only be opened for reading.
    virtual int GetWriteProtect() const;
    virtual void SetWriteProtect(bool on);
    virtual bool CanSetWriteProtect() const { return true; }
    virtual std::string GetFormatName() const = 0;
    virtual int IsHardDisk() const = 0;
    // Writes what the image holds back from its file (a floppy's pending track). A hard
    // disk writes through, so it has nothing pending.
    virtual bool Flush() { return true; }

    const std::string& GetFileName() const { return FileName; }
    // Why the file could only be opened for reading (None when it is writable).
    TReadOnlyReason GetReadOnlyReason() const { return File.ReadOnlyReason(); }
    // The host's error number of the last write to the file that failed, or 0: what a
    // failed Flush or sector write reports ("No space left on device" rather than a guess).
    int GetLastHostError() const { return File.LastError(); }

    // Ends one change: whatever was written reaches stable storage whole, and the rollback
    // journal goes (a new image takes its name). A floppy's pending track is written back
    // first: left for the image's closing, it would come after the commit and be undone.
    // Throws EFileError when any of that failed.
    void CommitChange();
    // Whatever is written after the last CommitChange is undone when the image closes.
    void DiscardChangeOnClose();

    uint32_t Flags = 0;
    std::string FileName;

protected:
    TDiskImage() = default;
    // Common start of every format's constructor.
    void SetOpened(const std::string& path, bool readOnly) {
        FileName = path;
        if (readOnly) {
            Flags |= FlagReadOnlyFile;
        }
    }
    TDiskImage(const TDiskImage&) = delete;
    TDiskImage& operator=(const TDiskImage&) = delete;

    THostFile File;
};

class TFloppyImage : public TDiskImage {
public:
    static constexpr int SectorBufferSize = TRawTrack::SectorBufferSize;
    static constexpr int MaxSizeCode = TRawTrack::MaxSizeCode;
    // Track numbers are one byte in every format, and 0xFF marks free JV3 headers.
    static constexpr int MaxTrackNumber = 254;

    ~TFloppyImage() override;

    int IsHardDisk() const override { return 0; }
    bool Flush() override = 0;
    virtual bool LoadTrack(int track) = 0;
    // Hands the file back to an opener that decided against reading it this way.
    THostFile ReleaseFile() { return std::move(File); }

    // Sector operations on the loaded track. buffer holds SectorBufferSize bytes.
    // With acceptCrcError the first data field found is handed over even when its CRC
    // fails, as a controller does with its error flag. crcError, when given, tells
    // whether the sector's data field failed its CRC: the one handed over, or (a read
    // that fails) one that was passed over.
    bool ReadSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                    uint8_t* buffer, bool ignoreSideField, bool acceptCrcError, bool* crcError = nullptr);
    bool WriteSector(int track, int side, int density, int sector, uint8_t dam, const uint8_t* data);
    // A sector of any track read straight from the file, with no track laid out: what
    // ReadSector would answer after LoadTrack, for a format that keeps every sector whole at
    // a place its geometry gives. Empty where only the laid-out track can answer (any other
    // format, and a loaded track changed since it was built). Such a sector has no CRC error.
    virtual std::optional<bool> ReadStoredSector(int /*track*/, int /*side*/, int /*density*/, int /*sector*/,
                                                 int& /*size*/, uint8_t& /*dam*/, uint8_t* /*buffer*/) {
        return std::nullopt;
    }
    bool ReadNextSector(CellState& state, int track, int side, int& sector, int& size, uint8_t& dam,
                        uint8_t* buffer, bool& crcError);
    bool FormatTrack(int track, int sectorsPerSide, int sides, bool firstSectorIsOne, uint8_t dam, bool density,
                     int interleave);
    // Every readable sector of one side of the loaded track, both densities, in physical order.
    std::vector<TTrackSector> ReadTrackSide(int side);
    // Replaces a track by the given sectors, laid out side by side in the order given, with
    // shorter single-density gaps when the usual ones do not fit. Fails and leaves the track
    // as it was when the sectors do not fit the track or the format cannot store them.
    bool LayOutTrack(int track, const std::array<std::vector<TTrackSector>, 2>& sides);

    // Sectors the file holds for one side of the loaded track, whether or not they can be
    // read: what a check counts the readable sectors against.
    virtual int StoredSectorCount(int side) const = 0;
    // Whether a track side of this many sectors of one size and density, as LayOutTrack
    // lays them out, can be held whole by the format.
    virtual bool HoldsTrack(int sectors, int size, bool density) const;

    int GetCurrentTrack() const { return CurrentTrack; }
    // One side of the loaded track. Cells changed through it are written back like a sector write.
    TRawTrack& RawSide(int side) { return Sides[side & 1]; }
    const TRawTrack& RawSide(int side) const { return Sides[side & 1]; }
    // Changed since it was built from the file; changed since it was last written back.
    bool IsTrackModified() const;
    bool IsTrackDirty() const;

protected:
    TFloppyImage() = default;

    // The cells a side gets before the format builds it: also what an unformatted track has.
    virtual int EmptySideCells() const { return TRawTrack::FiveInchCells; }
    // The cells a side gets for LayOutTrack to lay these sectors out on.
    virtual int SideCellsFor(const std::vector<TTrackSector>&) const { return EmptySideCells(); }

    enum class TrackLoadStart { Failed, AlreadyLoaded, Build };
    // The common start of LoadTrack: flush the pending track, then make `track` the
    // current one with empty sides to build. Failed when the pending track could not be
    // saved (it stays loaded) or the number is out of range. AlreadyLoaded also when a
    // track built lately is taken back from the cache.
    TrackLoadStart BeginLoadTrack(int track);
    // The common successful end of LoadTrack: the sides are exactly what the file holds,
    // so the track may be kept for a later switch back to it. Returns true.
    bool TrackLoaded();
    // A load that failed part way: the track is left empty and unchanged.
    void TrackLoadFailed();
    // The end of a successful Flush: the file holds the track as it is now.
    void TrackFlushed();
    // For the formats' destructors: write the pending track, letting nothing escape.
    void FlushBeforeClosing() noexcept;
    // Asked after FormatTrack or LayOutTrack has laid out a track: can the file format
    // store it without losing a sector? A format that cannot leaves the track as it was.
    virtual bool CanStoreLoadedTrack() { return true; }
    // How many tracks left lately are kept, ready to switch back to. Each kept track is
    // memory a short run touches for the first time, which costs about as much as
    // building the track again from a file that stores sectors or bytes. Recognising a
    // DOS walks between a handful of tracks (boot, allocation table, directory) and
    // reading a file between its tracks and the directory: four serve both. A format
    // whose tracks are dear to build keeps more.
    virtual size_t TracksWorthKeeping() const { return 4; }

private:
    // Loads the track and lets layOut rewrite its sides; the result is kept only when
    // layOut succeeds and the file format can store it, else the track is put back exactly
    // as it was.
    bool RewriteTrack(int track, const std::function<bool()>& layOut);
    void ClearSides();
    void MarkClean();

    // A side gets its cells when a track is loaded: an image that answers a DOS's reads from
    // its file may never lay one out, and the opener judges several such images of one file.
    std::array<TRawTrack, 2> Sides{TRawTrack(0), TRawTrack(0)};
    int CurrentTrack = -1;
    // Each side's version when it was built from the file and when it was last written back.
    std::array<uint64_t, 2> LoadedVersion{};
    std::array<uint64_t, 2> FlushedVersion{};
    bool TrackReusable = false;  // the sides are what TrackLoaded saw

    // Tracks built from the file and not changed since, most recently left last.
    // Any change to a track empties it, since writing it back may move other tracks.
    struct KeptTrack {
        int Track = 0;
        std::array<std::optional<TRawTrack>, 2> Sides;  // none for a side with nothing on it
    };
    void KeepCurrentTrack();
    bool TakeKeptTrack(int track);
    std::vector<KeptTrack> KeptTracks;
};

class THardImage : public TDiskImage {
public:
    static constexpr int SectorSize = 256;
    static constexpr int SectorsPerHead = 32;

    int IsHardDisk() const override { return 1; }
    // On success buffer holds 256 bytes and size is 256.
    virtual bool ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) = 0;
    virtual bool WriteSector(int cylinder, int head, int sector, const uint8_t* data) = 0;
    virtual int GetCylinders() const = 0;
    virtual int GetHeads() const = 0;
    // The cylinders whose sectors can be found, for a search over the whole disk:
    // the header's count, unless the format lets the file itself say otherwise.
    virtual int GetUsableCylinders() const { return GetCylinders(); }

protected:
    // Cylinder, head and sector within the geometry the header gives.
    bool IsValidAddress(int cylinder, int head, int sector) const {
        return cylinder >= 0 && cylinder < Cylinders && head >= 0 && head < Heads && sector >= 0 &&
               sector < SectorsPerHead;
    }

    std::vector<uint8_t> Header;
    int Cylinders = 0;
    int Heads = 0;
};

// What the DOSes make of a disk read under one layout. A file without a header of its own
// (a raw dump, a JVC file with none), which any file of the right size could pass for, is
// taken only under a layout a DOS recognises; of the layouts its size allows, the opener
// keeps the reading that ranks highest, and of equal ones the first in its fixed order.
struct TDosReading {
    bool Recognised = false;    // a DOS takes the disk for its own
    bool ListsFiles = false;    // and finds files on it
    bool ReadsCleanly = false;  // and read every sector of its directory without error

    TDosReading() = default;
    // The reading of a check that says only yes or no.
    TDosReading(bool recognised) : Recognised(recognised) {}
    explicit operator bool() const { return Recognised; }

    // Files found count for more than a clean directory: under a wrong layout a disk
    // often reads cleanly as an empty one.
    int Rank() const { return Recognised ? 1 + (ReadsCleanly ? 1 : 0) + (ListsFiles ? 2 : 0) : 0; }
    static constexpr int BestRank = 4;
};
using TDosCheck = std::function<TDosReading(TFloppyImage&)>;

// Opens an existing image, trying the candidate names and then the formats in a fixed order:
// formats whose contents show them first, then the headerless sector images (JVC, and raw
// dumps of the layouts the DOSes know) under the layout dosCheck reads best (a JVC file is
// also taken when its name's extension says what it is), and a JV3 that lists no sectors last.
// The last disk dosCheck was given, when the file opens as one of those, is the one returned.
// readOnly opens the file for reading only, so nothing can ever be written to it.
std::unique_ptr<TFloppyImage> OpenFloppyImage(const std::string& path, bool readOnly = false,
                                              const TDosCheck& dosCheck = {});
// Opens the file as an image of the given type and no other, as a program does with a
// file it has just written. A raw sector dump, which does not say its layout, is taken
// under the layout its size allows that recognised reads best.
std::unique_ptr<TFloppyImage> OpenFloppyImageAs(const std::string& path, int imageType, bool readOnly = false,
                                                const TDosCheck& recognised = {});
std::unique_ptr<THardImage> OpenHardImage(const std::string& path, bool readOnly = false);

enum ImageType { ImageJV1 = 0, ImageJV3 = 1, ImageDMK = 2, ImageJVC = 3, ImageIMD = 4, ImageHFE = 5, ImageRaw = 6 };

// A floppy container a new image can be made in.
struct TImageTypeInfo {
    int Type;                 // an ImageType
    const char* Name;         // the format name its images report, "JV3"
    const char* Key;          // the lower-case word that chooses it, "jv3"
    const char* Extension;    // what a new image's file name ends in, without the dot
    const char* Description;  // one line for a list of choices
    // False for sector data only: such an image cannot hold a disk formatted here, whose
    // directory sectors carry their own data address mark.
    bool KeepsDataMarks = true;
};
// Every writable floppy container in the order programs offer them.
const std::vector<TImageTypeInfo>& WritableImageTypes();
// The entry of an image type, or nullptr.
const TImageTypeInfo* FindImageType(int imageType);
// The entry a key names ("jvc"), or nullptr.
const TImageTypeInfo* FindImageTypeByKey(const std::string& key);

// Creates a new, empty image file of an ImageType (an unknown value makes a DMK). A DMK's
// tracks get trackCells cells a side (TRawTrack::EightInchCells for an 8-inch disk); the
// other formats' tracks are as long as their own rules make them.
std::unique_ptr<TFloppyImage> CreateFloppyImage(const std::string& path, int imageType,
                                                int trackCells = TRawTrack::FiveInchCells);
// The same on a new, empty file already open (see THostFile::AdoptNew); path names it in messages.
std::unique_ptr<TFloppyImage> CreateFloppyImageOn(THostFile file, int imageType, const std::string& path,
                                                  int trackCells = TRawTrack::FiveInchCells);

}  // namespace DiskImage
