#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "viewer/CMDFile.h"
#include "viewer/Z80Disassembler.h"

using namespace Viewer;
using Bytes = std::vector<uint8_t>;

namespace {

// The instruction text with its separator collapsed to one blank.
std::string Collapsed(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && !out.empty() && out.back() == ' ') continue;
        out.push_back(c);
    }
    return out;
}

std::vector<std::string> DecodeBlock(const Bytes& data, uint16_t address, bool characters = true) {
    Z80Disassembler disassembler(characters);
    disassembler.CurrentAddress = address;
    std::vector<std::string> texts;
    for (size_t offset = 0; offset < data.size();) {
        const Z80Instruction instruction = disassembler.DisassembleInstruction(data, offset);
        texts.push_back(Collapsed(instruction.Text));
        offset += static_cast<size_t>(instruction.Length);
        disassembler.CurrentAddress = static_cast<uint16_t>(disassembler.CurrentAddress + instruction.Length);
    }
    return texts;
}

std::string HexBytes(const Z80Instruction& instruction) {
    std::string out;
    char buffer[4];
    for (int i = 0; i < instruction.Length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", instruction.Bytes[static_cast<size_t>(i)]);
        out += buffer;
    }
    return out;
}

}  // namespace

TEST(Z80Disassembler, DecodesInstructionSequences) {
    const struct {
        Bytes data;
        uint16_t address;
        std::vector<std::string> texts;
    } cases[] = {
        {{0xDD, 0x21, 0x34, 0x12}, 0, {"LD IX,1234H"}},
        {{0xFD, 0xE9}, 0, {"JP (IY)"}},
        {{0xDD, 0x7E, 0xFE}, 0, {"LD A,(IX-02H)"}},
        {{0xDD, 0xCB, 0x05, 0x46}, 0, {"BIT 0,(IX+05H)"}},
        {{0xFD, 0xCB, 0x80, 0xFE}, 0, {"SET 7,(IY-80H)"}},
        {{0xDD, 0x00}, 0, {"DB 0DDH", "NOP"}},
        {{0xDD, 0x24}, 0, {"DB 0DDH", "INC H"}},
        {{0xFD, 0x6D}, 0, {"DB 0FDH", "LD L,L"}},
        {{0xCB, 0x37}, 0, {"DB 0CBH", "SCF"}},
        {{0xED, 0x00}, 0, {"DB 0EDH", "NOP"}},
        {{0xDD, 0xED, 0x4D}, 0, {"DB 0DDH", "RETI"}},
        {{0xDD, 0xDD, 0xE1}, 0, {"DB 0DDH", "POP IX"}},
        {{0xDD, 0xCB, 0x05, 0x36}, 0, {"DB 0DDH", "RLC L", "LD (HL),00H"}},  // SLAS under a prefix
        {{0xDD, 0x3E, 0x05}, 0, {"DB 0DDH", "LD A,05H"}},  // prefix applied by no token
        {{0xC3}, 0, {"JP 0000H"}},
        {{0x18, 0xFE}, 0x5200, {"JR 5200H"}},
        {{0x10, 0x7F}, 0x5200, {"DJNZ 5281H"}},
        {{0x20, 0x80}, 0x5200, {"JR NZ,5182H"}},
        {{0x38, 0xFD}, 0x0000, {"JR C,0FFFFH"}},
        {{0x3E, 0xA0}, 0, {"LD A,0A0H"}},
        {{0x21, 0xFF, 0x9F}, 0, {"LD HL,9FFFH"}},
        {{0x01, 0x00, 0xA0}, 0, {"LD BC,0A000H"}},
        {{0xDD, 0xEB}, 0, {"EX DE,IX"}},
        {{0xFD, 0xE3}, 0, {"EX (SP),IY"}},
        {{0xDD, 0x29}, 0, {"ADD IX,IX"}},
        {{0xDD, 0x66, 0x03}, 0, {"LD H,(IX+03H)"}},
        {{0xDD, 0x74, 0x7F}, 0, {"LD (IX+7FH),H"}},
        {{0xFD, 0x36, 0xFF, 0x05}, 0, {"LD (IY-01H),05H"}},
        {{0xDD, 0x22, 0x00, 0x40}, 0, {"LD (4000H),IX"}},
        {{0xDD, 0xF9, 0xFD, 0xE5}, 0, {"LD SP,IX", "PUSH IY"}},
        {{0x08, 0x76, 0xE9, 0xEB}, 0, {"EX AF,AF'", "HALT", "JP (HL)", "EX DE,HL"}},
        {{0xCB, 0x06, 0xCB, 0x3F, 0xCB, 0x46, 0xCB, 0xFF}, 0, {"RLC (HL)", "SRL A", "BIT 0,(HL)", "SET 7,A"}},
        {{0xED, 0x43, 0x34, 0x12, 0xED, 0xB0, 0xED, 0x5F}, 0, {"LD (1234H),BC", "LDIR", "LD A,R"}},
        {{0xD3, 0xFF, 0xDB, 0x41}, 0, {"OUT (0FFH),A", "IN A,(41H)"}},  // ports stay numbers
        {{0xC7, 0xCF, 0xFF}, 0, {"RST 0H", "RST 8H", "RST 38H"}},
        {{0xCD, 0x34, 0x12, 0xCA, 0x00, 0xC0}, 0, {"CALL 1234H", "JP Z,0C000H"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeBlock(c.data, c.address), c.texts) << HexBytes({"", static_cast<int>(c.data.size()), {}});
    }
}

TEST(Z80Disassembler, PrintableImmediatesFollowTheChosenForm) {
    const struct {
        Bytes data;
        std::vector<std::string> asCharacters;
        std::vector<std::string> asNumbers;
    } cases[] = {
        {{0x3E, 0x58}, {"LD A,'X'"}, {"LD A,58H"}},
        {{0xFE, 0x20}, {"CP ' '"}, {"CP 20H"}},
        {{0xFE, 0x27}, {"CP 27H"}, {"CP 27H"}},  // the apostrophe itself is never quoted
        {{0xFE, 0x7F}, {"CP 7FH"}, {"CP 7FH"}},
        {{0x3E, 0x58, 0xEF}, {"LD A,58H", "RST 28H"}, {"LD A,58H", "RST 28H"}},
        {{0x06, 0x58, 0xEF}, {"LD B,'X'", "RST 28H"}, {"LD B,58H", "RST 28H"}},  // marker only on LD A,n
        {{0xDD, 0x36, 0x01, 0x41}, {"LD (IX+01H),'A'"}, {"LD (IX+01H),41H"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeBlock(c.data, 0, true), c.asCharacters);
        EXPECT_EQ(DecodeBlock(c.data, 0, false), c.asNumbers);
    }
}

TEST(Z80Disassembler, SeparatorPadsMnemonicsToNineColumns) {
    Z80Disassembler disassembler;
    EXPECT_EQ(disassembler.DisassembleInstruction(Bytes{0x3E, 0x05}, 0).Text, "LD       A,05H");
    EXPECT_EQ(disassembler.DisassembleInstruction(Bytes{0x10, 0x00}, 0).Text, "DJNZ     0002H");
    EXPECT_EQ(disassembler.DisassembleInstruction(Bytes{0xDD}, 0).Text, "DB       0DDH");
    EXPECT_EQ(disassembler.DisassembleInstruction(Bytes{0xC9}, 0).Text, "RET");
}

TEST(Z80Disassembler, BytesPastTheBlockReadAsZeroAndCount) {
    Z80Disassembler disassembler;
    const Z80Instruction jump = disassembler.DisassembleInstruction(Bytes{0xC3}, 0);
    EXPECT_EQ(jump.Length, 3);
    EXPECT_EQ(HexBytes(jump), "C30000");
    const Z80Instruction bit = disassembler.DisassembleInstruction(Bytes{0xDD, 0xCB, 0x05, 0x46}, 0);
    EXPECT_EQ(HexBytes(bit), "DDCB0546");
    EXPECT_EQ(disassembler.DisassembleInstruction(Bytes{0x01}, 7).Text, "NOP");
}

TEST(Z80Disassembler, ListsTheExampleModuleByteForByte) {
    const Bytes module = {0x01, 0x05, 0x00, 0x52, 0x3E, 0x05, 0xC9, 0x02, 0x02, 0x00, 0x52};
    const std::string blanks16(16, ' ');
    const std::string expected =
        blanks16 + "ORG      5200H" + std::string(48 - 30, ' ') + "\n" +
        "5200 3E05       LD       A,05H" + std::string(48 - 30, ' ') + ">.\n" +
        "5202 C9         RET" + std::string(48 - 19, ' ') + "I\n" +
        blanks16 + "END      5200H" + std::string(48 - 30, ' ') + "\n";
    EXPECT_EQ(DisassembleLoadModule(module), expected);
}

TEST(Z80Disassembler, ListsMergedBlocksAndSkipsOtherRecords) {
    const Bytes module = {0x05, 0x02, 'N', 'M', 0x01, 0x03, 0x00, 0x52, 0x00, 0x01, 0x03, 0x01, 0x52,
                          0xC9, 0x02, 0x02, 0x00, 0x52};
    const std::string listing = DisassembleLoadModule(module);
    EXPECT_EQ(listing.find("ORG"), listing.rfind("ORG"));  // merged into one block
    EXPECT_NE(listing.find("\n5201 C9"), std::string::npos);
    EXPECT_THROW(DisassembleLoadModule(Bytes{0x01, 0x03, 0x00, 0x52, 0x00}), CMDFile::EFormatError);
}

namespace {

// Lengths a Z80 gives its documented unprefixed instructions.
int UnprefixedLength(uint8_t op) {
    static const std::set<int> withWord = {0x01, 0x11, 0x21, 0x31, 0x22, 0x2A, 0x32, 0x3A, 0xC2, 0xC3, 0xC4,
                                           0xCA, 0xCC, 0xCD, 0xD2, 0xD4, 0xDA, 0xDC, 0xE2, 0xE4, 0xEA, 0xEC,
                                           0xF2, 0xF4, 0xFA, 0xFC};
    static const std::set<int> withByte = {0x06, 0x0E, 0x16, 0x1E, 0x26, 0x2E, 0x36, 0x3E, 0xC6, 0xCE,
                                           0xD6, 0xDE, 0xE6, 0xEE, 0xF6, 0xFE, 0xD3, 0xDB,
                                           0x10, 0x18, 0x20, 0x28, 0x30, 0x38};
    if (withWord.count(op)) return 3;
    if (withByte.count(op)) return 2;
    return 1;
}

// Lengths of the documented IX/IY forms (plus EX DE,IX); 0 for every other opcode.
int IndexedLength(uint8_t op) {
    static const std::set<int> two = {0x09, 0x19, 0x23, 0x29, 0x2B, 0x39, 0xE1, 0xE3, 0xE5, 0xE9, 0xEB, 0xF9};
    static const std::set<int> three = {0x34, 0x35, 0x46, 0x4E, 0x56, 0x5E, 0x66, 0x6E, 0x7E, 0x70, 0x71,
                                        0x72, 0x73, 0x74, 0x75, 0x77, 0x86, 0x8E, 0x96, 0x9E, 0xA6, 0xAE,
                                        0xB6, 0xBE};
    static const std::set<int> four = {0x21, 0x22, 0x2A, 0x36};
    if (two.count(op)) return 2;
    if (three.count(op)) return 3;
    if (four.count(op)) return 4;
    return 0;
}

// Documented ED instructions and their lengths; 0 for every other opcode.
int EDLength(uint8_t op) {
    static const std::set<int> withWord = {0x43, 0x4B, 0x53, 0x5B, 0x63, 0x6B, 0x73, 0x7B};
    static const std::set<int> plain = {0x40, 0x41, 0x42, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4D, 0x4F,
                                        0x50, 0x51, 0x52, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5E, 0x5F, 0x60, 0x61,
                                        0x62, 0x67, 0x68, 0x69, 0x6A, 0x6F, 0x72, 0x78, 0x79, 0x7A, 0xA0, 0xA1,
                                        0xA2, 0xA3, 0xA8, 0xA9, 0xAA, 0xAB, 0xB0, 0xB1, 0xB2, 0xB3, 0xB8, 0xB9,
                                        0xBA, 0xBB};
    if (withWord.count(op)) return 4;
    if (plain.count(op)) return 2;
    return 0;
}

// Decodes bytes given as exactly the block's data, so that any read past them is caught
// by the sanitizers.
Z80Instruction DecodeExactly(Bytes data) {
    return Z80Disassembler().DisassembleInstruction(data, 0);
}

bool IsByteLine(const Z80Instruction& instruction) { return instruction.Text.rfind("DB ", 0) == 0; }

}  // namespace

TEST(Z80Disassembler, EveryUnprefixedOpcodeHasItsZ80Length) {
    for (int op = 0; op < 256; ++op) {
        if (op == 0xCB || op == 0xDD || op == 0xED || op == 0xFD) continue;
        const int length = UnprefixedLength(static_cast<uint8_t>(op));
        Bytes data = {static_cast<uint8_t>(op), 0x34, 0x12};
        data.resize(static_cast<size_t>(length));
        const Z80Instruction instruction = DecodeExactly(data);
        EXPECT_EQ(instruction.Length, length) << std::hex << op;
        EXPECT_FALSE(IsByteLine(instruction)) << std::hex << op;
    }
}

TEST(Z80Disassembler, EveryCBOpcodeFollowsTheGroupRule) {
    const char* rotations[] = {"RLC", "RRC", "RL", "RR", "SLA", "SRA", "SLAS", "SRL"};
    const char* groups[] = {"", "BIT", "RES", "SET"};
    const char* operands[] = {"B", "C", "D", "E", "H", "L", "(HL)", "A"};
    for (int op = 0; op < 256; ++op) {
        const Z80Instruction instruction = DecodeExactly({0xCB, static_cast<uint8_t>(op)});
        const int group = op >> 6, middle = (op >> 3) & 7, operand = op & 7;
        if (group == 0 && middle == 6) {
            EXPECT_EQ(Collapsed(instruction.Text), "DB 0CBH");
            EXPECT_EQ(instruction.Length, 1);
            continue;
        }
        const std::string expected = group == 0
            ? std::string(rotations[middle]) + " " + operands[operand]
            : std::string(groups[group]) + " " + std::to_string(middle) + "," + operands[operand];
        EXPECT_EQ(Collapsed(instruction.Text), expected) << std::hex << op;
        EXPECT_EQ(instruction.Length, 2) << std::hex << op;
    }
}

TEST(Z80Disassembler, EveryEDOpcodeIsDocumentedOrAByteLine) {
    for (int op = 0; op < 256; ++op) {
        const int length = EDLength(static_cast<uint8_t>(op));
        Bytes data = {0xED, static_cast<uint8_t>(op), 0x34, 0x12};
        if (length != 0) data.resize(static_cast<size_t>(length));
        const Z80Instruction instruction = DecodeExactly(data);
        if (length == 0) {
            EXPECT_EQ(Collapsed(instruction.Text), "DB 0EDH") << std::hex << op;
            EXPECT_EQ(instruction.Length, 1);
        } else {
            EXPECT_FALSE(IsByteLine(instruction)) << std::hex << op;
            EXPECT_EQ(instruction.Length, length) << std::hex << op;
        }
    }
}

TEST(Z80Disassembler, EveryIndexPrefixedOpcodeIsAnIndexFormOrAByteLine) {
    for (const uint8_t prefix : {uint8_t{0xDD}, uint8_t{0xFD}}) {
        const std::string index = prefix == 0xDD ? "IX" : "IY";
        for (int op = 0; op < 256; ++op) {
            if (op == 0xCB) continue;  // the DD CB d op forms follow
            int length = IndexedLength(static_cast<uint8_t>(op));
            Bytes data = {prefix, static_cast<uint8_t>(op), 0x05, 0x06};
            if (length != 0) data.resize(static_cast<size_t>(length));
            const Z80Instruction instruction = DecodeExactly(data);
            if (length == 0) {
                EXPECT_TRUE(IsByteLine(instruction)) << std::hex << int(prefix) << " " << op;
                EXPECT_EQ(instruction.Length, 1);
            } else {
                EXPECT_NE(instruction.Text.find(index), std::string::npos) << std::hex << op;
                EXPECT_EQ(instruction.Length, length) << std::hex << op;
            }
        }
        for (int op = 0; op < 256; ++op) {
            const bool documented = (op & 7) == 6 && (op & 0xF8) != 0x30;
            Bytes data = {prefix, 0xCB, 0x05, static_cast<uint8_t>(op)};
            const Z80Instruction instruction = DecodeExactly(data);
            EXPECT_EQ(instruction.Length, documented ? 4 : 1) << std::hex << op;
            if (documented) {
                EXPECT_NE(instruction.Text.find("(" + index + "+05H)"), std::string::npos);
            }
        }
    }
}

TEST(Z80Disassembler, RandomBytesAlwaysList) {
    std::mt19937 random(8);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        Bytes data(static_cast<size_t>(byte(random)) + 1);
        for (uint8_t& b : data) b = static_cast<uint8_t>(byte(random));
        Z80Disassembler disassembler;
        for (size_t offset = 0; offset < data.size(); ++offset) {
            const Z80Instruction instruction = disassembler.DisassembleInstruction(data, offset);
            ASSERT_GE(instruction.Length, 1);
            ASSERT_LE(instruction.Length, 4);
            ASSERT_FALSE(instruction.Text.empty());
        }
        // As a load module: either a listing or one of the parser's errors.
        data[0] = 0x01;
        try {
            DisassembleLoadModule(data);
        } catch (const CMDFile::Exception&) {
        }
    }
}
