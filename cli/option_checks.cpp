#include "cli/option_checks.h"

#include <cstdlib>
#include <limits>
#include <string>

#include "station/station_metrics.h"

namespace quillon::cli {

namespace {

bool ParseWhole(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789", text[0] == '-' ? 1 : 0) != std::string::npos ||
        text == "-") {
        return false;
    }
    value = std::stoll(text);
    return true;
}

CLI::Validator WholeNumberCheck(long long least, long long most, std::string wanted) {
    return CLI::Validator(
        [least, most, wanted](std::string& text) -> std::string {
            long long value = 0;
            if (!ParseWhole(text, value) || value < least || value > most) {
                return "must be " + wanted + ", not " + text;
            }
            return {};
        },
        "N");
}

}  // namespace

CLI::Validator WholeNumber(long long least, long long most) {
    return WholeNumberCheck(
        least, most,
        "a whole number from " + std::to_string(least) + " to " + std::to_string(most));
}

CLI::Validator WholeNumberFrom(long long least) {
    return WholeNumberCheck(least, std::numeric_limits<int>::max(),
                            "a whole number, " + std::to_string(least) + " or more");
}

CLI::Validator Seconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            char* end = nullptr;
            double value = std::strtod(text.c_str(), &end);
            if (text.empty() || *end != '\0' || !(value >= 0) || value > 1e9) {
                return "must be a number of seconds, 0 or more, not " + text;
            }
            return {};
        },
        "SECONDS");
}

void AddMetricsOption(CLI::App& command, std::string& endpoint) {
    if (!StationMetricsBuilt()) {
        command.footer(command.get_footer() +
                       "\n\n--metrics, a station's Prometheus metrics, is left out of this "
                       "build: it is served on Linux only.");
        return;
    }
    command
        .add_option("--metrics", endpoint,
                    "Serve the station's Prometheus metrics on /metrics at this port, on "
                    "127.0.0.1 unless an address is given; it has no log-in, so bind it to a "
                    "trusted interface only")
        ->type_name("[ADDRESS:]PORT");
}

}  // namespace quillon::cli
