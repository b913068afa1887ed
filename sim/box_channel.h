#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stop_token>

namespace quillon {
class PseudoTerminal;
class SerialLine;
}  // namespace quillon

namespace quillon::sim {

// What the box reads and writes: the master of a pseudo-terminal, a serial
// device, or a line inside this process (sim/in_process_line.h). Reads
// never block.
class BoxChannel {
public:
    enum class Wait { Data, Quiet, Closed };

    virtual ~BoxChannel() = default;
    virtual std::size_t Available() = 0;
    // Until bytes wait, the time is up, or the tool's end is closed.
    virtual Wait WaitInput(std::chrono::milliseconds timeout) = 0;
    // Up to count bytes: 0 when none wait, -1 once the line cannot be read.
    virtual long Read(std::uint8_t* buffer, std::size_t count) = 0;
    // All of them, unless the line fails or a stop comes first.
    virtual bool Send(const std::uint8_t* bytes, std::size_t count,
                      const std::stop_token& stop) = 0;

    static std::unique_ptr<BoxChannel> Over(PseudoTerminal& pty);
    static std::unique_ptr<BoxChannel> Over(SerialLine& device);
};

}  // namespace quillon::sim
