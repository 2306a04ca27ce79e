// The catalogue of TRS-80 CP/M disk layouts, in recognition order.
#include "filesystem/CPMFormats.h"

#include <string_view>

namespace FileSystem {

namespace {

constexpr decltype(CPMFormat::VendorName) Montezuma = {"Montezuma Micro CP/M"};
constexpr decltype(CPMFormat::VendorName) Lobo = {"Lobo MAX-80 CP/M"};

// Translation tables shared by several rows.
constexpr std::array<int, CPMTranslationEntries> Odd18 = {1, 3, 5, 7, 9, 11, 13, 15, 17, 2, 4, 6, 8, 10, 12, 14, 16, 18};
constexpr std::array<int, CPMTranslationEntries> Odd10 = {1, 3, 5, 7, 9, 2, 4, 6, 8, 10};
constexpr std::array<int, CPMTranslationEntries> Odd6 = {1, 3, 5, 2, 4, 6};
constexpr std::array<int, CPMTranslationEntries> Skew4By18 = {1, 5, 9, 13, 17, 3, 7, 11, 15, 2, 6, 10, 14, 18, 4, 8, 12, 16};
constexpr std::array<int, CPMTranslationEntries> Zero10 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
constexpr std::array<int, CPMTranslationEntries> Zero18 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
// The IBM 3740 interchange layout: 26 sectors, skew 6.
constexpr std::array<int, CPMTranslationEntries> Skew6By26 = {1,  7,  13, 19, 25, 5,  11, 17, 23, 3,  9,  15, 21,
                                                              2,  8,  14, 20, 26, 6,  12, 18, 24, 4,  10, 16, 22};

}  // namespace

// clang-format off
const std::array<CPMFormat, CPMFormatCount> FormatCatalogue = {{
    //  vendor, description,
    //  SPT BSH BLM EXM DSM DRM AL0   AL1 CKS OFF  sectors code tracks flags  translation
    {"Lifeboat CP/M", "Model I (40T, SS, SD, 72K)",
        18, 3, 7, 0, 71, 63, 0xC0, 0x00, 16, 3,  18, 0, 35, 0x00,
        {1, 5, 9, 13, 17, 2, 6, 10, 14, 18, 3, 7, 11, 15, 4, 8, 12, 16}, CPMNeedsSector0},
    {"Omikron Mapper I CP/M", "Model I and III (40T, SS, SD, 83K)",
        18, 3, 7, 0, 82, 63, 0xC0, 0x00, 16, 3,  18, 0, 40, 0x00, Skew4By18, CPMNeedsSector1},
    {"Holmes Engineering VID80 CP/M", "(40T, SS, DD, 195K)",
        40, 3, 7, 0, 194, 63, 0xF0, 0x00, 16, 1,  10, 2, 40, 0x80, Zero10},
    {Montezuma, "80T SYSTEM (80T, SS, DD, 350K)",
        36, 4, 15, 1, 174, 127, 0xC0, 0x00, 32, 2,  18, 1, 80, 0x80, Odd18, CPMNeedsBlankSide1},
    {Montezuma, "80T DATA (80T, SS, DD, 400K)",
        40, 4, 15, 1, 199, 127, 0xC0, 0x00, 32, 0,  10, 2, 80, 0x80, Odd10},
    {Montezuma, "80T DS SYSTEM (80T, DS, DD, 710K)",
        36, 4, 15, 0, 354, 127, 0xC0, 0x00, 32, 2,  18, 1, 80, 0xC0, Odd18},
    {Montezuma, "80T DS DATA (80T, DS, DD, 800K)",
        40, 4, 15, 0, 399, 127, 0xC0, 0x00, 32, 0,  10, 2, 80, 0xC0, Odd10},
    {Montezuma, "Standard SYSTEM (40T, SS, DD, 170K)",
        36, 4, 15, 1, 84, 127, 0xC0, 0x00, 32, 2,  18, 1, 40, 0x80, Odd18, CPMNeedsBlankSide1},
    {Montezuma, "Standard DATA (40T, SS, DD, 200K)",
        40, 4, 15, 1, 99, 127, 0xC0, 0x00, 32, 0,  10, 2, 40, 0x80, Odd10},
    {Montezuma, "Standard DS SYSTEM (40T, DS, DD, 350K)",
        36, 4, 15, 1, 174, 127, 0xC0, 0x00, 32, 2,  18, 1, 40, 0xC0, Odd18},
    {Montezuma, "Standard DS DATA (40T, DS, DD, 400K)",
        40, 4, 15, 1, 199, 127, 0xC0, 0x00, 32, 0,  10, 2, 40, 0xC0, Odd10},
    {Montezuma, "Extended 80T SYSTEM (80T, SS, DD, 390K)",
        40, 4, 15, 1, 194, 127, 0xC0, 0x00, 32, 2,  10, 2, 80, 0x80, Odd10},
    {Montezuma, "Extended 80T DS SYSTEM (80T, DS, DD, 790K)",
        40, 4, 15, 0, 394, 127, 0xC0, 0x00, 32, 2,  10, 2, 80, 0xC0, Odd10},
    {Montezuma, "Extended SYSTEM (40T, SS, DD, 190K)",
        40, 4, 15, 1, 94, 127, 0xC0, 0x00, 32, 2,  10, 2, 40, 0x80, Odd10},
    {Montezuma, "Extended DS SYSTEM (40T, DS, DD, 390K)",
        40, 4, 15, 1, 194, 127, 0xC0, 0x00, 32, 2,  10, 2, 40, 0xC0, Odd10},
    {Montezuma, "80T SYSTEM (80T, DS, DD, 780K)",
        40, 4, 15, 0, 390, 127, 0xC0, 0x00, 32, 4,  5, 3, 80, 0xC0, {1, 4, 2, 5, 3}},
    {Montezuma, "80T SUPER DATA (80T, SS, DD, 440K)",
        44, 4, 15, 1, 219, 127, 0xC0, 0x00, 32, 0,  6, 3, 80, 0x80, Odd6},
    {Montezuma, "80T SUPER DS DATA (80T, DS, DD, 880K)",
        44, 4, 15, 0, 439, 127, 0xC0, 0x00, 32, 0,  6, 3, 80, 0xC0, Odd6},
    {Montezuma, "SUPER DATA (40T, SS, DD, 220K)",
        44, 4, 15, 1, 109, 127, 0xC0, 0x00, 32, 0,  6, 3, 40, 0x80, Odd6},
    {Montezuma, "SUPER DS DATA (40T, DS, DD, 440K)",
        44, 4, 15, 1, 219, 127, 0xC0, 0x00, 32, 0,  6, 3, 40, 0xC0, Odd6},
    {Montezuma, "1.42 and 1.44 (40T, DS, DD, 342K)",
        36, 4, 15, 1, 170, 127, 0xC0, 0x00, 32, 4,  18, 1, 40, 0xC0, Odd18},
    {Montezuma, "1.26 and 1.30 (40T, DS, DD, 350K)",
        36, 4, 15, 1, 174, 127, 0xC0, 0x00, 32, 2,  18, 1, 40, 0xC2, Skew4By18},
    {Montezuma, "1.32 (40T, DS, DD, 350K)",
        36, 4, 15, 1, 174, 127, 0xC0, 0x00, 32, 2,  18, 1, 40, 0xC2, Odd18},
    {Montezuma, "1.26 and 1.30 (40T, SS, DD, 170K)",
        36, 4, 15, 1, 84, 127, 0xC0, 0x00, 32, 2,  18, 1, 40, 0x80, Skew4By18},
    {"LNW Research LNW80 CP/M", "(40T, SS, DD, 166K)",
        36, 4, 15, 1, 82, 63, 0x80, 0x00, 16, 3,  18, 1, 40, 0x80,
        {1, 6, 11, 16, 3, 8, 13, 18, 5, 10, 15, 2, 7, 12, 17, 4, 9, 14}},
    {"Omikron Mapper II CP/M", "(40T, SS, DD, 134K)",
        28, 3, 7, 0, 133, 63, 0xC0, 0x00, 16, 2,  28, 0, 40, 0x80,
        {1, 6, 11, 16, 21, 26, 3, 8, 13, 18, 23, 28, 5, 10, 15, 20, 25, 2, 7, 12, 17, 22, 27, 4, 9, 14, 19, 24}},
    {"Omikron Mapper III CP/M", "(40T, SS, DD, 190K)",
        40, 4, 15, 1, 94, 127, 0xC0, 0x00, 32, 2,  5, 3, 40, 0x80, {1, 2, 3, 4, 5}},
    {Lobo, "(40T, DS, DD, 346K)",
        36, 4, 15, 0, 172, 127, 0xC0, 0x00, 32, 3,  18, 1, 40, 0xC0, Zero18},
    {Lobo, "(40T, SS, DD, 166K)",
        36, 3, 7, 0, 165, 63, 0xC0, 0x00, 16, 3,  18, 1, 40, 0x80, Zero18},
    {"Radio Shack CP/M Plus", "(40T, SS, DD, 156K)",
        32, 3, 7, 0, 155, 63, 0xC0, 0x00, 16, 1,  8, 2, 40, 0x80, {1, 2, 3, 4, 5, 6, 7, 8}},
    {Lobo, "(40T, DS, DD, 384K)",
        40, 4, 15, 0, 191, 127, 0xC0, 0x00, 32, 3,  10, 2, 40, 0xC0, Zero10},
    {Lobo, "(40T, SS, DD, 185K)",
        40, 3, 7, 0, 184, 63, 0xC0, 0x00, 16, 3,  10, 2, 40, 0x80, Zero10},
    {"Memory Merchant Shuffle Board CP/M", "(40T, SS, DD, 190K)",
        40, 4, 15, 1, 94, 127, 0xC0, 0x00, 32, 2,  10, 2, 40, 0x80, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
    // 8-inch disks. Row 34's track 0 holds 26 single-density 128-byte sectors, as every
    // 8-inch disk's does; its other tracks are double density.
    {"Standard 8-inch CP/M", "IBM 3740 (77T, SS, SD, 243K)",
        26, 3, 7, 0, 242, 63, 0xC0, 0x00, 16, 2,  26, 0, 77, 0x04, Skew6By26},
    {"TRS-80 Model II CP/M", "8-inch (77T, SS, DD, 600K)",
        64, 4, 15, 0, 299, 127, 0xC0, 0x00, 32, 2,  16, 2, 77, 0x84,
        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
    // The Mapper I layout on an 80-track drive.
    {"Omikron Mapper I CP/M", "80-track (80T, SS, SD, 173K)",
        18, 3, 7, 0, 172, 63, 0xC0, 0x00, 16, 3,  18, 0, 80, 0x00, Skew4By18},
}};
// clang-format on

int FindCPMFormatRow(const char* vendorName, const char* description) {
    for (size_t row = 0; row < FormatCatalogue.size(); ++row) {
        const CPMFormat& f = FormatCatalogue[row];
        if (std::string_view(f.VendorName) == vendorName && std::string_view(f.Description) == description)
            return static_cast<int>(row);
    }
    return -1;
}

}  // namespace FileSystem
