// JV3: sector data described by tables of 3-byte headers, any density, side,
// size and order, with the write-protect state in the first table.
#pragma once

#include <span>

#include "diskimage/DiskImage.h"

namespace DiskImage {

class JV3 : public TFloppyImage {
public:
    static constexpr int HeadersPerBlock = 2901;
    static constexpr int BlockBytes = 8704;  // 2901 headers and one extra byte
    static constexpr int WriteProtectOffset = HeadersPerBlock * 3;

    JV3(THostFile& file, bool readOnly, const std::string& path);
    ~JV3() override;

    std::string GetFormatName() const override { return "JV3"; }
    bool Flush() override;
    bool LoadTrack(int track) override;

    int StoredSectorCount(int side) const override;
    std::optional<bool> ReadStoredSector(int track, int side, int density, int sector, int& size, uint8_t& dam,
                                         uint8_t* buffer) override;
    bool HoldsTrack(int sectors, int size, bool density) const override;

    bool HasSecondHeaderBlock() const { return SecondHeaderBlock; }
    // A new image: one header block with every entry free and the disk writable, no sectors.
    static std::vector<uint8_t> EmptyImage();
    // Whether a header block (BlockBytes) lists at least one sector and the data of every
    // sector it lists lies within a file of fileSize bytes. The first bytes of a sector image
    // without a header can look like a list of sectors; the data of such a list reaches far
    // past the end of the file.
    static bool ListsSectorsWithin(const uint8_t* block, uint64_t fileSize);

    // A track side is a 5.25-inch double-density track when its sectors fit one; a
    // side that holds more can only come from an 8-inch disk and gets its length.
    static constexpr int MaxTrackCells = TRawTrack::EightInchCells;
    // The track-capacity test: every track side of the given header blocks fits trackLength cells.
    static bool FitsRawTrack(const uint8_t* headers, int blockCount, int trackLength);
    // What the test counts: a start for every track side, and a share for each sector.
    static constexpr int CapacityStart = 48;
    static int SectorCapacityCells(int size, bool density);
    // The sector sizes a header can describe.
    static bool CanStoreSize(int size);

protected:
    bool CanStoreLoadedTrack() override;
    int SideCellsFor(const std::vector<TTrackSector>& sectors) const override;

private:
    struct FoundSector {
        int sector = 0;
        int size = 0;
        uint8_t flags = 0;
        std::vector<uint8_t> data;
    };
    struct Placement {
        int header = 0;  // index over both blocks
        const FoundSector* source = nullptr;
    };

    // A used header: where its sector's data lies in the file and how it is recorded.
    struct StoredSector {
        int sector = 0;
        int size = 0;
        uint64_t offset = 0;
        bool density = false;
        uint8_t dam = 0xFB;
        bool crcError = false;
    };
    // The used headers of one side of a track, in header order. Built from the header
    // blocks once, not on every track load; any change to the blocks drops the map.
    std::vector<StoredSector> StoredSectors(int track, int side);
    std::span<const StoredSector> SideSectors(int track, int side);
    void BuildSectorMap();
    size_t UsedHeaderCount() const;
    std::vector<uint8_t> ReadSpan(const std::vector<StoredSector>& list, uint64_t& spanStart);
    std::vector<StoredSector> SectorMap;  // grouped by track side
    std::vector<int> SideStarts;          // where side (track * 2 + side) starts in SectorMap
    bool SectorMapBuilt = false;

    std::vector<FoundSector> CollectTrackSectors();
    bool PlaceSectors(std::vector<uint8_t>& headers, bool& secondBlock, const std::vector<FoundSector>& sectors,
                      bool trimFirst, bool resizeTail, std::vector<Placement>& placements) const;
    uint64_t DataOffset(const std::vector<uint8_t>& headers, int header) const;

    // Block 1 at 0, block 2 at BlockBytes.
    std::vector<uint8_t> Headers = std::vector<uint8_t>(2 * BlockBytes, 0);
    bool SecondHeaderBlock = false;
};

}  // namespace DiskImage
