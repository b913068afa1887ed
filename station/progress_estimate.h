#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace quillon {

// How far a download has got on the line, as the worker tells what it has
// written and how much of that cannot have crossed yet (the driver holds
// it, or the line's time says so); between two tellings the line carries
// on at its rate, up to what was written. Not safe for two threads at
// once: its owner guards it.
class ProgressEstimate {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressEstimate(int baud = 0) : m_baud(baud) {}

    void Told(std::uint64_t sent, std::uint64_t inFlight, std::uint64_t total,
              Clock::time_point now);

    std::uint64_t Sent() const { return m_sent; }
    std::uint64_t Total() const { return m_total; }
    // Bytes that have reached the box by now.
    std::uint64_t Reached(Clock::time_point now) const;
    // Bytes a second since the first one went out; 0 until that is known.
    double Rate(Clock::time_point now) const;
    // Seconds until the last byte is on the line; none without a rate.
    std::optional<double> SecondsLeft(Clock::time_point now) const;
    // Where the download band of the bar (0 to 50) stands by bytes reached.
    int BandPosition(Clock::time_point now) const;

private:
    int m_baud;
    std::uint64_t m_sent = 0;     // written to the port
    std::uint64_t m_reached = 0;  // of those, on the line when last told
    std::uint64_t m_total = 0;
    Clock::time_point m_toldAt{};
    Clock::time_point m_firstByte{};
};

}  // namespace quillon
