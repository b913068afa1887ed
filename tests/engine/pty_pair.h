#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quillon::testing {

// The box's side of a pseudo-terminal: the test writes what the box would
// send and reads what reached it. The slave is raw before anyone opens it,
// so nothing is echoed back.
class PtyPair {
public:
    explicit PtyPair(bool raw = true) {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
            return;
        }
        m_slavePath = ::ptsname(m_master);
        if (raw) {
            int slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
            termios settings{};
            ::tcgetattr(slave, &settings);
            ::cfmakeraw(&settings);
            ::tcsetattr(slave, TCSANOW, &settings);
            ::close(slave);
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }

    // Hangs the line up, as an unplugged adapter would.
    void CloseMaster() {
        if (m_master >= 0) {
            ::close(m_master);
            m_master = -1;
        }
    }

    void Send(const std::vector<unsigned char>& bytes) const {
        [[maybe_unused]] auto put = ::write(m_master, bytes.data(), bytes.size());
    }

    // Sends and gives the pty time to hand the bytes over.
    void SendAndSettle(const std::vector<unsigned char>& bytes) const {
        Send(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    // Everything that arrives until the line has been quiet for quietMs.
    std::vector<unsigned char> Receive(int quietMs = 100) const {
        std::vector<unsigned char> bytes;
        unsigned char buffer[4096];
        pollfd fd{m_master, POLLIN, 0};
        while (::poll(&fd, 1, quietMs) > 0 && (fd.revents & POLLIN)) {
            ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

private:
    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace quillon::testing
