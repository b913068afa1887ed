#include "engine/serial_port.h"

#include "engine/line_trace.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "initfiles/wire.h"
#include "platform/file.h"
#include "platform/serial_devices.h"

namespace quillon {

namespace {

using namespace std::chrono_literals;

constexpr int kPieceSize = 1024;
constexpr auto kPause = 10ms;
constexpr int kMaxPausesBefore = 100;  // the 102nd empty read gives up
constexpr auto kWriteTimeout = 1000ms;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr auto kFrameGrace = 50ms;
constexpr int kFrameGraceByteTimes = 3;
// No driver, adapter or pty holds more than this much of what was written:
// the time the line still needs is never reckoned from more.
constexpr std::size_t kMostInFlight = 64 * 1024;

}  // namespace

SerialPort::SerialPort() = default;

SerialPort::~SerialPort() {
    Close();
}

int SerialPort::Open(int port, int baud) {
    std::string device = DefaultPortDevice(port);
    // A number that names no device opens none, as a missing device would.
    int opened = Open(device, baud);
    if (device.empty()) {
        m_device = "COM" + std::to_string(port);
    }
    return opened;
}

int SerialPort::Open(const std::string& device, int baud) {
    Close();
    m_device = device;
    std::unique_ptr<Line> line = m_makeLine ? m_makeLine() : MakeSerialLine();
    line->SetStopToken(m_stop);
    if (!line->Open(device, baud)) {
        m_openFault = line->LastFault();
        m_deviceMissing = line->IsGone();
        return 0;
    }
    m_openFault.Clear();
    m_deviceMissing = false;
    m_line = std::move(line);
    m_lineIdle = Clock::now();
    return 1;
}

void SerialPort::Close() {
    m_packetFile.reset();
    m_line.reset();
    m_inputStart = m_inputEnd = 0;
}

void SerialPort::SetStopToken(std::stop_token token) {
    m_stop = token;
    if (m_line) {
        m_line->SetStopToken(std::move(token));
    }
}

bool SerialPort::IsLineGone() const {
    return m_line && m_line->IsGone();
}

Fault SerialPort::LineFault() const {
    return m_line ? m_line->LastFault() : Fault();
}

// Whatever has arrived, as one read of the line would give it; the line is
// read a buffer at a time, and what a caller did not take waits for the next.
int SerialPort::Read(void* buffer, int count) {
    ++m_reads;
    if (!m_line || count <= 0) {
        return 0;
    }
    if (m_inputStart == m_inputEnd) {
        m_inputStart = 0;
        m_inputEnd = m_line->Read(m_input, sizeof m_input);
        if (m_trace != nullptr && m_inputEnd > 0) {
            m_trace->OnReceived(m_input, m_inputEnd, Clock::now());
        }
    }
    std::size_t taken = std::min(static_cast<std::size_t>(count), m_inputEnd - m_inputStart);
    std::memcpy(buffer, m_input + m_inputStart, taken);
    m_inputStart += taken;
    return static_cast<int>(taken);
}

int SerialPort::ReadRest(void* buffer, int count) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    auto deadline = Clock::now() + kFrameGrace +
                    LineTime(static_cast<std::size_t>(count) * kFrameGraceByteTimes);
    int got = 0;
    while (got < count) {
        got += Read(bytes + got, count - got);
        // Judged only after a last read, so that bytes already waiting
        // after a stall of ours still count.
        if (got == count || WaitEnded() || Clock::now() >= deadline) {
            break;
        }
        m_line->WaitReadable(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    }
    return got;
}

std::uint64_t SerialPort::BytesInFlight() const {
    if (!m_line) {
        return 0;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_lineIdle - Clock::now());
    auto queued = static_cast<std::uint64_t>(std::max(0, m_line->OutputQueued()));
    return std::max(queued, left.count() > 0 ? LineBytesIn(left) : 0);
}

std::uint64_t SerialPort::LineBytesIn(std::chrono::milliseconds time) const {
    int baud = m_line ? m_line->Baud() : 0;
    return static_cast<std::uint64_t>(baud) * static_cast<std::uint64_t>(time.count()) /
           (1000 * kBitsPerByte);
}

SerialPort::Clock::duration SerialPort::LineTime(std::size_t bytes) const {
    int baud = m_line ? m_line->Baud() : 0;
    if (baud <= 0) {
        return Clock::duration::zero();
    }
    auto nanos = static_cast<long double>(bytes) * kBitsPerByte * 1e9L / baud;
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(static_cast<std::int64_t>(std::min<long double>(nanos, 1e15L))));
}

// The fixed time-out only starts once the line could have carried these
// bytes after everything written before them.
int SerialPort::Write(const void* buffer, int count) {
    if (!m_line || count <= 0 || m_stop.stop_requested()) {
        return 0;
    }
    auto now = Clock::now();
    auto queued = now + LineTime(static_cast<std::size_t>(std::max(0, m_line->OutputQueued())));
    m_lineIdle = std::max(std::min(m_lineIdle, now + LineTime(kMostInFlight)), queued);
    auto start = std::max(m_lineIdle, now);
    auto size = static_cast<std::size_t>(count);
    auto timeout =
        kWriteTimeout + std::chrono::ceil<std::chrono::milliseconds>(start - now + LineTime(size));
    // The bytes leave when they are handed over, however long the call
    // takes to return: the trace takes that moment.
    auto handedOver = Clock::now();
    std::size_t put = m_line->Write(buffer, size, timeout);
    if (m_trace != nullptr && put > 0) {
        m_trace->OnSent(static_cast<const std::uint8_t*>(buffer), put, handedOver);
    }
    m_lineIdle = start + LineTime(put);
    return static_cast<int>(put);
}

bool SerialPort::WaitEnded() const {
    return !m_line || m_line->IsGone() || m_stop.stop_requested();
}

// A pause that ends as soon as input arrives: the counts stay, the
// turnaround does not wait out the rest of the pause.
void SerialPort::Pause(Clock::duration longest) {
    auto wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(longest), 1ms, kPause);
    if (m_line) {
        m_line->WaitReadable(wait);
    }
}

// Up to 102 reads with a pause after each empty one. The box cannot answer
// before our last byte has reached it, so time until then is not counted.
bool SerialPort::ReadWithWait(std::uint8_t& byte) {
    int pauses = 0;
    while (true) {
        if (Read(&byte, 1) == 1) {
            return true;
        }
        if (WaitEnded()) {
            return false;
        }
        auto now = Clock::now();
        if (now < m_lineIdle) {
            Pause(m_lineIdle - now);
            continue;
        }
        ++m_pauses;
        Pause(kPause);
        if (pauses++ > kMaxPausesBefore) {
            return false;
        }
    }
}

std::uint8_t SerialPort::WaitStatus() {
    std::uint8_t byte = 0;
    if (!ReadWithWait(byte)) {
        return kNoReply;
    }
    std::size_t skipped = 0;
    while (byte != kReplySync) {
        ++skipped;
        if (Read(&byte, 1) != 1) {
            NoteIgnored(skipped, "no reply: skipped while looking for one");
            return kNoReply;
        }
    }
    NoteIgnored(skipped, "noise before a reply, skipped");
    std::uint8_t code = 0;
    if (!ReadWithWait(code)) {
        return kNoReply;
    }
    Drain();
    return code;
}

void SerialPort::Drain() {
    unsigned char buffer[kPieceSize];
    std::size_t drained = 0;
    for (int got = 0; (got = Read(buffer, kPieceSize)) > 0;) {
        drained += static_cast<std::size_t>(got);
    }
    NoteIgnored(drained, "drained after a reply");
}

void SerialPort::NoteIgnored(std::size_t count, const char* why) {
    if (m_trace != nullptr && count > 0) {
        m_trace->OnIgnored(count, why);
    }
}

void SerialPort::AbandonFile() {
    m_packetFile.reset();
    m_offset = 0;
}

// The file of the last piece while its path still names it; a file opened
// anew for a new name, or when the old one was removed or replaced, as
// opening it for every piece would find it.
File* SerialPort::PacketFileFor(const std::string& name) {
    if (m_packetFile && (m_packetFile->Path() != name || !m_packetFile->IsStillAt(name))) {
        m_packetFile.reset();
    }
    if (!m_packetFile) {
        auto file = std::make_unique<File>();
        if (!file->Open(name, File::Mode::ReadExisting)) {
            return nullptr;
        }
        m_packetFile = std::move(file);
    }
    return m_packetFile.get();
}

// A packet file that fails to read after it opened is a failed piece like a
// short write: 0, and the next attempt starts the file over. The file stays
// open between the pieces of one file: five system calls a piece were most
// of the tool's work between two records.
int SerialPort::SendFilePiece(std::string fileName) {
    File* file = PacketFileFor(fileName);
    if (file == nullptr) {
        m_offset = 0;
        return 0;
    }
    return SendFilePiece(*file);
}

int SerialPort::SendFilePiece(File& file) {
    unsigned char buffer[kPieceSize];
    std::size_t got = 0;
    try {
        got = file.ReadAt(buffer, sizeof buffer, static_cast<std::uint64_t>(m_offset));
    } catch (const FileError&) {
        AbandonFile();
        return 0;
    }
    if (got == 0) {
        AbandonFile();
        return -1;
    }
    // The offset is 32-bit; a file beyond it cannot be sent whole.
    if (m_offset > std::numeric_limits<std::int32_t>::max() - kPieceSize) {
        AbandonFile();
        return 0;
    }
    m_offset += static_cast<std::int32_t>(got);
    if (Write(buffer, static_cast<int>(got)) < static_cast<int>(got)) {
        AbandonFile();
        return 0;
    }
    if (m_pieceSent) {
        m_pieceSent(buffer, got);
    }
    return m_offset;
}

}  // namespace quillon
