#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon {

// The number conversions that the boot folder's and the project's text
// files are read with. Hand-written because the C library's scanf counts a
// 0x prefix toward the field width and takes "0x" alone as the number 0,
// which would change the values and the grouping of c_bus.txt.

// A "%0<width>X"-style field: leading white space is skipped; an optional
// sign counts as one of the width characters; an optional 0x or 0X prefix
// does not count; then 1 to width (less the sign) hexadecimal digits. The
// rest of the text is ignored. The value is negated after a minus sign,
// modulo 2^32. No digit gives no number.
std::optional<std::uint32_t> ScanHexField(std::string_view text, int width);

// "0x%x": the text starts with 0x (lower-case x) directly followed by the
// hexadecimal digits; no such start or no digit gives 0. Kept modulo 2^32.
std::uint32_t ScanPrefixedHex(std::string_view text);

// "%d": leading white space, an optional sign, decimal digits; anything
// else gives 0. Kept modulo 2^32.
std::int32_t ScanDecimal(std::string_view text);

}  // namespace quillon
