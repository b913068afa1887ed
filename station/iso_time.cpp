#include "station/iso_time.h"

#include <chrono>

namespace quillon {

namespace {

// Reads a text from the left, one part at a time.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool AtEnd() const { return m_at == m_text.size(); }
    bool Take(std::string_view any) {
        if (AtEnd() || any.find(m_text[m_at]) == std::string_view::npos) {
            return false;
        }
        ++m_at;
        return true;
    }
    // Exactly count digits, no sign.
    bool Digits(int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i, ++m_at) {
            if (AtEnd() || m_text[m_at] < '0' || m_text[m_at] > '9') {
                return false;
            }
            value = value * 10 + (m_text[m_at] - '0');
        }
        return true;
    }
    // The digits of a fraction as microseconds; those past them are read and
    // dropped, up to nine.
    bool Fraction(std::int64_t& micros) {
        micros = 0;
        int digits = 0;
        std::int64_t scale = 100000;
        for (; !AtEnd() && m_text[m_at] >= '0' && m_text[m_at] <= '9'; ++m_at, ++digits) {
            micros += (m_text[m_at] - '0') * scale;
            scale /= 10;
        }
        return digits >= 1 && digits <= 9;
    }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

std::optional<std::int64_t> Date(Reader& in) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!in.Digits(4, year) || !in.Take("-") || !in.Digits(2, month) || !in.Take("-") ||
        !in.Digits(2, day)) {
        return std::nullopt;
    }
    std::chrono::year_month_day date{std::chrono::year(year),
                                     std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) {
        return std::nullopt;
    }
    using std::chrono::microseconds;
    return std::chrono::duration_cast<microseconds>(std::chrono::sys_days(date).time_since_epoch())
        .count();
}

// Microseconds since midnight of "06:00", "06:00:30" or "06:00:30.25".
std::optional<std::int64_t> TimeOfDay(Reader& in) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::int64_t fraction = 0;
    if (!in.Digits(2, hour) || !in.Take(":") || !in.Digits(2, minute) || hour > 23 || minute > 59) {
        return std::nullopt;
    }
    if (in.Take(":")) {
        if (!in.Digits(2, second) || second > 59) {
            return std::nullopt;
        }
        if (in.Take(".,") && !in.Fraction(fraction)) {
            return std::nullopt;
        }
    }
    return ((hour * 60LL + minute) * 60 + second) * 1000000 + fraction;
}

// What to add to a local time to make it UTC: "Z", "+02:00", "+0200", "+02".
std::optional<std::int64_t> ZoneToUtc(Reader& in) {
    if (in.AtEnd() || in.Take("Zz")) {
        return 0;
    }
    bool east = in.Take("+");
    if (!east && !in.Take("-")) {
        return std::nullopt;
    }
    int hours = 0;
    int minutes = 0;
    if (!in.Digits(2, hours) || hours > 23) {
        return std::nullopt;
    }
    if (!in.AtEnd()) {
        in.Take(":");
        if (!in.Digits(2, minutes) || minutes > 59) {
            return std::nullopt;
        }
    }
    std::int64_t offset = (hours * 60LL + minutes) * 60 * 1000000;
    return east ? -offset : offset;
}

}  // namespace

std::optional<std::int64_t> ParseIsoTime(std::string_view text) {
    Reader in(text);
    std::optional<std::int64_t> day = Date(in);
    if (!day || in.AtEnd()) {
        return day;
    }
    if (!in.Take("Tt ")) {
        return std::nullopt;
    }
    std::optional<std::int64_t> time = TimeOfDay(in);
    std::optional<std::int64_t> zone = time ? ZoneToUtc(in) : std::nullopt;
    if (!zone || !in.AtEnd()) {
        return std::nullopt;
    }
    return *day + *time + *zone;
}

}  // namespace quillon
