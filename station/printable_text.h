#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// Text from outside (an adapter's name, a field of a log) as a terminal or a
// text report may show it: every control character, every character that
// hides itself or turns the line around (U+200B, U+202E) and every byte that
// is no UTF-8 is written as the escapes of its bytes ("\x1b"), so that no
// text can move the cursor, retitle or clear a terminal, or read as another.
// A backslash that comes before an "x" is written "\x5c" so that no text can
// pass itself off as an escape.
std::string Printable(std::string_view text);

// The columns a text that Printable made takes: one a character.
std::size_t Columns(std::string_view printable);

// Printable(text) in at most width columns: when longer, its start and its
// end with "..." between, cut between characters, never inside a character or
// an escape.
std::string ElideMiddle(std::string_view text, std::size_t width);

// Names shown in one column of a table: each elided to the column's width,
// which is widened until no two different names read the same.
struct ColumnLabels {
    std::vector<std::string> shown;  // in the order of the names
    std::size_t width = 0;           // the widest shown, at most the column's
};
ColumnLabels DistinctLabels(const std::vector<std::string>& names, std::size_t width);

}  // namespace quillon
