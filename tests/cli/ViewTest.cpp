// qbox view: each rendering of files put on a fresh disk, the first-mode choice, and
// the mistakes users make.
#include <gtest/gtest.h>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"

using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

const std::vector<uint8_t> Module = {0x01, 0x05, 0x00, 0x52, 0x3E, 0x05, 0xC9, 0x02, 0x02, 0x00, 0x52};
const std::vector<uint8_t> Program = {0xFF, 0x2A, 0x68, 0x0A, 0x00, 0xB2, 0x20, 0x22,
                                      0x48, 0x49, 0x22, 0x00, 0x00, 0x00};

class QboxViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "view.dsk";
        ASSERT_EQ(RunQbox({"new", image, "--type", "jv3", "--dos", "trsdos23"}).Status, 0);
        WriteHostBytes(dir / "prog.cmd", Module);
        WriteHostBytes(dir / "hello.bas", Program);
        WriteHostBytes(dir / "notes.txt", {'O', 'N', 'E', '\r', 'T', 'W', 'O', '\r'});
        std::vector<uint8_t> picture(19200, 0x00);
        picture[0] = 0x80;
        WriteHostBytes(dir / "pic.hr", picture);
        for (const char* name : {"prog.cmd", "hello.bas", "notes.txt", "pic.hr"}) {
            ASSERT_EQ(RunQbox({"put", image, dir / name}).Status, 0) << name;
        }
    }
    TempDir dir;
    std::string image;
};

}  // namespace

TEST_F(QboxViewTest, ShowsEachFileInItsFirstModeOrTheOneAskedFor) {
    const std::string pad(18, ' ');
    const struct {
        std::vector<std::string> arguments;
        std::string out;
    } cases[] = {
        {{"prog/cmd"},
         std::string(16, ' ') + "ORG      5200H" + pad + "\n5200 3E05       LD       A,05H" + pad +
             ">.\n5202 C9         RET" + std::string(29, ' ') + "I\n" + std::string(16, ' ') + "END      5200H" +
             pad + "\n"},
        {{"PROG/CMD", "--mode", "hex"},
         "000000:  01 05 00 52 3E 05 C9 02 02 00 52" + std::string(18, ' ') + "...R>.....R" + std::string(5, ' ')},
        {{"hello/bas"}, "10 PRINT \"HI\"\n"},
        {{"notes/txt"}, "ONE\nTWO\n"},
        {{"notes/txt", "-m", "text"}, "ONE\nTWO\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"view", image};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const QboxResult result = RunQbox(arguments);
        EXPECT_EQ(result.Status, 0) << c.arguments[0] << ": " << result.Err;
        EXPECT_EQ(result.Out, c.out) << c.arguments[0];
    }
}

TEST_F(QboxViewTest, WritesPicturesAndOtherOutputToAFile) {
    EXPECT_EQ(RunQbox({"view", image, "pic/hr"}).Status, 2);  // a picture needs -o

    const std::string picture = dir / "pic.pbm";
    ASSERT_EQ(RunQbox({"view", image, "pic/hr", "-o", picture}).Status, 0);
    const std::vector<uint8_t> pbm = ReadHostBytes(picture);
    const std::string header = "P4\n640 480\n";
    ASSERT_EQ(pbm.size(), header.size() + 80u * 480u);
    EXPECT_EQ(std::string(pbm.begin(), pbm.begin() + static_cast<long>(header.size())), header);
    EXPECT_EQ(pbm[header.size()], 0x7F);       // the lit pixel is white, the rest black
    EXPECT_EQ(pbm[header.size() + 80], 0x7F);  // rows are doubled

    const std::string listing = dir / "hello.txt";
    ASSERT_EQ(RunQbox({"view", image, "hello/bas", "-o", listing}).Status, 0);
    EXPECT_EQ(ReadHostBytes(listing), TestSupport::Bytes("10 PRINT \"HI\"\n"));
}

TEST_F(QboxViewTest, ReportsMistakes) {
    const QboxResult fallback = RunQbox({"view", image, "notes/txt", "--mode", "disasm"});
    EXPECT_EQ(fallback.Status, 0);
    EXPECT_EQ(fallback.Out.substr(0, 14), "000000:  4F 4E");
    EXPECT_NE(fallback.Err.find("hexadecimal"), std::string::npos) << fallback.Err;

    EXPECT_EQ(RunQbox({"view", image, "prog/cmd", "--mode", "pictures"}).Status, 2);
    const QboxResult missing = RunQbox({"view", image, "nothere/cmd"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("no such file"), std::string::npos) << missing.Err;
    EXPECT_EQ(RunQbox({"view", image, "prog/cmd", "-o", dir / "no/such/folder/x"}).Status, 1);
}
