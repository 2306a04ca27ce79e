// qbox convert, check and export as users run them.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"

using TestSupport::Bytes;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class QboxPowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir / "disk.dsk";
        ASSERT_EQ(RunQbox({"new", image, "--type", "jv1", "--dos", "trsdos23", "--name", "POWER"}).Status, 0);
        WriteHostBytes(dir / "note.txt", Bytes("HELLO FROM THE DISK\r"));
        ASSERT_EQ(RunQbox({"put", image, dir / "note.txt"}).Status, 0);
    }
    TempDir dir;
    std::string image;
};

}  // namespace

TEST_F(QboxPowerTest, ConvertsAmongAllThreeFormatsAndBack) {
    ASSERT_EQ(RunQbox({"convert", image, dir / "a.dmk", "--type", "dmk"}).Status, 0);
    ASSERT_EQ(RunQbox({"convert", dir / "a.dmk", dir / "b.jv3", "--type", "jv3"}).Status, 0);
    QboxResult back = RunQbox({"convert", dir / "b.jv3", dir / "c.jv1", "--type", "jv1"});
    ASSERT_EQ(back.Status, 0) << back.Err;
    EXPECT_EQ(ReadHostBytes(image), ReadHostBytes(dir / "c.jv1"));
    QboxResult cat = RunQbox({"cat", dir / "b.jv3", "NOTE/TXT"});
    EXPECT_EQ(cat.Out, "HELLO FROM THE DISK\r");
    // An existing output is kept unless forced.
    EXPECT_EQ(RunQbox({"convert", image, dir / "a.dmk", "--type", "dmk"}).Status, 1);
    EXPECT_EQ(RunQbox({"convert", image, dir / "a.dmk", "--type", "dmk", "--force"}).Status, 0);
}

TEST_F(QboxPowerTest, RefusedConversionNamesTheSectorAndWritesNothing) {
    const std::string dd = dir / "dd.dsk";
    ASSERT_EQ(RunQbox({"new", dd, "--type", "dmk", "--dos", "ldos", "--density", "double"}).Status, 0);
    QboxResult refused = RunQbox({"convert", dd, dir / "out.jv1", "--type", "jv1"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_TRUE(Contains(refused.Err, "track 0, side 0, sector")) << refused.Err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.jv1"));
}

TEST_F(QboxPowerTest, CheckReportsHealthAndNeverChangesTheImage) {
    const auto before = ReadHostBytes(image);
    QboxResult healthy = RunQbox({"check", image});
    EXPECT_EQ(healthy.Status, 0) << healthy.Out;
    EXPECT_TRUE(Contains(healthy.Out, "healthy"));
    // Mark a granule of an unused track in use in the GAT (track 17, sector 0 of a JV1).
    auto bytes = before;
    bytes[17 * 2560 + 30] |= 0x01;
    WriteHostBytes(image, bytes);
    QboxResult damaged = RunQbox({"check", image, "--json"});
    EXPECT_EQ(damaged.Status, 1);
    EXPECT_TRUE(Contains(damaged.Out, "\"healthy\":false")) << damaged.Out;
    EXPECT_TRUE(Contains(damaged.Out, "track 30, granule 0 is marked used but no file owns it")) << damaged.Out;
    EXPECT_EQ(ReadHostBytes(image), bytes);
}

TEST_F(QboxPowerTest, ExportWritesEveryFileAndAManifest) {
    const std::string out = dir / "export";
    QboxResult result = RunQbox({"export", image, "-d", out});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(ReadHostBytes(out + "/partition0/note.txt"), Bytes("HELLO FROM THE DISK\r"));
    const auto manifest = ReadHostBytes(out + "/manifest.json");
    const std::string text(manifest.begin(), manifest.end());
    EXPECT_TRUE(Contains(text, "\"name\":\"NOTE/TXT\"")) << text;
    EXPECT_TRUE(Contains(text, "\"size\":20")) << text;
    // A second export refuses to overwrite unless forced.
    EXPECT_EQ(RunQbox({"export", image, "-d", out}).Status, 1);
    EXPECT_EQ(RunQbox({"export", image, "-d", out, "--force"}).Status, 0);
}
