#include "diskimage/HDV1.h"

#include <algorithm>

namespace DiskImage {

namespace {

// Far beyond any real disk, and small enough that cylinder arithmetic stays in an int.
constexpr int64_t MaxCylindersInFile = 65535;

}  // namespace

uint8_t HDV1::HeaderChecksum(const uint8_t* header) {
    unsigned sum = 0;
    for (int i = 0; i < 32; ++i) {
        if (i != 3) {
            sum += header[i];
        }
    }
    return static_cast<uint8_t>((sum & 0xFF) ^ 0x4C);
}

HDV1::HDV1(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    Header.assign(HeaderBytes, 0);
    if (!file.ReadAt(0, Header.data(), HeaderBytes)) {
        throw EInvalidFormat();
    }
    const uint8_t* h = Header.data();
    int sectorsPerCylinder = h[29] == 0 ? 256 : h[29];
    if (h[0] != 0x56 || h[1] != 0xCB || h[4] != 1 || h[5] != 4 || h[6] != 0 ||
        sectorsPerCylinder % SectorsPerHead != 0) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    Heads = sectorsPerCylinder / SectorsPerHead;
    Cylinders = ((h[27] & 0x07) << 8) | h[28];
    if (Cylinders == 0) {
        Cylinders = 256;
    }
    if (h[7] & 0x80) {
        Flags |= FlagWriteProtected;
    }
    const int64_t cylinderBytes = static_cast<int64_t>(Heads) * SectorsPerHead * SectorSize;
    const int64_t dataBytes = File.Size() - HeaderBytes;
    if (dataBytes > 0) {
        const int64_t cylinders = (dataBytes + cylinderBytes - 1) / cylinderBytes;
        CylindersInFile = static_cast<int>(std::min(cylinders, MaxCylindersInFile));
    }
}

int64_t HDV1::SectorOffset(int cylinder, int head, int sector) const {
    // A cylinder the header does not count is still there when the file holds it.
    const bool inFile = cylinder >= Cylinders && cylinder < CylindersInFile && IsValidAddress(0, head, sector);
    if (!IsValidAddress(cylinder, head, sector) && !inFile) {
        return -1;
    }
    return HeaderBytes + ((static_cast<int64_t>(cylinder) * Heads + head) * SectorsPerHead + sector) * SectorSize;
}

bool HDV1::ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) {
    // A sector beyond the end of the file (a sparse or truncated image) fails here.
    int64_t offset = SectorOffset(cylinder, head, sector);
    if (offset < 0 || buffer == nullptr || !File.ReadAt(offset, buffer, SectorSize)) {
        return false;
    }
    size = SectorSize;
    return true;
}

bool HDV1::WriteSector(int cylinder, int head, int sector, const uint8_t* data) {
    int64_t offset = SectorOffset(cylinder, head, sector);
    return offset >= 0 && data != nullptr && File.WriteAt(offset, data, SectorSize);
}

void HDV1::SetWriteProtect(bool on) {
    if ((Flags & FlagReadOnlyFile) || (Header[7] != 0) == on) {
        return;
    }
    TDiskImage::SetWriteProtect(on);
    Header[7] = on ? 0x80 : 0x00;
    Header[3] = HeaderChecksum(Header.data());
    File.WriteAt(0, Header.data(), HeaderBytes);
}

}  // namespace DiskImage
