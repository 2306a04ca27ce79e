// The 2012 date patches of LDOS and LS-DOS system disks.
//
// The DOS's own system files refuse dates after 2011. A patch table lists, for
// the seven system-file entries below, byte records that turn the delivered code
// into code that accepts later years. GetDatePatchState judges a disk against
// the current and the previous edition of the table; ApplyDatePatches patches
// an unpatched disk or updates one that carries the previous edition.
//
// The desktop program calls GetDatePatchState after every open of a disk whose
// GetDOSName(true) is "LDOS", and offers ApplyDatePatches when Offer is true.
//
// Patch bytes live in DatePatchRecords.cpp. A variant (or a whole edition) whose
// bytes are not available is absent from its table and never matches; a set
// that is legitimately empty (BOOT/SYS for the LDOS variants) matches always.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace FileSystem {

class TFileSystem;

// One change: at Offset in the file, Unpatched as delivered, Patched after
// patching (always of equal length).
struct DatePatchRecord {
    uint32_t Offset = 0;
    std::vector<uint8_t> Unpatched;
    std::vector<uint8_t> Patched;
};

using DatePatchSet = std::vector<DatePatchRecord>;

constexpr int DatePatchFileCount = 7;

// The file entries in the order they are matched and applied. SYS7/SYS appears
// twice: the second set is applied to the result of the first.
extern const std::array<const char*, DatePatchFileCount> DatePatchFileNames;

// The DOS variants the patches know, by the numbers the patch records use.
enum DatePatchDos {
    DatePatchNoDos = -1,
    DatePatchLDOS531ModelI = 1,
    DatePatchLDOS531ModelIII = 3,
    DatePatchLSDOS631 = 4,
};

// The records of one DOS variant. Sets[i] belongs to DatePatchFileNames[i].
struct DatePatchVariant {
    int Variant = DatePatchNoDos;
    std::array<DatePatchSet, DatePatchFileCount> Sets;
};

// One edition of the patches. Only the variants whose bytes are known are
// present; an edition with no variants matches nothing.
struct DatePatchTable {
    std::vector<DatePatchVariant> Variants;
    const DatePatchVariant* Find(int variant) const;
};

// The tables that come with the program (DatePatchRecords.cpp).
const DatePatchTable& CurrentDatePatchTable();
const DatePatchTable& PreviousDatePatchTable();

enum DatePatchKind {
    DatePatchNone = -1,        // not a system disk we can judge
    DatePatchUnpatched = 0,    // delivered bytes of the current edition: offer to patch
    DatePatchPreviousEdition = 1,  // patched with the previous edition: offer to update
    DatePatchCurrent = 2,      // already carries the current edition: nothing to do
};

struct DatePatchState {
    bool Offer = false;
    int Variant = DatePatchNoDos;
    int Kind = DatePatchNone;
};

// Judges the system files of an open LDOS file system. Never throws and never
// changes the disk.
DatePatchState GetDatePatchState(TFileSystem& fs);
DatePatchState GetDatePatchState(TFileSystem& fs, const DatePatchTable& current, const DatePatchTable& previous);

// Patches (kind 0) or updates (kind 1) the system files for the variant found by
// GetDatePatchState; kind 2 has nothing to do and returns true. Before the first
// file is written, every listed file must exist, read whole, and hold the bytes
// that the kind and variant promise; otherwise nothing is changed, false is
// returned and problem (when given) says why. Each changed file is written back
// in place once, which stamps it with the current date and time. Write errors
// (such as a write-protected image) propagate after the files already written
// have been put back as they were.
bool ApplyDatePatches(TFileSystem& fs, int variant, int kind, std::string* problem = nullptr);
bool ApplyDatePatches(TFileSystem& fs, int variant, int kind, const DatePatchTable& current,
                      const DatePatchTable& previous, std::string* problem = nullptr);

// The system's name in messages about a variant: "LS-DOS" for 4, else "LDOS".
std::string DatePatchSystemName(int variant);

// Decodes a string of hexadecimal digit pairs; false on an odd length or a
// character that is not a hexadecimal digit.
bool DecodePatchHex(const char* hex, std::vector<uint8_t>& bytes);

}  // namespace FileSystem
