// The date-patch records that come with the program, kept apart from the
// logic in DatePatches.cpp so that they can be checked and corrected on their own.
//
// Current edition, variant 4 (LS-DOS 6.3.1, Model 4): the level-L changes of the
// DOS, each record checked byte for byte against the delivered (level H) system
// files. Offsets count from the start of the file as stored. SYS3/SYS, SYS0/SYS,
// BOOT/SYS and the first SYS7/SYS pass agree with the published record counts;
// SYS6/SYS, BACKUP/CMD and the second SYS7/SYS pass were derived the same way.
//
// Variants 3 and 1 (LDOS 5.3.1) and the whole previous edition have no bytes
// available here, so they are absent: a missing variant never matches, which
// keeps unpatched disks from looking patched. Do not add placeholder sets.
#include <span>

#include "diskimage/InlineText.h"
#include "filesystem/DatePatches.h"

namespace FileSystem {

namespace {

struct RawPatchRecord {
    uint32_t Offset;
    Quarrybox::TInlineText<33> Unpatched;  // hexadecimal digit pairs
    Quarrybox::TInlineText<33> Patched;
};

// SYS3/SYS: the directory date update when a file is closed.
constexpr RawPatchRecord Sys3Variant4[] = {
    {258, "3E3FC60810FC32EA1E3A8200CB472004", "3A82000F10FD3804C1F1182DED4B2E00"},
    {274, "C1F118257DC6116FED5B2E007A531E00", "EB69292960292929EBC1F1B72811D650"},
    {290, "0603CB", "F5E61F"},
    {297, "3ACB1B10FA070707B257C1F1B72804D6", "B35FF1070707E60723AE772B7DC6116F"},
    {313, "50B35F", "000000"},
};

// SYS0/SYS: the date prompt at start-up (year pivot, range and mask).
constexpr RawPatchRecord Sys0Variant4[] = {
    {3423, "0C", "50"},
    {3433, "20", "64"},
    {3536, "0F", "3F"},
};

// SYS7/SYS, first pass: the DATE command.
constexpr RawPatchRecord Sys7FirstVariant4[] = {
    {1261, "0C", "50"},
    {1273, "20", "64"},
    {1376, "0F", "3F"},
};

// SYS6/SYS: the DIR command.
constexpr RawPatchRecord Sys6Variant4[] = {
    {1664, "532DDD21662D", "632DDD21742F"},
    {1715, "85", "8F"},
    {2940, "20057EE60718", "CD872AE3CBB5"},
    {2950, "077DC6116F7EE6", "3802CBF5E31801"},
    {3308, "4B", "5B"},
    {3325, "1E0057CB3ACB1B237EE6F80FB35F3A00", "47237E0F0F0FE61F4FC5CD872AC1CD85"},
    {3341, "00CB4720097EE607070707B257C97DC6", "2D5059C97EE607473A0000CB47CA532D"},
    {3357, "116F7EE61F18F1", "7DC6116FC33F2D"},
    {4053, "1F1C1F1E1F1E1F1F1E1F1E1F30303235", "7EE61F4F78A9E60728070F0F0FB1FE64"},
    {4069, "353037354E6F206D656D6F727920666F", "D87937C978B7C9000000000030303235"},
    {4085, "7220534F52540D426164206461746520", "353037354E6F206D656D6F727920666F"},
    {4101, "666F726D6174", "7220534F5254"},
    {4123, "4A756E4A756C4175675365704F63744E", "E56F2929292978B56F292929292979B5"},
    {4139, "6F764465", "4F44E1C9"},
    {4171, "82", "8C"},
    {4595, "1AFE0C3003C66412EBE60321402D2001", "131A3DFE1F30074F0C131A3DFE0CD211"},
    {4611, "343AA62D3DFE0CD211242B856F300124", "2447041B1B1AD6503002C664C3852D42"},
    {4627, "3AA52D3DBED2112421A62D460E00CB", "6164206461746520666F726D61740D"},
};

// BACKUP/CMD: the date checks of BACKUP and of its class backup.
constexpr RawPatchRecord BackupVariant4[] = {
    {2072, "EB7EFE0C3003C66477E6032108462001", "131A3DFE1F30074F0C131A3DFE0C3035"},
    {2088, "343A5A263DFE0C302C2B856F7CCE", "47041B1B1AD6503002C664C3C53F"},
    {4304, "C535", "DC04"},
    {4321, "20057EE60718187DC6116F7EE61FFE0A", "CDFF330E38FE0A3816D60A0C4779FE3A"},
    {4337, "380D0CD60AFE0A", "7820F20E3018EE"},
    {5043, "1E0057CB3ACB1B237EE6F80FB35F3ADA", "47237E0F0F0FE61F4FC5CDFF33C1CDC5"},
    {5059, "2AB720097E", "355059C97E"},
    {5068, "E607070707B257C97DC6116F7EE61F18", "E607473ADA2AB7CA11367DC6116FC3F9"},
    {5084, "F1", "35"},
    {5525, "4A616E4665624D61724170724D61794A", "E56F2929292978B56F292929292979B5"},
    {5541, "756E4A75", "4F44E1C9"},
    {5577, "00000000000000", "7EE61F4F78A9E6"},
    {5588, "00000000000000000000000000000000", "072819F53E96BE200B233E42BE2B2004"},
    {5604, "000000000000000000000000000000", "F178B7C9F10F0F0FB1FE64D87937C9"},
};

// SYS7/SYS, second pass: the PURGE command.
constexpr RawPatchRecord Sys7SecondVariant4[] = {
    {3521, "B6", "C0"},
    {3593, "B9", "C3"},
    {4063, "1529", "DC04"},
    {4082, "20057EE60718187DC6116F7EE61FFE0A", "CDBB270E38FE0A3816D60A0C4779FE3A"},
    {4098, "380D0CD60AFE0A", "7820F20E3018EE"},
    {4443, "1E00CB3FCB1B57237EE6F80FB35F3A00", "47237E0F0F0FE61F4FC5CDBB27C1CD15"},
    {4459, "00CB4720097EE607070707B257C97DC6", "295059C97EE607473A0000CB4728467D"},
    {4475, "116F7EE61F", "C6116F1828"},
    {4490, "EB7EFE0C3003C66477E60321DD282001", "131A3DFE1F30074F0C131A3DFE0C3036"},
    {4506, "343A4B293DFE0C302D2B856F7CCE0067", "47041B1B1AD6503002C664C315297EE6"},
    {4522, "3A4A293DBE301F214B29", "1F4F78A9E6072819F53E"},
    {4536, "460E00CB38CB192B7E0707B14F2B7ED6", "96BE200B233E42BE2B2004F178B7C9F1"},
    {4552, "503001AF070707B047EB", "0F0F0FB1FE64D87937C9"},
    {4817, "4A616E4665624D61724170724D61794A", "E56F2929292978B56F292929292979B5"},
    {4833, "756E4A756C", "4F44E1AFC9"},
};

// BOOT/SYS: the system level letter, 'H' to 'L'.
constexpr RawPatchRecord BootVariant4[] = {
    {543, "48", "4C"},
};

// Decodes one set; false when a row is malformed, which drops its variant.
bool BuildSet(std::span<const RawPatchRecord> rows, DatePatchSet& set) {
    for (const RawPatchRecord& row : rows) {
        DatePatchRecord record;
        record.Offset = row.Offset;
        if (!DecodePatchHex(row.Unpatched, record.Unpatched) || !DecodePatchHex(row.Patched, record.Patched) ||
            record.Unpatched.empty() || record.Unpatched.size() != record.Patched.size())
            return false;
        set.push_back(std::move(record));
    }
    return true;
}

DatePatchTable BuildCurrentTable() {
    const std::array<std::span<const RawPatchRecord>, DatePatchFileCount> variant4Rows = {
        Sys3Variant4, Sys0Variant4, Sys7FirstVariant4, Sys6Variant4,
        BackupVariant4, Sys7SecondVariant4, BootVariant4,
    };
    DatePatchVariant variant4;
    variant4.Variant = DatePatchLSDOS631;
    for (int i = 0; i < DatePatchFileCount; ++i)
        if (!BuildSet(variant4Rows[i], variant4.Sets[i]))
            return {};
    DatePatchTable table;
    table.Variants.push_back(std::move(variant4));
    return table;
}

}  // namespace

const std::array<const char*, DatePatchFileCount> DatePatchFileNames = {
    "SYS3/SYS", "SYS0/SYS", "SYS7/SYS", "SYS6/SYS", "BACKUP/CMD", "SYS7/SYS", "BOOT/SYS",
};

const DatePatchTable& CurrentDatePatchTable() {
    static const DatePatchTable table = BuildCurrentTable();
    return table;
}

const DatePatchTable& PreviousDatePatchTable() {
    static const DatePatchTable table;  // no edition available
    return table;
}

}  // namespace FileSystem
