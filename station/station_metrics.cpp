#include "station/station_metrics.h"

#include <cctype>

#include "station/station.h"

namespace quillon {

namespace {

constexpr int kHighestPort = 65535;

// A decimal number of 1 to digits digits, at most highest; no sign, no
// blank, nothing after it.
std::optional<int> DecimalUpTo(const std::string& text, std::size_t digits, int highest) {
    if (text.empty() || text.size() > digits) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value <= highest ? std::optional(value) : std::nullopt;
}

// Four numbers of 0 to 255 with dots between. The server under the
// exporter takes no IPv6 and resolves no names, so neither is offered.
bool IsIpv4Address(const std::string& text) {
    std::size_t from = 0;
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = part < 3 ? text.find('.', from) : text.size();
        if (dot == std::string::npos || !DecimalUpTo(text.substr(from, dot - from), 3, 255)) {
            return false;
        }
        from = dot + 1;
    }
    return true;
}

}  // namespace

std::optional<MetricsEndpoint> ParseMetricsEndpoint(const std::string& text,
                                                    const std::string& name, std::string& error) {
    MetricsEndpoint endpoint;
    std::size_t colon = text.rfind(':');
    std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (colon != std::string::npos) {
        endpoint.address = text.substr(0, colon);
    }
    std::optional<int> number = DecimalUpTo(port, 5, kHighestPort);
    if (!number || *number == 0 || !IsIpv4Address(endpoint.address)) {
        error = name +
                ": [ADDRESS:]PORT, a port from 1 to 65535 and an IPv4 address of this host "
                "(such as 9464 or 127.0.0.1:9464), not " +
                text;
        return std::nullopt;
    }
    endpoint.port = *number;
    return endpoint;
}

const char* SlotActivityName(SlotActivity activity) {
    switch (activity) {
        case SlotActivity::Waiting:
            return "waiting";
        case SlotActivity::Downloading:
            return "downloading";
        case SlotActivity::Erasing:
            return "erasing";
        case SlotActivity::Burning:
            return "burning";
        case SlotActivity::Held:
            return "held";
        case SlotActivity::Paused:
            return "paused";
        case SlotActivity::AdapterGone:
            return "adapter_gone";
    }
    return "waiting";
}

SlotActivity ActivityOfPhase(UpdatePhase phase) {
    switch (phase) {
        case UpdatePhase::Preparing:
        case UpdatePhase::Download:
        case UpdatePhase::Execute:
            return SlotActivity::Downloading;
        case UpdatePhase::Erase:
            return SlotActivity::Erasing;
        case UpdatePhase::Burn:
            return SlotActivity::Burning;
        case UpdatePhase::Starting:
        case UpdatePhase::Waiting:
        case UpdatePhase::Ended:
            break;
    }
    return SlotActivity::Waiting;
}

std::unique_ptr<StationMetrics> ServeStationMetrics(const StationConfig& config,
                                                    std::string& error) {
    error.clear();
    if (!config.metrics) {
        return nullptr;
    }
    std::vector<std::string> slots;
    for (const SlotSpec& slot : config.slots) {
        slots.push_back(slot.name);
    }
    auto metrics = std::make_unique<StationMetrics>(config.stationName, slots, config.version);
    if (!metrics->Listen(*config.metrics, error)) {
        return nullptr;
    }
    return metrics;
}

}  // namespace quillon
