// HFE (revision 1): the bit stream a floppy emulator plays to the computer. A 512-byte
// header (signature "HXCPICFE", tracks, sides, encoding, bit rate, rotation speed, drive
// interface), a list of where each track lies, and each track as blocks of 512 bytes:
// 256 bytes of side 0, then 256 of side 1, each byte sent least significant bit first.
// Every bit is one half of a double-density bit cell (16 bits a double-density byte, 32 a
// single-density one): MFM tracks carry a clock bit before every data bit, FM tracks
// four bits (clock, gap, data, gap) for every data bit.
//
// A track side is decoded in one encoding, the one that finds more address marks; a side
// that mixes densities therefore cannot be stored. Bits that encode nothing (unformatted
// stretches) come back as whatever bytes they decode to.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"

namespace DiskImage {

class HFE : public TFloppyImage {
public:
    static constexpr const char* Signature = "HXCPICFE";
    static constexpr int BlockBytes = 512;
    // The header fields this program reads and writes.
    enum Encoding : uint8_t { IsoIbmMFM = 0, IsoIbmFM = 2 };
    static constexpr uint8_t GenericShugartDD = 7;

    // Takes the file over when its header and track list are sound and every track lies
    // within the file; refuses with EInvalidFormat otherwise, file unchanged.
    HFE(THostFile& file, bool readOnly, const std::string& path);
    ~HFE() override;

    std::string GetFormatName() const override { return "HFE"; }
    bool CanSetWriteProtect() const override { return false; }
    bool Flush() override;
    bool LoadTrack(int track) override;
    int StoredSectorCount(int side) const override;

    // A new image: the header with no tracks.
    static std::vector<uint8_t> EmptyImage();
    // Why a track side cannot be stored in HFE, naming the first sector at fault; empty when it can.
    static std::string SideLoss(const std::vector<TTrackSector>& sectors);

protected:
    bool CanStoreLoadedTrack() override;
    // Decoding a track's bit cells costs far more than keeping the result.
    size_t TracksWorthKeeping() const override { return 8; }
    int SideCellsFor(const std::vector<TTrackSector>& sectors) const override;

private:
    struct Track {
        std::array<std::vector<uint8_t>, 2> Bits;  // each side's stream bytes, in order
        std::array<bool, 2> DoubleDensity{};       // the encoding each side was decoded or written in
    };
    void Parse(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Serialise() const;
    void Decode(const std::vector<uint8_t>& bits, TRawTrack& side, bool& doubleDensity) const;

    std::vector<Track> Tracks;
    int Sides = 1;
    int BitRate = 250;  // kbit/s
    std::vector<uint8_t> Header;
    std::vector<uint8_t> Stored;  // the file as last read or written
};

}  // namespace DiskImage
