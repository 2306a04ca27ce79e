// CP/M on the layouts whose tracks hold more than a 5.25-inch track: six 1024-byte
// sectors (rows 16 to 19) and the 8-inch disks (rows 33 and 34), as JV3 and as DMK.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/CPMDisk.h"
#include "diskimage/ImageConvert.h"
#include "filesystem/CPM.h"

using FileSystem::CPM;
using FileSystem::FormatCatalogue;
using TestSupport::CPMDisk;
using TestSupport::CPMEntry;
using TestSupport::Pattern;
using TestSupport::TempPath;
using namespace TestSupport::CPMRows;

namespace {

// Three files placed through the row's own mapping: one block, a few blocks, and one
// that spans two directory entries, so that sectors of every part of the disk are read.
std::map<std::string, std::vector<uint8_t>> PlaceFiles(CPMDisk& disk) {
    const auto& f = disk.Format;
    const int block = f.BlockSize();
    const int first = f.DirectoryBlocks();
    const bool wide = f.WideBlockNumbers();
    std::map<std::string, std::vector<uint8_t>> files;
    auto place = [&](int entry, const std::string& name, const std::string& ext, std::vector<int> blocks,
                     int records, int ex, uint8_t salt) {
        std::vector<uint8_t> data = Pattern(static_cast<size_t>(records) * 128, salt);
        for (size_t i = 0; i < blocks.size(); ++i) {
            const size_t from = i * static_cast<size_t>(block);
            disk.SetBlock(blocks[i], std::vector<uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(std::min(from, data.size())),
                                                          data.begin() + static_cast<std::ptrdiff_t>(std::min(from + block, data.size()))));
        }
        disk.SetEntry(entry, CPMEntry(0, name, ext, ex, 0, records % 128 == 0 && records > 0 ? 128 : records % 128, blocks, wide));
        return data;
    };
    files["ONE.DAT"] = place(0, "ONE", "DAT", {first}, 3, 0, 1);
    files["FEW.TXT"] = place(1, "FEW", "TXT", {first + 1, first + 2, first + 3}, 3 * block / 128 - 5, 0, 2);
    // The last blocks of the disk: the far end of the last track.
    files["FAR.BIN"] = place(2, "FAR", "BIN", {f.DSM - 1, f.DSM}, 2 * block / 128, 0, 3);
    return files;
}

std::vector<std::string> Names(CPM& fs) {
    std::vector<std::string> names;
    for (int index : fs.ListFiles({"*.*"}, 0)) names.push_back(fs.GetFullFileName(index));
    std::sort(names.begin(), names.end());
    return names;
}

void ExpectFiles(const std::string& path, int row, const std::map<std::string, std::vector<uint8_t>>& files) {
    auto image = DiskImage::OpenFloppyImage(path);
    CPM fs(image.get());
    ASSERT_EQ(fs.GetFormatRow(), row);
    std::vector<std::string> expected;
    for (const auto& [name, data] : files) expected.push_back(name);
    EXPECT_EQ(Names(fs), expected);
    for (const auto& [name, data] : files) {
        const int index = fs.FindFile(name);
        ASSERT_GE(index, 0) << name;
        EXPECT_EQ(fs.ReadFile(index), data) << name;
    }
}

}  // namespace

TEST(CPMLongTracks, EveryFileReadsBackAfterReopening) {
    for (int row : {Montezuma80TSuperData, Montezuma80TSuperDSData, MontezumaSuperData, MontezumaSuperDSData,
                    Standard8Inch, ModelII8Inch}) {
        SCOPED_TRACE("row " + std::to_string(row));
        CPMDisk disk(row);
        std::map<std::string, std::vector<uint8_t>> files = PlaceFiles(disk);
        TempPath jv3("cpm-long-jv3");
        ASSERT_TRUE(disk.WriteTo(jv3.str()));
        ExpectFiles(jv3.str(), row, files);

        // A file written through the file system lands on the long tracks and reads back.
        const std::vector<uint8_t> added = Pattern(5 * 1024 + 77, 4);
        {
            auto image = DiskImage::OpenFloppyImage(jv3.str());
            CPM fs(image.get());
            ASSERT_TRUE(fs.CreateFile("ADDED.DAT", added, {}));
        }
        std::vector<uint8_t> padded = added;
        padded.resize((added.size() + 127) / 128 * 128, 0);
        files["ADDED.DAT"] = padded;
        ExpectFiles(jv3.str(), row, files);

        // The same disk as DMK: its tracks are made as long as the JV3 sides.
        TempPath dmk("cpm-long-dmk");
        DiskImage::ConvertImage(jv3.str(), dmk.str(), DiskImage::ImageDMK, true);
        ExpectFiles(dmk.str(), row, files);
    }
}

TEST(CPMLongTracks, EightInchRowsAreTriedOnlyOnEightInchDisks) {
    EXPECT_TRUE(FormatCatalogue[Standard8Inch].IsEightInch());
    EXPECT_TRUE(FormatCatalogue[ModelII8Inch].IsEightInch());
    for (int row = 0; row < Standard8Inch; ++row) EXPECT_FALSE(FormatCatalogue[row].IsEightInch()) << row;
    // The Model II layout as its directory shows it: 2K blocks, 16-bit block numbers,
    // 300 blocks, 128 entries, two reserved tracks, sectors 1 to 16 without skew.
    const auto& model2 = FormatCatalogue[ModelII8Inch];
    EXPECT_EQ(model2.BlockSize(), 2048);
    EXPECT_TRUE(model2.WideBlockNumbers());
    EXPECT_EQ(model2.BlockCount(), 300);
    EXPECT_EQ(model2.DirectoryEntries(), 128);
    EXPECT_EQ(model2.OFF, 2);
    EXPECT_EQ(model2.SectorSize(), 512);
    // The IBM 3740 layout: 26 sectors of 128 bytes, skew 6, 1K blocks, 64 entries.
    const auto& ibm = FormatCatalogue[Standard8Inch];
    EXPECT_EQ(ibm.SectorsPerTrack, 26);
    EXPECT_EQ(ibm.SectorSize(), 128);
    EXPECT_EQ(ibm.BlockSize(), 1024);
    EXPECT_EQ(ibm.DirectoryEntries(), 64);
    EXPECT_EQ((std::vector<int>(ibm.Translation.begin(), ibm.Translation.begin() + 6)),
              (std::vector<int>{1, 7, 13, 19, 25, 5}));
}
