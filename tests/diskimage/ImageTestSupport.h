// Helpers for the container tests: a scratch folder and whole-file byte access.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "diskimage/DiskImage.h"

namespace ImageTest {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        Path = std::filesystem::temp_directory_path() /
               ("qb-diskimage-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(Path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return (Path / name).string(); }

    std::filesystem::path Path;
};

// The real images other people made. QB_FIXTURES_DIR in the environment points a build
// outside the usual checkout at them.
inline std::filesystem::path RealImagesDir() {
    const char* fromEnvironment = std::getenv("QB_FIXTURES_DIR");
    return std::filesystem::path(fromEnvironment ? fromEnvironment : QB_FIXTURES_DIR) / "real";
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Distinct contents for every sector of a disk.
inline std::vector<uint8_t> SectorPattern(int track, int side, int sector, int size) {
    std::vector<uint8_t> data(size);
    for (int i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(track * 7 + side * 101 + sector * 13 + i * 3 + (i >> 8));
    }
    return data;
}

struct ReadResult {
    bool ok = false;
    int size = 0;
    uint8_t dam = 0;
    std::vector<uint8_t> data;
};

inline ReadResult Read(DiskImage::TFloppyImage& image, int track, int side, int density, int sector,
                       bool ignoreSide = false, bool acceptCrcError = false) {
    ReadResult result;
    std::vector<uint8_t> buffer(DiskImage::TFloppyImage::SectorBufferSize);
    if (image.GetCurrentTrack() != track && !image.LoadTrack(track)) {
        return result;
    }
    result.ok = image.ReadSector(track, side, density, sector, result.size, result.dam, buffer.data(), ignoreSide,
                                 acceptCrcError);
    if (result.ok) {
        result.data.assign(buffer.begin(), buffer.begin() + result.size);
    }
    return result;
}

inline bool Write(DiskImage::TFloppyImage& image, int track, int side, int density, int sector,
                  const std::vector<uint8_t>& data, uint8_t dam = 0xFB) {
    if (image.GetCurrentTrack() != track && !image.LoadTrack(track)) {
        return false;
    }
    std::vector<uint8_t> padded(data);
    padded.resize(DiskImage::TFloppyImage::SectorBufferSize, 0);
    return image.WriteSector(track, side, density, sector, dam, padded.data());
}

// The numbers of the readable sectors of one side and density, in the order they pass the head.
// One sector a DOS could ask for, read straight from the file (ReadStoredSector) and from
// the laid-out track: the same answer, or none from the file where only the track can give
// one (a sector stored with a CRC error).
enum class StoredRead { LeftToTrack, Absent, Read };
inline StoredRead ExpectStoredReadAsLaidOut(DiskImage::TFloppyImage& image, int track, int side, int density,
                                            int sector) {
    SCOPED_TRACE("track " + std::to_string(track) + " side " + std::to_string(side) + " density " +
                 std::to_string(density) + " sector " + std::to_string(sector));
    std::vector<uint8_t> stored(DiskImage::TFloppyImage::SectorBufferSize);
    std::vector<uint8_t> laid(DiskImage::TFloppyImage::SectorBufferSize);
    int storedSize = -1, laidSize = -1;
    uint8_t storedMark = 0, laidMark = 0;
    bool crcError = false;
    const auto fromFile = image.ReadStoredSector(track, side, density, sector, storedSize, storedMark, stored.data());
    const bool fromTrack = image.LoadTrack(track) && image.ReadSector(track, side, density, sector, laidSize, laidMark,
                                                                      laid.data(), true, true, &crcError);
    if (!fromFile) {
        EXPECT_TRUE(fromTrack && crcError) << "only a sector with a CRC error is left to the track";
        return StoredRead::LeftToTrack;
    }
    EXPECT_EQ(*fromFile, fromTrack && !crcError);
    if (!*fromFile || !fromTrack) return StoredRead::Absent;
    EXPECT_EQ(storedSize, laidSize);
    EXPECT_EQ(storedMark, laidMark);
    EXPECT_TRUE(std::equal(stored.begin(), stored.begin() + laidSize, laid.begin()));
    return StoredRead::Read;
}

inline std::vector<int> PhysicalOrder(DiskImage::TFloppyImage& image, int track, int side, bool density) {
    std::vector<int> order;
    DiskImage::CellState state;
    state.side = side;
    state.density = density;
    std::vector<uint8_t> buffer(DiskImage::TFloppyImage::SectorBufferSize);
    int sector = 0, size = 0;
    uint8_t dam = 0;
    bool crcError = false;
    while (image.ReadNextSector(state, track, side, sector, size, dam, buffer.data(), crcError)) {
        order.push_back(sector);
    }
    return order;
}

}  // namespace ImageTest
