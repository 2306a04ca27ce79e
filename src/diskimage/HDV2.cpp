#include "diskimage/HDV2.h"

namespace DiskImage {

HDV2::HDV2(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    Header.assign(HeaderBytes, 0);
    if (!file.ReadAt(0, Header.data(), HeaderBytes)) {
        throw EInvalidFormat();
    }
    const uint8_t* h = Header.data();
    int heads = h[7] + 1;
    int cylinders = h[5] | (h[6] << 8);
    if (h[0] != 'H' || h[1] != 'D' || h[2] != 'V' || h[3] != 0x1A || h[4] != 9 || heads > MaxHeads ||
        cylinders > MaxCylinders) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    Heads = heads;
    Cylinders = cylinders;
    if (h[8] != 0) {
        Flags |= FlagWriteProtected;
    }
}

int64_t HDV2::SectorOffset(int cylinder, int head, int sector) const {
    if (cylinder < 0 || cylinder >= Cylinders || head < 0 || head >= Heads || sector < 0 || sector > 0xFF) {
        return -1;
    }
    const int64_t record = HeaderBytes + (static_cast<int64_t>(cylinder) * Heads + head) * TrackRecordBytes;
    uint8_t entries[EntryTableBytes];
    if (!File.ReadAt(record, entries, sizeof entries)) {
        return -1;
    }
    for (int i = 0; i < SectorsPerHead; ++i) {
        if ((entries[2 * i] & 1) && entries[2 * i + 1] == sector) {
            return record + EntryTableBytes + i * SectorSize;
        }
    }
    return -1;
}

bool HDV2::ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) {
    int64_t offset = SectorOffset(cylinder, head, sector);
    if (offset < 0 || buffer == nullptr || !File.ReadAt(offset, buffer, SectorSize)) {
        return false;
    }
    size = SectorSize;
    return true;
}

bool HDV2::WriteSector(int cylinder, int head, int sector, const uint8_t* data) {
    // A sector without an entry cannot be added: the format has no way to.
    int64_t offset = SectorOffset(cylinder, head, sector);
    return offset >= 0 && data != nullptr && File.WriteAt(offset, data, SectorSize);
}

void HDV2::SetWriteProtect(bool on) {
    if ((Flags & FlagReadOnlyFile) || (Header[8] != 0) == on) {
        return;
    }
    TDiskImage::SetWriteProtect(on);
    Header[8] = on ? 1 : 0;
    File.WriteAt(0, Header.data(), HeaderBytes);
}

}  // namespace DiskImage
