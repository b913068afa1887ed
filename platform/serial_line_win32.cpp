#include "platform/serial_line.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/device_users.h"
#include "platform/support_win32.h"

namespace quillon {

namespace {

using Clock = std::chrono::steady_clock;
using detail::Win32Message;

// Waits are made of slices this long, each ending with a look at the input
// count: waiting for the driver's receive event is not to be relied on (Wine
// reports it at once and empty), and no overlapped read that could wait
// instead ends early there.
constexpr DWORD kSliceMs = 1;
// A write hands the driver no more than the line carries in this time, so
// that a stop request is looked at that often even where a write cannot be
// cancelled.
constexpr DWORD kWriteSliceMs = 50;
// What a write may take beyond twice its line time (the adapter's own
// buffer still sending the slice before): one that takes longer has
// stalled, and is then one that a driver may fail with a time-out.
constexpr DWORD kWriteMarginMs = 250;
constexpr DWORD kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// ClearCommError failing this many times in a row: the port is gone, as
// after a failed read.
constexpr int kStatusFailuresGone = 3;
// High-resolution waitable timers (Windows 10 1803 and later) end a wait
// of 1 ms after 1 ms, not at the next 15.6 ms tick; not in mingw-w64's headers.
constexpr DWORD kHighResolutionTimer = 0x00000002;
// How often a stop tries again to cancel a call that has yet to return.
constexpr DWORD kCancelRetryMs = 1;

DWORD LineMs(std::size_t bytes, DWORD baud) {
    return static_cast<DWORD>((bytes * kBitsPerByte * 1000 + baud - 1) / baud);
}

// As many bytes as the line carries in a write slice, at least one.
std::size_t WriteSlice(DWORD baud) {
    return std::max<std::size_t>(
        1, static_cast<std::size_t>(baud) * kWriteSliceMs / (1000 * kBitsPerByte));
}

// A driver that gives up on a write reports one of these, some after
// sending part of it: a time-out, not a lost line.
bool IsWriteTimeout(DWORD error) {
    return error == ERROR_SEM_TIMEOUT || error == ERROR_COUNTER_TIMEOUT;
}

HANDLE MakeWaitTimer() {
    HANDLE timer =
        ::CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
    return timer != nullptr ? timer
                            : ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

// Until the timer runs out or a stop request sets the wake event.
void Pause(HANDLE timer, HANDLE wake, DWORD ms) {
    LARGE_INTEGER due{};
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10'000;  // relative, in 100 ns
    if (timer != nullptr && ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        HANDLE both[2] = {timer, wake};
        ::WaitForMultipleObjects(wake != INVALID_HANDLE_VALUE ? 2 : 1, both, FALSE, INFINITE);
    } else if (wake != INVALID_HANDLE_VALUE) {
        ::WaitForSingleObject(wake, ms);
    } else {
        ::Sleep(ms);
    }
}

// The threads inside calls on a line that may block for long (opening a
// Bluetooth port takes tens of seconds; a write), by the line's wake event,
// so that a stop request cancels such a call. Kept for the life of the
// process: a canceller may look after the last line has gone.
struct BlockedCalls {
    struct Call {
        HANDLE thread;
        std::uint64_t number;  // tells this call from a later one on the line
    };
    std::mutex mutex;
    std::map<NativeHandle, Call> calls;
    std::uint64_t made = 0;
};

BlockedCalls& Blocked() {
    static auto* blocked = new BlockedCalls;
    return *blocked;
}

// Cancels the line's call that is under way, when number is 0 or that
// call's own (numbers start at 1): the call's number, 0 when none is.
std::uint64_t CancelBlocked(NativeHandle wake, std::uint64_t number) {
    BlockedCalls& blocked = Blocked();
    std::lock_guard lock(blocked.mutex);
    auto found = blocked.calls.find(wake);
    if (found == blocked.calls.end() || (number != 0 && found->second.number != number)) {
        return 0;
    }
    ::CancelSynchronousIo(found->second.thread);
    return found->second.number;
}

class BlockingCall {
public:
    explicit BlockingCall(NativeHandle wake) : m_wake(wake) {
        HANDLE thread = nullptr;
        if (m_wake == kNoHandle ||
            !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                               &thread, THREAD_TERMINATE, FALSE, 0)) {
            m_wake = kNoHandle;
            return;
        }
        BlockedCalls& blocked = Blocked();
        std::lock_guard lock(blocked.mutex);
        blocked.calls[m_wake] = {thread, ++blocked.made};
    }
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;
    ~BlockingCall() {
        if (m_wake == kNoHandle) {
            return;
        }
        BlockedCalls& blocked = Blocked();
        std::lock_guard lock(blocked.mutex);
        auto found = blocked.calls.find(m_wake);
        ::CloseHandle(found->second.thread);
        blocked.calls.erase(found);
    }

    // A stop that comes between the caller's last look and the start of the
    // call finds nothing to cancel yet: cancelling is tried again, on a
    // thread of its own so that the stop itself never waits, until the call
    // has returned.
    static void Cancel(NativeHandle wake) noexcept {
        std::uint64_t number = CancelBlocked(wake, 0);
        if (number == 0) {
            return;  // none under way: the next one looks at the stop first
        }
        try {
            std::thread([wake, number] {
                while (CancelBlocked(wake, number) != 0) {
                    ::Sleep(kCancelRetryMs);
                }
            }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: the one try made above is all.
        }
    }

private:
    NativeHandle m_wake;
};

}  // namespace

// What an open line keeps: the state to restore, and its own means of waiting.
struct SerialLine::Saved {
    DCB state{};
    COMMTIMEOUTS timeouts{};
    HANDLE timer = MakeWaitTimer();
    std::size_t writeSlice = 1;
    int statusFailures = 0;

    Saved() = default;
    Saved(const Saved&) = delete;
    Saved& operator=(const Saved&) = delete;
    ~Saved() {
        if (timer != nullptr) {
            ::CloseHandle(timer);
        }
    }
};

void SerialLine::Waker::operator()() const noexcept {
    ::SetEvent(fd);
    BlockingCall::Cancel(fd);
}

SerialLine::SerialLine()
    : m_wakeFd(detail::OwnHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

SerialLine::~SerialLine() {
    Close();
    m_stopCallback.reset();
    if (m_wakeFd != kNoHandle) {
        ::CloseHandle(m_wakeFd);
    }
}

bool SerialLine::Fail(Fault fault) {
    m_fault = std::move(fault);
    if (m_fd != kNoHandle) {
        ::CloseHandle(m_fd);
        m_fd = kNoHandle;
    }
    m_saved.reset();
    return false;
}

// No sharing: Windows refuses the port to every other program while it is
// open, and refuses it to us while another has it.
bool SerialLine::Open(const std::string& device, int baud) {
    Close();
    m_gone = false;
    m_fault.Clear();
    if (std::string problem = BaudRateProblem(baud); !problem.empty()) {
        return Fail(Fault::Said(problem));
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_OPERATION_ABORTED;
    {
        BlockingCall call(m_wakeFd);
        if (!Stopped()) {
            handle =
                ::CreateFileW(detail::Wide(detail::PortDevicePath(device)).c_str(),
                              GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            error = ::GetLastError();
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        m_gone = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return Fail(detail::Win32Fault(error));
    }
    m_fd = detail::OwnHandle(handle);
    auto saved = std::make_unique<Saved>();
    saved->state.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle, &saved->state) || !::GetCommTimeouts(handle, &saved->timeouts)) {
        DWORD refused = ::GetLastError();  // a file or a device that is no port
        return Fail(detail::Win32Fault(refused));
    }
    m_saved = std::move(saved);
    m_baud = baud;
    if (std::string problem = Configure(); !problem.empty()) {
        return Fail(Fault::Said(problem));
    }
    return true;
}

// Every refusal counts: a driver that refuses the state as a whole would
// leave the last program's settings, whose XON/XOFF swallow the box's
// replies, and one that runs the line at another rate garbles every byte.
// A port that does not open as asked is left as it was found.
std::string SerialLine::Configure() {
    HANDLE handle = m_fd;
    auto rate = static_cast<DWORD>(m_baud);
    auto restored = [this, handle](const std::string& reason) {
        ::SetCommState(handle, &m_saved->state);
        ::SetCommTimeouts(handle, &m_saved->timeouts);
        return reason;
    };
    DCB wanted = detail::LineState(m_saved->state, rate);
    if (!::SetCommState(handle, &wanted)) {
        return restored("the driver refuses " + std::to_string(m_baud) +
                        " baud 8N1 without flow control: " + Win32Message(::GetLastError()));
    }
    m_saved->writeSlice = WriteSlice(rate);
    // A read returns at once with what has come; a write of a slice is
    // given twice its line time and a margin.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0,
                          2 * LineMs(m_saved->writeSlice, rate) + kWriteMarginMs};
    if (!::SetCommTimeouts(handle, &timeouts)) {
        return restored("the driver refuses the time-outs: " + Win32Message(::GetLastError()));
    }
    DCB actual{};
    actual.DCBlength = sizeof(DCB);
    if (!::GetCommState(handle, &actual)) {
        return restored("the driver does not report the line settings: " +
                        Win32Message(::GetLastError()));
    }
    if (actual.BaudRate != rate) {
        return restored("the driver runs the line at " + std::to_string(actual.BaudRate) +
                        " baud, not at " + std::to_string(m_baud));
    }
    return {};
}

void SerialLine::Close() {
    if (m_fd == kNoHandle) {
        return;
    }
    HANDLE handle = m_fd;
    if (m_saved && !m_gone) {
        ::SetCommState(handle, &m_saved->state);
        ::SetCommTimeouts(handle, &m_saved->timeouts);
    }
    ::CloseHandle(handle);
    m_fd = kNoHandle;
    m_saved.reset();
}

// Drivers report an unplugged adapter with many codes (some with "invalid
// parameter" or "file not found"): after any failed read or write the line
// is gone. Only a call that a stop request cancelled says nothing of it.
void SerialLine::NoteError(int error) {
    if (!(Stopped() && static_cast<DWORD>(error) == ERROR_OPERATION_ABORTED)) {
        m_gone = true;
        m_fault = detail::Win32Fault(static_cast<DWORD>(error));
    }
}

std::size_t SerialLine::Read(void* buffer, std::size_t count) {
    if (m_fd == kNoHandle || m_gone || count == 0) {
        return 0;
    }
    DWORD got = 0;
    DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
    if (!::ReadFile(m_fd, buffer, ask, &got, nullptr)) {
        NoteError(static_cast<int>(::GetLastError()));
        return 0;
    }
    return got;
}

// What a failed write reports as written did go out: it is counted, so that
// the rest follows it and nothing is sent twice.
std::size_t SerialLine::Write(const void* buffer, std::size_t count,
                              std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (m_fd != kNoHandle && !m_gone && done < count) {
        DWORD put = 0;
        DWORD give = static_cast<DWORD>(std::min(count - done, m_saved->writeSlice));
        DWORD error = ERROR_OPERATION_ABORTED;
        {
            BlockingCall call(m_wakeFd);
            if (Stopped()) {
                break;
            }
            if (::WriteFile(m_fd, bytes + done, give, &put, nullptr)) {
                error = 0;
            } else {
                error = ::GetLastError();
            }
        }
        done += put;
        if (error != 0 && !IsWriteTimeout(error)) {
            NoteError(static_cast<int>(error));
            break;
        }
        if (done < count && Clock::now() >= deadline) {
            break;
        }
    }
    return done;
}

SerialLine::Wait SerialLine::WaitReadable(std::chrono::milliseconds timeout) {
    if (m_fd == kNoHandle || m_gone) {
        return Wait::Gone;
    }
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (Stopped()) {
            return Wait::Stopped;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(m_fd, &errors, &status)) {
            if (++m_saved->statusFailures >= kStatusFailuresGone) {
                m_gone = true;
                return Wait::Gone;
            }
        } else {
            m_saved->statusFailures = 0;
            if (status.cbInQue > 0) {
                return Wait::Readable;
            }
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return Wait::TimedOut;
        }
        Pause(m_saved->timer, m_wakeFd,
              std::min<DWORD>(kSliceMs, static_cast<DWORD>(left.count())));
    }
}

int SerialLine::OutputQueued() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_fd == kNoHandle || !::ClearCommError(m_fd, &errors, &status)) {
        return 0;
    }
    return static_cast<int>(std::min<DWORD>(status.cbOutQue, 0x7FFFFFFF));
}

std::size_t SerialLine::InputQueued() const {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_fd == kNoHandle || !::ClearCommError(m_fd, &errors, &status)) {
        return 0;
    }
    return status.cbInQue;
}

}  // namespace quillon
