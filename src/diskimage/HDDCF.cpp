#include "diskimage/HDDCF.h"

namespace DiskImage {

HDDCF::HDDCF(THostFile& file, bool readOnly, const std::string& path) {
    SetOpened(path, readOnly);
    Header.assign(BlockBytes, 0);
    if (!file.ReadAt(0, Header.data(), BlockBytes)) {
        throw EInvalidFormat();
    }
    const uint8_t* h = Header.data();
    if (h[0] != 'M' || h[2] != 'C' || h[4] != '1' || h[6] != 0x1A) {
        throw EInvalidFormat();
    }
    File = std::move(file);
    Cylinders = h[8] | (h[10] << 8);
    SectorsPerHead = h[12];
    Heads = h[14];
    FirstSector = h[16];
}

int64_t HDDCF::BlockOffset(int cylinder, int head, int sector) const {
    if (!IsValidAddress(cylinder, head, sector)) {
        return -1;
    }
    int64_t block = static_cast<int64_t>(SectorsPerHead) * head + static_cast<int64_t>(Heads) * cylinder * 32 +
                    FirstSector + sector;
    return BlockBytes + block * BlockBytes;
}

bool HDDCF::ReadSector(int cylinder, int head, int sector, int& size, uint8_t* buffer) {
    int64_t offset = BlockOffset(cylinder, head, sector);
    uint8_t block[BlockBytes];
    if (offset < 0 || buffer == nullptr || !File.ReadAt(offset, block, BlockBytes)) {
        return false;
    }
    for (int i = 0; i < SectorSize; ++i) {
        buffer[i] = block[2 * i];
    }
    size = SectorSize;
    return true;
}

bool HDDCF::WriteSector(int cylinder, int head, int sector, const uint8_t* data) {
    int64_t offset = BlockOffset(cylinder, head, sector);
    if (offset < 0 || data == nullptr) {
        return false;
    }
    uint8_t block[BlockBytes];
    for (int i = 0; i < SectorSize; ++i) {
        block[2 * i] = data[i];
        block[2 * i + 1] = data[i];
    }
    return File.WriteAt(offset, block, BlockBytes);
}

}  // namespace DiskImage
