// The shared behaviour of the file-system base: wildcard matching, name
// composition, attribute letters, hard-disk sector mapping and dates.
#include <gtest/gtest.h>

#include "common/TRSDOSScratch.h"
#include "filesystem/FileSystem.h"

using namespace FileSystem;

namespace {

// A file system without an image: one file "GAME" / "CMD" whose attributes are
// given by the test, with a selectable extension separator.
class TStubFileSystem : public TFileSystem {
public:
    explicit TStubFileSystem(char separator) : TFileSystem(nullptr), Separator(separator) {}

    int GetFileSystemType() override { return TypeTRSDOS; }
    int GetFreeSpace() override { return 0; }
    int GetCapacity() override { return 0; }
    std::vector<uint8_t> ReadFile(int) override { return {}; }
    bool RewriteFile(int, const std::vector<uint8_t>&) override { return false; }
    bool CreateFile(const std::string&, const std::vector<uint8_t>&, const FileDate&) override { return false; }
    bool DeleteFile(int) override { return false; }
    bool RenameFile(int, const std::string&) override { return false; }
    std::vector<int> ListFiles(const std::vector<std::string>&, int) override { return {}; }
    std::string GetFileName(int) override { return Name; }
    std::string GetFileExtension(int) override { return Extension; }
    int GetFileSize(int) override { return 0; }
    int FindFile(const std::string&) override { return -1; }
    bool IsValidFilename(const std::string&) override { return true; }
    void Flush() override {}
    std::vector<AttributeDescriptor> GetAttributeList() override {
        return {{"Created", 'C', true, AttrCreated},
                {"Invisible", 'I', true, AttrInvisible},
                {"System", 'S', true, AttrSystem},
                {"Deleted", 'D', false, AttrDeleted}};
    }
    bool HasAttribute(int, uint32_t mask) override { return (Attributes & mask) != 0; }
    void SetAttribute(int, uint32_t, bool) override {}
    char GetExtensionSeparator() override { return Separator; }
    void SetFileName(int, const std::string&) override {}
    std::string GetDOSName(bool) override { return "Stub"; }

    char Separator;
    std::string Name = "GAME";
    std::string Extension = "CMD";
    uint32_t Attributes = 0;
};

struct PatternCase {
    const char* pattern;
    const char* name;
    bool matches;
};

class MatchesPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(MatchesPatternTest, FollowsTheWildcardRules) {
    TStubFileSystem fs('/');
    const PatternCase& c = GetParam();
    EXPECT_EQ(fs.MatchesPattern({c.pattern}, c.name), c.matches) << c.pattern << " against " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchesPatternTest,
    ::testing::Values(PatternCase{"*/CMD", "GAME/CMD", true}, PatternCase{"*", "README/", true},
                      PatternCase{"*", "GAME/CMD", false}, PatternCase{"G??E/*", "GAME/BAS", true},
                      PatternCase{"?", "/", false}, PatternCase{"game/cmd", "GAME/CMD", true},
                      PatternCase{"*/*", "GAME/CMD", true}, PatternCase{"*/*", "README/", true},
                      PatternCase{"G*", "GAME/", true}, PatternCase{"G*", "BAME/", false},
                      PatternCase{"GAME/C?D", "GAME/CMD", true}, PatternCase{"GAME/CM", "GAME/CMD", false},
                      PatternCase{"GAMES/CMD", "GAME/CMD", false}, PatternCase{"*", "", true},
                      PatternCase{"", "", true}, PatternCase{"*/", "/", true}));

TEST(MatchesPattern, AnyPatternOfTheListSuffices) {
    TStubFileSystem fs('/');
    EXPECT_TRUE(fs.MatchesPattern({"*/BAS", "*/CMD"}, "GAME/CMD"));
    EXPECT_FALSE(fs.MatchesPattern({"*/BAS", "*/TXT"}, "GAME/CMD"));
    EXPECT_FALSE(fs.MatchesPattern({}, "GAME/CMD"));
}

TEST(MatchesPattern, UsesTheFileSystemsSeparator) {
    TStubFileSystem fs('.');
    EXPECT_TRUE(fs.MatchesPattern({"*.COM"}, "STAT.COM"));
    EXPECT_FALSE(fs.MatchesPattern({"*/COM"}, "STAT.COM"));
}

TEST(FileNames, FullNameUsesSeparatorHostNameUsesDotAndBothKeepEmptyExtension) {
    TStubFileSystem fs('/');
    EXPECT_EQ(fs.GetFullFileName(0), "GAME/CMD");
    EXPECT_EQ(fs.GetHostFileName(0), "GAME.CMD");
    fs.Extension.clear();
    EXPECT_EQ(fs.GetFullFileName(0), "GAME/");
    EXPECT_EQ(fs.GetHostFileName(0), "GAME.");
}

TEST(FileNames, HostNameNeverCarriesPathSeparatorsOrControlCharacters) {
    TStubFileSystem fs('/');
    fs.Name = "../A\\B";
    fs.Extension = std::string("C\x01\x7F");
    EXPECT_EQ(fs.GetHostFileName(0), ".._A_B.C__");
}

TEST(AttributeLetters, ShowsShownAttributesInListOrderAndNeverDeleted) {
    TStubFileSystem fs('/');
    fs.Attributes = AttrSystem | AttrInvisible | AttrDeleted;
    EXPECT_EQ(fs.GetAttributeLetters(0), "IS");
    fs.Attributes = 0;
    EXPECT_EQ(fs.GetAttributeLetters(0), "");
}

TEST(MapHardDiskSector, HeadIsSectorDividedByThirtyTwo) {
    TStubFileSystem fs('/');
    int track = 5, sector = 70, side = 0;
    fs.MapHardDiskSector(track, sector, side);
    EXPECT_EQ(track, 5);
    EXPECT_EQ(side, 2);
    EXPECT_EQ(sector, 6);
}

TEST(FileDate, SetFromTimeFillsTheLocalCalendar) {
    FileDate date;
    std::time_t now = 0;
    std::tm local{};
    local.tm_year = 1983 - 1900;
    local.tm_mon = 6;
    local.tm_mday = 14;
    local.tm_hour = 13;
    local.tm_min = 5;
    local.tm_sec = 9;
    local.tm_isdst = -1;
    now = std::mktime(&local);
    ASSERT_TRUE(date.SetFromTime(now));
    TRSDOSTest::ExpectDate(date, TRSDOSTest::MakeDate(1983, 7, 14, 13, 5, 9));
}

TEST(Exceptions, CarryTheirMessages) {
    EXPECT_STREQ(TFileSystem::EDiskFull().what(), "Disk full");
    EXPECT_STREQ(TFileSystem::ETooManyFiles().what(), "Too many files");
    EXPECT_STREQ(TFileSystem::EWriteProtected().what(), "Write protected");
    TFileSystem::EFileError error(2);
    EXPECT_EQ(error.ErrorNumber, 2);
    EXPECT_FALSE(std::string(error.what()).empty());
}

}  // namespace
