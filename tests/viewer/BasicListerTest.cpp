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
