// The box's side of the line, as the input scripts it, against a whole
// update by the worker over a pseudo-terminal: the ready byte, the status
// replies and the progress reports, with noise, cut frames and any
// chunking. Whatever comes, the update ends (at the latest when asked to
// stop), releases its lock, leaves no packet file, keeps the bar within
// 0-100, and calls only the box's success report a success.
//
// Input: chunks, each a header byte and up to 31 bytes. Header bits 0-4:
// the length; bit 6: pause a millisecond after the chunk; bit 7: send it
// only once one more record from the tool has arrived.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "engine/update_worker.h"
#include "fuzz/fuzz_support.h"
#include "tests/worker/recording_view.h"

namespace {

using namespace std::chrono_literals;
using quillon::fuzz::Require;
using quillon::fuzz::ScratchFolder;
using Clock = std::chrono::steady_clock;

// The box's end of a fresh pseudo-terminal, raw before the tool opens it.
class BoxEnd {
public:
    BoxEnd() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        Require(m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0,
                "a pseudo-terminal can be had");
        char name[128] = {};
        ::ptsname_r(m_master, name, sizeof name);
        m_slave = name;
        int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::close(slave);
    }
    ~BoxEnd() { ::close(m_master); }

    const std::string& Device() const { return m_slave; }

    bool WaitOpened(Clock::time_point deadline) const {
        while (Clock::now() < deadline) {
            pollfd fd{m_master, POLLIN, 0};
            ::poll(&fd, 1, 0);
            if ((fd.revents & POLLHUP) == 0) {
                return true;
            }
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

    // Until one more whole record from the tool has arrived.
    bool AwaitRecord(Clock::time_point deadline) {
        for (;;) {
            if (TakeRecord()) {
                return true;
            }
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd fd{m_master, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0 ||
                (fd.revents & POLLIN) == 0) {
                return false;
            }
            std::uint8_t buffer[4096];
            ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got <= 0) {
                return false;
            }
            m_received.insert(m_received.end(), buffer, buffer + got);
        }
    }

    void Send(const std::uint8_t* bytes, std::size_t count) const {
        std::size_t done = 0;
        auto deadline = Clock::now() + 200ms;
        while (done < count && Clock::now() < deadline) {
            ssize_t put = ::write(m_master, bytes + done, count - done);
            if (put > 0) {
                done += static_cast<std::size_t>(put);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
    }

private:
    bool TakeRecord() {
        if (m_received.size() < 4) {
            return false;
        }
        std::size_t size = ((std::size_t{m_received[2]} << 8) | m_received[3]) + 4;
        if (m_received.size() < size) {
            return false;
        }
        m_received.erase(m_received.begin(), m_received.begin() + static_cast<long>(size));
        return true;
    }

    int m_master = -1;
    std::string m_slave;
    std::vector<std::uint8_t> m_received;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ScratchFolder& folder = ScratchFolder::ForThisRun();
    folder.Clear();
    // Packet files 0001 and 0002 (the bus value) and 0003 (address 0): with
    // the execute command, four records.
    folder.Write("c_bus.txt", "1\n");
    folder.Write("init_uploads.txt", "0\n");

    BoxEnd box;
    quillon::testing::RecordingView view;
    view.bootFolder = folder.Path();
    view.device = box.Device();
    std::atomic<bool> done{false};
    unsigned outcome = 99;
    std::jthread worker([&](std::stop_token stop) {
        outcome = static_cast<unsigned>(quillon::UpdateWorker::Run(view, view.Request(), stop));
        done = true;
    });

    if (box.WaitOpened(Clock::now() + 2s)) {
        std::size_t pos = 0;
        while (pos < size && !done) {
            std::uint8_t header = data[pos++];
            std::size_t length = std::min<std::size_t>(header & 0x1F, size - pos);
            if ((header & 0x80) && !box.AwaitRecord(Clock::now() + 100ms)) {
                break;  // the tool sends nothing more: the rest would go unread
            }
            box.Send(data + pos, length);
            pos += length;
            if (header & 0x40) {
                std::this_thread::sleep_for(1ms);
            }
        }
        std::this_thread::sleep_for(5ms);  // time to read the last chunk
    }
    worker.request_stop();
    worker.join();

    Require(outcome <= static_cast<unsigned>(quillon::UpdateOutcome::Cancelled),
            "the update ends with one of its outcomes");
    Require(view.UpdateMutex().try_lock(), "the update lock is released");
    view.UpdateMutex().unlock();
    Require(folder.Count() == 2, "no packet file is left");
    for (const std::string& position : view.Distinct("pos:")) {
        int value = std::stoi(position);
        Require(value >= 0 && value <= 100, "the bar stays within 0-100");
    }
    if (outcome == static_cast<unsigned>(quillon::UpdateOutcome::Success)) {
        Require(view.Ending() == "box:Successful to update flash! STB has restarted |Success|48",
                "only the box's success report is a success");
    }
    return 0;
}
