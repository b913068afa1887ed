#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

using Bytes = std::vector<std::uint8_t>;

// The box's end of a pseudo-terminal, driven by a test script: the tool
// opens SlavePath() as its serial device.
class PtyPeer {
public:
    PtyPeer() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_slavePath = ::ptsname(m_master);
    }
    ~PtyPeer() { Close(); }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }

    // Until the tool holds the other end: the master sees POLLHUP while nobody does.
    bool WaitOpened(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd fd{m_master, POLLIN, 0};
            ::poll(&fd, 1, 0);
            // Opened and set up: the master reads the other end's settings,
            // which the tool makes raw before it reads a byte.
            termios settings{};
            if ((fd.revents & POLLHUP) == 0 && ::tcgetattr(m_master, &settings) == 0 &&
                (settings.c_lflag & ICANON) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    void Send(const Bytes& bytes) {
        if (m_master >= 0 && !bytes.empty()) {
            (void)!::write(m_master, bytes.data(), bytes.size());
        }
    }

    // One whole record (header, payload, checksum); empty when none came in time.
    Bytes ReadRecord(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        Bytes record;
        if (!ReadExactly(record, 4, limit)) {
            return {};
        }
        std::size_t length = (static_cast<std::size_t>(record[2]) << 8) | record[3];
        if (length < 4 || !ReadExactly(record, length - 4 + 4, limit)) {
            return {};
        }
        return record;
    }

    void Close() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

private:
    bool ReadExactly(Bytes& into, std::size_t count, std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        std::size_t wanted = into.size() + count;
        while (into.size() < wanted) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_master, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0 ||
                (fd.revents & POLLIN) == 0) {
                return false;
            }
            std::uint8_t buffer[4096];
            ssize_t got = ::read(m_master, buffer, std::min(sizeof buffer, wanted - into.size()));
            if (got <= 0) {
                return false;
            }
            into.insert(into.end(), buffer, buffer + got);
        }
        return true;
    }

    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace quillon::testing
