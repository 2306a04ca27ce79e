#include "DatePatchCheck.h"

namespace App {

DatePatchOffer CLDOSDatePatcher::GetState(FileSystem::TFileSystem&) { return {}; }

bool CLDOSDatePatcher::Apply(FileSystem::TFileSystem&, int, int) { return false; }

}  // namespace App
