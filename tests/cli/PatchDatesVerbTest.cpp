// qbox patch-dates on copies of the real LDOS and LS-DOS system disks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"

using TestSupport::QboxResult;
using TestSupport::RunQbox;
using TestSupport::TempDir;

namespace {

std::string Fixture(const char* name) { return std::string(QB_FIXTURES_DIR) + "/real/" + name; }

std::string HostBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(QboxPatchDates, ChecksThenPatchesAnLSDOSSystemDisk) {
    const std::string original = Fixture("jv3-dd40-lsdos631-m4-system-level1H.dsk");
    if (!std::filesystem::exists(original)) GTEST_SKIP() << "LS-DOS 6.3.1 fixture absent";
    TempDir folder;
    const std::string image = folder / "lsdos.dsk";
    std::filesystem::copy_file(original, image);

    QboxResult check = RunQbox({"patch-dates", image, "--check"});
    EXPECT_EQ(check.Status, 0) << check.Err;
    EXPECT_TRUE(Contains(check.Out, "variant: 4 (LS-DOS)")) << check.Out;
    EXPECT_TRUE(Contains(check.Out, "kind: 0 (unpatched)")) << check.Out;
    EXPECT_TRUE(Contains(check.Out, "offer: yes")) << check.Out;
    EXPECT_EQ(HostBytes(image), HostBytes(original)) << "--check changed the image";

    QboxResult patch = RunQbox({"patch-dates", image});
    EXPECT_EQ(patch.Status, 0) << patch.Err;
    EXPECT_TRUE(Contains(patch.Out, "patched:")) << patch.Out;

    QboxResult after = RunQbox({"patch-dates", image, "--check"});
    EXPECT_TRUE(Contains(after.Out, "kind: 2 (patched)")) << after.Out;
    EXPECT_TRUE(Contains(after.Out, "offer: no")) << after.Out;
    QboxResult again = RunQbox({"patch-dates", image});
    EXPECT_EQ(again.Status, 0);
    EXPECT_TRUE(Contains(again.Out, "nothing to do")) << again.Out;
}

TEST(QboxPatchDates, RefusesDisksWithoutKnownPatches) {
    struct Row {
        const char* Image;
        const char* Message;
    };
    const Row rows[] = {
        {"jv3-dd40-ldos531-m3-system.dsk", "no date patches apply"},
        {"dmk-sd35-sdonly-trsdos23-m1-system-frehdboot.dmk", "not an LDOS or LS-DOS disk"},
    };
    for (const Row& row : rows) {
        const std::string original = Fixture(row.Image);
        if (!std::filesystem::exists(original)) continue;
        TempDir folder;
        const std::string image = folder / row.Image;
        std::filesystem::copy_file(original, image);
        QboxResult check = RunQbox({"patch-dates", image, "--check"});
        EXPECT_EQ(check.Status, 0) << check.Err;
        EXPECT_TRUE(Contains(check.Out, "offer: no")) << check.Out;
        QboxResult patch = RunQbox({"patch-dates", image});
        EXPECT_EQ(patch.Status, 1) << row.Image;
        EXPECT_TRUE(Contains(patch.Err, row.Message)) << patch.Err;
        EXPECT_EQ(HostBytes(image), HostBytes(original)) << row.Image << " was changed";
    }
}
