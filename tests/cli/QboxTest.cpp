// qbox as users run it: every verb on images the test makes with `qbox new`,
// exit codes and messages for the usual mistakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"
#include "diskimage/DiskImage.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/TRSDOSBase.h"

using TestSupport::Bytes;
using TestSupport::Contains;
using TestSupport::Lines;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

::testing::AssertionResult Succeeded(const QboxResult& result) {
    if (result.Status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << result.Status << ", stderr: " << result.Err;
}


const std::string BasicText = "10 PRINT \"HELLO\"\r\n20 GOTO 10\r\n";
const std::vector<uint8_t> Program = {0x05, 0x06, 'H', 'E', 'L', 'L', 'O', ' ', 0x01, 0x04, 0x00, 0x70,
                                      0xC3, 0x00, 0x70, 0x02, 0x02, 0x00, 0x70};

// A fresh TRSDOS 2.3 disk holding a BASIC text (stored with CR line ends) and a small program.
class QboxDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "work.dsk";
        ASSERT_TRUE(Succeeded(RunQbox({"new", image, "--type", "jv3", "--dos", "trsdos23", "--name", "WORKDISK",
                                       "--date", "01/02/83"})));
        WriteHostBytes(dir / "hello.bas", Bytes(BasicText));
        WriteHostBytes(dir / "prog.cmd", Program);
        ASSERT_TRUE(Succeeded(RunQbox({"put", image, dir / "hello.bas", "-t", "cr"})));
        ASSERT_TRUE(Succeeded(RunQbox({"put", image, dir / "prog.cmd"})));
    }
    TempDir dir;
    std::string image;
};

}  // namespace

TEST_F(QboxDiskTest, ListsNamesAndDetails) {
    QboxResult plain = RunQbox({"ls", image});
    ASSERT_TRUE(Succeeded(plain));
    EXPECT_EQ(Lines(plain.Out), (std::vector<std::string>{"HELLO/BAS", "PROG/CMD"}));

    QboxResult json = RunQbox({"ls", image, "--json"});
    ASSERT_TRUE(Succeeded(json));
    for (const char* part : {"\"name\":\"HELLO\"", "\"ext\":\"BAS\"", "\"full_name\":\"HELLO/BAS\"",
                             "\"host_name\":\"hello.bas\"", "\"size\":28", "\"size\":19", "\"type\":null"})
        EXPECT_TRUE(Contains(json.Out, part)) << part << " in " << json.Out;

    QboxResult pattern = RunQbox({"ls", image, "*.cmd"});
    EXPECT_EQ(Lines(pattern.Out), std::vector<std::string>{"PROG/CMD"});
    QboxResult longForm = RunQbox({"ls", image, "-l", "HELLO/BAS"});
    EXPECT_TRUE(Contains(longForm.Out, "HELLO/BAS")) << longForm.Out;
    EXPECT_TRUE(Contains(longForm.Out, " 28 ")) << longForm.Out;
}

TEST_F(QboxDiskTest, CatIsByteExactUnlessConverting) {
    QboxResult raw = RunQbox({"cat", image, "hello.bas"});
    ASSERT_TRUE(Succeeded(raw));
    EXPECT_EQ(raw.Out, "10 PRINT \"HELLO\"\r20 GOTO 10\r");
    EXPECT_EQ(RunQbox({"cat", image, "HELLO/BAS", "-t", "lf"}).Out, "10 PRINT \"HELLO\"\n20 GOTO 10\n");
    QboxResult binary = RunQbox({"cat", image, "prog/cmd"});
    EXPECT_EQ(std::vector<uint8_t>(binary.Out.begin(), binary.Out.end()), Program);
}

TEST_F(QboxDiskTest, GetWritesLowerCaseFilesAndKeepsExistingOnes) {
    std::string out = dir / "out";
    std::filesystem::create_directory(out);
    ASSERT_TRUE(Succeeded(RunQbox({"get", image, "*", "-d", out, "-t", "crlf"})));
    EXPECT_EQ(ReadHostBytes(out + "/hello.bas"), Bytes(BasicText));
    EXPECT_EQ(ReadHostBytes(out + "/prog.cmd"), Program);

    WriteHostBytes(out + "/prog.cmd", Bytes("mine"));
    QboxResult again = RunQbox({"get", image, "PROG/CMD", "-d", out});
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err, "qbox: " + image + ": PROG/CMD: File exists\n");
    EXPECT_EQ(ReadHostBytes(out + "/prog.cmd"), Bytes("mine"));
    EXPECT_TRUE(Succeeded(RunQbox({"get", image, "PROG/CMD", "-d", out, "-f"})));
    EXPECT_EQ(ReadHostBytes(out + "/prog.cmd"), Program);

    QboxResult missing = RunQbox({"get", image, "NOPE/TXT", "-d", out});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_TRUE(Contains(missing.Err, "NOPE/TXT: no such file")) << missing.Err;
}

// A destination that does not exist yet is made, parents and all; one that is a file is refused.
TEST_F(QboxDiskTest, GetAndExportMakeTheirMissingFolder) {
    const std::string nested = dir / "a/b/c";
    ASSERT_TRUE(Succeeded(RunQbox({"get", image, "*", "-d", nested})));
    EXPECT_EQ(ReadHostBytes(nested + "/prog.cmd"), Program);

    const std::string exported = dir / "x/y/export";
    ASSERT_TRUE(Succeeded(RunQbox({"export", image, "-d", exported})));
    EXPECT_EQ(ReadHostBytes(exported + "/partition0/prog.cmd"), Program);
    EXPECT_TRUE(std::filesystem::is_regular_file(exported + "/manifest.json"));

    WriteHostBytes(dir / "plain", Bytes("file"));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"get", image, "*", "-d", dir / "plain/sub"},
          std::vector<std::string>{"export", image, "-d", dir / "plain"}}) {
        QboxResult refused = RunQbox(arguments);
        EXPECT_EQ(refused.Status, 1) << arguments[0];
        EXPECT_TRUE(Contains(refused.Err, "plain")) << refused.Err;
    }
    EXPECT_EQ(ReadHostBytes(dir / "plain"), Bytes("file"));

    QboxResult badImage = RunQbox({"get", dir / "none.dsk", "*", "-d", dir / "never"});
    EXPECT_EQ(badImage.Status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "never"));
}

TEST_F(QboxDiskTest, PutRefusesExistingNamesUnlessForcedAndBadNames) {
    WriteHostBytes(dir / "other.txt", Bytes("changed\r"));
    QboxResult exists = RunQbox({"put", image, dir / "other.txt", "--as", "HELLO/BAS"});
    EXPECT_EQ(exists.Status, 1);
    EXPECT_EQ(exists.Err, "qbox: " + image + ": HELLO/BAS: File exists\n");
    EXPECT_TRUE(Succeeded(RunQbox({"put", image, dir / "other.txt", "--as", "HELLO/BAS", "-f"})));
    EXPECT_EQ(RunQbox({"cat", image, "HELLO/BAS"}).Out, "changed\r");

    WriteHostBytes(dir / "much-too-long-name.text", Bytes("x"));
    QboxResult bad = RunQbox({"put", image, dir / "much-too-long-name.text"});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_TRUE(Contains(bad.Err, "much-too-long-name.text: Illegal filename")) << bad.Err;

    QboxResult twoAs = RunQbox({"put", image, dir / "other.txt", dir / "other.txt", "--as", "X/Y"});
    EXPECT_EQ(twoAs.Status, 2);
}

TEST_F(QboxDiskTest, RemoveRenameAndAttributes) {
    QboxResult renamed = RunQbox({"mv", image, "PROG/CMD", "GAME/CMD"});
    ASSERT_TRUE(Succeeded(renamed));
    EXPECT_EQ(Lines(RunQbox({"ls", image}).Out), (std::vector<std::string>{"HELLO/BAS", "GAME/CMD"}));
    QboxResult clash = RunQbox({"mv", image, "GAME/CMD", "HELLO/BAS"});
    EXPECT_EQ(clash.Status, 1);
    EXPECT_TRUE(Contains(clash.Err, "File exists")) << clash.Err;
    QboxResult badName = RunQbox({"mv", image, "GAME/CMD", "NINECHARS/CMD"});
    EXPECT_EQ(badName.Status, 1);
    EXPECT_TRUE(Contains(badName.Err, "Illegal filename")) << badName.Err;

    ASSERT_TRUE(Succeeded(RunQbox({"attr", image, "GAME/CMD", "+I"})));
    EXPECT_EQ(Lines(RunQbox({"ls", image}).Out), std::vector<std::string>{"HELLO/BAS"});
    EXPECT_TRUE(Contains(RunQbox({"ls", image, "-a"}).Out, "GAME/CMD"));
    EXPECT_TRUE(Contains(RunQbox({"attr", image, "GAME/CMD"}).Out, "+I (Invisible)"));
    ASSERT_TRUE(Succeeded(RunQbox({"attr", image, "GAME/CMD", "-I"})));
    EXPECT_TRUE(Contains(RunQbox({"attr", image, "GAME/CMD"}).Out, "-I (Invisible)"));
    EXPECT_EQ(RunQbox({"attr", image, "GAME/CMD", "+Q"}).Status, 2);

    ASSERT_TRUE(Succeeded(RunQbox({"rm", image, "G*"})));
    EXPECT_EQ(Lines(RunQbox({"ls", image}).Out), std::vector<std::string>{"HELLO/BAS"});
    EXPECT_EQ(RunQbox({"rm", image, "GAME/CMD"}).Status, 1);
}

TEST_F(QboxDiskTest, LabelShowsAndSetsVolumeNameAndDate) {
    QboxResult shown = RunQbox({"label", image});
    ASSERT_TRUE(Succeeded(shown));
    EXPECT_TRUE(Contains(shown.Out, "Volume name: WORKDISK")) << shown.Out;
    EXPECT_TRUE(Contains(shown.Out, "Volume date: 01/02/83")) << shown.Out;
    ASSERT_TRUE(Succeeded(RunQbox({"label", image, "--name", "GAMES", "--date", "12/31/99"})));
    QboxResult info = RunQbox({"info", image, "--json"});
    EXPECT_TRUE(Contains(info.Out, "\"disk_name\":\"GAMES")) << info.Out;
    EXPECT_TRUE(Contains(info.Out, "\"disk_date\":\"12/31/99\"")) << info.Out;
    EXPECT_EQ(RunQbox({"label", image, "--name", "NINECHARS"}).Status, 2);
}

TEST_F(QboxDiskTest, WriteProtectionRefusesChanges) {
    ASSERT_TRUE(Succeeded(RunQbox({"protect", image, "on"})));
    EXPECT_EQ(RunQbox({"protect", image}).Out, "on\n");
    for (const std::vector<std::string>& change :
         {std::vector<std::string>{"put", image, dir / "prog.cmd", "--as", "NEW/CMD"},
          std::vector<std::string>{"rm", image, "PROG/CMD"}, std::vector<std::string>{"mv", image, "PROG/CMD", "X/Y"},
          std::vector<std::string>{"attr", image, "PROG/CMD", "+I"},
          std::vector<std::string>{"label", image, "--name", "X"}}) {
        QboxResult refused = RunQbox(change);
        EXPECT_EQ(refused.Status, 1) << change[0];
        EXPECT_EQ(refused.Err,
                  "qbox: " + image + ": The disk image cannot be written to because it is write protected.\n")
            << change[0];
    }
    EXPECT_EQ(Lines(RunQbox({"ls", image}).Out).size(), 2u);
    ASSERT_TRUE(Succeeded(RunQbox({"protect", image, "off"})));
    EXPECT_TRUE(Succeeded(RunQbox({"rm", image, "PROG/CMD"})));
}

TEST_F(QboxDiskTest, InfoDescribesImageAndFileSystem) {
    QboxResult info = RunQbox({"info", image, "--json"});
    ASSERT_TRUE(Succeeded(info));
    for (const char* part : {"\"format\":\"JV3\"", "\"write_protect\":0", "\"hard_disk\":false", "\"dos\":\"TRSDOS 2.3\"",
                             "\"damaged\":false", "\"pdrive\":null", "\"files\":"})
        EXPECT_TRUE(Contains(info.Out, part)) << part << " in " << info.Out;
    QboxResult text = RunQbox({"info", image});
    EXPECT_TRUE(Contains(text.Out, "Format:         JV3")) << text.Out;
}

TEST(QboxNewTest, CombinationRulesOfTheNewFloppyDialog) {
    TempDir dir;
    struct Case {
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {{"--type", "jv1", "--dos", "trsdos13"}, 2},
        {{"--dos", "trsdos23", "--density", "double"}, 2},
        {{"--dos", "trsdos23", "--tracks", "40"}, 2},
        {{"--dos", "trsdos13", "--sides", "2"}, 2},
        {{"--type", "jv1", "--sides", "2"}, 2},
        {{"--name", ""}, 2},
        {{"--name", "NINECHARS"}, 2},
        {{"--sides", "3"}, 2},
        {{"--dos", "trsdos23", "--type", "jv1"}, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::vector<std::string> arguments = {"new", dir / ("d" + std::to_string(n++) + ".dsk")};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        QboxResult result = RunQbox(arguments);
        EXPECT_EQ(result.Status, c.status) << arguments[2] << " " << arguments[3] << ": " << result.Err;
    }
    // Nothing is left behind by a refused combination.
    EXPECT_EQ(dir.Names().size(), 1u);

    std::string image = dir / "exists.dsk";
    ASSERT_TRUE(Succeeded(RunQbox({"new", image, "--dos", "trsdos23"})));
    QboxResult again = RunQbox({"new", image, "--dos", "trsdos23"});
    EXPECT_EQ(again.Status, 1);
    EXPECT_EQ(again.Err, "qbox: " + image + ": File exists\n");
}

TEST(QboxErrorsTest, MissingFileNonImageAndUnrecognisedDisk) {
    TempDir dir;
    std::string missing = dir / "missing.dsk";
    std::string text = dir / "notes.txt";
    WriteHostBytes(text, Bytes(std::string(5000, 'x')));
    std::string blank = dir / "blank.jv1";
    WriteHostBytes(blank, std::vector<uint8_t>(35 * 2560, 0));
    struct Case {
        std::string image, message;
    } cases[] = {
        {missing, "No such file or directory"},
        {text, "Not a recognized virtual disk file"},
        {blank, "Unrecognized disk format"},
    };
    for (const Case& c : cases) {
        for (const char* verb : {"info", "ls"}) {
            QboxResult result = RunQbox({verb, c.image});
            EXPECT_EQ(result.Status, 1) << verb << " " << c.image;
            EXPECT_EQ(result.Err, "qbox: " + c.image + ": " + c.message + "\n") << verb;
            EXPECT_TRUE(result.Out.empty());
        }
    }
}

// A usage error points at the help that answers it: the verb's own, or the overall one
// when no verb was named.
TEST(QboxErrorsTest, UsageErrorsExitWithTwoAndNameTheVerbsHelp) {
    struct Case {
        std::vector<std::string> Arguments;
        std::string Help;
    };
    for (const Case& usage : std::vector<Case>{{{}, "qbox --help"},
                                               {{"frobnicate"}, "qbox --help"},
                                               {{"ls"}, "qbox ls --help"},
                                               {{"get", "x.dsk"}, "qbox get --help"},
                                               {{"get", "x.dsk", "*", "-t", "cr"}, "qbox get --help"},
                                               {{"protect", "x.dsk", "maybe"}, "qbox protect --help"},
                                               {{"export", "x.dsk", "--bogus"}, "qbox export --help"}}) {
        QboxResult result = RunQbox(usage.Arguments);
        const std::string named = usage.Arguments.empty() ? "" : usage.Arguments[0];
        EXPECT_EQ(result.Status, 2) << named;
        EXPECT_TRUE(Contains(result.Err, "Run '" + usage.Help + "' for more information.")) << named << ": "
                                                                                            << result.Err;
    }
    QboxResult help = RunQbox({"put", "--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_TRUE(Contains(help.Out, "--as")) << help.Out;
}

// qbox builds only the parser of the verb it is given: every verb the overall help lists
// must still answer its own help and still refuse an option it does not know.
TEST(QboxErrorsTest, EveryListedVerbAnswersItsOwnHelp) {
    QboxResult overall = RunQbox({"--help"});
    ASSERT_EQ(overall.Status, 0);
    const std::string listing = overall.Out.substr(overall.Out.find("Subcommands:"));
    std::istringstream lines(listing);
    std::string line;
    std::vector<std::string> verbs;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ')
            verbs.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
#ifdef QB_HAVE_FUSE
    EXPECT_EQ(verbs.size(), 18u) << listing;  // mount, where libfuse 3 was found
#else
    EXPECT_EQ(verbs.size(), 17u) << listing;
#endif
    for (const std::string& verb : verbs) {
        QboxResult help = RunQbox({verb, "--help"});
        EXPECT_EQ(help.Status, 0) << verb << ": " << help.Err;
        EXPECT_TRUE(Contains(help.Out, "Usage: qbox " + verb + " ")) << help.Out;
        QboxResult wrong = RunQbox({verb, "--no-such-option"});
        EXPECT_EQ(wrong.Status, 2) << verb;
    }
}

TEST(QboxNewTest, EveryFileSystemAndImageTypeComesBackAsMade) {
    TempDir dir;
    WriteHostBytes(dir / "hello.bas", Bytes("10 END\r"));
    struct Case {
        std::string type, dos, name;
    } cases[] = {
        {"jv1", "trsdos23", "TRSDOS 2.3"}, {"jv3", "trsdos23", "TRSDOS 2.3"}, {"dmk", "trsdos23", "TRSDOS 2.3"},
        {"jv3", "trsdos13", "TRSDOS 1.3"}, {"dmk", "trsdos13", "TRSDOS 1.3"}, {"jv1", "ldos", "LDOS 5.3"},
        {"jv3", "ldos", "LDOS 5.3"},       {"dmk", "ldos", "LDOS 5.3"},
    };
    for (const Case& c : cases) {
        std::string image = dir / (c.dos + "." + c.type);
        ASSERT_TRUE(Succeeded(RunQbox({"new", image, "--dos", c.dos})));
        ASSERT_TRUE(Succeeded(RunQbox({"put", image, dir / "hello.bas"})));
        QboxResult info = RunQbox({"info", image, "--json"});
        EXPECT_TRUE(Contains(info.Out, "\"format\":\"" + std::string(c.type == "jv1" ? "JV1" : c.type == "jv3" ? "JV3" : "DMK")))
            << info.Out;
        EXPECT_TRUE(Contains(info.Out, "\"dos\":\"" + c.name + "\"")) << info.Out;
        EXPECT_EQ(RunQbox({"cat", image, "HELLO/BAS"}).Out, "10 END\r") << image;
    }
    // The defaults: an LDOS disk, double density, two sides, 40 tracks, in DMK.
    std::string plain = dir / "plain.img";
    ASSERT_TRUE(Succeeded(RunQbox({"new", plain})));
    QboxResult info = RunQbox({"info", plain, "--json"});
    EXPECT_TRUE(Contains(info.Out, "\"format\":\"DMK\"")) << info.Out;
    EXPECT_TRUE(Contains(info.Out, "\"family\":\"LDOS\"")) << info.Out;
    EXPECT_TRUE(Contains(info.Out, "\"disk_name\":\"TRS80DSK\"")) << info.Out;
}

// A file whose second granule lies past the disk comes out as far as it could be read,
// and get and cat both say so and fail.
TEST_F(QboxDiskTest, ShortReadIsReportedNotPassedOffAsTheWholeFile) {
    WriteHostBytes(dir / "long.dat", std::vector<uint8_t>(3000, 0x41));
    ASSERT_TRUE(Succeeded(RunQbox({"put", image, dir / "long.dat"})));
    {
        auto disk = DiskImage::OpenFloppyImage(image);
        auto fs = FileSystem::MountFloppy(disk.get());
        auto* trsdos = dynamic_cast<FileSystem::TRSDOSBase*>(fs.get());
        ASSERT_NE(trsdos, nullptr);
        const int dec = trsdos->FindFile("LONG/DAT");
        ASSERT_GE(dec, 0);
        std::vector<uint8_t> sector;
        bool normal = true;
        const int track = trsdos->GetDirectoryTrack();
        const std::vector<uint8_t> before(trsdos->GetDirectoryRecord(dec), trsdos->GetDirectoryRecord(dec) + 32);
        for (int s = 2; s < trsdos->GetSectorsPerTrack(); ++s) {
            ASSERT_TRUE(trsdos->ReadSector(track, s, normal, sector));
            auto at = std::search(sector.begin(), sector.end(), before.begin(), before.end());
            if (at == sector.end()) continue;
            // One extent of two granules from the last track: the second one is off the disk.
            at[22] = static_cast<uint8_t>(trsdos->GetTracks() - 1);
            at[23] = static_cast<uint8_t>((trsdos->GetGranulesPerTrack() - 1) << 5 | 1);
            at[24] = 0xFF;
            at[25] = 0xFF;
            ASSERT_TRUE(trsdos->WriteSector(track, s, sector, 0));
            break;
        }
    }
    std::filesystem::create_directory(dir / "out");
    QboxResult get = RunQbox({"get", image, "LONG/DAT", "-d", dir / "out"});
    EXPECT_EQ(get.Status, 1);
    EXPECT_TRUE(Contains(get.Err, "LONG/DAT: only ")) << get.Err;
    EXPECT_TRUE(Contains(get.Err, " of 3000 bytes could be read")) << get.Err;
    EXPECT_TRUE(std::filesystem::exists(dir / "out/long.dat"));
    QboxResult cat = RunQbox({"cat", image, "LONG/DAT"});
    EXPECT_EQ(cat.Status, 1);
    EXPECT_TRUE(Contains(cat.Err, "could be read")) << cat.Err;
}

// A raw sector dump keeps no data address marks: no disk formatted here can be made as
// one, and a TRSDOS 2.3 disk, whose directory carries its own mark, is refused by convert
// naming the sector, leaving no file behind.
TEST_F(QboxDiskTest, RawDumpsAreRefusedWhereTheyWouldLoseMarks) {
    QboxResult made = RunQbox({"new", dir / "new.img", "--type", "raw"});
    EXPECT_EQ(made.Status, 2) << made.Err;
    EXPECT_NE(made.Err.find("raw sector dump images keep no data address marks"), std::string::npos) << made.Err;
    EXPECT_FALSE(std::filesystem::exists(dir / "new.img"));

    QboxResult converted = RunQbox({"convert", image, dir / "copy.img", "--type", "raw"});
    EXPECT_NE(converted.Status, 0);
    EXPECT_NE(converted.Err.find("Cannot convert to raw sector dump: track 17, side 0, sector 0 would lose its data address mark"),
              std::string::npos)
        << converted.Err;
    EXPECT_FALSE(std::filesystem::exists(dir / "copy.img"));
}
