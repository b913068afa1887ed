#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quillon {

// Microseconds since 1970-01-01T00:00:00Z of an ISO 8601 date, or date and
// time, in the extended form: "2026-12-09", "2026-12-09T06:00",
// "2026-12-09T06:00:00", a fraction of a second after it (".125" or ",125"),
// and then a zone ("Z", "+02:00", "-0530", "+02") or none, which is UTC as in
// the results log. None for anything else, a day or an hour that does not
// exist included.
std::optional<std::int64_t> ParseIsoTime(std::string_view text);

}  // namespace quillon
