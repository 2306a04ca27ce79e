// qbox with NEWDOS/80: info shows the drive-parameter table as PDRIVE text.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/QboxRunner.h"

using TestSupport::QboxResult;
using TestSupport::RunQbox;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(QboxNewdosTest, InfoShowsTheDriveParameters) {
    const std::string image = std::string(QB_FIXTURES_DIR) + "/real/jv3-dd40-newdos80-m3-system.dsk";
    if (!std::filesystem::exists(image)) GTEST_SKIP() << "real fixtures absent";
    const std::string pdrive = "TI=A,TD=E,TC=40,SPT=18,TSR=3,GPL=2,DDSL=17,DDGA=2";
    QboxResult text = RunQbox({"info", image});
    ASSERT_EQ(text.Status, 0) << text.Err;
    EXPECT_TRUE(Contains(text.Out, "  File system:  NEWDOS/80\n")) << text.Out;
    EXPECT_TRUE(Contains(text.Out, "  PDRIVE:       " + pdrive + "\n")) << text.Out;
    QboxResult json = RunQbox({"info", image, "--json"});
    ASSERT_EQ(json.Status, 0) << json.Err;
    EXPECT_TRUE(Contains(json.Out, "\"pdrive\":\"" + pdrive + "\"")) << json.Out;
}
