#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "viewer/BasicLister.h"

using namespace Viewer;
using Bytes = std::vector<uint8_t>;

namespace {

// A program file with one line holding the statement bytes, and the end marker.
Bytes OneLineProgram(uint16_t lineNumber, const Bytes& statement) {
    Bytes file = {0xFF, 0x00, 0x68, static_cast<uint8_t>(lineNumber & 0xFF), static_cast<uint8_t>(lineNumber >> 8)};
    for (const uint8_t b : statement) file.push_back(b);
    file.resize(file.size() + 3, 0x00);  // end of line, then a zero link
    return file;
}

std::string List(const Bytes& bytes) { return ListBasicProgram(bytes); }

}  // namespace

TEST(BasicLister, ListsTheExampleProgram) {
    const Bytes file = {0xFF, 0x2A, 0x68, 0x0A, 0x00, 0xB2, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00};
    EXPECT_EQ(List(file), "10 PRINT \"HI\"\n");
}

TEST(BasicLister, ExpandsStatementBytes) {
    const struct {
        Bytes statement;
        std::string text;
    } cases[] = {
        {{0x8F, 0x20, 0x41, 0xD5, 0x31, 0x20, 0xCA, 0x20, 0x31, 0x30, 0x30, 0x20, 0x3A, 0x95, 0x20, 0x32, 0x30, 0x30},
         "IF A=1 THEN 100 ELSE 200"},
        {{0x3A, 0x93, 0xFB, 0x58}, "'X"},
        {{0x41, 0x3A, 0x93, 0x58}, "A:REMX"},            // colon and REM without the comment token
        {{0xB2, 0x3A, 0x80}, "PRINT:END"},
        {{0x22, 0xB2, 0x22, 0xB2}, "\"\xB2\"PRINT"},     // no token expansion inside strings
        {{0x22, 0x3A, 0x95, 0x22}, "\":\x95\""},         // nor the ELSE rule
        {{0x93, 0x20, 0xB2}, "REM PRINT"},              // REM text is still scanned for tokens
        {{0x41, 0xD1, 0x32, 0xBC, 0xFA}, "A[2TAB(MID$"},
        {{0xFB, 0xFC, 0xFF, 0x41}, "A"},                 // tokens without a keyword list as nothing
        {{0x3A}, ":"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(List(OneLineProgram(20, c.statement)), "20 " + c.text + "\n");
    }
}

TEST(BasicLister, LineNumbersAndProgramEnd) {
    EXPECT_EQ(List(OneLineProgram(0, {0xB2})), "0 PRINT\n");
    EXPECT_EQ(List(OneLineProgram(65535, {0x41})), "65535 A\n");
    // An unterminated string ends with its line; the next line lists normally.
    const Bytes two = {0xFF, 0, 0, 10, 0, 0x22, 0x41, 0x00, 0, 0, 20, 0, 0x80, 0x00, 0, 0, 0};
    EXPECT_EQ(List(two), "10 \"A\n20 END\n");
    // A line number of 0 followed by 00H ends the program, whatever comes after.
    const Bytes stop = {0xFF, 0, 0, 10, 0, 0x80, 0x00, 0, 0, 0, 0, 0x00, 0x41, 0x42};
    EXPECT_EQ(List(stop), "10 END\n");
}

TEST(BasicLister, TruncatedFilesKeepTheLinesListedSoFar) {
    const Bytes cases[] = {
        {},
        {0xFF},
        {0xFF, 0, 0, 10},
    };
    for (const Bytes& file : cases) EXPECT_EQ(List(file), "");
    EXPECT_EQ(List({0xFF, 0, 0, 10, 0, 0x80, 0x00, 0x00, 0x68}), "10 END\n");
    EXPECT_EQ(List({0xFF, 0, 0, 10, 0, 0x80, 0x00, 0, 0, 20, 0, 0x41}), "10 END\n20 A");
}

TEST(BasicLister, KeywordTableMatchesTheTokens) {
    const struct {
        uint8_t token;
        const char* keyword;
    } rows[] = {{0x80, "END"}, {0x8F, "IF"}, {0x93, "REM"}, {0x95, "ELSE"}, {0xB2, "PRINT"}, {0xBC, "TAB("},
                {0xCA, "THEN"}, {0xCD, "+"}, {0xD1, "["}, {0xD5, "="}, {0xD7, "SGN"}, {0xF0, "CSNG"},
                {0xFA, "MID$"}, {0xFB, ""}, {0xFF, ""}};
    for (const auto& row : rows) EXPECT_STREQ(BasicKeywords[row.token - 0x80], row.keyword) << std::hex << int(row.token);
}

TEST(BasicLister, RandomBytesAlwaysList) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 300; ++round) {
        Bytes data(static_cast<size_t>(byte(random)));
        for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random) % 4 == 0 ? 0 : byte(random));
        if (!data.empty()) data[0] = 0xFF;
        const std::string listing = ListBasicProgram(data);
        EXPECT_LE(listing.size(), data.size() * 8 + 8);
    }
}

namespace {

// A Color BASIC program file: FFH, the program's length and its lines, each with a
// big-endian link and line number, then the zero link that ends the program.
Bytes ColorProgram(const std::vector<std::pair<uint16_t, Bytes>>& lines) {
    Bytes program;
    uint16_t address = 0x2601;
    for (const auto& [number, statement] : lines) {
        address = static_cast<uint16_t>(address + 4 + statement.size() + 1);
        program.insert(program.end(), {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address & 0xFF),
                                       static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number & 0xFF)});
        program.insert(program.end(), statement.begin(), statement.end());
        program.push_back(0x00);
    }
    program.insert(program.end(), {0x00, 0x00});
    const uint8_t header[] = {0xFF, static_cast<uint8_t>(program.size() >> 8),
                              static_cast<uint8_t>(program.size() & 0xFF)};
    program.insert(program.begin(), std::begin(header), std::end(header));
    return program;
}

Bytes Ascii(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes joined;
    for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

}  // namespace

TEST(ColorBasicLister, ListsAProgramAsTheCoCoWould) {
    const Bytes file = ColorProgram({
        // 10 PRINT "HI":X=RND(6)
        {10, Join({{0x87, ' '}, Ascii("\"HI\":X"), {0xB3, 0xFF, 0x84}, Ascii("(6)")})},
        // 20 IF X>3 THEN 10 ELSE 30 'C : the colons before ELSE and the apostrophe are stored, not shown
        {20, Join({{0x85, ' ', 'X', 0xB2}, Ascii("3 "), {0xA7}, Ascii(" 10 :"), {0x84}, Ascii(" 30 :"), {0x83},
                   Ascii("C")})},
        // 300 LINE(0,0)-(9,9),PSET
        {300, Join({{0xBB}, Ascii("(0,0)"), {0xAC}, Ascii("(9,9),"), {0xBD}})},
        // 65535 HCLS:A=LPEEK(0):DIR
        {65535, Join({{0xE6, ':', 'A', 0xB3, 0xFF, 0xA8}, Ascii("(0):"), {0xCE}})},
    });
    EXPECT_EQ(ListColorBasicProgram(file),
              "10 PRINT \"HI\":X=RND(6)\n"
              "20 IF X>3 THEN 10 ELSE 30 'C\n"
              "300 LINE(0,0)-(9,9),PSET\n"
              "65535 HCLS:A=LPEEK(0):DIR\n");
}

TEST(ColorBasicLister, StatementBytes) {
    const struct {
        Bytes statement;
        std::string text;
    } cases[] = {
        {{0x22, 0x87, 0x22, 0x87}, "\"\x87\"PRINT"},     // no token expansion inside strings
        {{0x84, ' ', 0x83}, "ELSE '"},                 // without their colons they list as themselves
        {{0x3A, 0x3A, 0x84}, ":ELSE"},                 // only the colon right before ELSE is hidden
        {{'A', 0xF9, 0xFF, 0xAD, 'B'}, "AB"},           // tokens without a keyword list as nothing
        {{'A', 0xFF}, "A"},                            // a prefix at the line's end keeps the end
        {{0xFF, 'X'}, "X"},                            // a prefix before a plain byte takes only itself
        {{0xAF, 0xB5, 0xCD, 0xE1, 0xF8}, "^DELUSINGDOSATTR"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListColorBasicProgram(ColorProgram({{5, c.statement}})), "5 " + c.text + "\n");
    }
    // The prefix at the line's end must not swallow the end of the line.
    EXPECT_EQ(ListColorBasicProgram(ColorProgram({{1, {'A', 0xFF}}, {2, {0x8A}}})), "1 A\n2 END\n");
}

TEST(ColorBasicLister, ProgramEndAndTruncation) {
    // A zero link ends the program, whatever comes after.
    Bytes file = ColorProgram({{10, {0x8A}}});
    file.insert(file.end(), {0x26, 0x10, 0x00, 0x14, 0x87, 0x00});
    EXPECT_EQ(ListColorBasicProgram(file), "10 END\n");
    // Line number 0 is an ordinary line here.
    EXPECT_EQ(ListColorBasicProgram(ColorProgram({{0, {0x87}}})), "0 PRINT\n");
    for (const Bytes& truncated : {Bytes{}, Bytes{0xFF, 0x00}, Bytes{0xFF, 0x00, 0x05, 0x26}}) {
        EXPECT_EQ(ListColorBasicProgram(truncated), "");
    }
    const Bytes cut = {0xFF, 0, 20, 0x26, 0x0A, 0, 10, 0x8A, 0x00, 0x26, 0x10, 0, 20, 'A'};
    EXPECT_EQ(ListColorBasicProgram(cut), "10 END\n20 A");
}

TEST(ColorBasicLister, KeywordTablesMatchTheTokens) {
    const struct {
        uint8_t token;
        const char* keyword;
    } statements[] = {{0x80, "FOR"}, {0x82, "REM"}, {0x87, "PRINT"}, {0x8A, "END"}, {0xA4, "TAB("},
                      {0xAF, "^"},   {0xB3, "="},   {0xB5, "DEL"},   {0xCD, "USING"}, {0xCE, "DIR"},
                      {0xE1, "DOS"}, {0xE2, "WIDTH"}, {0xF8, "ATTR"}};
    for (const auto& row : statements) {
        EXPECT_STREQ(ColorBasicStatements[row.token - 0x80], row.keyword) << std::hex << int(row.token);
    }
    const struct {
        uint8_t token;
        const char* keyword;
    } functions[] = {{0x80, "SGN"}, {0x8D, "JOYSTK"}, {0x93, "MEM"}, {0x94, "ATN"}, {0x9F, "TIMER"},
                     {0xA1, "STRING$"}, {0xA2, "CVN"}, {0xA7, "AS"}, {0xA8, "LPEEK"}, {0xAC, "ERLIN"}};
    for (const auto& row : functions) {
        EXPECT_STREQ(ColorBasicFunctions[row.token - 0x80], row.keyword) << std::hex << int(row.token);
    }
}

TEST(ColorBasicLister, RandomBytesAlwaysList) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 300; ++round) {
        Bytes data(static_cast<size_t>(byte(random)));
        for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random) % 4 == 0 ? 0 : byte(random));
        if (!data.empty()) data[0] = 0xFF;
        EXPECT_LE(ListColorBasicProgram(data).size(), data.size() * 8 + 8);
    }
}
