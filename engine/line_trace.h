#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quillon {

// Sees every byte that crosses the serial line, for a trace of the exchange.
// at: when the bytes were handed to the port (sent), or read from it
// (received).
class LineTrace {
public:
    using Time = std::chrono::steady_clock::time_point;
    virtual ~LineTrace() = default;
    virtual void OnSent(const std::uint8_t* bytes, std::size_t count, Time at) = 0;
    virtual void OnReceived(const std::uint8_t* bytes, std::size_t count, Time at) = 0;
    // Of the bytes received, count were not acted on (noise skipped before a
    // reply, bytes drained after one, a report cut short and dropped), so
    // that a reader of the trace does not take them for replies.
    virtual void OnIgnored(std::size_t count, const char* why) {
        (void)count;
        (void)why;
    }
};

}  // namespace quillon
