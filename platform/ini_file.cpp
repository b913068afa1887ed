#include "platform/ini_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "platform/file.h"

namespace quillon {

namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\v\f";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string Unquote(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// One line of an INI file, classified.
struct IniLine {
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;   // section name or key
    std::string value;  // key value, trimmed and unquoted
};

IniLine Classify(const std::string& raw) {
    IniLine line;
    std::string text = Trim(raw);
    if (text.empty() || text[0] == ';') {
        return line;
    }
    if (text[0] == '[') {
        std::size_t close = text.find(']');
        line.kind = IniLine::Section;
        line.name =
            Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return line;
    }
    std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        return line;
    }
    line.kind = IniLine::Key;
    line.name = Trim(text.substr(0, equals));
    line.value = Unquote(Trim(text.substr(equals + 1)));
    return line;
}

std::uint64_t ParseMagnitude(const std::string& text, std::size_t pos, int base, bool& fits) {
    std::uint64_t value = 0;
    for (; pos < text.size(); ++pos) {
        int c = static_cast<unsigned char>(text[pos]);
        int digit = std::isdigit(c)                    ? c - '0'
                    : (base == 16 && std::isxdigit(c)) ? (std::tolower(c) - 'a' + 10)
                                                       : -1;
        if (digit < 0) {
            break;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) {
            fits = false;
            value &= 0xFFFFFFFFu;  // modulo 2^32, as the reader has always kept it
        }
    }
    return value;
}

}  // namespace

std::uint32_t IniParseInt(const std::string& text, bool* fits) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    int base = 10;
    if (text.size() > pos + 2 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[pos + 2]))) {
        base = 16;
        pos += 2;
    }
    bool inRange = true;
    auto value = static_cast<std::uint32_t>(ParseMagnitude(text, pos, base, inRange));
    if (fits != nullptr) {
        *fits = inRange;
    }
    return negative ? 0u - value : value;
}

IniDocument::IniDocument(const std::string& path) : m_path(path) {
    TextFile file;
    if (!file.Open(path, File::Mode::ReadExisting)) {
        return;
    }
    file.LimitTo(kMostBytes);
    try {
        std::string line;
        while (file.ReadLine(line)) {
            if (file.LineTooLong()) {
                m_longLines.push_back(m_lines.size());
            }
            // The file's limit came before this line's end.
            if (file.WasCut() && !m_lineAtLimit) {
                m_lineAtLimit = m_lines.size();
            }
            m_lines.push_back(line);
        }
    } catch (const FileError&) {
        // An unreadable file reads as what could be read: defaults for the rest.
    }
    m_cut = file.WasCut();
}

IniDocument::Located IniDocument::Locate(const std::string& section, const std::string& key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        IniLine line = Classify(m_lines[i]);
        if (line.kind == IniLine::Section) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.kind == IniLine::Key && SameName(line.name, key)) {
            bool tooLong =
                std::find(m_longLines.begin(), m_longLines.end(), i) != m_longLines.end();
            return {line.value, tooLong, m_lineAtLimit == i};
        }
    }
    return {};
}

std::optional<std::string> IniDocument::Find(const std::string& section,
                                             const std::string& key) const {
    return Locate(section, key).value;
}

std::string IniDocument::Problem(const std::string& section, const std::string& key) const {
    Located found = Locate(section, key);
    std::string line = "the line of " + key + " in [" + section + "] of " + m_path;
    if (found.tooLong) {
        return line + " is longer than " + std::to_string(TextFile::kMaxLine) + " bytes";
    }
    if (found.pastLimit) {
        return line + " runs past its first " + std::to_string(kMostBytes) +
               " bytes, all that is read";
    }
    return {};
}

std::vector<std::pair<std::string, std::string>> IniDocument::Section(
    const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> keys;
    bool inSection = false;
    for (const std::string& raw : m_lines) {
        IniLine line = Classify(raw);
        if (line.kind == IniLine::Section) {
            inSection = SameName(line.name, section);
            continue;
        }
        if (!inSection || line.kind != IniLine::Key) {
            continue;
        }
        bool seen = false;
        for (const auto& known : keys) {
            seen = seen || SameName(known.first, line.name);
        }
        if (!seen) {
            keys.emplace_back(line.name, line.value);
        }
    }
    return keys;
}

std::string IniGetString(const std::string& path, const std::string& section,
                         const std::string& key, const std::string& fallback,
                         std::size_t bufferSize) {
    std::string value = IniDocument(path).Find(section, key).value_or(fallback);
    std::size_t room = bufferSize > 0 ? bufferSize - 1 : 0;
    if (value.size() > room) {
        value.resize(room);
    }
    return value;
}

std::uint32_t IniGetInt(const std::string& path, const std::string& section, const std::string& key,
                        std::uint32_t fallback) {
    std::optional<std::string> value = IniDocument(path).Find(section, key);
    return value ? IniParseInt(*value) : fallback;
}

std::vector<std::pair<std::string, std::string>> IniGetSection(const std::string& path,
                                                               const std::string& section) {
    return IniDocument(path).Section(section);
}

namespace {

// Where a key's line goes: the index of the line to replace, or of the
// line to insert before, and whether the section must be added.
struct Placement {
    std::size_t index = 0;
    bool replace = false;
    bool addSection = true;
};

Placement PlaceKey(const std::vector<std::string>& lines, const std::string& section,
                   const std::string& key) {
    Placement place;
    place.index = lines.size();
    bool inSection = false;
    bool sectionDone = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        IniLine line = Classify(lines[i]);
        if (line.kind == IniLine::Section) {
            if (inSection) {
                sectionDone = true;  // only the first matching section counts
            }
            inSection = !sectionDone && SameName(line.name, section);
            if (inSection) {
                place.addSection = false;
                place.index = i + 1;
            }
        } else if (inSection && line.kind == IniLine::Key) {
            if (SameName(line.name, key)) {
                place.index = i;
                place.replace = true;
                return place;
            }
            place.index = i + 1;
        }
    }
    return place;
}

void RemoveQuietly(const std::string& path) {
    try {
        File::Remove(path);
    } catch (const FileError&) {
    }
}

}  // namespace

void IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    IniDocument document(path);
    if (!document.ReadWhole()) {
        throw FileError(path, EFBIG, "cannot rewrite");
    }
    std::vector<std::string> lines = document.Lines();
    Placement place = PlaceKey(lines, section, key);
    std::string entry = key + "=" + value;
    if (place.replace) {
        lines[place.index] = entry;
    } else if (place.addSection) {
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    } else {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.index), entry);
    }
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    // Written beside the file and renamed over it, so that a full disk
    // leaves the old settings whole.
    std::string temporary = path + ".new";
    {
        File out;
        if (!out.Open(temporary, File::Mode::CreateFreshShared)) {
            throw FileError(temporary, out.OpenFault().code, "cannot create");
        }
        try {
            out.Write(text.data(), text.size());
        } catch (...) {
            out.Close();
            RemoveQuietly(temporary);
            throw;
        }
    }
    try {
        File::Replace(temporary, path);
    } catch (...) {
        RemoveQuietly(temporary);
        throw;
    }
}

}  // namespace quillon
