#include "platform/serial_line.h"

#include <algorithm>
#include <cctype>

#include "platform/device_users.h"
#include "platform/support_win32.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using detail::HandleToInt;
using detail::IntToHandle;
using detail::Win32Message;

// Waits are made of slices this long, each ending with a look at the input
// count: waiting for the driver's receive event is not to be relied on (Wine
// reports it at once and empty), and no overlapped read that could wait
// instead ends early there. A slice is also the longest that one write
// blocks, so that a stop request ends it soon.
constexpr DWORD kSliceMs = 1;
constexpr DWORD kWriteSliceMs = 20;
constexpr DWORD kLargestWrite = 64 * 1024;

// The device a port goes by: COM10 and above open only as \\.\COM10.
std::string DeviceName(const std::string& device) {
    bool bareCom = device.size() > 3 && device.size() <= 6 &&
                   std::toupper(static_cast<unsigned char>(device[0])) == 'C' &&
                   std::toupper(static_cast<unsigned char>(device[1])) == 'O' &&
                   std::toupper(static_cast<unsigned char>(device[2])) == 'M' &&
                   device.find_first_not_of("0123456789", 3) == std::string::npos;
    return bareCom ? "\\\\.\\" + device : device;
}

constexpr DWORD kErrorNoSuchDevice = 433;  // not named in mingw-w64's headers

// Errors after which the line is gone for good: an unplugged adapter, or a
// pty whose other end closed under Wine.
bool MeansGone(DWORD error) {
    switch (error) {
        case ERROR_INVALID_HANDLE:
        case ERROR_ACCESS_DENIED:
        case ERROR_NOT_READY:
        case ERROR_BAD_COMMAND:
        case ERROR_GEN_FAILURE:
        case kErrorNoSuchDevice:
        case ERROR_OPERATION_ABORTED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEVICE_REMOVED:
            return true;
        default:
            return false;
    }
}

}  // namespace

struct SerialLine::Saved {
    DCB state{};
    COMMTIMEOUTS timeouts{};
};

void SerialLine::Waker::operator()() const noexcept {
    ::SetEvent(IntToHandle(fd));
}

SerialLine::SerialLine() : m_wakeFd(HandleToInt(::CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

SerialLine::~SerialLine() {
    Close();
    m_stopCallback.reset();
    if (m_wakeFd >= 0) {
        ::CloseHandle(IntToHandle(m_wakeFd));
    }
}

bool SerialLine::Fail(const std::string& reason) {
    m_error = reason;
    if (m_fd >= 0) {
        ::CloseHandle(IntToHandle(m_fd));
        m_fd = -1;
    }
    m_saved.reset();
    return false;
}

// No sharing: Windows refuses the port to every other program while it is
// open, and refuses it to us while another has it.
bool SerialLine::Open(const std::string& device, int baud) {
    Close();
    m_gone = false;
    m_error.clear();
    if (std::string problem = BaudRateProblem(baud); !problem.empty()) {
        return Fail(problem);
    }
    HANDLE handle = ::CreateFileA(DeviceName(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Fail(Win32Message(::GetLastError()));
    }
    m_fd = HandleToInt(handle);
    auto saved = std::make_unique<Saved>();
    saved->state.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle, &saved->state) || !::GetCommTimeouts(handle, &saved->timeouts)) {
        return Fail(Win32Message(::GetLastError()));  // a file or a device that is no port
    }
    m_saved = std::move(saved);
    m_baud = baud;
    // Slices of 1 ms instead of the default 15.6 ms, while a port is open.
    ::timeBeginPeriod(1);
    Configure();
    return true;
}

// The driver's refusals are ignored, as on POSIX: Wine's pty has no modem
// lines and still carries bytes.
bool SerialLine::Configure() {
    HANDLE handle = IntToHandle(m_fd);
    DCB state{};
    state.DCBlength = sizeof(DCB);
    state.BaudRate = static_cast<DWORD>(m_baud);
    state.fBinary = 1;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    ::SetCommState(handle, &state);
    // A read returns at once with what has come; a write blocks one slice at most.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, kWriteSliceMs};
    ::SetCommTimeouts(handle, &timeouts);
    DCB actual{};
    actual.DCBlength = sizeof(DCB);
    if (::GetCommState(handle, &actual) && actual.BaudRate > 0) {
        m_baud = static_cast<int>(actual.BaudRate);
    }
    return true;
}

void SerialLine::Close() {
    if (m_fd < 0) {
        return;
    }
    HANDLE handle = IntToHandle(m_fd);
    if (m_saved && !m_gone) {
        ::SetCommState(handle, &m_saved->state);
        ::SetCommTimeouts(handle, &m_saved->timeouts);
    }
    ::CloseHandle(handle);
    ::timeEndPeriod(1);
    m_fd = -1;
    m_saved.reset();
}

void SerialLine::NoteError(int error) {
    if (MeansGone(static_cast<DWORD>(error))) {
        m_gone = true;
    }
}

std::size_t SerialLine::Read(void* buffer, std::size_t count) {
    if (m_fd < 0 || m_gone || count == 0) {
        return 0;
    }
    DWORD got = 0;
    DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
    if (!::ReadFile(IntToHandle(m_fd), buffer, ask, &got, nullptr)) {
        NoteError(static_cast<int>(::GetLastError()));
        return 0;
    }
    return got;
}

std::size_t SerialLine::Write(const void* buffer, std::size_t count,
                              std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (m_fd >= 0 && !m_gone && done < count && !Stopped()) {
        DWORD put = 0;
        DWORD give = static_cast<DWORD>(std::min<std::size_t>(count - done, kLargestWrite));
        if (!::WriteFile(IntToHandle(m_fd), bytes + done, give, &put, nullptr)) {
            NoteError(static_cast<int>(::GetLastError()));
            break;
        }
        done += put;
        if (done < count && Clock::now() >= deadline) {
            break;
        }
    }
    return done;
}

SerialLine::Wait SerialLine::WaitReadable(std::chrono::milliseconds timeout) {
    if (m_fd < 0 || m_gone) {
        return Wait::Gone;
    }
    auto deadline = Clock::now() + timeout;
    HANDLE wake = IntToHandle(m_wakeFd);
    for (;;) {
        if (Stopped()) {
            return Wait::Stopped;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(IntToHandle(m_fd), &errors, &status)) {
            NoteError(static_cast<int>(::GetLastError()));
            if (m_gone) {
                return Wait::Gone;
            }
        } else if (status.cbInQue > 0) {
            return Wait::Readable;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Wait::TimedOut;
        }
        DWORD slice = std::min<DWORD>(kSliceMs, static_cast<DWORD>(left.count()));
        if (m_wakeFd >= 0) {
            ::WaitForSingleObject(wake, slice);
        } else {
            ::Sleep(slice);
        }
    }
}

int SerialLine::OutputQueued() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_fd < 0 || !::ClearCommError(IntToHandle(m_fd), &errors, &status)) {
        return 0;
    }
    return static_cast<int>(std::min<DWORD>(status.cbOutQue, 0x7FFFFFFF));
}

std::size_t SerialLine::InputQueued() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_fd < 0 || !::ClearCommError(IntToHandle(m_fd), &errors, &status)) {
        return 0;
    }
    return status.cbInQue;
}

}  // namespace quillon
