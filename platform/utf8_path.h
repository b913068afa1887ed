#pragma once

#include <filesystem>
#include <string_view>

namespace quillon {

// A path for std::filesystem from our text, which is UTF-8 on every system.
// From char, the library would read it in the ANSI code page on Windows,
// which cannot hold every letter (a boot folder named "Прошивка" is then
// not found); from char8_t it reads UTF-8 everywhere.
inline std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

}  // namespace quillon
