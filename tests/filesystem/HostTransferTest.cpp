// Host transfer: the text test, both line-end conversions, extraction into a
// host folder (reserved names, existing files, crafted names, host errors) and
// the store routine.
#include <gtest/gtest.h>

#include <cctype>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <filesystem>

#include "common/FakeFileSystem.h"
#include "common/TempDir.h"
#include "filesystem/HostTransfer.h"

using namespace FileSystem;
using TestSupport::Bytes;
using TestSupport::FakeFileSystem;
using TestSupport::TempDir;

namespace {

std::vector<uint8_t> Repeat(uint8_t byte, size_t count) { return std::vector<uint8_t>(count, byte); }

std::vector<uint8_t> TextWithHighBytes(int highBytes) {
    std::vector<uint8_t> bytes = Repeat('a', 100);
    for (int i = 0; i < highBytes; ++i) bytes[i] = 0x80;
    return bytes;
}

}  // namespace

TEST(IsTextFileTest, DecidesByExtensionThenByShareOfTextBytes) {
    struct Case {
        const char* what;
        std::string extension;
        std::vector<uint8_t> bytes;
        bool text;
    } cases[] = {
        {"TXT is text whatever it holds", "TXT", {0x00, 0xFF, 0x01}, true},
        {"DOC is text", "DOC", {0x00}, true},
        {"NOW is text even when empty", "NOW", {}, true},
        {"the extension is compared as written", "txt", {0x00, 0xFF, 0x01}, false},
        {"an empty file is not text", "", {}, false},
        {"96 of 100 text bytes is not more than 96", "", TextWithHighBytes(4), false},
        {"97 of 100 is", "", TextWithHighBytes(3), true},
        {"CR, LF, TAB and 0x1A count as text", "", {'a', 0x0D, 0x0A, 0x09, 0x1A}, true},
        {"NUL does not", "", {'a', 'b', 0x00}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsTextFile(c.extension, c.bytes), c.text) << c.what;
}

TEST(ConvertFromTRS80Test, LineEndsByTypeOnTRSDOSAndEndOfFileCutOnCPM) {
    FakeFileSystem trsdos;
    std::vector<uint8_t> twoLines = Bytes("ONE\rTWO\r");
    EXPECT_EQ(ConvertFromTRS80(trsdos, twoLines, "", 0), twoLines);
    EXPECT_EQ(ConvertFromTRS80(trsdos, twoLines, "", 1), Bytes("ONE\r\nTWO\r\n"));
    EXPECT_EQ(ConvertFromTRS80(trsdos, twoLines, "", 2), Bytes("ONE\nTWO\n"));
    std::vector<uint8_t> binary = {0xC3, 0x00, 0x0D, 0x52};
    EXPECT_EQ(ConvertFromTRS80(trsdos, binary, "CMD", 1), binary);

    FakeFileSystem cpm;
    cpm.FileSystemType = TypeCPM;
    std::vector<uint8_t> record = Bytes("HELLO\r\n");
    record.push_back(0x1A);
    record.resize(128, 0x1A);
    record[100] = 'x';  // filler after the end mark is dropped too
    EXPECT_EQ(ConvertFromTRS80(cpm, record, "TXT", 0), Bytes("HELLO\r\n"));
}

TEST(ConvertToTRS80Test, ConvertsHostLineEndsOnlyWhenAskedAndEndsCPMTextWithEndMark) {
    FakeFileSystem trsdos;
    EXPECT_EQ(ConvertToTRS80(trsdos, Bytes("A\r\n\n"), 1), Bytes("A\r\n"));
    EXPECT_EQ(ConvertToTRS80(trsdos, Bytes("A\r\nB\nC"), 1), Bytes("A\rB\nC"));
    EXPECT_EQ(ConvertToTRS80(trsdos, Bytes("A\r\n"), 0), Bytes("A\r\n"));
    std::vector<uint8_t> binary = {0x0D, 0x0A, 0x00, 0x00, 0x00, 0xFF};
    EXPECT_EQ(ConvertToTRS80(trsdos, binary, 1), binary);
    // LF to CR: Linux text, and CR/LF text, both arrive with CR alone.
    EXPECT_EQ(ConvertToTRS80(trsdos, Bytes("ONE\nTWO\n\n"), 2), Bytes("ONE\rTWO\r\r"));
    EXPECT_EQ(ConvertToTRS80(trsdos, Bytes("A\r\nB\nC\r"), 2), Bytes("A\rB\rC\r"));
    EXPECT_EQ(ConvertToTRS80(trsdos, binary, 2), binary);

    FakeFileSystem cpm;
    cpm.FileSystemType = TypeCPM;
    EXPECT_EQ(ConvertToTRS80(cpm, Bytes("ABC"), 0), Bytes("ABC"));
    std::vector<uint8_t> four = Bytes("ABCD");
    four.push_back(0x1A);
    EXPECT_EQ(ConvertToTRS80(cpm, Bytes("ABCD"), 0), four);
    EXPECT_EQ(ConvertToTRS80(cpm, four, 1), four);
}

TEST(HostNameTest, ReservedDeviceNamesHaveNoExtension) {
    for (const char* name : {"con.", "PRN.", "nul.", "Aux.", "lpt1.", "lpt9.", "com1.", "COM9."})
        EXPECT_TRUE(IsReservedHostName(name)) << name;
    for (const char* name : {"con.txt", "con", "lpt0.", "com10.", "lpt.", "console."})
        EXPECT_FALSE(IsReservedHostName(name)) << name;
}

// One extraction never gives two files one host name: the first keeps its plain name,
// later ones get ~2, ~3 ... before the extension, never a name another file has plainly.
TEST(HostNameTest, EveryFileOfAnExtractionGetsANameOfItsOwn) {
    struct Case {
        const char* What;
        std::vector<THostPlacement> Files;
        std::vector<std::string> Names;
    };
    const Case cases[] = {
        {"distinct names stay", {{"", "a.bas"}, {"", "b.bas"}}, {"a.bas", "b.bas"}},
        {"a clash", {{"", "game.bas"}, {"", "game.bas"}, {"", "game.bas"}},
         {"game.bas", "game~2.bas", "game~3.bas"}},
        {"no extension", {{"", "readme"}, {"", "readme"}}, {"readme", "readme~2"}},
        {"a plain name ~2 is kept for its own file", {{"", "x.c"}, {"", "x.c"}, {"", "x~2.c"}},
         {"x.c", "x~3.c", "x~2.c"}},
        {"folders apart", {{"", "pip.com"}, {"user3", "pip.com"}, {"user3", "pip.com"}},
         {"pip.com", "user3/pip.com", "user3/pip~2.com"}},
        {"a file named like a folder", {{"", "user3"}, {"user3", "a.com"}}, {"user3~2", "user3/a.com"}},
    };
    for (const Case& c : cases) EXPECT_EQ(UniqueHostNames(c.Files), c.Names) << c.What;
}

// Every file of a disk, in directory order: files whose names differ only in ways a
// host name cannot keep (case, a path separator) get names of their own.
TEST(HostNameTest, NamesOfADiskDependOnItsFilesNotOnTheSelection) {
    FakeFileSystem fs;
    const int first = fs.Plant("A/B", "BAS", Bytes("1"));
    const int second = fs.Plant("A_B", "BAS", Bytes("2"));
    const int third = fs.Plant("a/b", "bas", Bytes("3"));
    const std::map<int, std::string> names = HostNamesOfDisk(fs);
    EXPECT_EQ(names.at(first), "a_b.bas");
    EXPECT_EQ(names.at(second), "a_b~2.bas");
    EXPECT_EQ(names.at(third), "a_b~3.bas");
}

class ExtractFileTest : public ::testing::Test {
protected:
    TransferSettings Into(const std::string& folder, int conversion = 0) {
        TransferSettings settings;
        settings.ExtractDirectory = folder;
        settings.ConversionTypeOut = conversion;
        return settings;
    }
    FakeFileSystem fs;
    TempDir dir;
};

TEST_F(ExtractFileTest, WritesLowerCaseNameConvertedAndDated) {
    int fileIndex = fs.Plant("README", "TXT", Bytes("HI\r"));
    FileDate date;
    date.HasDate = date.HasTime = true;
    date.Year = 1983;
    date.Month = 7;
    date.Day = 14;
    date.Hour = 9;
    date.Minute = 30;
    fs.At(fileIndex).Date = date;

    std::string path = ExtractFile(fs, fileIndex, false, Into(dir.str(), 1));

    EXPECT_EQ(path, dir / "readme.txt");
    EXPECT_EQ(TestSupport::ReadHostBytes(path), Bytes("HI\r\n"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    std::tm local{};
    std::time_t modified = info.st_mtime;
    localtime_r(&modified, &local);
    EXPECT_EQ(local.tm_year + 1900, 1983);
    EXPECT_EQ(local.tm_mon + 1, 7);
    EXPECT_EQ(local.tm_mday, 14);
    EXPECT_EQ(local.tm_hour, 9);
    EXPECT_EQ(local.tm_min, 30);
}

TEST_F(ExtractFileTest, ByteExactSkipsEvenTheCPMEndOfFileCut) {
    fs.FileSystemType = TypeCPM;
    std::vector<uint8_t> bytes = Bytes("TEXT");
    bytes.push_back(0x1A);
    bytes.push_back('z');
    int fileIndex = fs.Plant("NOTE", "TXT", bytes);
    TransferSettings settings = Into(dir.str());
    settings.ByteExact = true;
    EXPECT_EQ(TestSupport::ReadHostBytes(ExtractFile(fs, fileIndex, false, settings)), bytes);
}

TEST_F(ExtractFileTest, FileWithoutExtensionGetsNoTrailingDot) {
    int fileIndex = fs.Plant("GAME", "", Bytes("x"));
    EXPECT_EQ(ExtractFile(fs, fileIndex, false, Into(dir.str())), dir / "game");
}

// This host reserves no device names: CON and NUL are ordinary names here.
TEST_F(ExtractFileTest, DeviceNamesOfOtherHostsAreOrdinaryNames) {
    for (const char* name : {"CON", "NUL", "LPT1", "COM9"}) {
        int fileIndex = fs.Plant(name, "", Bytes("x"));
        std::string lower = name;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(ExtractFile(fs, fileIndex, false, Into(dir.str())), dir / lower);
        EXPECT_EQ(TestSupport::ReadHostBytes(dir / lower), Bytes("x"));
    }
}

TEST_F(ExtractFileTest, ExistingHostFileKeptUnlessOverwriting) {
    int fileIndex = fs.Plant("DATA", "DAT", Bytes("new"));
    TestSupport::WriteHostBytes(dir / "data.dat", Bytes("old"));
    try {
        ExtractFile(fs, fileIndex, false, Into(dir.str()));
        FAIL() << "an existing host file was overwritten";
    } catch (const TFileSystem::EFileExists& error) {
        EXPECT_STREQ(error.what(), "File exists");
    }
    EXPECT_EQ(TestSupport::ReadHostBytes(dir / "data.dat"), Bytes("old"));

    ExtractFile(fs, fileIndex, true, Into(dir.str()));
    EXPECT_EQ(TestSupport::ReadHostBytes(dir / "data.dat"), Bytes("new"));
}

TEST_F(ExtractFileTest, CraftedNamesStayInsideTheFolder) {
    TempDir outer;
    std::string inside = outer / "inside";
    std::filesystem::create_directory(inside);
    struct Case {
        std::string name, extension, hostName;
    } cases[] = {
        {"../EVIL", "", ".._evil"},  // dots are harmless once no '/' follows them
        {"..", "", "__"},
        {".", "", "_"},
        {"", "X", ".x"},
        {"A/B", "C\\D", "a_b.c_d"},
        {std::string("NU\0L", 4), "T\x01X", "nu_l.t_x"},
        {"HI\x7F\xC8", "", "hi__"},
    };
    for (const Case& c : cases) {
        int fileIndex = fs.Plant(c.name, c.extension, Bytes("x"));
        std::string path = ExtractFile(fs, fileIndex, false, Into(inside));
        EXPECT_EQ(path, inside + "/" + c.hostName);
    }
    EXPECT_EQ(outer.Names(), std::vector<std::string>{"inside"});
}

TEST_F(ExtractFileTest, FolderKeepsItsCase) {
    std::string folder = dir / "Out";
    std::filesystem::create_directory(folder);
    int fileIndex = fs.Plant("A", "B", Bytes("x"));
    EXPECT_EQ(ExtractFile(fs, fileIndex, false, Into(folder)), folder + "/a.b");
}

TEST_F(ExtractFileTest, OverlongPathRefusedNotTruncated) {
    std::string folder = dir.str() + "/" + std::string(200, 'd');
    while (folder.size() < PATH_MAX) folder += "/" + std::string(200, 'd');
    int fileIndex = fs.Plant("A", "B", Bytes("x"));
    try {
        ExtractFile(fs, fileIndex, false, Into(folder));
        FAIL() << "an overlong path was accepted";
    } catch (const TFileSystem::EFileError& error) {
        EXPECT_EQ(error.ErrorNumber, ENAMETOOLONG);
    }
}

TEST_F(ExtractFileTest, PlantedSymbolicLinkIsNotFollowed) {
    TempDir elsewhere;
    std::string target = elsewhere / "victim";
    TestSupport::WriteHostBytes(target, Bytes("keep"));
    std::filesystem::create_symlink(target, dir / "a.b");
    int fileIndex = fs.Plant("A", "B", Bytes("x"));
    try {
        ExtractFile(fs, fileIndex, true, Into(dir.str()));
        FAIL() << "extracted through a link";
    } catch (const TFileSystem::EFileError& error) {
        EXPECT_EQ(std::string(error.what()), "a symbolic link stands at " + dir / "a.b" + "; nothing is written through it");
    }
    EXPECT_EQ(TestSupport::ReadHostBytes(target), Bytes("keep"));
}

// Overwriting replaces the name: a second name of the old file keeps the old bytes.
TEST_F(ExtractFileTest, OverwritingNeverWritesThroughAHardLink) {
    TempDir elsewhere;
    std::string outsideName = elsewhere / "victim";
    TestSupport::WriteHostBytes(outsideName, Bytes("keep"));
    std::filesystem::create_hard_link(outsideName, dir / "a.b");
    int fileIndex = fs.Plant("A", "B", Bytes("new"));
    ExtractFile(fs, fileIndex, true, Into(dir.str()));
    EXPECT_EQ(TestSupport::ReadHostBytes(dir / "a.b"), Bytes("new"));
    EXPECT_EQ(TestSupport::ReadHostBytes(outsideName), Bytes("keep"));
}

TEST_F(ExtractFileTest, FailedWriteIsReportedAndPartialFileRemoved) {
    int fileIndex = fs.Plant("BIG", "DAT", Repeat(0x55, 64 * 1024));
    // A file-size limit makes the host refuse the write, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        ExtractFile(fs, fileIndex, false, Into(dir.str()));
    } catch (const TFileSystem::EFileError& error) {
        threw = true;
        EXPECT_EQ(error.ErrorNumber, EFBIG);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(threw);
    EXPECT_TRUE(dir.Names().empty());
}

TEST(StoreFileTest, ChecksNameThenExistingFileThenSpace) {
    FakeFileSystem fs;
    FileDate date;
    EXPECT_THROW(StoreFile(fs, "BAD NAME", Bytes("x"), 1, date, false), TFileSystem::EInvalidFilename);

    int stored = StoreFile(fs, "HELLO.TXT", Bytes("x"), 1, date, false);
    EXPECT_EQ(fs.GetFileName(stored), "HELLO");
    EXPECT_THROW(StoreFile(fs, "hello/txt", Bytes("y"), 1, date, false), TFileSystem::EFileExists);

    int replaced = StoreFile(fs, "HELLO.TXT", Bytes("yz"), 2, date, true);
    EXPECT_EQ(fs.ReadFile(replaced), Bytes("yz"));
    EXPECT_EQ(fs.ListFiles({}, 0x300).size(), 1u);
}

TEST(StoreFileTest, SpaceIsJudgedByHostSizeBeforeConversion) {
    FakeFileSystem fs;
    fs.CapacitySectors = 1;
    try {
        StoreFile(fs, "A.TXT", Repeat('a', 200), 300, FileDate{}, false);
        FAIL() << "a file larger than the free space was stored";
    } catch (const ENotEnoughSpace& error) {
        EXPECT_STREQ(error.what(), "Not enough free space to store this file.");
        EXPECT_EQ(error.Needed, 300u);
        EXPECT_EQ(error.FreeSpace, fs.GetFreeSpace());
    }
    EXPECT_TRUE(fs.ListFiles({}, 0x300).empty());
}

TEST(StoreFileTest, ReplacementThatDoesNotFitKeepsTheOldFile) {
    FakeFileSystem fs;
    fs.CapacitySectors = 4;
    FileDate date;
    date.HasDate = true;
    date.Year = 1984;
    date.Month = 2;
    date.Day = 3;
    int old = StoreFile(fs, "KEEP.DAT", Repeat(1, 300), 300, date, false);
    fs.SetAttribute(old, AttrInvisible, true);

    EXPECT_THROW(StoreFile(fs, "KEEP.DAT", Repeat(2, 2000), 2000, FileDate{}, true), ENotEnoughSpace);

    int kept = fs.FindFile("KEEP.DAT");
    ASSERT_GE(kept, 0);
    EXPECT_EQ(fs.ReadFile(kept), Repeat(1, 300));
    EXPECT_EQ(fs.GetFileDate(kept).Year, 1984);
    EXPECT_TRUE(fs.HasAttribute(kept, AttrInvisible));
}

TEST(WriteRefusalTest, ReadOnlyFileSystemAndDamageAreRefusedWithTheShellsText) {
    FakeFileSystem fs;
    EXPECT_EQ(WriteRefusal(fs), "");
    fs.ReadError = true;
    EXPECT_EQ(WriteRefusal(fs), "The disk image cannot be written to because the file system is damaged.");
    FakeFileSystem rsdos(0, "RSDOS");
    rsdos.Writable = false;
    EXPECT_EQ(WriteRefusal(rsdos), "Quarrybox does not support modifying RSDOS disk images.");
}
