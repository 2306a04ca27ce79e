#include "diskimage/SectorImage.h"

#include <algorithm>

namespace DiskImage {

namespace {

std::string SectorText(int sector) { return "sector " + std::to_string(sector); }

std::string DensityText(bool doubleDensity) { return doubleDensity ? "double" : "single"; }

}  // namespace

std::vector<TTrackSector> SectorsOfSide(const TSectorLayout& layout, const std::vector<uint8_t>& bytes) {
    std::vector<TTrackSector> sectors(layout.SectorsPerTrack);
    const int size = layout.SectorSize;
    for (int i = 0; i < layout.SectorsPerTrack; ++i) {
        TTrackSector& sector = sectors[i];
        sector.Sector = layout.FirstSector + i;
        sector.Size = size;
        sector.Density = layout.DoubleDensity;
        sector.DAM = SectorImageDataMark;
        sector.Data.assign(bytes.begin() + i * size, bytes.begin() + (i + 1) * size);
    }
    return sectors;
}

bool ReadSectorOfSide(const THostFile& file, uint64_t sideOffset, const TSectorLayout& layout, bool density,
                      int sector, int& size, uint8_t& dam, uint8_t* buffer) {
    const int index = sector - layout.FirstSector;
    if (density != layout.DoubleDensity || index < 0 || index >= layout.SectorsPerTrack) return false;
    if (!file.ReadAt(sideOffset + static_cast<uint64_t>(index) * layout.SectorSize, buffer,
                     static_cast<size_t>(layout.SectorSize))) {
        return false;
    }
    size = layout.SectorSize;
    dam = SectorImageDataMark;
    return true;
}

std::string SectorLayoutLoss(const TSectorLayout& layout, int side, const std::vector<TTrackSector>& sectors,
                             const std::string& format) {
    if (side >= layout.Sides) {
        if (sectors.empty()) return {};
        return SectorText(sectors.front().Sector) + " would be lost: the " + format + " image has one side";
    }
    std::vector<bool> seen(layout.SectorsPerTrack, false);
    for (const auto& sector : sectors) {
        const int index = sector.Sector - layout.FirstSector;
        if (sector.Density != layout.DoubleDensity || sector.Size != layout.SectorSize || index < 0 ||
            index >= layout.SectorsPerTrack) {
            return SectorText(sector.Sector) + " (" + DensityText(sector.Density) + "-density, " +
                   std::to_string(sector.Size) + " bytes) would be lost: this " + format + " image holds " +
                   DensityText(layout.DoubleDensity) + "-density " + std::to_string(layout.SectorSize) +
                   "-byte sectors " + std::to_string(layout.FirstSector) + " to " +
                   std::to_string(layout.FirstSector + layout.SectorsPerTrack - 1);
        }
        if (seen[index]) return SectorText(sector.Sector) + " appears twice; " + format + " keeps one copy of each sector";
        if (sector.DAM != SectorImageDataMark) {
            return SectorText(sector.Sector) + " would lose its data address mark in " + format;
        }
        if (sector.CrcError) return SectorText(sector.Sector) + " has a CRC error, which " + format + " cannot record";
        seen[index] = true;
    }
    for (int i = 0; i < layout.SectorsPerTrack; ++i) {
        if (!seen[i]) {
            return SectorText(layout.FirstSector + i) + " is missing; " + format + " stores every sector of every track";
        }
    }
    return {};
}

int LowestSectorNumber(const std::vector<TTrackSector>& sectors) {
    return std::min_element(sectors.begin(), sectors.end(),
                            [](const auto& a, const auto& b) { return a.Sector < b.Sector; })
        ->Sector;
}

std::string FirstSideLoss(const std::array<std::vector<TTrackSector>, 2>& sides,
                          const std::function<std::string(int side, const std::vector<TTrackSector>&)>& sideLoss) {
    for (int side = 0; side < 2; ++side) {
        if (std::string loss = sideLoss(side, sides[side]); !loss.empty()) {
            return "side " + std::to_string(side) + ", " + loss;
        }
    }
    return {};
}

}  // namespace DiskImage
