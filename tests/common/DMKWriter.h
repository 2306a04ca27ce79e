// Writes single-sided, double-density DMK images track by track, with the standard
// gaps and correct CRCs, for tracks a sector-list format cannot express.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "diskimage/DiskImage.h"

namespace TestSupport {

class DMKWriter {
public:
    explicit DMKWriter(int trackLength) : TrackLength(trackLength) {}

    // One track: sectors (id, data) in their order on the track, each followed by
    // gapAfterData bytes of gap. False when they do not fit.
    bool AddTrack(const std::vector<std::pair<int, std::vector<uint8_t>>>& sectors, int gapAfterData = 40) {
        const int track = static_cast<int>(Tracks.size());
        std::vector<uint8_t> raw(static_cast<size_t>(TrackLength), 0x4E);
        std::fill(raw.begin(), raw.begin() + 128, 0);
        size_t p = 128;
        bool fits = true;
        auto put = [&](uint8_t b, int n = 1) {
            for (int i = 0; i < n; ++i) {
                if (p < raw.size()) raw[p] = b;
                else fits = false;
                ++p;
            }
        };
        auto crc = [&](size_t start) {
            const uint16_t c = p <= raw.size() ? DiskImage::Crc16(&raw[start], p - start) : 0;
            put(static_cast<uint8_t>(c >> 8));
            put(static_cast<uint8_t>(c & 0xFF));
        };
        put(0x4E, 60);
        int slot = 0;
        for (const auto& [id, data] : sectors) {
            put(0x00, 12);
            size_t start = p;
            put(0xA1, 3);
            const size_t idMark = p;
            put(0xFE);
            put(static_cast<uint8_t>(track));
            put(0);
            put(static_cast<uint8_t>(id));
            put(static_cast<uint8_t>(data.size() == 1024 ? 3 : data.size() == 512 ? 2 : data.size() == 128 ? 0 : 1));
            crc(start);
            if (slot < 64) {
                raw[static_cast<size_t>(2 * slot)] = static_cast<uint8_t>(idMark & 0xFF);
                raw[static_cast<size_t>(2 * slot + 1)] = static_cast<uint8_t>(((idMark >> 8) & 0x3F) | 0x80);
            }
            ++slot;
            put(0x4E, 22);
            put(0x00, 12);
            start = p;
            put(0xA1, 3);
            put(0xFB);
            for (uint8_t b : data) put(b);
            crc(start);
            put(0x4E, gapAfterData);
        }
        Tracks.push_back(std::move(raw));
        return fits;
    }

    bool WriteTo(const std::string& path) const {
        std::vector<uint8_t> header(16, 0);
        header[1] = static_cast<uint8_t>(Tracks.size());
        header[2] = static_cast<uint8_t>(TrackLength & 0xFF);
        header[3] = static_cast<uint8_t>(TrackLength >> 8);
        header[4] = 0x10;  // single-sided
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        for (const auto& raw : Tracks)
            out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
        return static_cast<bool>(out);
    }

private:
    int TrackLength;
    std::vector<std::vector<uint8_t>> Tracks;
};

}  // namespace TestSupport
