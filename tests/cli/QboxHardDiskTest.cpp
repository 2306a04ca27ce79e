// qbox on hard disks laid out as real ones: every partition reachable with -p, names
// without an extension printed without a separator, and a healthy disk checked healthy.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/QboxRunner.h"
#include "common/HardDiskLayouts.h"
#include "common/TempDir.h"

using TestSupport::QboxResult;
using TestSupport::RunQbox;

namespace {

std::vector<std::string> SortedLines(const std::string& text) {
    std::vector<std::string> lines = TestSupport::Lines(text);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace

TEST(QboxHardDisk, EveryPartitionListsItsFilesWithReadableNames) {
    TestSupport::TempDir dir;
    const std::string image = HardDiskTest::BuildLDOSDividedByHeads(dir / "ldos.hdv").Path;

    const QboxResult info = RunQbox({"info", image});
    ASSERT_EQ(info.Status, 0) << info.Err;
    EXPECT_NE(info.Out.find("Partitions:     4"), std::string::npos) << info.Out;

    const QboxResult last = RunQbox({"ls", image, "-p", "3"});
    ASSERT_EQ(last.Status, 0) << last.Err;
    EXPECT_EQ(SortedLines(last.Out), (std::vector<std::string>{"GPICTURE", "NOTES/TXT", "README"}));
    const QboxResult longForm = RunQbox({"ls", image, "-p", "3", "-l", "README"});
    EXPECT_EQ(longForm.Out.rfind("README ", 0), 0u) << longForm.Out;

    // The JSON keeps the full name as the DOS forms it.
    const QboxResult json = RunQbox({"ls", image, "-p", "3", "--json", "README"});
    EXPECT_NE(json.Out.find("\"full_name\":\"README/\""), std::string::npos) << json.Out;

    const QboxResult beyond = RunQbox({"ls", image, "-p", "4"});
    EXPECT_EQ(beyond.Status, 1);
    EXPECT_NE(beyond.Err.find("partition 4 does not exist (the disk has 4 partitions)"), std::string::npos)
        << beyond.Err;

    const QboxResult check = RunQbox({"check", image});
    EXPECT_EQ(check.Status, 0) << check.Out;
}

TEST(QboxHardDisk, PutReachesTheLastNewdosDrive) {
    TestSupport::TempDir dir;
    const std::string image = HardDiskTest::BuildNewdosLogicalDrives(dir / "newdos.hdv").Path;
    TestSupport::WriteHostBytes(dir / "note.txt", TestSupport::Bytes("HELLO\r"));
    const QboxResult put = RunQbox({"put", image, dir / "note.txt", "-p", "7"});
    ASSERT_EQ(put.Status, 0) << put.Err;
    EXPECT_EQ(SortedLines(RunQbox({"ls", image, "-p", "7"}).Out),
              (std::vector<std::string>{"DATA/BIN", "DRIVE7/TXT", "NOTE/TXT"}));
    EXPECT_EQ(SortedLines(RunQbox({"ls", image, "-p", "6"}).Out), (std::vector<std::string>{"DATA/BIN", "DRIVE6/TXT"}));
}
