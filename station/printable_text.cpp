#include "station/printable_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace quillon {

namespace {

// One character as it is shown.
struct Glyph {
    std::string text;
    std::size_t width = 0;
};

// The length of the UTF-8 character at text[at], its code point in code; 0
// for bytes that are none (overlong, a surrogate, cut short, past U+10FFFF).
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (next & 0x3F);
    }
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < least || code > 0x10FFFF || surrogate ? 0 : length;
}

// What a terminal acts on (C0, DEL, C1), and what shows nothing or turns a
// line around: soft hyphen, zero widths, bidirectional marks and overrides,
// separators, the byte-order mark, interlinear annotations.
bool Hidden(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0xAD || code == 0x061C ||
           code == 0x180E || (code >= 0x200B && code <= 0x200F) ||
           (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x206F) ||
           code == 0xFEFF || (code >= 0xFFF9 && code <= 0xFFFB);
}

Glyph Escaped(std::string_view bytes) {
    Glyph glyph;
    for (char byte : bytes) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(byte));
        glyph.text += escape;
    }
    glyph.width = glyph.text.size();
    return glyph;
}

std::vector<Glyph> Glyphs(std::string_view text) {
    std::vector<Glyph> glyphs;
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        std::size_t length = DecodeUtf8(text, at, code);
        if (length == 0) {
            glyphs.push_back(Escaped(text.substr(at, 1)));
            ++at;
            continue;
        }
        std::string_view bytes = text.substr(at, length);
        bool looksLikeEscape = code == '\\' && at + 1 < text.size() && text[at + 1] == 'x';
        glyphs.push_back(Hidden(code) || looksLikeEscape ? Escaped(bytes)
                                                         : Glyph{std::string(bytes), 1});
        at += length;
    }
    return glyphs;
}

std::string Joined(std::vector<Glyph>::const_iterator begin,
                   std::vector<Glyph>::const_iterator end) {
    std::string text;
    for (auto glyph = begin; glyph != end; ++glyph) {
        text += glyph->text;
    }
    return text;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::vector<Glyph> glyphs = Glyphs(text);
    return Joined(glyphs.begin(), glyphs.end());
}

std::size_t Columns(std::string_view printable) {
    return static_cast<std::size_t>(std::count_if(printable.begin(), printable.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

std::string ElideMiddle(std::string_view text, std::size_t width) {
    const std::vector<Glyph> glyphs = Glyphs(text);
    std::size_t total = 0;
    for (const Glyph& glyph : glyphs) {
        total += glyph.width;
    }
    if (total <= width) {
        return Joined(glyphs.begin(), glyphs.end());
    }
    const std::size_t budget = width > 3 ? width - 3 : 0;
    auto head = glyphs.begin();
    std::size_t used = 0;
    while (head != glyphs.end() && used + head->width <= budget / 2) {
        used += head++->width;
    }
    auto tail = glyphs.end();
    while (tail != head && used + std::prev(tail)->width <= budget) {
        used += (--tail)->width;
    }
    return Joined(glyphs.begin(), head) + "..." + Joined(tail, glyphs.end());
}

ColumnLabels DistinctLabels(const std::vector<std::string>& names, std::size_t width) {
    std::size_t widest = 0;
    for (const std::string& name : names) {
        widest = std::max(widest, Columns(Printable(name)));
    }
    ColumnLabels labels;
    labels.width = std::min(width, widest);
    // Whole names never read the same, so this ends at the widest; a column
    // that keeps clashing grows faster, so that the rounds stay few.
    for (int round = 0;; ++round) {
        labels.shown.clear();
        std::unordered_map<std::string, const std::string*> named;
        bool clash = false;
        for (const std::string& name : names) {
            labels.shown.push_back(ElideMiddle(name, labels.width));
            auto [seen, added] = named.emplace(labels.shown.back(), &name);
            clash = clash || (!added && *seen->second != name);
        }
        if (!clash || labels.width >= widest) {
            return labels;
        }
        labels.width = std::min(widest, labels.width + (round < 16 ? 1 : labels.width / 4));
    }
}

}  // namespace quillon
