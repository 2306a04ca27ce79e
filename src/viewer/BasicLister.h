// Listing of tokenised TRS-80 BASIC programs.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace Viewer {

// Keyword of each token byte 80H..FFH, indexed by token - 80H. FBH..FFH are empty.
extern const std::array<const char*, 128> BasicKeywords;

constexpr uint8_t BasicFileMarker = 0xFF;

// One line per program line: the line number, a blank and the statement text with every
// token expanded, ended by a line feed. Never fails: a truncated file lists its complete
// lines.
std::string ListBasicProgram(std::span<const uint8_t> bytes);

}  // namespace Viewer
