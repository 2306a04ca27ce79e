// The TRS-80 CP/M disk layouts: one row per vendor variant, with the disk
// parameter block and the physical geometry needed to find its sectors.
#pragma once

#include <array>

#include "diskimage/InlineText.h"

namespace FileSystem {

// Row flags.
constexpr int CPMSideAfterSide = 0x02;  // double-sided: all of side 0 before side 1
constexpr int CPMEightInch = 0x04;      // an 8-inch disk: track 0 holds 26 single-density sectors
constexpr int CPMDoubleSided = 0x40;
constexpr int CPMDoubleDensity = 0x80;

// What a row asks of the disk, beyond its geometry, before recognition offers it.
constexpr int CPMNeedsSector0 = 0x01;     // track 0 holds a single-density sector numbered 0
constexpr int CPMNeedsSector1 = 0x02;     // track 0 holds a single-density sector numbered 1
constexpr int CPMNeedsBlankSide1 = 0x04;  // side 1, if formatted, holds no data: the disk is one-sided

constexpr int CPMTranslationEntries = 30;

struct CPMFormat {
    Quarrybox::TInlineText<36> VendorName;
    Quarrybox::TInlineText<44> Description;
    // Disk parameter block. SPT, BLM and CKS complete it but are not used.
    int SPT;
    int BSH;
    int BLM;
    int EXM;
    int DSM;
    int DRM;
    int AL0;
    int AL1;
    int CKS;
    int OFF;
    // Physical geometry.
    int SectorsPerTrack;
    int SectorSizeCode;  // 128 << code
    int Tracks;          // per side
    int Flags;
    // Physical sector ids in logical order; the first SectorsPerTrack entries are used.
    std::array<int, CPMTranslationEntries> Translation;
    int Needs = 0;  // CPMNeeds... bits

    constexpr bool NeedsAll(int needs) const { return (Needs & needs) == needs; }

    constexpr int BlockSize() const { return 128 << BSH; }
    constexpr int SectorSize() const { return 128 << SectorSizeCode; }
    constexpr int BlockCount() const { return DSM + 1; }
    constexpr int DirectoryEntries() const { return DRM + 1; }
    constexpr bool WideBlockNumbers() const { return DSM > 255; }
    constexpr bool IsDoubleSided() const { return (Flags & CPMDoubleSided) != 0; }
    constexpr bool IsDoubleDensity() const { return (Flags & CPMDoubleDensity) != 0; }
    constexpr bool IsEightInch() const { return (Flags & CPMEightInch) != 0; }
    // Leading one bits of AL0:AL1, from bit 15 down to the first zero bit.
    constexpr int DirectoryBlocks() const {
        int bits = ((AL0 & 0xFF) << 8) | (AL1 & 0xFF);
        int count = 0;
        for (int bit = 15; bit >= 0 && (bits & (1 << bit)) != 0; --bit) ++count;
        return count;
    }
    // Allocation slots of one directory entry: 16 one-byte or 8 two-byte numbers.
    constexpr int BlocksPerEntry() const { return WideBlockNumbers() ? 8 : 16; }
    constexpr int BytesPerFullEntry() const { return BlocksPerEntry() * BlockSize(); }
};

// The 33 rows of the TRS-80 5.25-inch layouts, then the 8-inch ones. New rows go after
// the last, so that no disk changes row.
constexpr int CPMFormatCount = 36;

// In the order recognition tries them.
extern const std::array<CPMFormat, CPMFormatCount> FormatCatalogue;

// The row named by its vendor and description, which no later row changes; -1 when none is.
int FindCPMFormatRow(const char* vendorName, const char* description);

}  // namespace FileSystem
