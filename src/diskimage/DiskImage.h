// Image containers: an open emulator disk image file and the two ways its
// sectors are addressed (floppy raw track, hard-disk cylinder/head/sector).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "diskimage/HostFile.h"

namespace DiskImage {

class TDiskImage {
public:
    class Exception : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
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

    const std::string& GetFileName() const { return FileName; }
    // Why the file could only be opened for reading (None when it is writable).
    TReadOnlyReason GetReadOnlyReason() const { return File.ReadOnlyReason(); }
    // The host's error number of the last write to the file that failed, or 0: what a
    // failed Flush or sector write reports ("No space left on device" rather than a guess).
    int GetLastHostError() const { return File.LastError(); }

    // Ends one change: whatever was written reaches stable storage whole, and the rollback
    // journal goes (a new image takes its name). Throws EFileError when that failed.
    // A floppy's pending track must be flushed first.
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

// One position of the raw track: data byte in bits 0-7, bit 8 double density,
// bit 9 address mark (missing clock). A single-density byte takes two cells.
using Cell = uint16_t;
constexpr Cell CellDoubleDensity = 0x100;
constexpr Cell CellMark = 0x200;

// A cursor through one side of the raw track.
struct CellState {
    uint8_t value = 0;
    int side = 0;
    bool density = false;  // true = double density
    bool mark = false;
    int position = 0;
    uint16_t crc = 0;
    int count = 0;
    int passes = 1;
};

// CRC-16-CCITT, polynomial 0x1021, MSB first, no reflection, no final XOR.
// Inline: every byte laid on or read from a raw track takes one step.
extern const std::array<uint16_t, 256> CrcTable;
inline uint16_t CrcStep(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc << 8) ^ CrcTable[((crc >> 8) ^ byte) & 0xFF]);
}
uint16_t Crc16(const uint8_t* data, size_t length, uint16_t preset = 0xFFFF);

// One sector as it lies on a floppy track: everything an image format may keep of it.
struct TTrackSector {
    int Sector = 0;  // the sector number of its ID field
    int Size = 256;
    bool Density = false;  // true = double density
    uint8_t DAM = 0xFB;
    bool CrcError = false;  // the data field's CRC is wrong
    std::vector<uint8_t> Data;
};

class TFloppyImage : public TDiskImage {
public:
    static constexpr int DefaultTrackLength = 6272;  // cells used per side by every format
    static constexpr int SectorBufferSize = 4096;
    // 128 << 5 = 4096: larger ID size codes cannot be read into a sector buffer.
    static constexpr int MaxSizeCode = 5;
    // Track numbers are one byte in every format, and 0xFF marks free JV3 headers.
    static constexpr int MaxTrackNumber = 254;

    ~TFloppyImage() override;

    int IsHardDisk() const override { return 0; }
    virtual bool Flush() = 0;
    virtual bool LoadTrack(int track) = 0;

    // Sector operations on the loaded track. buffer holds SectorBufferSize bytes.
    // With acceptCrcError the first data field found is handed over even when its CRC
    // fails, as a controller does with its error flag. crcError, when given, tells
    // whether the sector's data field failed its CRC: the one handed over, or (a read
    // that fails) one that was passed over.
    bool ReadSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                    uint8_t* buffer, bool ignoreSideField, bool acceptCrcError, bool* crcError = nullptr);
    bool WriteSector(int track, int side, int density, int sector, uint8_t dam, const uint8_t* data);
    bool ReadNextSector(CellState& state, int track, int side, int& sector, int& size, uint8_t& dam,
                        uint8_t* buffer, bool& crcError);
    bool FormatTrack(int track, int sectorsPerSide, int sides, bool firstSectorIsOne, uint8_t dam,
                     bool density, int interleave);
    // Every readable sector of one side of the loaded track, both densities, in physical order.
    std::vector<TTrackSector> ReadTrackSide(int side);
    // Replaces a track by the given sectors, laid out side by side in the order given, with
    // shorter single-density gaps when the usual ones do not fit. Fails and leaves the track
    // as it was when the sectors do not fit the raw track or the format cannot store them.
    bool LayOutTrack(int track, const std::array<std::vector<TTrackSector>, 2>& sides);
    // Cells the sectors take when laid out by LayOutTrack, the start of the track included.
    static int TrackSideCells(const std::vector<TTrackSector>& sectors, bool compact);

    // Raw-track primitives, as a floppy disk controller would perform them.
    // Inline below: it lays every byte of every track that is loaded.
    bool PutCell(CellState& state, uint8_t byte);
    // count data bytes, each as PutCell lays it; false when the track ended first.
    bool PutCells(CellState& state, const uint8_t* bytes, int count);
    // count copies of byte, as PutCells lays them.
    bool PutRun(CellState& state, uint8_t byte, int count);
    bool WriteTrackByte(CellState& state, uint8_t byte);
    void WriteTrackStart(CellState& state);
    void FillTrackEnd(CellState& state);
    // Lays out one whole sector at the cursor. compact shortens the single-density
    // gap after the data so that layouts a JV3 header block allows still fit the track.
    // False when the sector ran off the end of the track (nothing is written past it).
    bool WriteFormattedSector(CellState& state, int track, int side, int sector, int size, uint8_t dam,
                              const uint8_t* data, bool crcError, bool compact = false);
    // Cells one formatted sector takes, as WriteFormattedSector lays it out.
    static int FormattedSectorCells(int size, bool density, bool compact = false);
    bool FindIDMark(CellState& state);
    bool ReadIDField(CellState& state, uint8_t id[6]);
    bool FindDataMark(CellState& state, int limit, uint8_t& dam);
    // Reads length data bytes and the two CRC bytes after them; false when the track ends first.
    bool ReadDataField(CellState& state, int length, uint8_t* buffer);
    // Reads one byte as the controller sees it (cells of the other density read as 0).
    // Inline below: every sector search reads the track byte by byte.
    bool ReadTrackByte(CellState& state);

    int GetCurrentTrack() const { return CurrentTrack; }
    int GetTrackLength() const { return TrackLength; }
    Cell GetCell(int side, int position) const {
        return (position >= 0 && position < TrackLength) ? RawTrack[side & 1][position] : 0;
    }
    bool IsTrackModified() const { return TrackModified; }
    bool IsTrackDirty() const { return TrackDirty; }

protected:
    TFloppyImage();
    void ClearRawTrack();
    // All cells of one side 0, the side given its full length again when it had lent its cells out.
    void ClearSide(std::vector<Cell>& side) const;

    enum class TrackLoadStart { Failed, AlreadyLoaded, Build };
    // The common start of LoadTrack: flush the pending track, then make `track` the
    // current one with an empty raw track to build. Failed when the pending track
    // could not be saved (it stays loaded) or the number is out of range.
    // AlreadyLoaded also when a track built lately is taken back from the cache.
    TrackLoadStart BeginLoadTrack(int track);
    // The common successful end of LoadTrack: the raw track is exactly what the file
    // holds, so it may be kept for a later switch back to this track. Returns true.
    bool TrackLoaded();
    // For the formats' destructors: write the pending track, letting nothing escape.
    void FlushBeforeClosing() noexcept;
    // Asked after FormatTrack has laid out a track: can the file format store it
    // without losing a sector? A format that cannot leaves the track as it was.
    virtual bool CanStoreLoadedTrack() { return true; }
    // Loads the track and lets layOut rewrite its cells; the result is kept only when the
    // file format can store it, else the track is put back exactly as it was.
    bool RewriteTrack(int track, const std::function<void()>& layOut);
    // The end-of-track rule of the cursor: one pass fewer, back to cell 0.
    static void WrapCursor(CellState& state) {
        --state.passes;
        state.position = 0;
        state.mark = false;
    }

    // Changed only through PutCell and ClearRawTrack, or followed by RawTrackChanged().
    std::array<std::vector<Cell>, 2> RawTrack;
    void RawTrackChanged() { SectorIndexStale = true; }
    bool TrackModified = false;
    bool TrackDirty = false;
    int TrackLength = DefaultTrackLength;
    int CurrentTrack = -1;
    std::vector<uint8_t> FormatBuffer;

private:
    struct SectorWanted {
        int track, side, sector;
        bool ignoreSideField;
        bool operator()(const CellState& afterId, const uint8_t id[6]) const;
        bool operator==(const SectorWanted&) const = default;
    };
    // A read that starts at an ID field always ends the same way while the cells stay as
    // they are, so the last successful one is kept with the field.
    struct ReadKept {
        bool Valid = false;
        SectorWanted Wanted{};
        bool AcceptCrcError = false;
        uint8_t Dam = 0;
        bool CrcError = false;
        std::vector<uint8_t> Data;
    };
    // Every ID field a scan from the start of one side reaches in one revolution, in
    // order, with the cursor just after it: a sector read skips straight to the one
    // it wants instead of decoding the track up to it.
    struct IDFieldSeen {
        CellState After;
        uint8_t Id[6] = {};
        ReadKept LastRead;
    };
    struct SectorIndex {
        bool Built = false;
        std::vector<IDFieldSeen> Fields;
    };
    using SectorIndexes = std::array<SectorIndex, 4>;  // side * 2 + density
    std::vector<IDFieldSeen>& IDFields(int side, bool density);
    // FindIDMark's cursor after the ID mark at position, bytesRead bytes after where it started.
    bool IDMarkFound(CellState& state, int position, int bytesRead);
    bool ReadSectorAfterID(CellState& state, const uint8_t wantedId[6], const SectorWanted& wanted, int& size,
                           uint8_t& dam, uint8_t* buffer, bool acceptCrcError, bool& crcError);

    // Tracks built from the file and not changed since, most recently left last.
    // Any change to a track empties it, since writing it back may move other tracks.
    struct KeptTrack {
        int Track = 0;
        std::array<std::vector<Cell>, 2> Cells;  // empty for a side with nothing on it
        SectorIndexes Index;
    };
    static constexpr size_t KeptTrackLimit = 8;
    void KeepCurrentTrack();
    static bool IsBlank(const std::vector<Cell>& cells);
    bool TakeKeptTrack(int track);

    SectorIndexes Index;
    bool SectorIndexStale = true;
    bool TrackReusable = false;  // the raw track is what TrackLoaded saw
    std::vector<KeptTrack> KeptTracks;
};

inline bool TFloppyImage::PutCell(CellState& state, uint8_t byte) {
    if (state.position < 0 || state.position >= TrackLength) {
        WrapCursor(state);
        return false;
    }
    TrackModified = true;
    TrackDirty = true;
    SectorIndexStale = true;
    Cell cell = static_cast<Cell>(byte | (state.density ? CellDoubleDensity : 0) | (state.mark ? CellMark : 0));
    auto& side = RawTrack[state.side & 1];
    side[state.position] = cell;
    state.crc = CrcStep(state.crc, byte);
    ++state.position;
    ++state.count;
    if (!state.density) {
        // A single-density byte lasts two cells.
        if (state.position >= TrackLength) {
            WrapCursor(state);
            return false;
        }
        side[state.position] = cell;
        ++state.position;
    }
    state.mark = false;
    return true;
}

inline bool TFloppyImage::ReadTrackByte(CellState& state) {
    int cellsPerByte = state.density ? 1 : 2;
    if (state.position < 0 || state.position + cellsPerByte > TrackLength) {
        WrapCursor(state);
        return false;
    }
    Cell cell = RawTrack[state.side & 1][state.position];
    bool cellDensity = (cell & CellDoubleDensity) != 0;
    if (cellDensity != state.density) {
        state.value = 0;
        state.mark = false;
    } else {
        state.value = static_cast<uint8_t>(cell & 0xFF);
        state.mark = (cell & CellMark) != 0;
    }
    state.crc = CrcStep(state.crc, state.value);
    state.position += cellsPerByte;
    ++state.count;
    return true;
}

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

// Opens an existing image, trying the candidate names and then the formats in a fixed order.
// readOnly opens the file for reading only, so nothing can ever be written to it.
std::unique_ptr<TFloppyImage> OpenFloppyImage(const std::string& path, bool readOnly = false);
std::unique_ptr<THardImage> OpenHardImage(const std::string& path, bool readOnly = false);

enum ImageType { ImageJV1 = 0, ImageJV3 = 1, ImageDMK = 2 };
// Creates a new, empty image file: 0 JV1, 1 JV3, any other value DMK.
std::unique_ptr<TFloppyImage> CreateFloppyImage(const std::string& path, int imageType);
// The same on a new, empty file already open (see THostFile::AdoptNew); path names it in messages.
std::unique_ptr<TFloppyImage> CreateFloppyImageOn(THostFile file, int imageType, const std::string& path);

}  // namespace DiskImage
