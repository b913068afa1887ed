#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "engine/line.h"

namespace quillon {

class File;
class LineTrace;

// The system's only access to the serial line to the box.
class SerialPort {
public:
    SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();

    // 1 when the device could be opened, else 0. A port number names the
    // system's own device for it (/dev/ttyS<n-1>, on Windows \\.\COMn);
    // the settings may name another, which their caller opens by path.
    int Open(int port, int baud);
    int Open(const std::string& device, int baud);
    // The kind of line the next Open makes; empty: the serial line.
    void UseLines(LineMaker maker) { m_makeLine = std::move(maker); }
    void Close();
    int Read(void* buffer, int count);
    // The rest of a frame whose first byte has come: up to count bytes,
    // waiting for them a few byte times and 50 ms at most, since a USB
    // adapter may hand a frame over in two packets some milliseconds apart.
    int ReadRest(void* buffer, int count);
    int Write(const void* buffer, int count);
    // The status reply's code byte, 0xFF for none in time.
    std::uint8_t WaitStatus();
    void Drain();
    // 0 on failure, -1 when the file is complete, else the running offset.
    int SendFilePiece(std::string fileName);
    // The same from a packet file held open: its name plays no part.
    int SendFilePiece(File& file);
    // Shown the bytes of every piece that went out whole, in order.
    void OnPieceSent(std::function<void(const std::uint8_t*, std::size_t)> sink) {
        m_pieceSent = std::move(sink);
    }
    // Lets go of the file in transit (and starts it over next time), so that
    // it can be deleted even where an open file cannot be.
    void AbandonFile();

    // The waits end early, as if nothing came, once a stop is requested.
    void SetStopToken(std::stop_token token);
    // Shown every byte read and written from now on; nullptr for none.
    void SetTrace(LineTrace* trace) { m_trace = trace; }
    // Tells the trace that count bytes read were not acted on, and why.
    void NoteIgnored(std::size_t count, const char* why);
    // true once the device has gone away (unplugged, hung up).
    bool IsLineGone() const;
    // true when the last Open found no device at its name.
    bool DeviceMissing() const { return m_deviceMissing; }
    // Why the last Open failed, with the system's code behind it.
    const Fault& OpenFault() const { return m_openFault; }
    // Why the open line failed or went; no words when the system gave no
    // reason.
    Fault LineFault() const;
    int Offset() const { return m_offset; }
    // Bytes written that cannot have crossed the line yet: what the driver
    // still holds, or what the line's time says is still under way.
    std::uint64_t BytesInFlight() const;
    // The device of the last Open, found or not.
    const std::string& Device() const { return m_device; }
    // How many bytes the line carries in that time at the port's rate.
    std::uint64_t LineBytesIn(std::chrono::milliseconds time) const;

protected:
    // Reads and pauses made so far: the waits are counted, not timed.
    int ReadCount() const { return m_reads; }
    int PauseCount() const { return m_pauses; }

private:
    using Clock = std::chrono::steady_clock;

    bool ReadWithWait(std::uint8_t& byte);
    File* PacketFileFor(const std::string& name);
    void Pause(Clock::duration longest);
    bool WaitEnded() const;
    Clock::duration LineTime(std::size_t bytes) const;

    LineMaker m_makeLine;
    std::unique_ptr<Line> m_line;  // the port handle
    std::int32_t m_offset = 0;     // running offset within the file in transit
    std::stop_token m_stop;
    Fault m_openFault;
    bool m_deviceMissing = false;
    std::string m_device;
    LineTrace* m_trace = nullptr;
    Clock::time_point m_lineIdle{};  // when the bytes written so far have reached the box
    int m_reads = 0;
    int m_pauses = 0;
    // What the line brought in one read and the callers have not taken yet:
    // a reply's two bytes cost one system call, not two.
    std::uint8_t m_input[1024];
    std::size_t m_inputStart = 0;
    std::size_t m_inputEnd = 0;
    // The packet file in transit by name, open from its first piece to its last.
    std::unique_ptr<File> m_packetFile;
    std::function<void(const std::uint8_t*, std::size_t)> m_pieceSent;
};

}  // namespace quillon
