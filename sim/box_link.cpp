#include "sim/box_link.h"

#include <algorithm>
#include <thread>

namespace quillon::sim {

using namespace std::chrono_literals;

namespace {

// Waits are cut into slices this long so that a stop is seen quickly.
constexpr auto kSlice = 10ms;
// A sleep ends some tens of microseconds late, more on a virtual machine;
// a real boot loader answers the moment the last byte is in. So the last
// stretch of a wait is spent awake.
constexpr auto kSpinBelow = std::chrono::microseconds(200);

}  // namespace

BoxLink::BoxLink(BoxChannel& channel, int baud, std::stop_token stop)
    : m_channel(channel), m_baud(baud), m_stop(std::move(stop)), m_arrivedNoSooner(Clock::now()) {}

BoxLink::Clock::duration BoxLink::ByteTime() const {
    if (m_baud <= 0) {
        return Clock::duration::zero();
    }
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL) /
                                                       m_baud);
}

bool BoxLink::Sleep(Clock::duration length) {
    auto until = Clock::now() + length;
    while (!Stopped()) {
        auto now = Clock::now();
        if (now >= until) {
            return true;
        }
        auto left = until - now;
        if (left < kSpinBelow) {
            continue;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(left - kSpinBelow, kSlice));
    }
    return false;
}

BoxLink::Wait BoxLink::WaitInput(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!Stopped()) {
        if (m_channel.Available() > 0) {
            return Wait::Data;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) {
            return Wait::Quiet;
        }
        BoxChannel::Wait wait =
            m_channel.WaitInput(std::min<std::chrono::milliseconds>(left, kSlice));
        // The line was empty before this wait: whatever is there now was
        // sent no sooner than now.
        m_arrivedNoSooner = Clock::now();
        if (wait == BoxChannel::Wait::Closed) {
            return Wait::Closed;
        }
    }
    return Wait::Stopped;
}

BoxLink::Wait BoxLink::Read(std::uint8_t* buffer, std::size_t count, std::size_t& got,
                            std::chrono::milliseconds timeout) {
    got = 0;
    Wait wait = WaitInput(timeout);
    if (wait != Wait::Data) {
        return wait;
    }
    std::size_t take = std::min(count, m_channel.Available());
    long read = m_channel.Read(buffer, std::max<std::size_t>(take, 1));
    if (read <= 0) {
        return read == 0 ? Wait::Quiet : Wait::Closed;
    }
    got = static_cast<std::size_t>(read);
    if (m_baud > 0) {
        // Bytes that were already waiting keep the schedule, so that the
        // box's own late wake-ups do not add up into a slower line; bytes
        // that came after the line fell quiet start their time on the line
        // when they came, so a pause of the sender is never made up.
        m_lineFree =
            std::max(m_lineFree, m_arrivedNoSooner) + ByteTime() * static_cast<long long>(got);
    }
    return Wait::Data;
}

bool BoxLink::AwaitSchedule() {
    return m_baud <= 0 || Sleep(m_lineFree - Clock::now());
}

BoxLink::Wait BoxLink::ReadExact(std::uint8_t* buffer, std::size_t count,
                                 std::chrono::milliseconds gap) {
    std::size_t done = 0;
    while (done < count) {
        std::size_t got = 0;
        Wait wait = Read(buffer + done, count - done, got, gap);
        if (wait != Wait::Data) {
            return wait;
        }
        done += got;
    }
    return Wait::Data;
}

BoxLink::Wait BoxLink::DrainUntilQuiet(std::chrono::milliseconds quiet) {
    std::uint8_t buffer[256];
    while (true) {
        std::size_t got = 0;
        Wait wait = Read(buffer, sizeof buffer, got, quiet);
        if (wait != Wait::Data) {
            return wait == Wait::Quiet ? Wait::Data : wait;
        }
    }
}

bool BoxLink::Send(const std::vector<std::uint8_t>& bytes) {
    return m_channel.Send(bytes.data(), bytes.size(), m_stop);
}

}  // namespace quillon::sim
