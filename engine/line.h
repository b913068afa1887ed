#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "platform/fault.h"

namespace quillon {

// The byte line to a box, as SerialPort uses it: the serial line to a
// device, or a line inside this process to the box emulator. Reads never
// block; a wait ends at once on a stop request or a hang-up. A line is
// closed when it is destroyed.
class Line {
public:
    enum class Wait { Readable, TimedOut, Stopped, Gone };

    virtual ~Line() = default;

    // false when the device cannot be opened: LastFault() says why, and
    // IsGone() whether there is no device at that name.
    virtual bool Open(const std::string& device, int baud) = 0;
    // Whatever has arrived, up to count bytes; 0 when nothing has.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Gives up after timeout in all; the count that got out.
    virtual std::size_t Write(const void* buffer, std::size_t count,
                              std::chrono::milliseconds timeout) = 0;
    virtual Wait WaitReadable(std::chrono::milliseconds timeout) = 0;
    // Bytes written that have not left yet, as far as the line can tell.
    virtual int OutputQueued() const = 0;
    // true once the line hung up or its device went away.
    virtual bool IsGone() const = 0;
    // Ends the waits early once a stop is requested.
    virtual void SetStopToken(std::stop_token token) = 0;
    // Why the last open or transfer failed, with the system's code behind it.
    virtual const Fault& LastFault() const = 0;
    // The rate the line runs at.
    virtual int Baud() const = 0;
};

// Makes an unopened line of one kind; empty where the serial line is meant.
using LineMaker = std::function<std::unique_ptr<Line>()>;

// An unopened serial line (platform/serial_line.h), on Linux and Windows.
std::unique_ptr<Line> MakeSerialLine();

}  // namespace quillon
