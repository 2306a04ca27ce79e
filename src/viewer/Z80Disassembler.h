// Z80 disassembly of load modules: one listing line per instruction, driven by the
// pattern tables of Z80Tables.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace Viewer {

// How an 8-bit immediate that is a printable character (20H..7EH but the apostrophe)
// is shown: as the character between apostrophes (LD A,'X') or as a number (LD A,58H).
// The listing uses this one form throughout.
constexpr bool ShowPrintableImmediatesAsCharacters = true;

struct Z80Instruction {
    std::string Text;                // e.g. "LD       A,05H"
    int Length = 1;                  // 1 to 4 bytes
    std::array<uint8_t, 4> Bytes{};  // the bytes taken, 00H for any past the block's end
};

class Z80Disassembler {
public:
    explicit Z80Disassembler(bool printableImmediatesAsCharacters = ShowPrintableImmediatesAsCharacters)
        : printableImmediatesAsCharacters_(printableImmediatesAsCharacters) {}

    // Address of the instruction at the offset passed to DisassembleInstruction.
    uint16_t CurrentAddress = 0;

    // Decodes the instruction at offset in a load block's data. Bytes past the end read
    // as 00H and count in the length. Never fails: a byte that starts no instruction
    // gives a one-byte DB line.
    Z80Instruction DisassembleInstruction(std::span<const uint8_t> data, size_t offset) const;

private:
    bool printableImmediatesAsCharacters_;
};

// Lists a load module: an ORG line per load block, a line per instruction and an END
// line for the entry point, each line ended by a line feed. Throws the exceptions of
// CMDFile::ParseLoadFile.
std::string DisassembleLoadModule(std::span<const uint8_t> bytes,
                                  bool printableImmediatesAsCharacters = ShowPrintableImmediatesAsCharacters);

// Number forms of the listing: upper-case hexadecimal with a trailing H and a leading 0
// when the first digit is a letter (05H, 0A0H, 5200H, 0A000H).
std::string Hex8(uint8_t value);
std::string Hex16(uint16_t value);

}  // namespace Viewer
