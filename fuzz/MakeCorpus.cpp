// Writes the starting corpus of the fuzz targets into a folder, one subfolder per
// target: floppies and hard disks made by our own formatters with a few files on
// them, and small files of each kind the viewer decodes.
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "filesystem/LDOS.h"
#include "filesystem/TRSDOS13.h"
#include "filesystem/TRSDOS23.h"

namespace {

namespace fs = std::filesystem;

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

// A load module: one load block at 5200H and the entry point.
std::vector<uint8_t> LoadModule() {
    std::vector<uint8_t> bytes = {0x05, 0x06, 'F', 'U', 'Z', 'Z', ' ', ' ', 0x01, 0x0A, 0x00, 0x52};
    const uint8_t code[] = {0x21, 0x00, 0x3C, 0x3E, 'A', 0x77, 0xDD, 0x7E, 0x05, 0xC3, 0x00, 0x52};
    bytes.insert(bytes.end(), std::begin(code), std::end(code) - 4);
    bytes.insert(bytes.end(), {0x02, 0x02, 0x00, 0x52});
    return bytes;
}

// A tokenised BASIC program: 10 PRINT "HI" / 20 GOTO 10.
std::vector<uint8_t> BasicProgram() {
    return {0xFF, 0x0B, 0x6A, 0x0A, 0x00, 0xB2, ' ', '"', 'H', 'I', '"', 0x00,
            0x13, 0x6A, 0x14, 0x00, 0x8D, ' ', '1', '0', 0x00, 0x00, 0x00};
}

// EDTASM source: a header, then lines numbered with bit 7 set.
std::vector<uint8_t> EdtasmSource() {
    std::vector<uint8_t> bytes = {0xD3, 'F', 'U', 'Z', 'Z', ' ', ' '};
    for (const char* line : {"\tORG\t5200H", "START\tLD\tA,1", "\tEND\tSTART"}) {
        for (char digit : std::string("00010")) bytes.push_back(static_cast<uint8_t>(digit | 0x80));
        bytes.push_back(' ');
        for (const char* c = line; *c != 0; ++c) bytes.push_back(static_cast<uint8_t>(*c));
        bytes.push_back(0x0D);
    }
    bytes.push_back(0x1A);
    return bytes;
}

template <class TDOS, class... TArgs>
void MakeFloppy(const fs::path& path, int imageType, TArgs... args) {
    auto image = DiskImage::CreateFloppyImage(path.string(), imageType);
    {
        TDOS dos(image.get(), "FUZZDISK", "12/09/26", args...);
        FileSystem::FileDate date{};
        dos.CreateFile("README/TXT", Text("A starting corpus file.\r"), date);
        dos.CreateFile("PROG/CMD", LoadModule(), date);
        dos.CreateFile("GAME/BAS", BasicProgram(), date);
        dos.CreateFile("BIG/DAT", std::vector<uint8_t>(3000, 0xA5), date);
        dos.Flush();
    }
    image->Flush();
}

// An HDV1 file of the given size whose sectors are zero.
void MakeBlankHDV1(const fs::path& path, int cylinders, int heads) {
    std::vector<uint8_t> header(256, 0);
    header[0] = 0x56;
    header[1] = 0xCB;
    header[4] = 1;
    header[5] = 4;
    header[27] = static_cast<uint8_t>((cylinders >> 8) & 7);
    header[28] = static_cast<uint8_t>(cylinders & 0xFF);
    header[29] = static_cast<uint8_t>(heads * 32);
    int sum = 0;
    for (int i = 0; i < 32; ++i)
        if (i != 3) sum += header[i];
    header[3] = static_cast<uint8_t>((sum & 0xFF) ^ 0x4C);
    header.resize(256 + static_cast<size_t>(cylinders) * heads * 32 * 256, 0);
    WriteAll(path, header);
}

// A small two-sided JVC image with a header, written track by track by the JVC writer:
// 10 tracks of 18 double-density sectors numbered from 0.
void MakeJVC(const fs::path& path) {
    auto image = DiskImage::CreateFloppyImage(path.string(), DiskImage::ImageJVC);
    for (int track = 0; track < 10; ++track) {
        std::array<std::vector<DiskImage::TTrackSector>, 2> sides;
        for (int side = 0; side < 2; ++side) {
            for (int sector = 0; sector < 18; ++sector) {
                sides[side].push_back({sector, 256, true, 0xFB, false,
                                       std::vector<uint8_t>(256, static_cast<uint8_t>(track * 36 + side * 18 + sector))});
            }
        }
        image->LayOutTrack(track, sides);
    }
    image->Flush();
}

// A raw sector dump of 35 tracks of 18 single-density 128-byte sectors: what the fuzz
// target's accept-everything DOS check lets the raw-dump opener take.
void MakeRawDump(const fs::path& path) {
    std::vector<uint8_t> bytes(35 * 18 * 128);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(0xE5 ^ (i / 128));
    WriteAll(path, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_make_corpus FOLDER\n";
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"floppy_image", "hard_image", "file_system", "load_module", "basic_lister",
                               "renderings", "view_mode"})
        fs::create_directories(root / target);
    try {
        const fs::path floppies = root / "floppy_image";
        MakeFloppy<FileSystem::TRSDOS23>(floppies / "trsdos23.jv1", DiskImage::ImageJV1, 35);
        MakeFloppy<FileSystem::TRSDOS23>(floppies / "trsdos23.jv3", DiskImage::ImageJV3, 40);
        MakeFloppy<FileSystem::TRSDOS13>(floppies / "trsdos13.dmk", DiskImage::ImageDMK);
        MakeFloppy<FileSystem::LDOS>(floppies / "ldos-sd.jv1", DiskImage::ImageJV1, 35, 1, false);
        MakeFloppy<FileSystem::LDOS>(floppies / "ldos-dd.jv3", DiskImage::ImageJV3, 40, 2, true);
        MakeFloppy<FileSystem::LDOS>(floppies / "ldos-dd.dmk", DiskImage::ImageDMK, 40, 1, true);
        MakeJVC(floppies / "two-sided.jvc");
        MakeFloppy<FileSystem::TRSDOS13>(floppies / "trsdos13.imd", DiskImage::ImageIMD);
        MakeFloppy<FileSystem::LDOS>(floppies / "ldos-dd-two-sided.imd", DiskImage::ImageIMD, 40, 2, true);
        MakeRawDump(floppies / "raw-35t-18x128.img");
        MakeFloppy<FileSystem::TRSDOS23>(floppies / "trsdos23.hfe", DiskImage::ImageHFE, 35);
        for (const auto& entry : fs::directory_iterator(floppies))
            fs::copy_file(entry.path(), root / "file_system" / entry.path().filename(),
                          fs::copy_options::overwrite_existing);

        MakeBlankHDV1(root / "hard_image" / "blank.hdv", 2, 1);
        MakeBlankHDV1(root / "file_system" / "blank.hdv", 2, 1);

        WriteAll(root / "load_module" / "prog.cmd", LoadModule());
        WriteAll(root / "basic_lister" / "game.bas", BasicProgram());
        WriteAll(root / "renderings" / "text.txt", Text("Line one\r\tTabbed\rLast\x1A"));
        WriteAll(root / "renderings" / "source.asm", EdtasmSource());
        std::vector<uint8_t> withPrefix = {0x01};
        for (const auto& bytes : {LoadModule(), BasicProgram(), EdtasmSource()}) {
            std::vector<uint8_t> input = withPrefix;
            input.insert(input.end(), bytes.begin(), bytes.end());
            WriteAll(root / "view_mode" / ("input" + std::to_string(input.size())), input);
        }
    } catch (const std::exception& error) {
        std::cerr << "fuzz_make_corpus: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
