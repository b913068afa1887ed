#include "platform/serial_line.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "platform/device_users.h"
#include "platform/latency_timer.h"
#include "platform/serial_rate_posix.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;

int PollTimeout(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

void MakeRaw(termios& settings) {
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // VMIN 1 with O_NONBLOCK: no data reads as EAGAIN, so a read of 0 can
    // only mean the device hung up.
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

}  // namespace

struct SerialLine::Saved {
    termios settings{};
    int rate = 0;
    std::optional<int> serialFlags;  // the driver's, before low latency was asked
    LatencyTimer latency;
};

void SerialLine::Waker::operator()() const noexcept {
    std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(fd, &one, sizeof one);
}

SerialLine::SerialLine() : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SerialLine::~SerialLine() {
    Close();
    m_stopCallback.reset();
    if (m_wakeFd >= 0) {
        ::close(m_wakeFd);
    }
}

bool SerialLine::Fail(Fault fault) {
    m_fault = std::move(fault);
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_saved.reset();
    m_uucpLock.reset();
    return false;
}

bool SerialLine::Open(const std::string& device, int baud) {
    Close();
    m_gone = false;
    m_fault.Clear();
    if (std::string problem = BaudRateProblem(baud); !problem.empty()) {
        return Fail(Fault::Said(problem));
    }
    m_device = device;
    m_fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        // EIO: a device node that is still there for an adapter just pulled.
        int error = errno;
        m_gone = error == ENOENT || error == ENODEV || error == ENXIO || error == EIO;
        return Fail(Fault::OfErrno(error));
    }
    // TIOCEXCL does not stop root, so the lock is what keeps two of us apart.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        return Fail(Fault::OfErrno(errno == EWOULDBLOCK ? EBUSY : errno));
    }
    // A port is ours alone, as on systems where an open port cannot be
    // opened twice: a terminal program that has it open without a lock, or
    // whose lock file names it, would take the box's replies from us.
    m_uucpLock = std::make_unique<UucpLock>();
    if (!OtherProcessesUsing(device).empty() || !m_uucpLock->Take(device)) {
        return Fail(Fault::OfErrno(EBUSY));
    }
    auto saved = std::make_unique<Saved>();
    if (::tcgetattr(m_fd, &saved->settings) != 0) {
        // An adapter pulled out between the open and its set-up.
        NoteError(errno);
        return Fail(m_fault);
    }
    saved->rate = detail::ReadLineRate(m_fd);
    m_saved = std::move(saved);
    ::ioctl(m_fd, TIOCEXCL);
    m_baud = baud;
    if (std::string problem = Configure(); !problem.empty()) {
        Close();  // what was changed goes back
        // With the code of the call that was refused, when one was.
        m_fault = {problem, m_fault.code};
        return false;
    }
    return true;
}

namespace {

// What the driver kept of the settings a line to the box must not have:
// each would garble the box's replies or hold them back.
std::string SettingsKept(const termios& actual) {
    const std::pair<bool, const char*> kept[] = {
        {(actual.c_cflag & CSIZE) != CS8, "a character size other than 8 bits"},
        {(actual.c_cflag & PARENB) != 0, "parity"},
        {(actual.c_cflag & CSTOPB) != 0, "two stop bits"},
        {(actual.c_cflag & CRTSCTS) != 0, "hardware flow control"},
        {(actual.c_iflag & (IXON | IXOFF)) != 0, "software flow control"},
        {(actual.c_lflag & (ICANON | ECHO)) != 0, "line editing or echo"},
    };
    for (const auto& [isKept, what] : kept) {
        if (isKept) {
            return what;
        }
    }
    return {};
}

// A UART takes a rate a few per cent off; past that every byte is garbled.
bool CloseEnough(int actual, int asked) {
    return std::abs(static_cast<long long>(actual) - asked) * 100 <= 2LL * asked;
}

}  // namespace

// A driver that refuses a setting, or runs the line at another rate, would
// leave the box's replies to leftover flow control, parity or a wrong rate:
// the port is refused, as on Windows. What a pty or an adapter does not
// have (modem lines, serial_struct) is no refusal: it still carries bytes.
std::string SerialLine::Configure() {
    termios settings = m_saved->settings;
    MakeRaw(settings);
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0) {
        NoteError(errno);
        return std::string(
                   "the driver refuses the line settings (8 data bits, no parity, one "
                   "stop bit, no flow control): ") +
               m_fault.words;
    }
    if (!detail::SetLineRate(m_fd, m_baud)) {
        NoteError(errno);
        return "the driver refuses " + std::to_string(m_baud) + " baud: " + m_fault.words;
    }
    termios actual{};
    if (::tcgetattr(m_fd, &actual) != 0) {
        NoteError(errno);
        return std::string("the driver does not report the line settings: ") + m_fault.words;
    }
    if (std::string kept = SettingsKept(actual); !kept.empty()) {
        return "the driver keeps " + kept + " on the line";
    }
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(m_fd, TIOCMBIS, &lines);
    // An FTDI adapter otherwise holds a two-byte reply back for 16 ms.
    serial_struct serial{};
    if (::ioctl(m_fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        m_saved->serialFlags = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(m_fd, TIOCSSERIAL, &serial);
    }
    m_saved->latency.Lower(m_device);
    int rate = detail::ReadLineRate(m_fd);
    if (rate > 0 && !CloseEnough(rate, m_baud)) {
        return "the driver runs the line at " + std::to_string(rate) + " baud, not " +
               std::to_string(m_baud);
    }
    if (rate > 0) {
        m_baud = rate;
    }
    return {};
}

void SerialLine::Close() {
    if (m_fd < 0) {
        return;
    }
    // The rate first: the C library's settings then put back the flags
    // exactly as they were, and a non-standard rate keeps its speed fields.
    if (m_saved && !m_gone) {
        if (m_saved->rate > 0) {
            detail::SetLineRate(m_fd, m_saved->rate);
        }
        ::tcsetattr(m_fd, TCSANOW, &m_saved->settings);
        serial_struct serial{};
        if (m_saved->serialFlags && ::ioctl(m_fd, TIOCGSERIAL, &serial) == 0) {
            serial.flags = *m_saved->serialFlags;
            ::ioctl(m_fd, TIOCSSERIAL, &serial);
        }
    }
    // Left set, the flag would refuse every later open but root's.
    ::ioctl(m_fd, TIOCNXCL);
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
    m_saved.reset();
    m_uucpLock.reset();
}

void SerialLine::NoteError(int error) {
    m_fault = Fault::OfErrno(error);
    if (error == EIO || error == ENXIO || error == ENODEV || error == EBADF) {
        m_gone = true;
    }
}

std::size_t SerialLine::Read(void* buffer, std::size_t count) {
    if (m_fd < 0 || m_gone || count == 0) {
        return 0;
    }
    ssize_t got = ::read(m_fd, buffer, count);
    if (got > 0) {
        return static_cast<std::size_t>(got);
    }
    if (got == 0) {
        m_gone = true;
        m_fault = Fault::Said("the device hung up");
    } else if (errno != EAGAIN && errno != EINTR) {
        NoteError(errno);
    }
    return 0;
}

std::size_t SerialLine::Write(const void* buffer, std::size_t count,
                              std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (m_fd >= 0 && !m_gone && done < count && !Stopped()) {
        ssize_t put = ::write(m_fd, bytes + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            NoteError(errno);
            break;
        }
        if (Clock::now() >= deadline) {
            break;
        }
        // A refused write waits for room, not in a loop of retries.
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, PollTimeout(deadline)) > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            m_gone = true;
            m_fault = Fault::Said("the device hung up");
        }
    }
    return done;
}

SerialLine::Wait SerialLine::WaitReadable(std::chrono::milliseconds timeout) {
    if (m_fd < 0 || m_gone) {
        return Wait::Gone;
    }
    if (Stopped()) {
        return Wait::Stopped;
    }
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    if (Stopped()) {
        return Wait::Stopped;
    }
    if (ready <= 0) {
        return Wait::TimedOut;
    }
    if (fds[0].revents & POLLIN) {
        return Wait::Readable;  // what came before a hang-up is still read
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        m_gone = true;
        m_fault = Fault::Said("the device hung up");
        return Wait::Gone;
    }
    return Wait::TimedOut;
}

int SerialLine::OutputQueued() const {
    int queued = 0;
    if (m_fd < 0 || ::ioctl(m_fd, TIOCOUTQ, &queued) != 0) {
        return 0;
    }
    return queued;
}

std::size_t SerialLine::InputQueued() const {
    int count = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &count) != 0 || count < 0) {
        return 0;
    }
    return static_cast<std::size_t>(count);
}

}  // namespace quillon
