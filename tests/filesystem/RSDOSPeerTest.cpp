// Agreement with RSDOS disks made by another tool: listing, types, ASCII flags,
// byte-exact sizes, extracted bytes and free granules.
#include <gtest/gtest.h>

#include <string>

#include "common/PeerFixtures.h"
#include "common/Sha256.h"
#include "diskimage/DiskImage.h"
#include "filesystem/RSDOS.h"

using TestSupport::JsonReader;
using TestSupport::JsonValue;

namespace {

void CheckDisk(const std::string& expectationPath) {
    const JsonValue expected = JsonReader::ParseFile(expectationPath);
    const std::string imagePath = TestSupport::PeerFixturesDir() + "/" + expected["image"].text;
    auto image = DiskImage::OpenFloppyImage(imagePath);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetFormatName(), expected["container"].text);
    FileSystem::RSDOS fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(true), "RSDOS");
    EXPECT_EQ(fs.GetFreeSpace(), expected["free_granules"].number * FileSystem::RSDOS::GranuleSize);

    const std::vector<int> listed = fs.ListFiles({"*.*"}, 0);
    const auto& files = expected["files"].items;
    ASSERT_EQ(listed.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const JsonValue& file = files[i];
        const int index = listed[i];
        SCOPED_TRACE(file["name"].text + "." + file["ext"].text);
        EXPECT_EQ(index, file["entry"].number);
        EXPECT_EQ(fs.GetFileName(index), file["name"].text);
        EXPECT_EQ(fs.GetFileExtension(index), file["ext"].text);
        EXPECT_EQ(fs.GetFileType(index), file["type"].number);
        EXPECT_EQ(fs.HasAttribute(index, FileSystem::AttrASCII), file["ascii"].boolean);
        EXPECT_EQ(fs.GetFileSize(index), file["size"].number);
        const std::vector<uint8_t> bytes = fs.ReadFile(index);
        EXPECT_EQ(static_cast<long long>(bytes.size()), file["size"].number);
        EXPECT_EQ(TestSupport::Sha256Hex(bytes), file["sha256"].text);
    }
}

}  // namespace

TEST(RSDOSPeerDisks, AgreeWithTheToolThatMadeThem) {
    const std::vector<std::string> expectations = TestSupport::PeerExpectations("RSDOS");
    if (expectations.empty()) GTEST_SKIP() << "no peer RSDOS disks in " << TestSupport::PeerFixturesDir();
    for (const std::string& path : expectations) {
        SCOPED_TRACE(path);
        CheckDisk(path);
    }
}
