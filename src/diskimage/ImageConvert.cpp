#include "diskimage/ImageConvert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>

#include "diskimage/JV1.h"
#include "diskimage/JV3.h"
#include "diskimage/HFE.h"
#include "diskimage/IMD.h"
#include "diskimage/JVC.h"
#include "diskimage/DMK.h"
#include "diskimage/OutputFolder.h"

namespace DiskImage {

namespace {

constexpr int JV1DirectoryTrack = 17;

// Marks 0xF8 and 0xFA set a directory or deleted sector apart from ordinary data.
bool IsDeletedMark(uint8_t dam) { return dam == 0xF8 || dam == 0xFA; }

// The data mark a sector reads back with once stored in an image of the type.
uint8_t StoredDAM(int imageType, int track, uint8_t dam) {
    switch (imageType) {
        case ImageJV1:
            return track == JV1DirectoryTrack ? 0xFA : 0xFB;
        case ImageJV3:
            return dam == 0xFB ? 0xFB : 0xFA;
        case ImageJVC:
            return 0xFB;
        case ImageIMD:
            return dam == 0xFB ? 0xFB : 0xF8;
        default:
            return dam;
    }
}

std::string Where(int track, int side, const TTrackSector& sector) {
    return "track " + std::to_string(track) + ", side " + std::to_string(side) + ", sector " +
           std::to_string(sector.Sector);
}

std::string Describe(const TTrackSector& sector) {
    return std::string(sector.Density ? "double" : "single") + "-density, " + std::to_string(sector.Size) +
           " bytes";
}

// Why one sector cannot go into the type as it is, or empty.
std::string SectorLoss(int imageType, int track, int side, const TTrackSector& sector) {
    const std::string where = Where(track, side, sector);
    if (imageType == ImageJV1) {
        if (side != 0 || sector.Density || sector.Size != JV1::SectorSize ||
            sector.Sector >= JV1::SectorsPerTrack) {
            return where + " (" + Describe(sector) +
                   ") would be lost: JV1 holds only single-density 256-byte sectors 0 to 9 on side 0";
        }
        if (sector.CrcError) {
            return where + " has a CRC error, which JV1 cannot record";
        }
    }
    if (imageType == ImageJV3 && !JV3::CanStoreSize(sector.Size)) {
        return where + " (" + Describe(sector) + ") would be lost: JV3 holds only 128, 256, 512 and 1024-byte sectors";
    }
    if (IsDeletedMark(StoredDAM(imageType, track, sector.DAM)) != IsDeletedMark(sector.DAM)) {
        return where + " would lose its data address mark in " + ImageTypeName(imageType);
    }
    return {};
}

// Cells a track side of the type can hold.
int TrackCellsOf(int imageType, int dmkCells) {
    switch (imageType) {
        case ImageJV1:
            return TRawTrack::FiveInchCells;
        case ImageJV3:
            return JV3::MaxTrackCells;
        case ImageJVC:
            return TRawTrack::FiveInchCells;
        case ImageIMD:
        case ImageHFE:
            return TRawTrack::MaxCells;
        default:
            return dmkCells;
    }
}

std::string TrackSideLoss(int imageType, int track, int side, const std::vector<TTrackSector>& sectors,
                          int dmkCells) {
    if (sectors.empty()) {
        return {};
    }
    for (const auto& sector : sectors) {
        if (std::string loss = SectorLoss(imageType, track, side, sector); !loss.empty()) {
            return loss;
        }
    }
    const std::string where = "track " + std::to_string(track) + ", side " + std::to_string(side);
    if (imageType == ImageIMD) {
        if (std::string loss = IMD::SideLoss(sectors); !loss.empty()) return where + ", " + loss;
    }
    if (imageType == ImageHFE) {
        if (std::string loss = HFE::SideLoss(sectors); !loss.empty()) return where + ", " + loss;
    }
    if (imageType == ImageJV1) {
        std::set<int> numbers;
        for (const auto& sector : sectors) {
            if (!numbers.insert(sector.Sector).second) {
                return Where(track, side, sector) + " appears twice; JV1 keeps one copy of each sector";
            }
        }
        if (track == 0) {
            for (const auto& sector : sectors) {
                if (sector.Sector == 0 && !JV1::HasSignature(sector.Data.data())) {
                    return Where(track, side, sector) + " does not begin with 0x00, 0xFE: JV1 would change it";
                }
            }
        }
    }
    if (imageType == ImageJV3) {
        int cells = JV3::CapacityStart;
        for (const auto& sector : sectors) {
            cells += JV3::SectorCapacityCells(sector.Size, sector.Density);
            if (cells > JV3::MaxTrackCells) {
                return Where(track, side, sector) + " would be lost: " + where + " holds more than a JV3 track allows";
            }
        }
    }
    if (imageType != ImageJV1 && imageType != ImageJV3 && imageType != ImageIMD && imageType != ImageHFE &&
        static_cast<int>(sectors.size()) > DMK::MaxPointers) {
        return Where(track, side, sectors[DMK::MaxPointers]) + " would be lost: a DMK track side records at most " +
               std::to_string(DMK::MaxPointers) + " sectors";
    }
    if (TRawTrack::LayoutCells(sectors, true) > TrackCellsOf(imageType, dmkCells)) {
        return where + " holds more than fits one track";
    }
    return {};
}

// A JVC image has one geometry, which its first track sets, and stores every track from 0 on whole.
std::string JVCLoss(const std::vector<TTrackContents>& tracks) {
    int expected = 0;
    JVC::Geometry geometry;
    for (const auto& track : tracks) {
        if (track.Track != expected) {
            return "track " + std::to_string(expected) + " holds no sectors; JVC stores every sector of every track";
        }
        if (expected++ == 0) {
            if (std::string loss = JVC::GeometryOf(track.Sides, geometry); !loss.empty()) return "track 0, " + loss;
        }
        for (int side = 0; side < 2; ++side) {
            if (std::string loss = JVC::SideLoss(geometry, side, track.Sides[side]); !loss.empty()) {
                return "track " + std::to_string(track.Track) + ", side " + std::to_string(side) + ", " + loss;
            }
        }
    }
    return {};
}

// Reads the copy back and names the first sector of the source it does not hold.
std::string FindDifference(const std::vector<TTrackContents>& source, const std::string& copyPath, int imageType) {
    auto copy = OpenFloppyImageAs(copyPath, imageType, true);
    for (const auto& track : source) {
        if (!copy->LoadTrack(track.Track)) {
            return "track " + std::to_string(track.Track) + " cannot be read back";
        }
        for (int side = 0; side < 2; ++side) {
            std::vector<TTrackSector> found = copy->ReadTrackSide(side);
            std::vector<bool> used(found.size(), false);
            for (const auto& sector : track.Sides[side]) {
                bool matched = false;
                for (size_t i = 0; i < found.size() && !matched; ++i) {
                    if (!used[i] && SameSector(sector, found[i])) {
                        used[i] = true;
                        matched = true;
                    }
                }
                if (!matched) {
                    return Where(track.Track, side, sector) + " did not survive the copy";
                }
            }
        }
    }
    return {};
}

}  // namespace

std::vector<TTrackContents> ReadAllTracks(TFloppyImage& image) {
    std::vector<TTrackContents> tracks;
    for (int t = 0; t <= TFloppyImage::MaxTrackNumber; ++t) {
        if (!image.LoadTrack(t) || image.GetCurrentTrack() != t) {
            continue;
        }
        TTrackContents contents;
        contents.Track = t;
        for (int side = 0; side < 2; ++side) {
            contents.Sides[side] = image.ReadTrackSide(side);
            contents.Cells[side] = image.RawSide(side).Length();
        }
        if (!contents.Sides[0].empty() || !contents.Sides[1].empty()) {
            tracks.push_back(std::move(contents));
        }
    }
    return tracks;
}

std::string ImageTypeName(int imageType) {
    const TImageTypeInfo* type = FindImageType(imageType);
    return type ? type->Name : "DMK";
}

int DMKTrackCells(const std::vector<TTrackContents>& tracks) {
    int cells = TRawTrack::FiveInchCells;
    for (const auto& track : tracks) {
        cells = std::max({cells, track.Cells[0], track.Cells[1]});
    }
    return std::min(cells, DMK::THeader::MaxTrackBytes - DMK::PointerTableBytes);
}

std::string FindConversionLoss(const std::vector<TTrackContents>& tracks, int imageType) {
    const int dmkCells = DMKTrackCells(tracks);
    if (imageType == ImageJVC) {
        if (std::string loss = JVCLoss(tracks); !loss.empty()) return loss;
    }
    for (const auto& track : tracks) {
        for (int side = 0; side < 2; ++side) {
            if (std::string loss = TrackSideLoss(imageType, track.Track, side, track.Sides[side], dmkCells);
                !loss.empty()) {
                return loss;
            }
        }
    }
    if (imageType == ImageJV3) {
        size_t total = 0;
        for (const auto& track : tracks) {
            total += track.Sides[0].size() + track.Sides[1].size();
        }
        if (total > 2 * static_cast<size_t>(JV3::HeadersPerBlock)) {
            return "the disk holds " + std::to_string(total) + " sectors; a JV3 image holds at most " +
                   std::to_string(2 * JV3::HeadersPerBlock);
        }
    }
    return {};
}

bool SameSector(const TTrackSector& original, const TTrackSector& copy) {
    return original.Sector == copy.Sector && original.Size == copy.Size && original.Density == copy.Density &&
           original.CrcError == copy.CrcError && IsDeletedMark(original.DAM) == IsDeletedMark(copy.DAM) &&
           original.Data == copy.Data;
}

namespace {

std::string Refusal(int imageType, const std::string& reason) {
    return "Cannot convert to " + ImageTypeName(imageType) + ": " + reason;
}

// The tracks of the floppy image at path. A hard-disk image is named as such: it is a
// disk image, only not one this copy can take.
std::vector<TTrackContents> ReadSourceTracks(const std::string& path, int imageType, const TDosCheck& dosCheck) {
    std::unique_ptr<TFloppyImage> source;
    try {
        source = OpenFloppyImage(path, true, dosCheck);
    } catch (const TDiskImage::EInvalidFormat&) {
        std::unique_ptr<THardImage> hard;
        try {
            hard = OpenHardImage(path, true);
        } catch (const TDiskImage::Exception&) {
            throw TDiskImage::EInvalidFormat();
        }
        throw EConversionRefused(Refusal(imageType, path + " is a hard-disk image (" + hard->GetFormatName() +
                                                        "); only floppy images can be converted"));
    }
    return ReadAllTracks(*source);
}

// Throws the host's error when the image file refused a write, else the refusal given.
[[noreturn]] void ThrowWriteFailure(const TFloppyImage& target, const std::string& refusal) {
    if (int error = target.GetLastHostError(); error != 0) throw TDiskImage::EFileError(error);
    throw EConversionRefused(refusal);
}

// Throws what an output error means: a name already taken is a refusal, anything else the
// host's own error.
[[noreturn]] void ThrowOutputError(int error, const std::string& outPath) {
    if (error == EEXIST) throw EConversionRefused(outPath + ": file exists");
    throw TDiskImage::EFileError(error, OutputErrorText(error, outPath));
}

// The conversion once the source is known: readTracks gives its tracks, inPath names it.
TConversionResult ConvertTracks(const std::string& inPath, const std::function<std::vector<TTrackContents>()>& readTracks,
                                const std::string& outPath, int imageType, bool overwrite) {
    TOutputFolder folder;
    std::string name;
    if (int error = folder.OpenFolderOf(outPath, name); error != 0)
        throw TDiskImage::EFileError(error, OutputErrorText(error, outPath));
    struct stat in {};
    struct stat out {};
    if (::stat(inPath.c_str(), &in) == 0 && ::fstatat(folder.Descriptor(), name.c_str(), &out, 0) == 0 &&
        in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        throw EConversionRefused(outPath + ": the copy cannot replace the image it is made from");
    }
    if (int error = folder.CheckName(name, overwrite); error != 0) ThrowOutputError(error, outPath);
    const std::vector<TTrackContents> tracks = readTracks();
    if (tracks.empty()) throw EConversionRefused(Refusal(imageType, inPath + " holds no readable sector to copy"));
    if (std::string loss = FindConversionLoss(tracks, imageType); !loss.empty()) {
        throw EConversionRefused(Refusal(imageType, loss));
    }

    // The copy is built at a temporary name beside OUT and takes OUT's name only once it
    // has been read back whole; the temporary goes whatever happens.
    TOutputFile output;
    if (int error = output.Begin(folder, name, overwrite); error != 0) ThrowOutputError(error, outPath);
    const int copyFd = ::fcntl(output.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (copyFd < 0) throw TDiskImage::EFileError(errno);
    THostFile copyFile;
    copyFile.AdoptNew(copyFd);
    TConversionResult result;
    {
        auto target = CreateFloppyImageOn(std::move(copyFile), imageType, outPath, DMKTrackCells(tracks));
        for (const auto& track : tracks) {
            if (!target->LayOutTrack(track.Track, track.Sides) || !target->Flush()) {
                ThrowWriteFailure(*target, Refusal(imageType, "track " + std::to_string(track.Track) +
                                                                  " cannot be stored"));
            }
            result.Tracks = track.Track + 1;
            result.Sectors += static_cast<int>(track.Sides[0].size() + track.Sides[1].size());
        }
        if (!target->Flush()) ThrowWriteFailure(*target, Refusal(imageType, "the image cannot be written"));
    }
    if (std::string difference = FindDifference(tracks, folder.PathOf(output.TemporaryName()), imageType);
        !difference.empty()) {
        throw EConversionRefused(Refusal(imageType, difference));
    }
    if (int error = output.Commit(); error != 0) ThrowOutputError(error, outPath);
    return result;
}

}  // namespace

TConversionResult ConvertImage(const std::string& inPath, const std::string& outPath, int imageType,
                               bool overwrite, const TDosCheck& dosCheck) {
    return ConvertTracks(
        inPath, [&] { return ReadSourceTracks(inPath, imageType, dosCheck); }, outPath, imageType, overwrite);
}

TConversionResult ConvertImage(TFloppyImage& source, const std::string& sourcePath, const std::string& outPath,
                               int imageType, bool overwrite) {
    return ConvertTracks(sourcePath, [&] { return ReadAllTracks(source); }, outPath, imageType, overwrite);
}

}  // namespace DiskImage
