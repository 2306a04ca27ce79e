// Opens the bytes as a hard-disk image and reads the sectors of the first cylinders.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "FuzzSupport.h"
#include "diskimage/DiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Fuzz::WriteInput("image.hdv", data, size);
    try {
        auto image = DiskImage::OpenHardImage(path);
        std::vector<uint8_t> buffer(DiskImage::THardImage::SectorSize * 4);
        const int cylinders = std::min(image->GetCylinders(), 4);
        for (int cylinder = -1; cylinder <= cylinders; ++cylinder) {
            for (int head = 0; head < 9; ++head) {
                for (int sector = 0; sector <= DiskImage::THardImage::SectorsPerHead; sector += 7) {
                    int length = 0;
                    image->ReadSector(cylinder, head, sector, length, buffer.data());
                }
            }
        }
    } catch (const std::exception&) {
    }
    return 0;
}
