// IMD: the image a disk archiver makes of a real floppy. An ASCII header line and a
// comment ending in 0x1A, then one record per track side as it was read: its recording
// mode (data rate, FM or MFM), cylinder and head, and its sectors in physical order with
// their numbers, sizes, the cylinder and head their ID fields hold when those differ from
// the track's, and their data (plain, or one byte repeated, each possibly deleted or read
// with a data error, or missing altogether).
//
// What a raw track cannot show: a sector the archiver could not read ("unavailable") has
// an ID but no data, and reads here as missing; it is kept in the file while its track
// keeps that layout. A data-error record reads with a CRC error. IMD knows only "deleted
// or not": 0xFB is stored as plain, 0xF8 and 0xFA (which set directory and deleted sectors
// apart on TRS-80 disks) as deleted, read back as 0xF8; 0xF9 cannot be stored. One track
// side holds sectors of one density.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "diskimage/DiskImage.h"

namespace DiskImage {

class IMD : public TFloppyImage {
public:
    static constexpr const char* Signature = "IMD ";

    // One sector record as the file holds it.
    struct Sector {
        int Number = 0;
        int Cylinder = 0;  // of its ID field
        int Head = 0;      // of its ID field
        int Size = 256;
        bool Available = true;
        bool Deleted = false;
        bool DataError = false;
        std::vector<uint8_t> Data;  // Size bytes when available
    };
    struct Track {
        int Mode = 5;  // 0-2 FM at 500, 300, 250 kbit/s; 3-5 MFM at the same rates
        std::vector<Sector> Sectors;
        bool DoubleDensity() const { return Mode >= 3; }
    };

    // Takes the file over when it begins with the signature and every record is whole and
    // within what a track can hold; refuses with EInvalidFormat otherwise, file unchanged.
    IMD(THostFile& file, bool readOnly, const std::string& path);
    ~IMD() override;

    std::string GetFormatName() const override { return "IMD"; }
    bool CanSetWriteProtect() const override { return false; }  // no place in the file records it
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;

    // The header line and comment, up to and including the 0x1A that ends them.
    const std::string& GetHeader() const { return Header; }
    // The comment alone.
    std::string GetComment() const;
    // The record of a track side, or nullptr when the file has none.
    const Track* FindTrack(int cylinder, int head) const;
    // Sectors listed without data, over the whole disk: they read as missing.
    int UnavailableSectorCount() const;

    // Why a track side cannot be stored in IMD, naming the first sector at fault; empty when it can.
    static std::string SideLoss(const std::vector<TTrackSector>& sectors);
    // A new image: the header line with the time it was made, no comment, no tracks.
    static std::vector<uint8_t> EmptyImage();

protected:
    bool CanStoreLoadedTrack() override;
    int SideCellsFor(const std::vector<TTrackSector>& sectors) const override;

private:
    void Parse(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Serialise() const;
    // The record the loaded side would be stored as; false when it cannot be.
    bool BuildSide(int side, Track& record, bool& present);

    std::string Header;
    std::map<std::pair<int, int>, Track> Tracks;  // by cylinder, head
    std::vector<uint8_t> Stored;                  // the file as last read or written
};

}  // namespace DiskImage
