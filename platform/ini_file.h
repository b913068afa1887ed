#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

// INI reading by the rules of the classic Windows profile reader: sections
// and keys match without regard to case, the first match wins, blanks
// around keys and values are trimmed, a value in matching quotes loses
// them, backslashes are literal, and lines may be of any length. A missing
// file, section or key gives the caller's default, never an error.

// The value cut to bufferSize - 1 characters, as a buffer of that size holds.
std::string IniGetString(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& fallback,
                         std::size_t bufferSize);

// Decimal digits with an optional sign, or 0x and hexadecimal digits, kept
// modulo 2^32. A present value that is no number gives 0.
std::uint32_t IniGetInt(const std::string& path, const std::string& section,
                        const std::string& key, std::uint32_t fallback);

// Every key of a section in file order, first occurrences only.
std::vector<std::pair<std::string, std::string>> IniGetSection(const std::string& path,
                                                                 const std::string& section);

// Sets one key, keeping every other line as it was: replaces the first
// matching key of the first matching section, or adds the key at the end
// of that section, or adds the section at the end of the file. Creates
// the file when it does not exist. Throws FileError when it cannot write.
void IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

}  // namespace quillon
