#include "sim/box_emulator.h"

#include <utility>

#include "platform/file.h"
#include "platform/pseudo_terminal.h"
#include "platform/serial_devices.h"
#include "platform/serial_line.h"
#include "sim/box_link.h"
#include "sim/box_session.h"
#include "sim/in_process_line.h"

namespace quillon::sim {

using namespace std::chrono_literals;

namespace {

constexpr int kDeviceBaud = 115200;  // a real port needs some rate when none is asked
constexpr auto kToolSettle = 20ms;   // the tool sets its line up right after opening
constexpr auto kRestQuiet = 1000ms;
constexpr auto kLeftCheck = 20ms;
constexpr auto kResetPoll = 20ms;

bool SetError(std::string* error, const std::string& text) {
    if (error) {
        *error = text;
    }
    return false;
}

}  // namespace

BoxOptions WithoutFaults(BoxOptions options) {
    BoxOptions plain;
    plain.baud = options.baud;
    plain.bytesPerSector = options.bytesPerSector;
    plain.eraseTime = options.eraseTime;
    plain.burnTime = options.burnTime;
    plain.dumpFolder = options.dumpFolder;
    return plain;
}

BoxEmulator::BoxEmulator(BoxOptions options) : m_options(std::move(options)) {}

BoxEmulator::~BoxEmulator() {
    Stop();
}

bool BoxEmulator::OpenPty(std::string* error) {
    CloseLink();
    Fault fault;
    m_pty = PseudoTerminal::Open(fault);
    if (!m_pty) {
        return SetError(error, fault.words);
    }
    m_channel = BoxChannel::Over(*m_pty);
    m_path = m_pty->Path();
    return true;
}

bool BoxEmulator::OpenDevice(const std::string& path, std::string* error) {
    CloseLink();
    auto device = std::make_unique<SerialLine>();
    if (!device->Open(path, m_options.baud > 0 ? m_options.baud : kDeviceBaud)) {
        return SetError(error, path + ": " + device->LastFault().words);
    }
    m_device = std::move(device);
    m_channel = BoxChannel::Over(*m_device);
    m_path = path;
    return true;
}

void BoxEmulator::OpenInProcess() {
    CloseLink();
    m_channel = NewInProcessLine(m_path);
}

void BoxEmulator::CloseLink() {
    m_channel.reset();
    m_pty.reset();
    m_device.reset();
}

void BoxEmulator::Start() {
    if (m_channel && !m_thread.joinable()) {
        m_thread = std::jthread([this](std::stop_token stop) { Serve(stop); });
    }
}

void BoxEmulator::Stop() {
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
    CloseLink();
}

void BoxEmulator::Serve(std::stop_token stop) {
    // A paced read sleeps until its bytes have crossed the line; the default
    // slack of 50 us would delay every reply by that much, a whole
    // byte time at high rates, where a real box answers at once.
    UsePreciseTimersOnThisThread();
    bool readyAgain = false;  // the tool may still hold the line: no need to wait for it
    while (!stop.stop_requested() && (std::exchange(readyAgain, false) || WaitForTool(stop))) {
        // A tool that has just opened the line sets it up first; a ready
        // sent before that would be taken as a line of text and kept from it.
        std::this_thread::sleep_for(kToolSettle);
        if (!WaitForReset(stop)) {
            return;
        }
        DropStaleInput();
        BoxLink link(*m_channel, m_options.baud, stop);
        // A box that failed fails again when it is powered again, for as
        // many sessions as it is asked to.
        const bool faulty = m_options.faultySessions == 0 || m_served < m_options.faultySessions;
        const BoxOptions options = faulty ? m_options : WithoutFaults(m_options);
        ++m_served;
        BoxSession session(link, options, m_dumpCount);
        BoxSession::End end = session.Run();
        if (end == BoxSession::End::Stopped) {
            return;
        }
        BoxSummary counts = session.Counts();
        counts.finished = end == BoxSession::End::Verdict;
        counts.hungUp = end == BoxSession::End::HangUp;
        if (counts.hungUp) {
            CloseLink();
        }
        EndSession(counts);
        if (counts.hungUp) {
            return;
        }
        if (end == BoxSession::End::Dropped) {
            // Like a boot loader after a reset: ready again at once for a
            // tool that is still there, or once one opens the line again.
            readyAgain = !ToolHasLeft(stop);
            continue;
        }
        // A tool that has left (and may be back already) is served anew at
        // once; one that stays after a verdict, once the line is quiet.
        if (end == BoxSession::End::ToolLeft || WaitUntilToolLeaves(stop)) {
            continue;
        }
        readyAgain = true;
    }
}

// A pty's master, as a line in this process, reads as closed while no one
// holds the other end; a real port only falls quiet.
bool BoxEmulator::WaitForTool(std::stop_token stop) {
    if (m_device) {
        return true;
    }
    while (!stop.stop_requested()) {
        if (m_channel->WaitInput(10ms) == BoxChannel::Wait::Closed) {
            std::this_thread::sleep_for(5ms);
            continue;
        }
        return true;
    }
    return false;
}

// A box that is off says nothing until its reset is seen; what the tool
// sends meanwhile is lost, as on a real line to a box without power.
bool BoxEmulator::WaitForReset(std::stop_token stop) {
    if (m_options.waitResetFile.empty()) {
        return true;
    }
    while (!stop.stop_requested()) {
        if (ResetsNamingThisBox() > m_resetsUsed) {
            ++m_resetsUsed;
            return true;
        }
        std::uint8_t lost[256];
        while (m_channel->Read(lost, sizeof lost) > 0) {
        }
        std::this_thread::sleep_for(kResetPoll);
    }
    return false;
}

int BoxEmulator::ResetsNamingThisBox() const {
    const std::string self = DeviceBehind(m_path);
    TextFile resets;
    if (!resets.Open(m_options.waitResetFile, File::Mode::ReadExisting)) {
        return 0;
    }
    int count = 0;
    std::string line;
    try {
        while (resets.ReadLine(line)) {
            if (line == m_path || (!self.empty() && DeviceBehind(line) == self)) {
                ++count;
            }
        }
    } catch (const FileError&) {
    }
    return count;
}

// What a tool that has left wrote last can reach the line after its close
// is seen: it belongs to no session, least of all the next tool's.
void BoxEmulator::DropStaleInput() {
    std::uint8_t stale[256];
    while (m_channel->Read(stale, sizeof stale) > 0) {
    }
}

// A pty, as a line in this process, tells every time the tool closes, even
// when it opens again at once; a real port only falls quiet. So a quiet
// line also starts the next session.
bool BoxEmulator::WaitUntilToolLeaves(std::stop_token stop) {
    BoxLink link(*m_channel, 0, stop);
    return link.DrainUntilQuiet(kRestQuiet) == BoxLink::Wait::Closed;
}

bool BoxEmulator::ToolHasLeft(std::stop_token stop) {
    BoxLink link(*m_channel, 0, stop);
    return link.DrainUntilQuiet(kLeftCheck) == BoxLink::Wait::Closed;
}

void BoxEmulator::EndSession(const BoxSummary& session) {
    std::lock_guard lock(m_mutex);
    ++m_summary.sessions;
    m_summary.records += session.records;
    m_summary.rejected += session.rejected;
    m_summary.bytes += session.bytes;
    m_summary.finished = session.finished;
    m_summary.hungUp = m_summary.hungUp || session.hungUp;
    if (!session.lastError.empty()) {
        m_summary.lastError = session.lastError;
    }
    m_ended.notify_all();
}

bool BoxEmulator::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_ended.wait_for(lock, timeout, [this] { return m_summary.sessions > m_sessionsSeen; })) {
        return false;
    }
    ++m_sessionsSeen;
    return true;
}

BoxSummary BoxEmulator::Summary() const {
    std::lock_guard lock(m_mutex);
    return m_summary;
}

}  // namespace quillon::sim
