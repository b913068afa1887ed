#include "sim/in_process_line.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "platform/serial_line.h"

namespace quillon::sim {

namespace {

using Clock = std::chrono::steady_clock;

// What each direction holds before its writer waits, as a pty's buffer.
constexpr std::size_t kQueueSize = 4096;

struct Wire {
    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<std::uint8_t> toBox;
    std::deque<std::uint8_t> toTool;
    bool toolHolds = false;
    bool toolLeft = false;  // a close of the tool's end that the box has not been told of
    bool boxGone = false;
};

std::size_t Take(std::deque<std::uint8_t>& queue, void* into, std::size_t count) {
    std::size_t taken = std::min(count, queue.size());
    std::copy_n(queue.begin(), taken, static_cast<std::uint8_t*>(into));
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(taken));
    return taken;
}

std::size_t Put(std::deque<std::uint8_t>& queue, const std::uint8_t* bytes, std::size_t count) {
    std::size_t put = std::min(count, kQueueSize - std::min(kQueueSize, queue.size()));
    queue.insert(queue.end(), bytes, bytes + put);
    return put;
}

// The lines by name, as the system keeps its devices: a name goes with the
// last end that holds its line.
struct Names {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Wire>> lines;
    unsigned made = 0;
};

Names& LineNames() {
    static Names names;
    return names;
}

std::shared_ptr<Wire> Find(const std::string& name) {
    Names& names = LineNames();
    std::lock_guard lock(names.mutex);
    auto found = names.lines.find(name);
    return found == names.lines.end() ? nullptr : found->second.lock();
}

class BoxEnd final : public BoxChannel {
public:
    explicit BoxEnd(std::shared_ptr<Wire> wire) : m_wire(std::move(wire)) {}

    ~BoxEnd() override {
        std::lock_guard lock(m_wire->mutex);
        m_wire->boxGone = true;
        m_wire->changed.notify_all();
    }

    std::size_t Available() override {
        std::lock_guard lock(m_wire->mutex);
        return m_wire->toBox.size();
    }

    // As on a pty: a close since the last look first, then what waits, then
    // whether anyone holds the tool's end.
    Wait WaitInput(std::chrono::milliseconds timeout) override {
        Wire& wire = *m_wire;
        std::unique_lock lock(wire.mutex);
        wire.changed.wait_for(lock, timeout, [&wire] {
            return wire.toolLeft || !wire.toBox.empty() || !wire.toolHolds;
        });
        if (std::exchange(wire.toolLeft, false)) {
            return Wait::Closed;
        }
        if (!wire.toBox.empty()) {
            return Wait::Data;
        }
        return wire.toolHolds ? Wait::Quiet : Wait::Closed;
    }

    long Read(std::uint8_t* buffer, std::size_t count) override {
        std::lock_guard lock(m_wire->mutex);
        std::size_t got = Take(m_wire->toBox, buffer, count);
        if (got > 0) {
            m_wire->changed.notify_all();
            return static_cast<long>(got);
        }
        return m_wire->toolHolds ? 0 : -1;
    }

    // Bytes for a tool that has closed its end are lost, as the box's
    // writes to a line nobody holds.
    bool Send(const std::uint8_t* bytes, std::size_t count, const std::stop_token& stop) override {
        Wire& wire = *m_wire;
        std::unique_lock lock(wire.mutex);
        for (std::size_t done = 0; done < count;) {
            wire.changed.wait(
                lock, stop, [&wire] { return !wire.toolHolds || wire.toTool.size() < kQueueSize; });
            if (stop.stop_requested() || !wire.toolHolds) {
                return false;
            }
            done += Put(wire.toTool, bytes + done, count - done);
            wire.changed.notify_all();
        }
        return true;
    }

private:
    std::shared_ptr<Wire> m_wire;
};

class ToolEnd final : public Line {
public:
    ~ToolEnd() override { Close(); }

    bool Open(const std::string& device, int baud) override {
        Close();
        m_gone = false;
        m_fault.Clear();
        if (std::string problem = BaudRateProblem(baud); !problem.empty()) {
            return Fail(problem);
        }
        std::shared_ptr<Wire> wire = Find(device);
        if (!wire) {
            m_gone = true;
            return Fail("no line of this name in this process");
        }
        std::lock_guard lock(wire->mutex);
        if (wire->boxGone) {
            m_gone = true;
            return Fail("the line was hung up");
        }
        if (wire->toolHolds) {
            return Fail("the line is in use");
        }
        // A line opened afresh holds nothing of a tool before.
        wire->toTool.clear();
        wire->toolHolds = true;
        wire->changed.notify_all();
        m_wire = wire;
        m_baud = baud;
        return true;
    }

    std::size_t Read(void* buffer, std::size_t count) override {
        if (!m_wire || m_gone || count == 0) {
            return 0;
        }
        std::lock_guard lock(m_wire->mutex);
        std::size_t got = Take(m_wire->toTool, buffer, count);
        if (got > 0) {
            m_wire->changed.notify_all();
        } else if (m_wire->boxGone) {
            HungUp();
        }
        return got;
    }

    std::size_t Write(const void* buffer, std::size_t count,
                      std::chrono::milliseconds timeout) override {
        if (!m_wire || m_gone) {
            return 0;
        }
        auto deadline = Clock::now() + timeout;
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        Wire& wire = *m_wire;
        std::unique_lock lock(wire.mutex);
        std::size_t done = 0;
        while (done < count && !m_stop.stop_requested()) {
            if (wire.boxGone) {
                HungUp();
                break;
            }
            done += Put(wire.toBox, bytes + done, count - done);
            wire.changed.notify_all();
            if (done < count && !wire.changed.wait_until(lock, m_stop, deadline, [&wire] {
                    return wire.boxGone || wire.toBox.size() < kQueueSize;
                })) {
                break;
            }
        }
        return done;
    }

    // What came before a hang-up is still read.
    Wait WaitReadable(std::chrono::milliseconds timeout) override {
        if (!m_wire || m_gone) {
            return Wait::Gone;
        }
        Wire& wire = *m_wire;
        std::unique_lock lock(wire.mutex);
        wire.changed.wait_for(lock, m_stop, timeout,
                              [&wire] { return !wire.toTool.empty() || wire.boxGone; });
        if (m_stop.stop_requested()) {
            return Wait::Stopped;
        }
        if (!wire.toTool.empty()) {
            return Wait::Readable;
        }
        if (wire.boxGone) {
            HungUp();
            return Wait::Gone;
        }
        return Wait::TimedOut;
    }

    int OutputQueued() const override {
        if (!m_wire) {
            return 0;
        }
        std::lock_guard lock(m_wire->mutex);
        return static_cast<int>(m_wire->toBox.size());
    }

    bool IsGone() const override { return m_gone; }
    void SetStopToken(std::stop_token token) override { m_stop = std::move(token); }
    const Fault& LastFault() const override { return m_fault; }
    int Baud() const override { return m_baud; }

private:
    bool Fail(std::string reason) {
        m_fault = Fault::Said(std::move(reason));
        return false;
    }

    void HungUp() {
        m_gone = true;
        m_fault = Fault::Said("the device hung up");
    }

    void Close() {
        if (!m_wire) {
            return;
        }
        {
            std::lock_guard lock(m_wire->mutex);
            m_wire->toolHolds = false;
            m_wire->toolLeft = true;
            m_wire->changed.notify_all();
        }
        m_wire.reset();
    }

    std::shared_ptr<Wire> m_wire;
    std::stop_token m_stop;
    Fault m_fault;
    bool m_gone = false;
    int m_baud = 0;
};

}  // namespace

std::unique_ptr<BoxChannel> NewInProcessLine(std::string& name) {
    auto wire = std::make_shared<Wire>();
    Names& names = LineNames();
    std::lock_guard lock(names.mutex);
    std::erase_if(names.lines, [](const auto& line) { return line.second.expired(); });
    name = "in-process:" + std::to_string(++names.made);
    names.lines.emplace(name, wire);
    return std::make_unique<BoxEnd>(std::move(wire));
}

std::unique_ptr<Line> InProcessToolEnd() {
    return std::make_unique<ToolEnd>();
}

}  // namespace quillon::sim
