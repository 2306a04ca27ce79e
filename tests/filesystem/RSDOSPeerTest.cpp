// Agreement with RSDOS disks made by another tool: listing, types, ASCII flags,
// byte-exact sizes, extracted bytes and free granules.
#include <gtest/gtest.h>

#include <string>

#include "common/PeerFixtures.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"

using TestSupport::JsonReader;
using TestSupport::JsonValue;

namespace {

void CheckDisk(const std::string& expectationPath) {
    const JsonValue expected = JsonReader::ParseFile(expectationPath);
    auto image = TestSupport::OpenPeerImage(expected);
    FileSystem::RSDOS fs(image.get());
    EXPECT_EQ(fs.Suspicion, 0);
    EXPECT_EQ(fs.GetDOSName(true), "RSDOS");
    EXPECT_EQ(fs.GetFreeSpace(), expected["free_granules"].number * FileSystem::RSDOS::GranuleSize);
    TestSupport::CheckPeerFiles(fs, expected, [&](int index, const JsonValue& file) {
        EXPECT_EQ(fs.GetFileType(index), file["type"].number);
        EXPECT_EQ(fs.HasAttribute(index, FileSystem::AttrASCII), file["ascii"].boolean);
    });
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

TEST(RSDOSPeerDisks, WholeCandidateTableMountsThemAsRSDOS) {
    const std::vector<std::string> expectations = TestSupport::PeerExpectations("RSDOS");
    if (expectations.empty()) GTEST_SKIP() << "no peer RSDOS disks in " << TestSupport::PeerFixturesDir();
    for (const std::string& path : expectations) {
        SCOPED_TRACE(path);
        auto image = TestSupport::OpenPeerImage(JsonReader::ParseFile(path));
        auto fs = FileSystem::MountFloppy(image.get());
        EXPECT_EQ(fs->GetDOSName(true), "RSDOS");
        EXPECT_EQ(fs->GetFileSystemType(), FileSystem::TypeRSDOS);
    }
}
