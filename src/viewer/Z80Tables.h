// Instruction patterns of the Z80 disassembler: one zero-terminated byte string per
// opcode, made of literal characters and the tokens below.
#pragma once

#include <array>
#include <cstdint>

#include "diskimage/InlineText.h"

namespace Viewer::Z80Token {

constexpr uint8_t End = 0x00;
constexpr uint8_t Separator = 0x20;          // blanks between mnemonic and operands
constexpr uint8_t FirstMnemonic = 0xA0;      // A0H..B4H: one of Z80Mnemonics
constexpr uint8_t LastMnemonic = 0xB4;
constexpr uint8_t ShiftLeftSet = 0xB3;       // the undocumented SLAS, never listed
constexpr uint8_t Word = 0xD0;               // 16-bit data address or value
constexpr uint8_t Byte = 0xD1;               // 8-bit immediate
constexpr uint8_t PairHL = 0xD2;             // HL, IX or IY
constexpr uint8_t Relative = 0xD3;           // relative jump target
constexpr uint8_t IndirectHL = 0xD4;         // (HL), or (IX+d) with the displacement next
constexpr uint8_t RegisterH = 0xD5;          // H; an index-register half under a prefix
constexpr uint8_t RegisterL = 0xD6;          // L; likewise
constexpr uint8_t JumpIndirectHL = 0xD7;     // (HL), (IX) or (IY) without displacement
constexpr uint8_t IndirectHLEarly = 0xD8;    // as IndirectHL, displacement read before the opcode
constexpr uint8_t JumpWord = 0xD9;           // 16-bit jump target
constexpr uint8_t HexBeforeRst28 = 0xDA;     // LD A,n: n in hexadecimal when RST 28H follows
constexpr uint8_t NotInstruction = 0xDB;     // the opcode lists as a DB line
constexpr uint8_t Port = 0xDC;               // 8-bit port, always hexadecimal
constexpr uint8_t CallWord = 0xDE;           // 16-bit call target

}  // namespace Viewer::Z80Token

namespace Viewer {

using Z80PatternTable = std::array<Quarrybox::TInlineText<16>, 256>;

extern const Z80PatternTable Z80UnprefixedPatterns;
extern const Z80PatternTable Z80CBPatterns;
extern const Z80PatternTable Z80EDPatterns;
// Names of the mnemonic tokens, from FirstMnemonic on.
extern const std::array<Quarrybox::TInlineText<5>, 21> Z80Mnemonics;

}  // namespace Viewer
