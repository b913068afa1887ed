#include "settings/start_address.h"

#include <cctype>

namespace quillon {

namespace {

int HexDigit(unsigned char c) {
    if (std::isdigit(c)) {
        return c - '0';
    }
    return std::isxdigit(c) ? std::tolower(c) - 'a' + 10 : -1;
}

}  // namespace

std::optional<std::uint32_t> ParseStartAddress(const std::string& text, AddressText rule) {
    std::size_t i = 0;
    if (rule == AddressText::Leading) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
    }
    if (i + 2 < text.size() + (rule == AddressText::Whole ? 0 : 1) && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
    }
    std::uint64_t value = 0;
    std::size_t first = i;
    for (; i < text.size() && HexDigit(static_cast<unsigned char>(text[i])) >= 0; ++i) {
        value =
            value * 16 + static_cast<std::uint64_t>(HexDigit(static_cast<unsigned char>(text[i])));
        if (value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    if (i == first || (rule == AddressText::Whole && i != text.size())) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace quillon
