#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/ViewerModes.h"

using namespace Viewer;
using Bytes = std::vector<uint8_t>;
using enum ViewMode;

TEST(ViewerModes, FirstMatchingRowChoosesTheModes) {
    const Bytes edtasm = {0xB0, 0xB0, 0xB1, 0xB0, 0xB0, 0x20, 'N', 'O', 'P', 0x0D};
    const Bytes basic = {0xFF, 0x00, 0x68, 0x0A, 0x00, 0x80, 0x00, 0x00, 0x00};
    const Bytes module = {0x01, 0x03, 0x00, 0x52, 0xC9, 0x02, 0x02, 0x00, 0x52};
    const Bytes text = {'H', 'I', 0x0D};
    // FFH, a big-endian length of 5, then 10 END and the zero link.
    const Bytes colorBasic = {0xFF, 0x00, 0x08, 0x26, 0x07, 0x00, 0x0A, 0x8A, 0x00, 0x00, 0x00};
    const Bytes picture(FullScreenPictureSize, 0x55);
    const struct {
        const char* name;
        const Bytes& bytes;
        std::string extension;
        int family;
        bool looksLikeText;
        std::vector<ViewMode> modes;
    } cases[] = {
        {"picture", picture, "HR", FamilyTRSDOS, false, {Graphics, Hexadecimal}},
        {"picture on CP/M", picture, "HR", FamilyCPM, false, {Hexadecimal, Text}},
        {"edtasm", edtasm, "ASM", FamilyTRSDOS, true, {EDTASM, Hexadecimal}},
        {"edtasm on RSDOS", edtasm, "ASM", FamilyRSDOS, true, {Text, Hexadecimal}},
        {"basic", basic, "BAS", FamilyTRSDOS, false, {BASIC, Hexadecimal}},
        {"color basic", colorBasic, "BAS", FamilyRSDOS, false, {BASIC, Hexadecimal}},
        {"color basic look-alike on CP/M", colorBasic, "BAS", FamilyCPM, false, {Hexadecimal, Text}},
        {"trs-80 basic on RSDOS", basic, "BAS", FamilyRSDOS, false, {Hexadecimal, Text}},
        {"module", module, "CMD", FamilyTRSDOS, false, {Disassembly, Hexadecimal, Text}},
        {"module on CP/M", module, "COM", FamilyCPM, false, {Hexadecimal, Text}},
        {"text", text, "TXT", FamilyCPM, true, {Text, Hexadecimal}},
        {"binary", Bytes{0x00, 0x99}, "DAT", FamilyTRSDOS, false, {Hexadecimal, Text}},
        {"empty text", Bytes{}, "TXT", FamilyTRSDOS, true, {Hexadecimal, Text}},
    };
    for (const auto& c : cases) {
        const ViewedFile file{c.bytes, c.extension, c.family, c.looksLikeText};
        EXPECT_EQ(ChooseViewModes(file), c.modes) << c.name;
    }
}

TEST(ViewerModes, GraphicsTestByExtensionAndSize) {
    const struct {
        std::string extension;
        size_t size;
        bool graphics;
    } cases[] = {
        {"HR", 19200, true},   {"HRG", 19200, true},  {"HRX", 19200, false}, {"HR", 12288, true},
        {"HRX", 12288, true},  {"HRG", 12288, false}, {"HR", 100, false},    {"SHR", 5, true},
        {"CHR", 0, true},      {"hr", 19200, false},  {"TXT", 19200, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsGraphicsFile(c.extension, c.size), c.graphics) << c.extension << c.size;
}

TEST(ViewerModes, EdtasmAndBasicTests) {
    EXPECT_TRUE(IsEdtasmSource(Bytes{0xD3, 1, 2, 3, 4, 5, 6, 0xB0, 0xB9, 0xB0, 0xB0, 0xB0, 0x09}));
    EXPECT_FALSE(IsEdtasmSource(Bytes{0xD3, 1, 2, 3, 4, 5, 6, 0xB0, 0xB9, 0xB0, 0xB0, 0xB0}));  // too short
    EXPECT_FALSE(IsEdtasmSource(Bytes{0xB0, 0xB0, 0xBA, 0xB0, 0xB0, 0x20}));
    EXPECT_FALSE(IsEdtasmSource(Bytes{0xB0, 0xB0, 0xB0, 0xB0, 0xB0, 0x41}));
    EXPECT_FALSE(IsEdtasmSource(Bytes{}));

    EXPECT_TRUE(IsBasicProgram(Bytes{0xFF, 0x00, 0x85}));
    EXPECT_FALSE(IsBasicProgram(Bytes{0xFF, 0x01, 0x85}));
    EXPECT_FALSE(IsBasicProgram(Bytes{0xFF, 0x00}));
    EXPECT_FALSE(IsBasicProgram(Bytes{0xFE, 0x00, 0x68}));

    // The length counts the program, or the whole file as some tools write it.
    EXPECT_TRUE(IsColorBasicProgram(Bytes{0xFF, 0x00, 0x02, 0x00, 0x00}));
    EXPECT_TRUE(IsColorBasicProgram(Bytes{0xFF, 0x00, 0x05, 0x00, 0x00}));
    EXPECT_FALSE(IsColorBasicProgram(Bytes{0xFF, 0x00, 0x06, 0x00, 0x00}));
    EXPECT_FALSE(IsColorBasicProgram(Bytes{0xFF, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(IsColorBasicProgram(Bytes{0xFF, 0x00}));
    EXPECT_FALSE(IsColorBasicProgram(Bytes{0x00, 0x00, 0x02, 0x00, 0x00}));
}

TEST(ViewerModes, RenderViewProducesEachModeAndFallsBackToHex) {
    const Bytes module = {0x01, 0x03, 0x00, 0x52, 0xC9, 0x02, 0x02, 0x00, 0x52};
    const ViewedFile file{module, "CMD", FamilyTRSDOS, false};
    Rendering rendering = RenderView(Disassembly, file);
    EXPECT_EQ(rendering.Mode, Disassembly);
    EXPECT_NE(rendering.Text.find("RET"), std::string::npos);

    const Bytes broken = {0x01, 0x03, 0x00, 0x52, 0xC9};
    rendering = RenderView(Disassembly, ViewedFile{broken, "CMD", FamilyTRSDOS, false});
    EXPECT_EQ(rendering.Mode, Hexadecimal);
    EXPECT_EQ(rendering.Text.substr(0, 11), "000000:  01");

    rendering = RenderView(Graphics, file);
    EXPECT_EQ(rendering.Image.Height, 480);
    EXPECT_TRUE(rendering.Text.empty());

    EXPECT_EQ(RenderView(Text, ViewedFile{Bytes{'A', '\t', 'B'}, "TXT", FamilyTRSDOS, true}).Text, "A       B");

    // BASIC follows the machine of the file system: the same bytes list as Color BASIC on RSDOS.
    const Bytes program = {0xFF, 0x00, 0x08, 0x26, 0x07, 0x00, 0x0A, 0x87, 0x00, 0x00, 0x00};
    EXPECT_EQ(RenderView(BASIC, ViewedFile{program, "BAS", FamilyRSDOS, false}).Text, "10 PRINT\n");
    EXPECT_EQ(RenderView(BASIC, ViewedFile{program, "BAS", FamilyTRSDOS, false}).Text, "1830 \n");
}

TEST(ViewerModes, Labels) {
    const std::pair<ViewMode, std::string> labels[] = {{Hexadecimal, "Hexadecimal"}, {Graphics, "Graphics"},
                                                       {EDTASM, "EDTASM"},           {BASIC, "BASIC"},
                                                       {Text, "Text"},               {Disassembly, "Disassembly"}};
    for (const auto& [mode, label] : labels) EXPECT_EQ(ViewModeLabel(mode), label);
}

TEST(ViewerModes, KindOfFileFollowsTheNameConventions) {
    struct Case {
        const char* Extension;
        size_t Size;
        int Family;
        FileKind Kind;
    };
    const Case cases[] = {
        {"CMD", 100, FamilyTRSDOS, FileKind::Program},
        {"com", 100, FamilyCPM, FileKind::Program},
        {"BIN", 100, FamilyRSDOS, FileKind::Program},
        {"BAS", 100, FamilyTRSDOS, FileKind::BASIC},
        {"TXT", 100, FamilyCPM, FileKind::Text},
        {"ASM", 100, FamilyCPM, FileKind::AssemblerSource},
        {"SRC", 100, FamilyTRSDOS, FileKind::AssemblerSource},
        {"CHR", 100, FamilyTRSDOS, FileKind::Picture},
        {"HR", 19200, FamilyTRSDOS, FileKind::Picture},
        {"HR", 100, FamilyTRSDOS, FileKind::Data},  // a picture has a screen's size
        {"DAT", 100, FamilyTRSDOS, FileKind::Data},
        {"", 0, FamilyTRSDOS, FileKind::Data},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KindOfFile(c.Extension, c.Size, c.Family), c.Kind) << c.Extension << " " << c.Size;
    }
}
