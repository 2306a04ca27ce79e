// Copying a floppy disk from one image format to another through the raw-track
// engine: sector IDs, densities, data marks, CRC-error flags and the physical
// order of the sectors go across, or the copy is refused before anything is written.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"

namespace DiskImage {

// The readable sectors of one track, side by side, in physical order.
struct TTrackContents {
    int Track = 0;
    std::array<std::vector<TTrackSector>, 2> Sides;
    std::array<int, 2> Cells{};  // the length of each side where it was read, 0 when not known
};

// Every track of the image that holds at least one readable sector, in track order.
std::vector<TTrackContents> ReadAllTracks(TFloppyImage& image);

// The format name of an image type.
std::string ImageTypeName(int imageType);

// The cells a side of a DMK copy gets: as long as the longest side of the source,
// and never shorter than a 5.25-inch track.
int DMKTrackCells(const std::vector<TTrackContents>& tracks);

// Empty when an image of the type can hold every sector as it is; otherwise why not,
// naming the first track, side and sector that would be lost or changed.
std::string FindConversionLoss(const std::vector<TTrackContents>& tracks, int imageType);

// Whether a sector read back from a converted image is the sector that was copied:
// same number, size, density and data, same CRC state, and a data mark of the same kind
// (every format keeps 0xFB apart from the marks of directory and deleted sectors).
bool SameSector(const TTrackSector& original, const TTrackSector& copy);

class EConversionRefused : public TDiskImage::Exception {
public:
    using TDiskImage::Exception::Exception;
};

struct TConversionResult {
    int Tracks = 0;   // tracks copied (the last track holding sectors + 1)
    int Sectors = 0;  // sectors copied
};

// Copies every track of the floppy image at inPath into a new image of imageType at
// outPath. The source is opened for reading only. Throws EConversionRefused, with the
// track and sector that would be lost, when the target cannot hold the source exactly;
// the copy is built beside outPath and only takes its name once every sector has been
// read back unchanged, so a refused or failed conversion leaves no output file.
// An existing outPath is replaced only when overwrite is set. dosCheck lets a source without
// a header of its own be recognised by its DOS (see OpenFloppyImage).
TConversionResult ConvertImage(const std::string& inPath, const std::string& outPath, int imageType,
                               bool overwrite = false, const TDosCheck& dosCheck = {});
// The same from an image already open (as the desktop program holds its disk); sourcePath
// names it in messages and keeps the copy from replacing it.
TConversionResult ConvertImage(TFloppyImage& source, const std::string& sourcePath, const std::string& outPath,
                               int imageType, bool overwrite = false);

}  // namespace DiskImage
