// The main window's access to the LDOS 2012 date patches, behind a seam so
// the question flow can be exercised on any disk.
#pragma once

#include "filesystem/DatePatches.h"
#include "filesystem/FileSystem.h"

namespace App {

struct DatePatchOffer {
    bool Offer = false;
    int Variant = FileSystem::DatePatchNoDos;
    int Kind = 0;
};

class IDatePatcher {
public:
    virtual ~IDatePatcher() = default;
    virtual DatePatchOffer GetState(FileSystem::TFileSystem& fs) = 0;
    virtual bool Apply(FileSystem::TFileSystem& fs, int variant, int kind) = 0;
};

// The patches of the LDOS file system.
class CLDOSDatePatcher : public IDatePatcher {
public:
    DatePatchOffer GetState(FileSystem::TFileSystem& fs) override;
    bool Apply(FileSystem::TFileSystem& fs, int variant, int kind) override;
};

}  // namespace App
