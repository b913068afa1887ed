#include "platform/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace quillon {

namespace {

void MakeRaw(const std::string& path) {
    int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        return;
    }
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    ::close(slave);
}

}  // namespace

std::unique_ptr<PseudoTerminal> PseudoTerminal::Open(Fault& fault) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        fault = Fault::OfErrno(errno);
        if (master >= 0) {
            ::close(master);
        }
        return nullptr;
    }
    MakeRaw(name);
    return std::unique_ptr<PseudoTerminal>(new PseudoTerminal(master, name));
}

// Made after MakeRaw's own open and close, so that only others' are counted.
// Without a watch (the system's limit reached) a close is seen by poll alone.
PseudoTerminal::PseudoTerminal(NativeHandle master, std::string path)
    : m_master(master), m_path(std::move(path)) {
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch >= 0 && ::inotify_add_watch(m_watch, m_path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        ::close(m_watch);
        m_watch = -1;
    }
}

PseudoTerminal::~PseudoTerminal() {
    if (m_watch >= 0) {
        ::close(m_watch);
    }
    ::close(m_master);
}

bool PseudoTerminal::HungUpSince() {
    alignas(inotify_event) char events[4096];
    ssize_t got = 0;
    while (m_watch >= 0 && (got = ::read(m_watch, events, sizeof events)) > 0) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->mask & IN_Q_OVERFLOW) {
                // Some were lost: start again from what poll can tell.
                pollfd fd{m_master, 0, 0};
                ::poll(&fd, 1, 0);
                m_holders = (fd.revents & POLLHUP) ? 0 : 1;
                m_hungUp = true;
            } else if (event->mask & IN_OPEN) {
                ++m_holders;
            } else if ((event->mask & IN_CLOSE) && m_holders > 0 && --m_holders == 0) {
                m_hungUp = true;
            }
            at += sizeof(inotify_event) + event->len;
        }
    }
    return std::exchange(m_hungUp, false);
}

std::size_t PseudoTerminal::Available() const {
    int count = 0;
    return ::ioctl(m_master, FIONREAD, &count) == 0 && count > 0 ? static_cast<std::size_t>(count)
                                                                 : 0;
}

// A master sees POLLHUP while no one holds the other end.
PseudoTerminal::Wait PseudoTerminal::WaitInput(std::chrono::milliseconds timeout) {
    if (HungUpSince()) {
        return Wait::Closed;
    }
    if (Available() > 0) {
        return Wait::Data;
    }
    pollfd fds[2] = {{m_master, POLLIN, 0}, {m_watch, POLLIN, 0}};
    int ready = ::poll(fds, m_watch >= 0 ? 2 : 1, static_cast<int>(timeout.count()));
    if (ready < 0) {
        return errno == EINTR ? Wait::Quiet : Wait::Closed;
    }
    if (HungUpSince()) {
        return Wait::Closed;
    }
    if (ready > 0 && (fds[0].revents & POLLIN) && Available() > 0) {
        return Wait::Data;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        return Wait::Closed;
    }
    return Wait::Quiet;
}

long PseudoTerminal::Read(void* buffer, std::size_t count) {
    ssize_t got = ::read(m_master, buffer, count);
    if (got > 0) {
        return static_cast<long>(got);
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

long PseudoTerminal::Write(const void* buffer, std::size_t count) {
    ssize_t put = ::write(m_master, buffer, count);
    if (put >= 0) {
        return static_cast<long>(put);
    }
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void PseudoTerminal::WaitWritable(std::chrono::milliseconds timeout) {
    pollfd fd{m_master, POLLOUT, 0};
    ::poll(&fd, 1, static_cast<int>(timeout.count()));
}

void UsePreciseTimersOnThisThread() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace quillon
