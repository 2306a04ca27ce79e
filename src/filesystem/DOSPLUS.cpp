// DOSPLUS disks: recognition from the boot sector and the GAT, and naming.
#include "filesystem/DOSPLUS.h"

namespace FileSystem {

namespace {
// A double-density sector 1 that begins so is not the boot sector: sector 0 is.
constexpr uint8_t SectorOneLoader[4] = {0x3E, 0xC3, 0x32, 0x49};
}  // namespace

DOSPLUS::DOSPLUS(DiskImage::TDiskImage* image) : TRSDOSBase(image) {
    Attributes |= AttrMOD;
    const std::vector<uint8_t> boot = ReadBootSectorEitherDensity(SectorOneLoader);
    DirectoryTrack = boot[2] & 0x7F;
    LoadGAT();
    LoadHIT();
    const uint8_t version = GAT[GatVersion];
    if (version < '0' || version > '5') Suspicion += 10;
    Tracks = GAT[GatTrackCount] + 35;
    if (Tracks >= 256) throw EInvalidFormat();
    Sides = (GAT[GatConfiguration] & 0x20) ? 2 : 1;
    SetSidedGeometry();
    LoadDirectory(false);
}

std::string DOSPLUS::GetDOSName(bool family) {
    const uint8_t version = GAT[GatVersion];
    if (family || version < '0' || version > '5') return "DOSPLUS";
    return std::string("DOSPLUS 3.") + static_cast<char>(version);
}

void DOSPLUS::InitGAT(const std::string& diskName, const std::string& diskDate) {
    TRSDOSBase::InitGAT(diskName, diskDate);
    GAT[GatVersion] = '5';
    GAT[GatConfiguration] &= 0x20;
}

}  // namespace FileSystem
