// One temporary folder of benchmark images, made on first use and removed at exit.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "BenchImages.h"

namespace BenchImages {

// The fixed names of the images MakeAll writes into a folder.
struct Names {
    static constexpr const char* TRSDOS23JV1 = "trsdos23.jv1";
    static constexpr const char* TRSDOS13DMK = "trsdos13.dmk";
    static constexpr const char* LDOSJV3 = "ldos.jv3";
    static constexpr const char* LDOSDMK = "ldos.dmk";
    static constexpr const char* Unrecognisable = "nothing.dmk";
    static constexpr const char* BigFile = "bigfile.dmk";
    static constexpr const char* HardDisk = "hard.hdv";
};

inline void MakeAll(const std::string& folder) {
    std::filesystem::create_directories(folder);
    auto at = [&folder](const char* name) { return folder + "/" + name; };
    MakeFloppy(at(Names::TRSDOS23JV1), DiskImage::ImageJV1, 0, 8);
    MakeFloppy(at(Names::TRSDOS13DMK), DiskImage::ImageDMK, 1, 8);
    MakeFloppy(at(Names::LDOSJV3), DiskImage::ImageJV3, 2, 8);
    MakeFloppy(at(Names::LDOSDMK), DiskImage::ImageDMK, 2, 8);
    MakeUnrecognisable(at(Names::Unrecognisable));
    MakeBigFileFloppy(at(Names::BigFile));
    MakeHardDisk(at(Names::HardDisk));
}

class Folder {
public:
    static const Folder& Get() {
        static Folder folder;
        return folder;
    }
    std::string operator/(const char* name) const { return Path + "/" + name; }

private:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qbox-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        Path = pattern;
        MakeAll(Path);
    }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string Path;
};

}  // namespace BenchImages
