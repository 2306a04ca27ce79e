// Disks our formatters make survive conversion to every image format that can hold
// them: same sectors, and the DOS still finds the same files with the same contents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <map>
#include <memory>

#include "common/CPMDisk.h"
#include "common/TRSDOSScratch.h"
#include "diskimage/ImageConvert.h"
#include "diskimage/RawDump.h"
#include "filesystem/CPMFormats.h"
#include "filesystem/LDOS.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/TRSDOS13.h"
#include "filesystem/TRSDOS23.h"

using namespace DiskImage;
using namespace FileSystem;

namespace {

using Mount = std::function<std::unique_ptr<TFileSystem>(TDiskImage*)>;

struct DOSCase {
    const char* what;
    int sourceType;
    std::function<std::unique_ptr<TFileSystem>(TDiskImage*)> format;
    Mount mount;
    std::vector<int> lossless;  // target types that must hold the disk
    std::vector<int> refused;
};

std::vector<uint8_t> Pattern(size_t size, int salt) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(salt + i * 7 + (i >> 8));
    return bytes;
}

std::map<std::string, std::vector<uint8_t>> FilesOf(TFileSystem& fs) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (int index : fs.ListFiles({std::string("*") + fs.GetExtensionSeparator() + "*"}, ListInvisible | ListSystem)) files[fs.GetFullFileName(index)] = fs.ReadFile(index);
    return files;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(ImageConvertDOS, FormattedDisksConvertToEveryFormatThatHoldsThem) {
    FileDate date;
    const std::vector<DOSCase> cases = {
        {"TRSDOS 2.3 on JV1", ImageJV1,
         [](TDiskImage* image) { return std::make_unique<TRSDOS23>(image, "CONVERT", "12/09/26", 35); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS23>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageRaw}},
        {"LDOS double density, two sides, on DMK", ImageDMK,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 2, true); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1, ImageRaw}},
        {"LDOS single density on JV3", ImageJV3,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 1, false); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageRaw}},
        {"TRSDOS 1.3 on JV3", ImageJV3,
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image, "CONVERT", "12/09/26"); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1, ImageRaw}},
        // Made on IMD itself: the formatter's tracks stored as IMD records and read back.
        {"TRSDOS 1.3 on IMD", ImageIMD,
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image, "CONVERT", "12/09/26"); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1, ImageRaw}},
        {"LDOS double density, two sides, on IMD", ImageIMD,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 2, true); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1, ImageRaw}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TRSDOSTest::TScratchFolder folder;
        const std::string source = folder.File("source");
        {
            auto image = CreateFloppyImage(source, c.sourceType);
            auto fs = c.format(image.get());
            ASSERT_TRUE(fs->CreateFile("SMALL/TXT", Pattern(300, 1), date));
            ASSERT_TRUE(fs->CreateFile("LARGE/DAT", Pattern(9000, 2), date));
            fs->Flush();
        }
        std::map<std::string, std::vector<uint8_t>> expected;
        std::vector<TTrackContents> sourceTracks;
        {
            auto image = OpenFloppyImage(source, true);
            expected = FilesOf(*c.mount(image.get()));
            sourceTracks = ReadAllTracks(*image);
        }
        ASSERT_GE(expected.size(), 2u);
        for (int type : c.lossless) {
            SCOPED_TRACE("to " + ImageTypeName(type));
            const std::string out = folder.File("copy-" + ImageTypeName(type));
            ConvertImage(source, out, type);
            auto image = OpenFloppyImage(out, true);
            EXPECT_EQ(image->GetFormatName(), ImageTypeName(type));
            auto copyTracks = ReadAllTracks(*image);
            ASSERT_EQ(copyTracks.size(), sourceTracks.size());
            for (size_t t = 0; t < sourceTracks.size(); ++t) {
                for (int side = 0; side < 2; ++side) {
                    ASSERT_EQ(copyTracks[t].Sides[side].size(), sourceTracks[t].Sides[side].size());
                    for (const auto& sector : sourceTracks[t].Sides[side]) {
                        bool found = false;
                        for (const auto& copy : copyTracks[t].Sides[side]) found = found || SameSector(sector, copy);
                        EXPECT_TRUE(found) << "track " << t << " sector " << sector.Sector;
                    }
                }
            }
            EXPECT_EQ(FilesOf(*c.mount(image.get())), expected);
        }
        for (int type : c.refused) {
            SCOPED_TRACE("refused " + ImageTypeName(type));
            const std::string out = folder.File("refused");
            try {
                ConvertImage(source, out, type);
                ADD_FAILURE() << "converted";
            } catch (const EConversionRefused& refusal) {
                // The refusal names the sector that would be lost.
                EXPECT_NE(std::string(refusal.what()).find("sector "), std::string::npos) << refusal.what();
            }
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}

// A raw dump keeps sector data only, which is all a CP/M disk has: one made from a DMK
// holds the same files under its own layout, and opens through the ordinary opener with
// them, although other layouts of its size (a headerless JVC disk of half the tracks,
// sectors numbered from 0 rather than 1) are recognised by some DOS too. A layout no dump
// is opened in is refused before anything is written.
TEST(ImageConvertDOS, CPMDisksBecomeRawDumpsThatOpenAgain) {
    struct Case {
        int row;
        const char* what;
        bool convertible;
        int opensAs;  // the row the dump is recognised as
    };
    const Case cases[] = {
        {2, "40 tracks, one side, 10 double-density 512-byte sectors from 0", true, 2},
        {1, "40 tracks, one side, 18 single-density 128-byte sectors from 1", true, 1},
        {8, "40 tracks, one side, 10 double-density 512-byte sectors from 1", true, 8},
        // Byte for byte the same disk as the 80-track one-sided row of the same parameters
        // (sides interleaved by track are the next logical track), which is tried first.
        {10, "40 tracks, two sides, 10 double-density 512-byte sectors from 1", true,
         TestSupport::CPMRows::Montezuma80TData},
        {18, "40 tracks, one side, 6 double-density 1024-byte sectors", false, 18},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRSDOSTest::TScratchFolder folder;
        const std::string built = folder.File("built.jv3");
        const std::string source = folder.File("source.dmk");
        const std::string dump = folder.File("dump.img");
        {
            // Two files in the directory's first entries: one of a block, one of three.
            TestSupport::CPMDisk disk(c.row);
            const int block = disk.Format.BlockSize();
            disk.SetEntry(0, TestSupport::CPMEntry(0, "SMALL", "TXT", 0, 0, block / 128, {2}));
            disk.SetEntry(1, TestSupport::CPMEntry(0, "LARGE", "DAT", 0, 0, 3 * block / 128, {3, 4, 5}));
            disk.SetBlock(2, TestSupport::Pattern(block, 1));
            for (int b = 3; b <= 5; ++b) disk.SetBlock(b, TestSupport::Pattern(block, static_cast<uint8_t>(b)));
            ASSERT_TRUE(disk.WriteTo(built));
        }
        ConvertImage(built, source, ImageDMK);
        std::map<std::string, std::vector<uint8_t>> expected;
        int firstSector = 0;
        {
            MountedDisk disk;
            disk.Open(source, true);
            expected = FilesOf(*disk.Current());
            firstSector = ReadAllTracks(*static_cast<TFloppyImage*>(disk.Image.get()))[1].Sides[0].front().Sector;
        }
        ASSERT_EQ(expected.size(), 2u);
        if (!c.convertible) {
            EXPECT_THROW(ConvertImage(source, dump, ImageRaw), EConversionRefused);
            EXPECT_FALSE(std::filesystem::exists(dump));
            continue;
        }
        ConvertImage(source, dump, ImageRaw);
        {
            auto image = OpenFloppyImageAs(dump, ImageRaw, true, [&](TFloppyImage& opened) {
                return static_cast<RawDump&>(opened).GetGeometry().FirstSector == firstSector &&
                       JudgeDosReading(opened);
            });
            EXPECT_EQ(FilesOf(*MountFloppy(image.get())), expected);
        }
        MountedDisk disk;
        disk.Open(dump, true);
        EXPECT_EQ(disk.Image->GetFormatName(), "raw sector dump");
        EXPECT_EQ(static_cast<RawDump&>(*disk.Image).GetGeometry().FirstSector, firstSector);
        ASSERT_NE(disk.Current(), nullptr);
        const CPMFormat& row = FormatCatalogue[c.opensAs];
        EXPECT_EQ(disk.Current()->GetDOSDescription(), std::string(row.VendorName) + " " + row.Description);
        EXPECT_EQ(FilesOf(*disk.Current()), expected);
    }
}

// A Color Computer disk without a header is read both as a JVC disk and as a raw dump of
// the same size; it opens as JVC, its files whole. A file of a dump's size that no DOS
// reads is still refused, and left as it was.
TEST(ImageConvertDOS, HeaderlessFilesOpenOnlyAsTheDisksTheirDosReads) {
    constexpr int Tracks = 35, Sectors = 18, SectorSize = 256;
    auto offset = [](int track, int sector) { return (track * Sectors + sector - 1) * SectorSize; };
    // RSDOS: granule 0 is track 0, sectors 1-9; the allocation table is track 17 sector 2,
    // the directory starts at sector 3.
    std::vector<uint8_t> coco(Tracks * Sectors * SectorSize, 0xFF);
    std::fill_n(coco.begin() + offset(17, 2), SectorSize, 0x00);
    std::fill_n(coco.begin() + offset(17, 2), 68, 0xFF);
    coco[offset(17, 2)] = 0xC9;  // granule 0 is a file's last, all 9 sectors used
    const std::vector<uint8_t> data = Pattern(9 * SectorSize, 5);
    std::copy(data.begin(), data.end(), coco.begin() + offset(0, 1));
    std::fill_n(coco.begin() + offset(17, 3), SectorSize, 0x00);
    const std::string entry = "GAME    BIN";
    std::copy(entry.begin(), entry.end(), coco.begin() + offset(17, 3));
    coco[offset(17, 3) + 11] = 2;  // machine language
    coco[offset(17, 3) + 14] = 0x01;  // the last sector holds 256 bytes
    coco[offset(17, 3) + 15] = 0x00;

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* format;  // nullptr: refused
    };
    const Case cases[] = {
        {"a Color Computer disk", coco, "JVC"},
        {"bytes of a 40-track CP/M dump's size", Pattern(40 * 18 * 128, 3), nullptr},
        {"bytes of a 35-track Color Computer disk's size", Pattern(coco.size(), 9), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRSDOSTest::TScratchFolder folder;
        const std::string path = folder.File("disk.dsk");
        WriteBytes(path, c.bytes);
        MountedDisk disk;
        if (c.format == nullptr) {
            EXPECT_THROW(disk.Open(path, false), TDiskImage::EInvalidFormat);
            EXPECT_EQ(ReadBytes(path), c.bytes);
            continue;
        }
        disk.Open(path, true);
        EXPECT_EQ(disk.Image->GetFormatName(), c.format);
        ASSERT_NE(disk.Current(), nullptr);
        const std::map<std::string, std::vector<uint8_t>> expected = {{"GAME.BIN", data}};
        EXPECT_EQ(FilesOf(*disk.Current()), expected);
    }
}
