#include "DatePatchCheck.h"

#if __has_include("filesystem/DatePatches.h")
#include "filesystem/DatePatches.h"
#define QB_HAVE_DATE_PATCHES 1
#endif

namespace App {

#ifdef QB_HAVE_DATE_PATCHES

DatePatchOffer CLDOSDatePatcher::GetState(FileSystem::TFileSystem& fs) {
    const FileSystem::DatePatchState state = FileSystem::GetDatePatchState(fs);
    return {state.Offer, state.Variant, state.Kind};
}

bool CLDOSDatePatcher::Apply(FileSystem::TFileSystem& fs, int variant, int kind) {
    return FileSystem::ApplyDatePatches(fs, variant, kind);
}

#else

// Without the patch tables nothing is offered.
DatePatchOffer CLDOSDatePatcher::GetState(FileSystem::TFileSystem&) { return {}; }

bool CLDOSDatePatcher::Apply(FileSystem::TFileSystem&, int, int) { return false; }

#endif

}  // namespace App
