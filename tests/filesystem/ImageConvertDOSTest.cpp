// Disks our formatters make survive conversion to every image format that can hold
// them: same sectors, and the DOS still finds the same files with the same contents.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "common/TRSDOSScratch.h"
#include "diskimage/ImageConvert.h"
#include "filesystem/LDOS.h"
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

}  // namespace

TEST(ImageConvertDOS, FormattedDisksConvertToEveryFormatThatHoldsThem) {
    FileDate date;
    const std::vector<DOSCase> cases = {
        {"TRSDOS 2.3 on JV1", ImageJV1,
         [](TDiskImage* image) { return std::make_unique<TRSDOS23>(image, "CONVERT", "12/09/26", 35); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS23>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {}},
        {"LDOS double density, two sides, on DMK", ImageDMK,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 2, true); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1}},
        {"LDOS single density on JV3", ImageJV3,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 1, false); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {}},
        {"TRSDOS 1.3 on JV3", ImageJV3,
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image, "CONVERT", "12/09/26"); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1}},
        // Made on IMD itself: the formatter's tracks stored as IMD records and read back.
        {"TRSDOS 1.3 on IMD", ImageIMD,
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image, "CONVERT", "12/09/26"); },
         [](TDiskImage* image) { return std::make_unique<TRSDOS13>(image); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1}},
        {"LDOS double density, two sides, on IMD", ImageIMD,
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, "CONVERT", "12/09/26", 40, 2, true); },
         [](TDiskImage* image) { return std::make_unique<LDOS>(image, 0, 0); },
         {ImageJV3, ImageDMK, ImageIMD, ImageHFE},
         {ImageJV1}},
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
            EXPECT_THROW(ConvertImage(source, out, type), EConversionRefused);
            EXPECT_FALSE(std::filesystem::exists(out));
        }
    }
}
