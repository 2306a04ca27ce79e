// A text held inside the table entry that names it, for constant tables of names and
// patterns. A pointer in a table of a position-independent program is patched when the
// program starts, a write that makes the page the process's own; a table of inline texts
// needs no patching and stays in the program file's read-only pages until it is used.
// Shared by every layer, like Error.h.
#pragma once

#include <cstddef>
#include <string>

namespace Quarrybox {

// Capacity counts the terminating zero; a literal longer than that does not compile.
template <size_t Capacity>
struct TInlineText {
    char Text[Capacity];

    constexpr const char* c_str() const { return Text; }
    constexpr operator const char*() const { return Text; }
    // A string's + takes no conversion of its right side.
    friend std::string operator+(std::string left, const TInlineText& right) { return left += right.Text; }
};

}  // namespace Quarrybox
