#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::testing {

// A record built the long way, independent of the writer under test.
inline std::string Record(int code, const std::string& payload) {
    std::string bytes;
    std::size_t length = 4 + payload.size();
    bytes += '\xAA';
    bytes += static_cast<char>(code);
    bytes += static_cast<char>((length >> 8) & 0xFF);
    bytes += static_cast<char>(length & 0xFF);
    bytes += payload;
    std::uint32_t sum = 0;
    for (unsigned char c : bytes) {
        sum += c;
    }
    std::uint32_t check = 0u - sum;
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes += static_cast<char>((check >> shift) & 0xFF);
    }
    return bytes;
}

inline std::string Words(const std::vector<std::uint16_t>& values) {
    std::string bytes;
    for (std::uint16_t v : values) {
        bytes += static_cast<char>(v >> 8);
        bytes += static_cast<char>(v & 0xFF);
    }
    return bytes;
}

inline std::string Dword(std::uint32_t v) {
    return Words({static_cast<std::uint16_t>(v >> 16), static_cast<std::uint16_t>(v)});
}

inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace quillon::testing
