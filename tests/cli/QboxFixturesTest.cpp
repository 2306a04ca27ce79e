// qbox on disks written by the real systems: no image may crash it, and every
// file that `ls -a` lists comes out with `get '*'`.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"

using TestSupport::QboxResult;
using TestSupport::RunQbox;
using TestSupport::TempDir;

namespace {

std::vector<std::string> RealImages() {
    std::vector<std::string> images;
    std::string folder = std::string(QB_FIXTURES_DIR) + "/real";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        images.push_back(entry.path().string());
    }
    std::sort(images.begin(), images.end());
    return images;
}

size_t LineCount(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// Exit 0, or exit 1 with one "qbox: IMAGE: message" line and nothing on stdout.
::testing::AssertionResult CleanOutcome(const QboxResult& result, const std::string& image) {
    if (result.Status == 0) return ::testing::AssertionSuccess();
    if (result.Status == 1 && result.Err.rfind("qbox: " + image + ": ", 0) == 0 && LineCount(result.Err) == 1 &&
        result.Out.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << result.Status << ", stderr: " << result.Err;
}

}  // namespace

TEST(QboxRealImagesTest, InfoListAndExtractEveryFile) {
    std::vector<std::string> images = RealImages();
    if (images.empty()) GTEST_SKIP() << "no real images under " << QB_FIXTURES_DIR;
    for (const std::string& image : images) {
        SCOPED_TRACE(image);
        QboxResult info = RunQbox({"info", image});
        EXPECT_TRUE(CleanOutcome(info, image));
        QboxResult json = RunQbox({"ls", image, "-a", "--json"});
        EXPECT_TRUE(CleanOutcome(json, image));
        EXPECT_EQ(json.Status, info.Status);
        if (info.Status != 0) continue;
        EXPECT_TRUE(CleanOutcome(RunQbox({"info", image, "--json"}), image));

        QboxResult listed = RunQbox({"ls", image, "-a"});
        ASSERT_EQ(listed.Status, 0);
        TempDir out;
        QboxResult extracted = RunQbox({"get", image, "*", "-d", out.str()});
        EXPECT_EQ(extracted.Status, 0) << extracted.Err;
        EXPECT_EQ(out.Names().size(), LineCount(listed.Out));
    }
}

// RSDOS has no name lookup of its own: a plain name still finds its file.
TEST(QboxRealImagesTest, PlainNameFindsAnRSDOSFile) {
    const std::string image = std::string(QB_FIXTURES_DIR) + "/peer/rsdos-1.jv3";
    if (!std::filesystem::exists(image)) GTEST_SKIP() << "no " << image;
    QboxResult byName = RunQbox({"cat", image, "DEMO.DAT"});
    QboxResult byPattern = RunQbox({"cat", image, "DEMO.*"});
    ASSERT_EQ(byName.Status, 0) << byName.Err;
    EXPECT_FALSE(byName.Out.empty());
    EXPECT_EQ(byName.Out, byPattern.Out);
    EXPECT_EQ(RunQbox({"cat", image, "NOSUCH.DAT"}).Status, 1);
}
