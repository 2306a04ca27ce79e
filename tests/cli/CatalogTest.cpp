// qbox catalog over a small folder tree: images at several depths, a hard disk with
// two partitions, a file that is no image, an image no DOS can read and a link loop.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "cli/QboxRunner.h"
#include "common/LDOSTestDisks.h"
#include "common/MiniJson.h"
#include "common/TempDir.h"

using TestSupport::Bytes;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

struct FileState {
    std::vector<uint8_t> Bytes;
    timespec Modified{};
    bool operator==(const FileState& other) const {
        return Bytes == other.Bytes && Modified.tv_sec == other.Modified.tv_sec &&
               Modified.tv_nsec == other.Modified.tv_nsec;
    }
};

std::map<std::string, FileState> Snapshot(const std::string& folder) {
    std::map<std::string, FileState> states;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.is_symlink()) continue;
        struct stat info {};
        ::stat(entry.path().c_str(), &info);
        states[entry.path().string()] = FileState{ReadHostBytes(entry.path().string()), info.st_mtim};
    }
    return states;
}

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The date qbox ls gives a file: the one put stored from the host's clock.
std::string DateOf(const std::string& image, const std::string& name) {
    QboxResult result = RunQbox({"ls", image, name, "--json"});
    return TestSupport::JsonReader(result.Out).Parse().items.at(0)["date"].text;
}

void RunOk(const std::vector<std::string>& arguments) {
    QboxResult result = RunQbox(arguments);
    ASSERT_EQ(result.Status, 0) << result.Err;
}

class CatalogTest : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        fs::create_directories(dir / "tree/games/more");
        WriteHostBytes(dir / "hello.bas", Bytes("10 PRINT \"HI\"\r"));
        WriteHostBytes(dir / "game.cmd", std::vector<uint8_t>(700, 0x55));

        RunOk({"new", dir / "tree/work.dsk", "--type", "jv3", "--dos", "trsdos23"});
        RunOk({"put", dir / "tree/work.dsk", dir / "hello.bas", dir / "game.cmd"});
        RunOk({"new", dir / "tree/games/more/space.dmk", "--dos", "ldos"});
        RunOk({"put", dir / "tree/games/more/space.dmk", dir / "game.cmd", "--as", "SPACE/CMD"});
        // Copies sorted between and after the others show that the order does not
        // depend on which worker finished first.
        for (const char* name : {"a1.dsk", "a2.dsk", "z1.dsk", "z2.dsk"})
            fs::copy_file(dir / "tree/work.dsk", dir / "tree/games" + "/" + name);

        LDOSTest::PartitionLayout second;
        second.FirstCylinder = 35;
        second.Name = "SECOND";
        LDOSTest::PartitionLayout first;
        first.Tracks = 35;
        LDOSTest::WriteLDOSHardDisk(dir / "tree/hard.hdv", 100, 1, {first, second});

        WriteHostBytes(dir / "tree/notes.txt", Bytes("not a disk at all\n"));
        // Zeros make a DMK header that no DOS can read: a damaged image.
        WriteHostBytes(dir / "tree/games/broken.dmk", std::vector<uint8_t>(20000, 0));
        fs::create_directory_symlink(dir / "tree", dir / "tree/games/loop");
    }

    TempDir dir;
};

}  // namespace

TEST_F(CatalogTest, ListsEveryImageInPathOrderOnlyReadingThem) {
    const std::string tree = dir / "tree";
    auto before = Snapshot(tree);
    QboxResult result = RunQbox({"catalog", tree});
    EXPECT_EQ(result.Status, 1);  // the damaged image

    const std::string games = tree + "/games/";
    const std::string helloDate = DateOf(tree + "/work.dsk", "HELLO/BAS");
    const std::string gameDate = DateOf(tree + "/work.dsk", "GAME/CMD");
    std::string expected;
    auto addWorkCopy = [&](const std::string& image) {
        expected += image + "\t0\tTRSDOS 2.3\tHELLO/BAS\t14\t" + helloDate + "\n" + image +
                    "\t0\tTRSDOS 2.3\tGAME/CMD\t700\t" + gameDate + "\n";
    };
    addWorkCopy(games + "a1.dsk");
    addWorkCopy(games + "a2.dsk");
    expected += games + "more/space.dmk\t0\tLDOS 5.3\tSPACE/CMD\t700\t" +
                DateOf(games + "more/space.dmk", "SPACE/CMD") + "\n";
    addWorkCopy(games + "z1.dsk");
    addWorkCopy(games + "z2.dsk");
    addWorkCopy(tree + "/work.dsk");
    EXPECT_EQ(result.Out, expected);

    EXPECT_EQ(Count(result.Err, "broken.dmk"), 1u) << result.Err;
    EXPECT_EQ(Count(result.Err, "\n"), 1u) << result.Err;  // nothing about notes.txt, the loop or the hard disk
    EXPECT_EQ(RunQbox({"catalog", tree}).Out, result.Out);
    EXPECT_TRUE(before == Snapshot(tree));
}

TEST_F(CatalogTest, PatternsAndAllSelectFilesAcrossImagesAndPartitions) {
    const std::string tree = dir / "tree";
    QboxResult cmd = RunQbox({"catalog", tree, "*.cmd"});
    EXPECT_EQ(Count(cmd.Out, "\n"), 6u) << cmd.Out;
    EXPECT_EQ(Count(cmd.Out, "/CMD\t"), 6u) << cmd.Out;

    // A plain name is looked up on each disk; disks without it stay silent.
    QboxResult space = RunQbox({"catalog", tree, "space/cmd", "NOSUCH/TXT"});
    EXPECT_EQ(space.Out, tree + "/games/more/space.dmk\t0\tLDOS 5.3\tSPACE/CMD\t700\t" +
                             DateOf(tree + "/games/more/space.dmk", "SPACE/CMD") + "\n");
    EXPECT_EQ(Count(space.Err, "\n"), 1u) << space.Err;  // only the damaged image

    // System files of both hard-disk partitions, each with its partition number.
    QboxResult system = RunQbox({"catalog", tree + "/hard.hdv", "-a", "*/SYS"});
    EXPECT_EQ(system.Status, 0) << system.Err;
    EXPECT_EQ(Count(system.Out, "hard.hdv\t0\tLDOS 5.3\tDIR/SYS"), 1u) << system.Out;
    EXPECT_EQ(Count(system.Out, "hard.hdv\t1\tLDOS 5.3\tDIR/SYS"), 1u) << system.Out;
    EXPECT_EQ(RunQbox({"catalog", tree + "/hard.hdv"}).Out, "");
}

TEST_F(CatalogTest, JsonHasOneObjectPerFile) {
    QboxResult result = RunQbox({"catalog", dir / "tree", "--json", "hello.bas"});
    EXPECT_EQ(result.Status, 1);
    TestSupport::JsonValue rows = TestSupport::JsonReader(result.Out).Parse();
    ASSERT_EQ(rows.items.size(), 5u);
    const TestSupport::JsonValue& row = rows.items.front();
    EXPECT_EQ(row["image"].text, dir / "tree/games/a1.dsk");
    EXPECT_EQ(row["partition"].number, 0);
    EXPECT_EQ(row["dos"].text, "TRSDOS 2.3");
    EXPECT_EQ(row["name"].text, "HELLO/BAS");
    EXPECT_EQ(row["size"].number, 14);
    EXPECT_EQ(row["date"].text, DateOf(dir / "tree/work.dsk", "HELLO/BAS"));

    EXPECT_EQ(TestSupport::JsonReader(RunQbox({"catalog", dir / "tree/notes.txt", "--json"}).Out).Parse().items.size(),
              0u);
}

TEST(CatalogErrors, MissingFolderIsReported) {
    TempDir dir;
    QboxResult result = RunQbox({"catalog", dir / "absent"});
    EXPECT_EQ(result.Status, 1);
    EXPECT_NE(result.Err.find("absent"), std::string::npos) << result.Err;
    EXPECT_EQ(result.Out, "");
}
