#include "viewer/Z80Disassembler.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "viewer/CMDFile.h"
#include "viewer/Z80Tables.h"

namespace Viewer {

namespace {

namespace Token = Z80Token;

constexpr uint8_t PrefixIX = 0xDD;
constexpr uint8_t PrefixIY = 0xFD;
constexpr uint8_t PrefixCB = 0xCB;
constexpr uint8_t PrefixED = 0xED;
constexpr uint8_t OpcodeRst28 = 0xEF;

constexpr size_t TextColumn = 16;
constexpr size_t CharactersColumn = 48;
constexpr size_t MinimumMnemonicWidth = 8;

// Takes the instruction's bytes one after another; past the block's end they read as 00H.
class ByteCursor {
public:
    ByteCursor(std::span<const uint8_t> data, size_t offset, Z80Instruction& instruction)
        : data_(data), offset_(offset), instruction_(instruction) {
        instruction_.Length = 0;
    }

    uint8_t Next() {
        const uint8_t value = Peek();
        // No pattern takes more than four bytes; the guard keeps the array safe anyway.
        if (instruction_.Length < static_cast<int>(instruction_.Bytes.size())) {
            instruction_.Bytes[static_cast<size_t>(instruction_.Length)] = value;
        }
        ++instruction_.Length;
        return value;
    }

    uint8_t Peek() const {
        const size_t position = offset_ + static_cast<size_t>(instruction_.Length);
        return position < data_.size() && position >= offset_ ? data_[position] : 0x00;
    }

private:
    std::span<const uint8_t> data_;
    size_t offset_;
    Z80Instruction& instruction_;
};

// Blanks after a mnemonic so that it is at least one blank longer and 8 characters
// long, then one blank more: operands of short mnemonics start 9 characters in.
void AppendSeparator(std::string& text, size_t mnemonicStart) {
    const size_t mnemonicLength = text.size() - mnemonicStart;
    const size_t width = std::max(mnemonicLength + 1, MinimumMnemonicWidth) + 1;
    text.append(width - mnemonicLength, ' ');
}

// Appends one blank, then blanks until the line reaches the column.
void FillToColumn(std::string& output, size_t lineStart, size_t column) {
    output.push_back(' ');
    const size_t length = output.size() - lineStart;
    if (length < column) output.append(column - length, ' ');
}

std::string Displacement(uint8_t d) {
    return d < 0x80 ? "+" + Hex8(d) : "-" + Hex8(static_cast<uint8_t>(0x100 - d));
}

bool IsPrintableImmediate(uint8_t value) {
    return value >= 0x20 && value <= 0x7E && value != '\'';
}

char ListingCharacter(uint8_t value) {
    const uint8_t c = value & 0x7F;
    const bool shown = (c >= 0x20 && c <= 0x5A) || (c >= 0x60 && c <= 0x7A);
    return shown ? static_cast<char>(c) : '.';
}

const char* PatternFor(ByteCursor& cursor, uint8_t prefix, uint8_t& displacement) {
    const uint8_t opcode = cursor.Next();
    if (opcode == PrefixCB) {
        if (prefix != 0) displacement = cursor.Next();  // DD CB d op
        return Z80CBPatterns[cursor.Next()];
    }
    if (opcode == PrefixED) return Z80EDPatterns[cursor.Next()];
    return Z80UnprefixedPatterns[opcode];
}

Z80Instruction DefineByteLine(uint8_t firstByte) {
    Z80Instruction line;
    line.Text = "DB";
    AppendSeparator(line.Text, 0);
    line.Text += Hex8(firstByte);
    line.Length = 1;
    line.Bytes[0] = firstByte;
    return line;
}

void AppendDirectiveLine(std::string& output, const char* directive, uint16_t address) {
    const size_t lineStart = output.size();
    output.append(TextColumn, ' ');
    std::string text = directive;
    AppendSeparator(text, 0);
    output += text + Hex16(address);
    FillToColumn(output, lineStart, CharactersColumn);
    output.push_back('\n');
}

void AppendInstructionLine(std::string& output, uint16_t address, const Z80Instruction& instruction) {
    const size_t lineStart = output.size();
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X ", address);
    output += buffer;
    for (int i = 0; i < instruction.Length; ++i) {
        std::snprintf(buffer, sizeof buffer, "%02X", instruction.Bytes[static_cast<size_t>(i)]);
        output += buffer;
    }
    FillToColumn(output, lineStart, TextColumn);
    output += instruction.Text;
    FillToColumn(output, lineStart, CharactersColumn);
    for (int i = 0; i < instruction.Length; ++i) {
        output.push_back(ListingCharacter(instruction.Bytes[static_cast<size_t>(i)]));
    }
    output.push_back('\n');
}

}  // namespace

std::string Hex8(uint8_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, value >= 0xA0 ? "0%02XH" : "%02XH", value);
    return buffer;
}

std::string Hex16(uint16_t value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, value >= 0xA000 ? "0%04XH" : "%04XH", value);
    return buffer;
}

Z80Instruction Z80Disassembler::DisassembleInstruction(std::span<const uint8_t> data, size_t offset) const {
    Z80Instruction instruction;
    ByteCursor cursor(data, offset, instruction);

    const uint8_t firstByte = cursor.Peek();
    uint8_t prefix = 0;
    if (firstByte == PrefixIX || firstByte == PrefixIY) prefix = cursor.Next();
    const char* const indexName = prefix == PrefixIX ? "IX" : "IY";

    uint8_t displacement = 0;
    const char* pattern = PatternFor(cursor, prefix, displacement);

    bool prefixApplied = false;
    bool hexBeforeRst28 = false;
    size_t mnemonicStart = 0;
    std::string& text = instruction.Text;
    // A pattern is a short zero-terminated literal of the tables.
    for (const char* p = pattern; *p != 0; ++p) {
        const uint8_t token = static_cast<uint8_t>(*p);
        if (token >= Token::FirstMnemonic && token <= Token::LastMnemonic) {
            if (token == Token::ShiftLeftSet) return DefineByteLine(firstByte);
            mnemonicStart = text.size();
            text += Z80Mnemonics[token - Token::FirstMnemonic];
            continue;
        }
        switch (token) {
        case Token::NotInstruction:
            return DefineByteLine(firstByte);
        case Token::HexBeforeRst28:
            hexBeforeRst28 = true;
            break;
        case Token::Separator:
            AppendSeparator(text, mnemonicStart);
            break;
        case Token::Word:
        case Token::JumpWord:
        case Token::CallWord: {
            const uint8_t low = cursor.Next();
            const uint8_t high = cursor.Next();
            text += Hex16(static_cast<uint16_t>(low | (high << 8)));
            break;
        }
        case Token::Byte: {
            const uint8_t value = cursor.Next();
            const bool forceHex = hexBeforeRst28 && cursor.Peek() == OpcodeRst28;
            if (printableImmediatesAsCharacters_ && !forceHex && IsPrintableImmediate(value)) {
                text += '\'';
                text += static_cast<char>(value);
                text += '\'';
            } else {
                text += Hex8(value);
            }
            break;
        }
        case Token::Port:
            text += Hex8(cursor.Next());
            break;
        case Token::Relative: {
            const auto e = static_cast<int8_t>(cursor.Next());
            text += Hex16(static_cast<uint16_t>(CurrentAddress + 2 + e));
            break;
        }
        case Token::PairHL:
            text += prefix != 0 ? indexName : "HL";
            prefixApplied = true;
            break;
        case Token::IndirectHL:
        case Token::IndirectHLEarly:
            if (prefix != 0) {
                if (token == Token::IndirectHL) displacement = cursor.Next();
                text += std::string("(") + indexName + Displacement(displacement) + ")";
            } else {
                text += "(HL)";
            }
            prefixApplied = true;
            break;
        case Token::JumpIndirectHL:
            text += prefix != 0 ? std::string("(") + indexName + ")" : "(HL)";
            prefixApplied = true;
            break;
        case Token::RegisterH:
        case Token::RegisterL:
            // Halves of IX and IY are undocumented: list the prefix as a byte.
            if (prefix != 0) return DefineByteLine(firstByte);
            text += token == Token::RegisterH ? 'H' : 'L';
            break;
        default:
            text += static_cast<char>(token);
            break;
        }
    }
    if (prefix != 0 && !prefixApplied) return DefineByteLine(firstByte);
    return instruction;
}

std::string DisassembleLoadModule(std::span<const uint8_t> bytes, bool printableImmediatesAsCharacters) {
    const std::vector<CMDFile::LoadRecord> records = CMDFile::MergeLoadBlocks(CMDFile::ParseLoadFile(bytes));
    std::string output;
    output.reserve(bytes.size() * 25);
    Z80Disassembler disassembler(printableImmediatesAsCharacters);
    for (const CMDFile::LoadRecord& record : records) {
        if (record.Type == CMDFile::LoadBlockRecord) {
            AppendDirectiveLine(output, "ORG", record.Address);
            disassembler.CurrentAddress = record.Address;
            // Each instruction takes at least one byte, so the walk ends.
            for (size_t offset = 0; offset < record.Data.size();) {
                const Z80Instruction instruction = disassembler.DisassembleInstruction(record.Data, offset);
                AppendInstructionLine(output, disassembler.CurrentAddress, instruction);
                offset += static_cast<size_t>(instruction.Length);
                disassembler.CurrentAddress = static_cast<uint16_t>(disassembler.CurrentAddress + instruction.Length);
            }
        } else if (record.Type == CMDFile::TransferRecord) {
            AppendDirectiveLine(output, "END", record.Address);
        }
    }
    return output;
}

}  // namespace Viewer
