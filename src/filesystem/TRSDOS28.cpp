// TRSDOS 2.8: recognition and the parameters in which it differs from TRSDOS 1.3.
#include "filesystem/TRSDOS28.h"

namespace FileSystem {

TRSDOS28::TRSDOS28(DiskImage::TDiskImage* image) : TRSDOS13(image, NoLoad{}) {
    RecordBytes = RecordSize;
    // HIT positions from 128 up have no record in a 16-sector directory;
    // GetRecordCount keeps every search inside the records that exist.
    RecordLimit = 208;
    MaxExtents = ExtentsPerRecord;
    SkipExtensionRecords = true;
    LargestPlausibleSize = 0;
    DataMark = 0xFB;
    DirectoryMark = 0xF8;
    NoPasswordHash = 0x6B3E;

    uint8_t dam = 0;
    std::vector<uint8_t> boot;
    if (!ReadDiskSector(0, 0, 0, 0, dam, boot)) throw EInvalidFormat();
    if (dam == 0xF8) Suspicion += 1;
    TakeBootSector(boot);
    LoadGAT();
    LoadHIT();
    LoadRecordDirectory();
}

TRSDOS28::~TRSDOS28() {
    try {
        Flush();
    } catch (...) {
        // A destructor reports nothing; the image keeps its last state.
    }
}

std::string TRSDOS28::GetDOSName(bool) { return "TRSDOS 2.8"; }

bool TRSDOS28::DeleteFile(int fileIndex) { return TRSDOSBase::DeleteFile(fileIndex); }

bool TRSDOS28::RenameFile(int fileIndex, const std::string& newName) {
    return TRSDOSBase::RenameFile(fileIndex, newName);
}

void TRSDOS28::LoadHIT() { TRSDOSBase::LoadHIT(); }

}  // namespace FileSystem
