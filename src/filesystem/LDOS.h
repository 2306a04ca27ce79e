// VTOS, LDOS 5 and LS-DOS 6 disks: on floppies, and on hard disks where one
// object serves one partition. Geometry comes from the GAT (and the hard-disk
// descriptor); date-converted disks keep a file's year past 1987 and its time
// of day in the field that otherwise holds the access password.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

class LDOS : public TRSDOSBase {
public:
    // Judges the image, or the hard-disk partition whose track 0 lies at
    // (firstCylinder, firstHead); 0, 0 for a floppy or a whole hard disk.
    LDOS(DiskImage::TDiskImage* image, int firstCylinder, int firstHead);
    // Lays out a new LDOS floppy (date converted) of the given geometry.
    LDOS(DiskImage::TDiskImage* image, const std::string& diskName, const std::string& diskDate, int tracks,
         int sides, bool doubleDensity);

    void MapHardDiskSector(int& track, int& sector, int& side) override;
    std::string GetDOSName(bool family) override;
    std::string GetDOSDescription() override;
    bool OffersDatePatches() override { return true; }
    FileDate GetFileDate(int fileIndex) override;
    void SetFileDate(int fileIndex, const FileDate& date) override;
    void SetAccessPassword(int fileIndex, uint16_t hash) override;
    void InitGAT(const std::string& diskName, const std::string& diskDate) override;

    // The name of a release for its GAT version byte, "LDOS/LS-DOS" when unknown.
    static std::string VersionName(uint8_t versionByte);
    // Whether recognition accepts a version byte without raising suspicion.
    static bool IsAcceptedVersion(uint8_t versionByte);

    // The years each date form can hold. Dates outside are clamped to the
    // nearest one that fits rather than wrapping into another year.
    static constexpr int FirstYear = 1980;
    static constexpr int LastPlainYear = 1987;
    static constexpr int LastExtendedYear = 2079;
    static FileDate ClampDate(const FileDate& date, int lastYear);

    bool DateConverted = false;

private:
    void Recognise();
    bool LoadBootSector(std::vector<uint8_t>& boot);
    void ReadHardDiskGAT();
    void SetGeometryFromGAT();
    bool MayHoldAnotherLoader(const std::vector<uint8_t>& boot);
    std::vector<int> TracksToSearch();
    // Loads GAT, HIT and directory of a floppy from the given track, afresh.
    void LoadFloppyDirectory(int track);
    // LoadFloppyDirectory, true when it found a directory recognition can accept.
    bool TryDirectoryTrack(int track);
    bool HoldsLDOSGAT(int track);
    // Every file's HIT byte is the hash of its name, as LDOS keeps them.
    bool HITAgreesWithDirectory();
};

}  // namespace FileSystem
