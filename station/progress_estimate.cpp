#include "station/progress_estimate.h"

#include <algorithm>

namespace quillon {

namespace {

constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr double kLeastSeconds = 0.05;

}  // namespace

void ProgressEstimate::Told(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
                            Clock::time_point now) {
    if (m_sent == 0) {
        m_firstByte = now;
    }
    m_sent = sent;
    m_reached = sent - std::min(sent, inFlight);
    m_toldAt = now;
    m_total = total;
}

std::uint64_t ProgressEstimate::Reached(Clock::time_point now) const {
    double since = std::chrono::duration<double>(now - m_toldAt).count();
    auto carried = static_cast<std::uint64_t>(since * m_baud / kBitsPerByte);
    return std::min(m_sent, m_reached + carried);
}

double ProgressEstimate::Rate(Clock::time_point now) const {
    double seconds = std::chrono::duration<double>(now - m_firstByte).count();
    return seconds > kLeastSeconds ? static_cast<double>(Reached(now)) / seconds : 0.0;
}

std::optional<double> ProgressEstimate::SecondsLeft(Clock::time_point now) const {
    double rate = Rate(now);
    if (rate <= 0) {
        return std::nullopt;
    }
    std::uint64_t reached = std::min(Reached(now), m_total);
    return static_cast<double>(m_total - reached) / rate;
}

int ProgressEstimate::BandPosition(Clock::time_point now) const {
    if (m_total == 0) {
        return 0;
    }
    return static_cast<int>(50 * std::min(Reached(now), m_total) / m_total);
}

}  // namespace quillon
