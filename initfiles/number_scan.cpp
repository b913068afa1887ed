#include "initfiles/number_scan.h"

namespace quillon {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::size_t SkipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    return i;
}

// Reads the sign at i, if any; true for a minus.
bool TakeSign(std::string_view text, std::size_t& i) {
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        return text[i++] == '-';
    }
    return false;
}

}  // namespace

std::optional<std::uint32_t> ScanHexField(std::string_view text, int width) {
    std::size_t i = SkipSpace(text);
    std::size_t signStart = i;
    bool negative = TakeSign(text, i);
    int digitsLeft = width - static_cast<int>(i - signStart);
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        i += 2;
    }
    std::uint32_t value = 0;
    int digits = 0;
    while (digits < digitsLeft && i < text.size() && HexDigit(text[i]) >= 0) {
        value = (value << 4) | static_cast<std::uint32_t>(HexDigit(text[i]));
        ++i;
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return negative ? 0u - value : value;
}

std::uint32_t ScanPrefixedHex(std::string_view text) {
    if (text.size() < 2 || text[0] != '0' || text[1] != 'x') {
        return 0;
    }
    std::uint32_t value = 0;
    for (std::size_t i = 2; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = (value << 4) | static_cast<std::uint32_t>(HexDigit(text[i]));
    }
    return value;
}

std::int32_t ScanDecimal(std::string_view text) {
    std::size_t i = SkipSpace(text);
    bool negative = TakeSign(text, i);
    std::uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    }
    return static_cast<std::int32_t>(negative ? 0u - value : value);
}

}  // namespace quillon
