#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "sim/box_channel.h"

namespace quillon::sim {

// The box's end of the line, over a pty master or an open device. What is
// read is put on an absolute schedule at the baud rate, 10 bits a byte, and
// the box waits once a record for the time at which a real line would have
// brought its last byte: never sooner, and with one wake-up a record.
class BoxLink {
public:
    enum class Wait { Data, Quiet, Closed, Stopped };

    BoxLink(BoxChannel& channel, int baud, std::stop_token stop);

    Wait WaitInput(std::chrono::milliseconds timeout);
    // Up to count bytes that have come (at least one unless the wait failed).
    Wait Read(std::uint8_t* buffer, std::size_t count, std::size_t& got,
              std::chrono::milliseconds timeout);
    // All count bytes; Quiet when the line falls silent for gap before them.
    Wait ReadExact(std::uint8_t* buffer, std::size_t count, std::chrono::milliseconds gap);
    // Until the bytes read so far would have crossed the line; false when a
    // stop came first.
    bool AwaitSchedule();
    // Throws input away until the line has been quiet for quiet.
    Wait DrainUntilQuiet(std::chrono::milliseconds quiet);
    bool Send(const std::vector<std::uint8_t>& bytes);
    // false when a stop came first.
    bool Sleep(std::chrono::steady_clock::duration length);
    bool Stopped() const { return m_stop.stop_requested(); }

private:
    using Clock = std::chrono::steady_clock;

    Clock::duration ByteTime() const;

    BoxChannel& m_channel;
    int m_baud;
    std::stop_token m_stop;
    Clock::time_point m_lineFree{};       // when the last byte taken had fully arrived
    Clock::time_point m_arrivedNoSooner;  // the line was last seen empty just before this
};

}  // namespace quillon::sim
