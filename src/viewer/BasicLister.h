// Listing of tokenised BASIC programs: TRS-80 BASIC, and the Color Computer's
// Color BASIC (with its Extended, Disk and Super Extended keywords).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "diskimage/InlineText.h"

namespace Viewer {

using BasicKeyword = Quarrybox::TInlineText<21>;

// Keyword of each token byte 80H..FFH, indexed by token - 80H. FBH..FFH are empty.
extern const std::array<BasicKeyword, 128> BasicKeywords;

// Color BASIC keywords. Statements and operators are one byte, 80H..F8H, indexed by
// token - 80H; functions are FFH followed by 80H..ACH, indexed by the second byte - 80H.
extern const std::array<BasicKeyword, 0xF9 - 0x80> ColorBasicStatements;
extern const std::array<BasicKeyword, 0xAD - 0x80> ColorBasicFunctions;

constexpr uint8_t BasicFileMarker = 0xFF;
// A Color BASIC program file: FFH, then the program's length (big-endian), then its lines.
constexpr size_t ColorBasicHeaderSize = 3;

// One line per program line: the line number, a blank and the statement text with every
// token expanded, ended by a line feed. Never fails: a truncated file lists its complete
// lines.
std::string ListBasicProgram(std::span<const uint8_t> bytes);
// The same for a Color BASIC program file, whose line links and numbers are big-endian
// and whose program ends at a zero link.
std::string ListColorBasicProgram(std::span<const uint8_t> bytes);

}  // namespace Viewer
