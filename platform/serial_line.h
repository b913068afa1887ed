#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "platform/fault.h"
#include "platform/native_handle.h"

namespace quillon {

// The rates that serial hardware offers; a line is never opened at another.
constexpr int kLowestBaud = 50;
constexpr int kHighestBaud = 12'000'000;

// Why a rate is refused ("baud rate 1 is outside 50 to 12000000"), empty
// for a rate a line can run at.
std::string BaudRateProblem(int baud);

class UucpLock;

// A serial device opened by path: raw 8N1, no flow control, ours alone
// while open, its former settings restored on close. Reads never block;
// waiting is done with WaitReadable, which a stop request or a hang-up
// ends at once.
class SerialLine {
public:
    enum class Wait { Readable, TimedOut, Stopped, Gone };

    SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine();

    // false when the device cannot be opened, the rate is refused, or another
    // program holds or uses the device; LastFault() then says why, with the
    // system's code where it is the system's reason.
    bool Open(const std::string& device, int baud);
    void Close();
    bool IsOpen() const { return m_fd != kNoHandle; }
    // Why the last open or transfer failed (errno; on Windows its own error).
    const Fault& LastFault() const { return m_fault; }
    // The rate the driver reports after setting it; the asked rate when it
    // reports none.
    int Baud() const { return m_baud; }

    // Whatever has arrived, up to count bytes; 0 when nothing has.
    std::size_t Read(void* buffer, std::size_t count);
    // Gives up after timeout in all; the count that got out.
    std::size_t Write(const void* buffer, std::size_t count, std::chrono::milliseconds timeout);
    Wait WaitReadable(std::chrono::milliseconds timeout);
    // Bytes written but not yet sent, as far as the driver tells (0 on ptys).
    int OutputQueued() const;
    // Bytes received that wait to be read.
    std::size_t InputQueued() const;

    // true once the device hung up or went away, or when Open found no
    // device at its name (an adapter unplugged).
    bool IsGone() const { return m_gone; }
    void SetStopToken(std::stop_token token);

private:
    struct Saved;
    struct Waker {
        NativeHandle fd;
        void operator()() const noexcept;
    };

    bool Fail(Fault fault);
    // Sets the line up; what the driver refused, empty when it took all.
    std::string Configure();
    bool Stopped() const { return m_stop.stop_requested(); }
    void NoteError(int error);

    NativeHandle m_fd = kNoHandle;
    NativeHandle m_wakeFd = kNoHandle;  // signalled for good once a stop is requested
    int m_baud = 0;
    bool m_gone = false;
    Fault m_fault;
    std::string m_device;  // as it was opened
    std::unique_ptr<Saved> m_saved;
    std::unique_ptr<UucpLock> m_uucpLock;
    std::stop_token m_stop;
    std::optional<std::stop_callback<Waker>> m_stopCallback;
};

}  // namespace quillon
