#include "sim/box_channel.h"

#include "platform/pseudo_terminal.h"
#include "platform/serial_line.h"

namespace quillon::sim {

namespace {

using namespace std::chrono_literals;

// Waits are cut into slices this long so that a stop is seen quickly.
constexpr auto kSlice = 10ms;

class PtyChannel : public BoxChannel {
public:
    explicit PtyChannel(PseudoTerminal& pty) : m_pty(pty) {}

    std::size_t Available() override { return m_pty.Available(); }

    Wait WaitInput(std::chrono::milliseconds timeout) override {
        switch (m_pty.WaitInput(timeout)) {
            case PseudoTerminal::Wait::Data:
                return Wait::Data;
            case PseudoTerminal::Wait::Quiet:
                return Wait::Quiet;
            case PseudoTerminal::Wait::Closed:
                break;
        }
        return Wait::Closed;
    }

    long Read(std::uint8_t* buffer, std::size_t count) override {
        return m_pty.Read(buffer, count);
    }

    bool Send(const std::uint8_t* bytes, std::size_t count, const std::stop_token& stop) override {
        std::size_t done = 0;
        while (done < count && !stop.stop_requested()) {
            long put = m_pty.Write(bytes + done, count - done);
            if (put < 0) {
                return false;
            }
            if (put == 0) {
                m_pty.WaitWritable(kSlice);
            }
            done += static_cast<std::size_t>(put);
        }
        return done == count;
    }

private:
    PseudoTerminal& m_pty;
};

// A real port only falls quiet; it is closed only when the device goes.
class DeviceChannel : public BoxChannel {
public:
    explicit DeviceChannel(SerialLine& device) : m_device(device) {}

    std::size_t Available() override { return m_device.InputQueued(); }

    Wait WaitInput(std::chrono::milliseconds timeout) override {
        switch (m_device.WaitReadable(timeout)) {
            case SerialLine::Wait::Readable:
                return Wait::Data;
            case SerialLine::Wait::Gone:
                return Wait::Closed;
            case SerialLine::Wait::TimedOut:
            case SerialLine::Wait::Stopped:
                break;
        }
        return Wait::Quiet;
    }

    long Read(std::uint8_t* buffer, std::size_t count) override {
        std::size_t got = m_device.Read(buffer, count);
        return got > 0 ? static_cast<long>(got) : m_device.IsGone() ? -1 : 0;
    }

    bool Send(const std::uint8_t* bytes, std::size_t count, const std::stop_token& stop) override {
        std::size_t done = 0;
        while (done < count && !stop.stop_requested() && !m_device.IsGone()) {
            done += m_device.Write(bytes + done, count - done, kSlice);
        }
        return done == count;
    }

private:
    SerialLine& m_device;
};

}  // namespace

std::unique_ptr<BoxChannel> BoxChannel::Over(PseudoTerminal& pty) {
    return std::make_unique<PtyChannel>(pty);
}

std::unique_ptr<BoxChannel> BoxChannel::Over(SerialLine& device) {
    return std::make_unique<DeviceChannel>(device);
}

}  // namespace quillon::sim
