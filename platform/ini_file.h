#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

// INI reading by the rules of the classic Windows profile reader: sections
// and keys match without regard to case, the first match wins, blanks
// around keys and values are trimmed, a value in matching quotes loses
// them, backslashes are literal, and lines may be of any length. A missing
// file, section or key gives the caller's default, never an error.

// A file is read to its first MiB at most, and a line to TextFile::kMaxLine:
// a settings file is a few hundred bytes, and one of a gigabyte (without
// a line end, say) must cost neither the memory nor the time to hold it.

// One reading of a file, for asking many keys of it.
class IniDocument {
public:
    static constexpr std::uint64_t kMostBytes = 1 << 20;

    explicit IniDocument(const std::string& path);

    const std::string& Path() const { return m_path; }
    // The value, whole; none when the file, section or key is missing.
    std::optional<std::string> Find(const std::string& section, const std::string& key) const;
    // Every key of a section in file order, first occurrences only.
    std::vector<std::pair<std::string, std::string>> Section(const std::string& section) const;
    // Why the key's value cannot be used, empty when it can: its line was
    // longer than a line may be, or ran past the part of the file that is
    // read, and the value is cut.
    std::string Problem(const std::string& section, const std::string& key) const;
    // Whether the file was read whole, every line of it: only such a file
    // may be rewritten. A key in the part not read takes its default.
    bool ReadWhole() const { return !m_cut && m_longLines.empty(); }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    struct Located {
        std::optional<std::string> value;
        bool tooLong = false;
        bool pastLimit = false;
    };
    Located Locate(const std::string& section, const std::string& key) const;

    std::string m_path;
    std::vector<std::string> m_lines;
    std::vector<std::size_t> m_longLines;  // indexes of lines that were cut
    bool m_cut = false;
    // The line that the limit of the file cut, if one did.
    std::optional<std::size_t> m_lineAtLimit;
};

// The integer reader's value of a text: decimal digits with an optional
// sign, or 0x and hexadecimal digits, kept modulo 2^32; 0 for no number.
// fits is set false when the number needs more than 32 bits.
std::uint32_t IniParseInt(const std::string& text, bool* fits = nullptr);

// The value cut to bufferSize - 1 characters, as a buffer of that size holds.
std::string IniGetString(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& fallback,
                         std::size_t bufferSize);

// Decimal digits with an optional sign, or 0x and hexadecimal digits, kept
// modulo 2^32. A present value that is no number gives 0.
std::uint32_t IniGetInt(const std::string& path, const std::string& section, const std::string& key,
                        std::uint32_t fallback);

// Every key of a section in file order, first occurrences only.
std::vector<std::pair<std::string, std::string>> IniGetSection(const std::string& path,
                                                               const std::string& section);

// Sets one key, keeping every other line as it was: replaces the first
// matching key of the first matching section, or adds the key at the end
// of that section, or adds the section at the end of the file. Creates
// the file when it does not exist. Throws FileError when it cannot write,
// or (EFBIG) when the file could not be read whole: rewriting it would cut
// what was not read.
void IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

}  // namespace quillon
