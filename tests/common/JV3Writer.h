// Writes small JV3 floppy images sector by sector, so that file-system tests can
// build exactly the disk they need without a formatter.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace TestSupport {

// A file under the system's temporary folder, removed when the object goes.
class TempPath {
public:
    explicit TempPath(const std::string& stem) {
        static int counter = 0;
        Path = (std::filesystem::temp_directory_path() /
                ("qb-" + stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".dsk"))
                   .string();
    }
    ~TempPath() {
        std::error_code ignored;
        std::filesystem::remove(Path, ignored);
    }
    TempPath(const TempPath&) = delete;
    TempPath& operator=(const TempPath&) = delete;
    const std::string& str() const { return Path; }

private:
    std::string Path;
};

class JV3Writer {
public:
    struct Sector {
        bool doubleDensity = true;
        std::vector<uint8_t> data;
    };
    using Key = std::tuple<int, int, int>;  // track, side, sector id

    void Add(int track, int side, int id, bool doubleDensity, std::vector<uint8_t> data) {
        Key key{track, side, id};
        if (Sectors.count(key) == 0) Order.push_back(key);
        Sectors[key] = Sector{doubleDensity, std::move(data)};
    }
    Sector* Find(int track, int side, int id) {
        auto it = Sectors.find(Key{track, side, id});
        return it == Sectors.end() ? nullptr : &it->second;
    }

    bool WriteTo(const std::string& path, bool writeProtected = false) const {
        constexpr size_t HeaderCount = 2901;
        std::vector<uint8_t> header(HeaderCount * 3 + 1, 0xFF);
        std::vector<uint8_t> body;
        size_t slot = 0;
        for (const Key& key : Order) {
            if (slot == HeaderCount) return false;
            const Sector& s = Sectors.at(key);
            const auto [track, side, id] = key;
            header[slot * 3] = static_cast<uint8_t>(track);
            header[slot * 3 + 1] = static_cast<uint8_t>(id);
            header[slot * 3 + 2] = static_cast<uint8_t>((s.doubleDensity ? 0x80 : 0) | (side != 0 ? 0x10 : 0) |
                                                        UsedSizeCode(s.data.size()));
            body.insert(body.end(), s.data.begin(), s.data.end());
            ++slot;
        }
        header[HeaderCount * 3] = writeProtected ? 0x00 : 0xFF;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
        out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
        return static_cast<bool>(out);
    }

private:
    static uint8_t UsedSizeCode(size_t size) {
        switch (size) {
            case 128: return 1;
            case 1024: return 2;
            case 512: return 3;
            default: return 0;  // 256
        }
    }

    std::map<Key, Sector> Sectors;
    std::vector<Key> Order;
};

}  // namespace TestSupport
