#include "diskimage/ImageConvert.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "diskimage/JV1.h"
#include "diskimage/JV3.h"
#include "diskimage/DMK.h"

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
    if (imageType != ImageJV1 && imageType != ImageJV3 && static_cast<int>(sectors.size()) > DMK::MaxPointers) {
        return Where(track, side, sectors[DMK::MaxPointers]) + " would be lost: a DMK track side records at most " +
               std::to_string(DMK::MaxPointers) + " sectors";
    }
    if (TRawTrack::LayoutCells(sectors, true) > TrackCellsOf(imageType, dmkCells)) {
        return where + " holds more than fits one track";
    }
    return {};
}

std::string UniqueSibling(const std::string& path) {
    std::filesystem::path target(path);
    // Built by appending: GCC 12 at -O3 warns falsely about "." + std::string.
    std::string name = ".";
    name += target.filename().string();
    name += ".converting-" + std::to_string(::getpid());
    return (target.parent_path() / name).string();
}

void RemoveQuietly(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// Reads the copy back and names the first sector of the source it does not hold.
std::string FindDifference(const std::vector<TTrackContents>& source, const std::string& copyPath) {
    auto copy = OpenFloppyImage(copyPath, true);
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
    switch (imageType) {
        case ImageJV1:
            return "JV1";
        case ImageJV3:
            return "JV3";
        default:
            return "DMK";
    }
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

TConversionResult ConvertImage(const std::string& inPath, const std::string& outPath, int imageType,
                               bool overwrite) {
    std::error_code error;
    if (std::filesystem::exists(outPath, error)) {
        if (std::filesystem::equivalent(inPath, outPath, error)) {
            throw EConversionRefused(outPath + ": the copy cannot replace the image it is made from");
        }
        if (!overwrite) {
            throw EConversionRefused(outPath + ": file exists");
        }
    }
    std::vector<TTrackContents> tracks;
    {
        auto source = OpenFloppyImage(inPath, true);
        tracks = ReadAllTracks(*source);
    }
    if (std::string loss = FindConversionLoss(tracks, imageType); !loss.empty()) {
        throw EConversionRefused("Cannot convert to " + ImageTypeName(imageType) + ": " + loss);
    }

    TConversionResult result;
    const std::string temporary = UniqueSibling(outPath);
    try {
        auto target = CreateFloppyImage(temporary, imageType, DMKTrackCells(tracks));
        for (const auto& track : tracks) {
            if (!target->LayOutTrack(track.Track, track.Sides) || !target->Flush()) {
                throw EConversionRefused("Cannot convert to " + ImageTypeName(imageType) + ": track " +
                                         std::to_string(track.Track) + " cannot be stored");
            }
            result.Tracks = track.Track + 1;
            result.Sectors += static_cast<int>(track.Sides[0].size() + track.Sides[1].size());
        }
        if (!target->Flush()) {
            throw EConversionRefused("Cannot convert to " + ImageTypeName(imageType) + ": the image cannot be written");
        }
        target.reset();
        if (std::string difference = FindDifference(tracks, temporary); !difference.empty()) {
            throw EConversionRefused("Cannot convert to " + ImageTypeName(imageType) + ": " + difference);
        }
        std::filesystem::rename(temporary, outPath);
    } catch (const std::filesystem::filesystem_error& failure) {
        RemoveQuietly(temporary);
        throw TDiskImage::EFileError(failure.code().value());
    } catch (...) {
        RemoveQuietly(temporary);
        throw;
    }
    return result;
}

}  // namespace DiskImage
