#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon {

// The start address as a person types it, in hexadecimal. Two rules, for
// two places:
// - Whole: the command line's option. The text is the number and nothing
//   else (an optional 0x, hexadecimal digits), so that a slip of the
//   fingers is refused rather than read as another address.
// - Leading: the System Setting dialog's field, read as "%x" reads it:
//   blanks and 0x skipped, digits up to the first other character.
// Either way a number that needs more than 32 bits is refused, never cut:
// none is returned.
enum class AddressText { Whole, Leading };
std::optional<std::uint32_t> ParseStartAddress(const std::string& text, AddressText rule);

}  // namespace quillon
