#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon {

// Sees every byte that crosses the serial line, for a trace of the exchange.
class LineTrace {
public:
    virtual ~LineTrace() = default;
    virtual void OnSent(const std::uint8_t* bytes, std::size_t count) = 0;
    virtual void OnReceived(const std::uint8_t* bytes, std::size_t count) = 0;
};

}  // namespace quillon
