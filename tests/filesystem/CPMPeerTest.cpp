// Agreement with CP/M disks made by other tools: recognition, listing, user areas,
// sizes, attributes and the extracted bytes, exactly as recorded beside each disk.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/PeerFixtures.h"
#include "filesystem/CPM.h"
#include "filesystem/MountedDisk.h"

using TestSupport::JsonReader;
using TestSupport::JsonValue;

namespace {

std::set<char> AttributeLetters(FileSystem::CPM& fs, int index) {
    std::set<char> letters;
    if (fs.HasAttribute(index, FileSystem::AttrSystem)) letters.insert('S');
    if (fs.HasAttribute(index, FileSystem::AttrReadOnly)) letters.insert('R');
    if (fs.HasAttribute(index, FileSystem::AttrArchive)) letters.insert('A');
    return letters;
}

void CheckDisk(const std::string& expectationPath) {
    const JsonValue expected = JsonReader::ParseFile(expectationPath);
    auto image = TestSupport::OpenPeerImage(expected);
    FileSystem::CPM fs(image.get());

    EXPECT_EQ(fs.GetFormatRow(), expected["row"].number);
    EXPECT_EQ(fs.GetDOSName(false), expected["vendor"].text);
    EXPECT_EQ(fs.GetDOSDescription(), expected["vendor"].text + " " + expected["description"].text);
    EXPECT_EQ(fs.GetDOSName(true), "CP/M");
    TestSupport::CheckPeerFiles(fs, expected, [&](int index, const JsonValue& file) {
        EXPECT_EQ(fs.UserNumber(index), file["user"].number);
        const std::string letters = file["attributes"].text;
        EXPECT_EQ(AttributeLetters(fs, index), std::set<char>(letters.begin(), letters.end()));
    });
}

}  // namespace

TEST(CPMPeerDisks, AgreeWithTheToolsThatMadeThem) {
    const std::vector<std::string> expectations = TestSupport::PeerExpectations("CP/M");
    if (expectations.empty()) GTEST_SKIP() << "no peer CP/M disks in " << TestSupport::PeerFixturesDir();
    for (const std::string& path : expectations) {
        SCOPED_TRACE(path);
        CheckDisk(path);
    }
}

TEST(CPMPeerDisks, Sha256OfKnownMessages) {
    EXPECT_EQ(TestSupport::Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string abc = "abc";
    EXPECT_EQ(TestSupport::Sha256Hex(std::vector<uint8_t>(abc.begin(), abc.end())),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two padding blocks.
    const std::string long56 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(TestSupport::Sha256Hex(std::vector<uint8_t>(long56.begin(), long56.end())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(CPMPeerDisks, WholeCandidateTableMountsThemAsCPM) {
    // The DOSes tried before CP/M must not claim these disks.
    const std::vector<std::string> expectations = TestSupport::PeerExpectations("CP/M");
    if (expectations.empty()) GTEST_SKIP() << "no peer CP/M disks in " << TestSupport::PeerFixturesDir();
    for (const std::string& path : expectations) {
        SCOPED_TRACE(path);
        const JsonValue expected = JsonReader::ParseFile(path);
        auto image = TestSupport::OpenPeerImage(expected);
        auto fs = FileSystem::MountFloppy(image.get());
        EXPECT_EQ(fs->GetDOSName(true), "CP/M");
        EXPECT_EQ(fs->GetDOSDescription(), expected["vendor"].text + " " + expected["description"].text);
    }
}
