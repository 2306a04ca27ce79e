// What images that store sector data only have in common (JVC, raw sector dumps): every
// track side holds the same run of sector numbers, of one size and one density, kept in
// the file in number order. Such a file keeps no ID fields, data marks or CRCs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "diskimage/HostFile.h"
#include "diskimage/RawTrack.h"

namespace DiskImage {

struct TSectorLayout {
    int SectorsPerTrack = 0;
    int SectorSize = 0;
    bool DoubleDensity = true;
    int FirstSector = 0;
    int Sides = 1;
    int SideBytes() const { return SectorsPerTrack * SectorSize; }
};

// Every sector reads back as plain data.
constexpr uint8_t SectorImageDataMark = 0xFB;

// The sectors of one track side from its bytes as the file stores them.
std::vector<TTrackSector> SectorsOfSide(const TSectorLayout& layout, const std::vector<uint8_t>& bytes);

// Reads a sector of the track side that starts at sideOffset in the file: false when the
// side holds no sector of that number and density, or the file cannot be read.
bool ReadSectorOfSide(const THostFile& file, uint64_t sideOffset, const TSectorLayout& layout, bool density,
                      int sector, int& size, uint8_t& dam, uint8_t* buffer);

// Why a track side cannot be stored in an image of this layout, naming the first sector
// at fault ("sector 4 would lose its data address mark in JVC"); empty when it can.
// format names the kind of image in the reason.
std::string SectorLayoutLoss(const TSectorLayout& layout, int side, const std::vector<TTrackSector>& sectors,
                             const std::string& format);

// What a new image of this kind takes from the first track laid out on it: the lowest sector
// number of side 0 starts every side's run.
int LowestSectorNumber(const std::vector<TTrackSector>& sectors);
// The first side of a track that sideLoss finds fault with, as "side 1, <its reason>"; empty
// when both sides can be stored.
std::string FirstSideLoss(const std::array<std::vector<TTrackSector>, 2>& sides,
                          const std::function<std::string(int side, const std::vector<TTrackSector>&)>& sideLoss);

}  // namespace DiskImage
