#include "platform/latency_timer.h"

namespace quillon {

// The serial API cannot reach the timer: the README says where the driver's
// dialog sets it.
LatencyTimer::LatencyTimer(std::string sysfs) : m_sysfs(std::move(sysfs)) {}

LatencyTimer::~LatencyTimer() = default;

std::optional<int> LatencyTimer::Current(const std::string&) const {
    return std::nullopt;
}

bool LatencyTimer::Lower(const std::string&) {
    return false;
}

void LatencyTimer::Restore() {}

std::string LatencyTimer::PathFor(const std::string&) const {
    return {};
}

}  // namespace quillon
