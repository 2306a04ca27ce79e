// qbox on disks as they come from the wild: sectors that do not read cleanly are
// used where they can be and always named, with exit status 1; every file of a disk
// lands under its own host name; a plain name acts on one file only; a CP/M write
// that cannot happen is not reported as done.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/QboxRunner.h"
#include "common/CPMDisk.h"
#include "common/DamagedSectors.h"
#include "common/TRSDOSScratch.h"
#include "common/TempDir.h"
#include "filesystem/MountedDisk.h"

using TestSupport::Contains;
using TestSupport::Lines;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;

namespace {

// A 40-track, one-sided, double-density LDOS disk in DMK with three files; the
// directory record of the first lies in sector 10 of the directory track (20).
std::string ThreeFileLDOSDisk(const TempDir& dir) {
    const std::string path = dir / "ldos.dmk";
    FileSystem::MountedDisk disk;
    disk.CreateNew(path, DiskImage::ImageDMK, 40, 2, 1, true, "WILD", "01/02/90");
    for (const char* name : {"FIRST/DAT", "SECOND/DAT", "THIRD/DAT"})
        disk.Current()->CreateFile(name, TRSDOSTest::PatternBytes(900, static_cast<uint32_t>(name[0])), {});
    disk.Flush();
    return path;
}

// A CP/M disk (Montezuma standard data) in JV3 with GAME.COM in user areas 0 and 3,
// 2,048 bytes of Pattern(2048, 1) and Pattern(2048, 2).
std::string TwoUserAreasImage(const TempDir& dir) {
    TestSupport::CPMDisk cpm(TestSupport::CPMRows::MontezumaStandardData);
    cpm.SetEntry(0, TestSupport::CPMEntry(0, "GAME", "COM", 0, 0, 16, {2}));
    cpm.SetBlock(2, TestSupport::Pattern(2048, 1));
    cpm.SetEntry(1, TestSupport::CPMEntry(3, "GAME", "COM", 0, 0, 16, {3}));
    cpm.SetBlock(3, TestSupport::Pattern(2048, 2));
    const std::string path = dir / "users.jv3";
    EXPECT_TRUE(cpm.WriteTo(path));
    return path;
}

}  // namespace

TEST(QboxWildDisks, DirectorySectorReadWithACrcErrorIsUsedAndNamed) {
    TempDir dir;
    const std::string image = ThreeFileLDOSDisk(dir);
    TestSupport::BreakDMKDataCrc(image, 20, 0, 10);
    const std::vector<uint8_t> before = ReadHostBytes(image);
    const std::string warning = "directory: track 20, side 0, sector 10: data CRC error, its bytes used as read";

    QboxResult ls = RunQbox({"ls", image});
    EXPECT_EQ(Lines(ls.Out), (std::vector<std::string>{"FIRST/DAT", "SECOND/DAT", "THIRD/DAT"}));
    EXPECT_EQ(ls.Status, 1);
    EXPECT_TRUE(Contains(ls.Err, "qbox: " + image + ": " + warning)) << ls.Err;

    std::filesystem::create_directory(dir / "out");
    QboxResult get = RunQbox({"get", image, "*", "-d", dir / "out"});
    EXPECT_EQ(get.Status, 1);
    EXPECT_TRUE(Contains(get.Err, warning)) << get.Err;
    EXPECT_EQ(ReadHostBytes(dir / "out/first.dat"), TRSDOSTest::PatternBytes(900, 'F'));

    QboxResult check = RunQbox({"check", image});
    EXPECT_EQ(check.Status, 1);
    EXPECT_TRUE(Contains(check.Out, "error: Directory: track 20, side 0, sector 10: data CRC error")) << check.Out;
    EXPECT_EQ(ReadHostBytes(image), before);
}

// GAME/CMD is 1,024 bytes; its second sector is gone from the track.
TEST(QboxWildDisks, MissingSectorOfAFileIsNamedAndTheFileKeepsItsSize) {
    TempDir dir;
    const std::string image = dir / "game.jv3";
    const std::vector<uint8_t> data = TRSDOSTest::PatternBytes(1024, 77);
    const auto [track, sector] = TestSupport::WriteDiskMissingASectorOfAFile(image, data);
    std::vector<uint8_t> expected = data;
    std::fill(expected.begin() + 256, expected.begin() + 512, 0);
    const std::string summary = "GAME/CMD: only 768 of 1024 bytes could be read";
    const std::string named =
        "GAME/CMD: track " + std::to_string(track) + ", side 0, sector " + std::to_string(sector) + ": missing";

    QboxResult ls = RunQbox({"ls", image, "-l"});
    EXPECT_TRUE(Contains(ls.Out, " 1024 ")) << ls.Out;
    QboxResult cat = RunQbox({"cat", image, "GAME/CMD"});
    EXPECT_EQ(cat.Status, 1);
    EXPECT_EQ(std::vector<uint8_t>(cat.Out.begin(), cat.Out.end()), expected);
    EXPECT_TRUE(Contains(cat.Err, summary)) << cat.Err;
    EXPECT_TRUE(Contains(cat.Err, named)) << cat.Err;

    std::filesystem::create_directory(dir / "out");
    QboxResult get = RunQbox({"get", image, "GAME/CMD", "-d", dir / "out"});
    EXPECT_EQ(get.Status, 1);
    EXPECT_EQ(ReadHostBytes(dir / "out/game.cmd"), expected);
    EXPECT_TRUE(Contains(get.Err, summary)) << get.Err;

    QboxResult check = RunQbox({"check", image});
    EXPECT_TRUE(Contains(check.Out, "error: " + named)) << check.Out;
}

// Two files of one name in CP/M user areas 0 and 3, and RSDOS-style names that only
// a host name would merge: each file is written, under a name of its own.
TEST(QboxWildDisks, EveryFileLandsUnderItsOwnHostName) {
    TempDir dir;
    using TestSupport::Pattern;
    const std::string image = TwoUserAreasImage(dir);

    std::filesystem::create_directory(dir / "out");
    QboxResult get = RunQbox({"get", image, "*", "-d", dir / "out"});
    EXPECT_EQ(get.Status, 0) << get.Err;
    EXPECT_EQ(ReadHostBytes(dir / "out/game.com"), Pattern(2048, 1));
    EXPECT_EQ(ReadHostBytes(dir / "out/game~2.com"), Pattern(2048, 2));

    QboxResult json = RunQbox({"ls", image, "--json"});
    EXPECT_TRUE(Contains(json.Out, "\"host_name\":\"game.com\"")) << json.Out;
    EXPECT_TRUE(Contains(json.Out, "\"host_name\":\"game~2.com\"")) << json.Out;

    QboxResult exported = RunQbox({"export", image, "-d", dir / "export"});
    EXPECT_EQ(exported.Status, 0) << exported.Err;
    EXPECT_EQ(ReadHostBytes(dir / "export/partition0/game.com"), Pattern(2048, 1));
    EXPECT_EQ(ReadHostBytes(dir / "export/partition0/user3/game.com"), Pattern(2048, 2));
    const std::vector<uint8_t> manifest = ReadHostBytes(dir / "export/manifest.json");
    EXPECT_TRUE(Contains(std::string(manifest.begin(), manifest.end()), "\"host_name\":\"user3/game.com\""));
}

// GAME/CMD and GAME/BAS: GAME names neither, and no verb acts on both.
TEST(QboxWildDisks, APlainNameNamesOneFile) {
    TempDir dir;
    const std::string image = dir / "game.dsk";
    {
        FileSystem::MountedDisk disk;
        disk.CreateNew(image, DiskImage::ImageJV1, 35, 0, 1, false, "GAMES", "01/02/83");
        disk.Current()->CreateFile("GAME/CMD", TRSDOSTest::PatternBytes(300, 1), {});
        disk.Current()->CreateFile("GAME/BAS", TRSDOSTest::PatternBytes(300, 2), {});
        disk.Flush();
    }
    for (const char* verb : {"rm", "cat", "attr"}) {
        QboxResult result = RunQbox({verb, image, "GAME"});
        EXPECT_EQ(result.Status, 1) << verb;
        EXPECT_TRUE(Contains(result.Err, "GAME: no such file")) << verb << ": " << result.Err;
    }
    EXPECT_EQ(Lines(RunQbox({"ls", image}).Out), (std::vector<std::string>{"GAME/CMD", "GAME/BAS"}));
    EXPECT_EQ(RunQbox({"rm", image, "GAME*"}).Status, 0) << "a wildcard still acts on several";
    EXPECT_EQ(RunQbox({"ls", image}).Out, "");
}

// The same name in two CP/M user areas: a plain name is ambiguous and changes nothing.
TEST(QboxWildDisks, AnAmbiguousNameIsRefusedWithItsCandidates) {
    TempDir dir;
    using TestSupport::Pattern;
    const std::string image = TwoUserAreasImage(dir);
    const std::vector<uint8_t> before = ReadHostBytes(image);
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"rm", image, "GAME.COM"}, {"mv", image, "game.com", "PLAY.COM"}, {"attr", image, "GAME.COM", "+R"}}) {
        QboxResult result = RunQbox(command);
        EXPECT_EQ(result.Status, 1) << command[0];
        EXPECT_TRUE(Contains(result.Err, ": ambiguous name, it names 2 files: GAME.COM (entry 0), GAME.COM (entry 1)"))
            << command[0] << ": " << result.Err;
    }
    EXPECT_EQ(ReadHostBytes(image), before);
    EXPECT_EQ(RunQbox({"rm", image, "G*"}).Status, 0);
    EXPECT_EQ(RunQbox({"ls", image}).Out, "");
}

// A file whose chain of directory records runs into a record not in use cannot be
// deleted: rm says so, fails, and the disk keeps the file.
TEST(QboxWildDisks, AFailedDeleteIsReported) {
    TRSDOSTest::TFreshDisk disk;
    ASSERT_TRUE(disk.Fs->CreateFile("CHAIN/DAT", TRSDOSTest::PatternBytes(500, 5), {}));
    const int dec = disk.Fs->FindFile("CHAIN/DAT");
    const int next = disk.Fs->FindFreeDirectoryEntry(dec + 1);
    uint8_t* record = disk.Fs->GetDirectoryRecord(dec);
    record[30] = 0xFE;
    record[31] = static_cast<uint8_t>(next);
    disk.Fs->GetDirectoryRecord(next)[0] = 0x80;  // an extension record, not in use
    disk.Fs->HIT[static_cast<size_t>(next)] = disk.Fs->HIT[static_cast<size_t>(dec)];
    disk.Fs->Modified = true;
    disk.Close();
    const std::vector<uint8_t> before = ReadHostBytes(disk.Path);
    QboxResult rm = RunQbox({"rm", disk.Path, "CHAIN/DAT"});
    EXPECT_EQ(rm.Status, 1);
    EXPECT_TRUE(Contains(rm.Err, "CHAIN/DAT: could not be deleted")) << rm.Err;
    EXPECT_EQ(ReadHostBytes(disk.Path), before);
}

// A 35-track disk read with a 40-track CP/M layout: a put that would need blocks on
// the missing tracks is refused, and nothing is written.
TEST(QboxWildDisks, CPMPutNeverClaimsBlocksTheImageLacks) {
    TempDir dir;
    TestSupport::CPMDisk cpm(TestSupport::CPMRows::OmikronMapperI, 0, 35);  // Omikron Mapper I: 1K blocks; 70 of them on the tracks the image holds
    const std::string image = dir / "short.jv3";
    ASSERT_TRUE(cpm.WriteTo(image));
    TestSupport::WriteHostBytes(dir / "big.dat", TestSupport::Pattern(68 * 1024, 3));
    TestSupport::WriteHostBytes(dir / "more.dat", TestSupport::Pattern(13000, 4));
    ASSERT_EQ(RunQbox({"put", image, dir / "big.dat"}).Status, 0);
    const std::vector<uint8_t> before = ReadHostBytes(image);
    QboxResult put = RunQbox({"put", image, dir / "more.dat"});
    EXPECT_EQ(put.Status, 1);
    EXPECT_TRUE(Contains(put.Err, "Not enough free space")) << put.Err;
    EXPECT_EQ(ReadHostBytes(image), before);
    EXPECT_TRUE(Contains(RunQbox({"info", image, "--json"}).Out, "\"free\":2048"));
    std::filesystem::create_directory(dir / "out");
    ASSERT_EQ(RunQbox({"get", image, "BIG.DAT", "-d", dir / "out"}).Status, 0);
    EXPECT_EQ(ReadHostBytes(dir / "out/big.dat"), TestSupport::Pattern(68 * 1024, 3));
}
