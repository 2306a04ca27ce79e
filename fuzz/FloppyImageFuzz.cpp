// Opens the bytes as a floppy image, reads every sector of a spread of tracks and writes
// one sector of the boot and directory tracks back. A file no format shows is opened again
// with a DOS check that recognises any disk, so that the headerless sector images (JVC,
// raw dumps), which are taken only when a DOS recognises them, are exercised too.
#include <cstdint>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "diskimage/DiskImage.h"

namespace {

void Exercise(DiskImage::TFloppyImage* image) {
    std::vector<uint8_t> buffer(DiskImage::TFloppyImage::SectorBufferSize);
    // Every track costs a raw-track encoding: the first few, the usual last ones and
    // a few that no disk has keep the target quick.
    for (int track : {0, 1, 2, 3, 17, 34, 39, 79, 80, 200, 254, 255, -1}) {
        if (!image->LoadTrack(track)) continue;
        for (int side = 0; side < 2; ++side) {
            for (int density = 0; density < 2; ++density) {
                DiskImage::CellState state;
                state.density = density != 0;
                int sector = 0, length = 0;
                uint8_t dam = 0;
                bool crcError = false;
                int guard = 0;
                bool rewritten = false;
                while (guard++ < 256 && image->ReadNextSector(state, track, side, sector, length, dam,
                                                              buffer.data(), crcError)) {
                    // Writing a sector back unchanged stores the whole raw track in the
                    // file's own form: the writers see every odd layout the readers accept.
                    if (!rewritten && (track == 0 || track == 17)) {
                        rewritten = true;
                        std::vector<uint8_t> copy(buffer.begin(), buffer.end());
                        image->WriteSector(track, side, density, sector, dam, copy.data());
                    }
                }
            }
        }
    }
    image->Flush();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Fuzz::WriteInput("image.dsk", data, size);
    try {
        std::unique_ptr<DiskImage::TFloppyImage> image;
        try {
            image = DiskImage::OpenFloppyImage(path);
        } catch (const DiskImage::TDiskImage::EInvalidFormat&) {
            image = DiskImage::OpenFloppyImage(path, false, [](DiskImage::TFloppyImage&) { return true; });
        }
        Exercise(image.get());
    } catch (const std::exception&) {
    }
    return 0;
}
