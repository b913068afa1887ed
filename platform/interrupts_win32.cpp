#include "platform/interrupts.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace quillon {

namespace {

// The Linux numbers of the signals that play the same part, so that the
// exit codes (128 + the number) read the same on both systems.
constexpr int kHangUp = 1;      // the console window closed
constexpr int kInterrupt = 2;   // Ctrl+C
constexpr int kQuit = 3;        // Ctrl+Break, the other key that stops a program
constexpr int kTerminate = 15;  // logging off, shutting down

// Windows ends the process as soon as the handler returns from a close,
// log-off or shut-down event, and after some five seconds in any case: the
// handler holds on until the program has cleaned up, or nearly that long.
constexpr DWORD kCleanUpGraceMs = 4500;

std::atomic<int> g_received{0};
HANDLE g_wake = nullptr;      // auto-reset: one Wait ends per Wake or event
HANDLE g_finished = nullptr;  // set once the watch has ended
std::once_flag g_eventsMade;

int SignalFor(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return kInterrupt;
        case CTRL_BREAK_EVENT:
            return kQuit;
        case CTRL_CLOSE_EVENT:
            return kHangUp;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return kTerminate;
        default:
            return 0;
    }
}

// Called by the system on a thread of its own.
BOOL WINAPI OnControl(DWORD event) {
    int signal = SignalFor(event);
    if (signal == 0) {
        return FALSE;
    }
    int none = 0;
    g_received.compare_exchange_strong(none, signal);
    ::SetEvent(g_wake);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        ::WaitForSingleObject(g_finished, kCleanUpGraceMs);
    }
    return TRUE;
}

}  // namespace

// The events live as long as the process: a handler still waiting on one
// when the watch ends must not find it closed.
InterruptWatch::InterruptWatch() {
    std::call_once(g_eventsMade, [] {
        g_wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        g_finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    });
    g_received = 0;
    ::ResetEvent(g_wake);
    ::ResetEvent(g_finished);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    ::SetConsoleCtrlHandler(OnControl, FALSE);
    ::SetEvent(g_finished);
}

int InterruptWatch::Wait(std::optional<std::chrono::milliseconds> timeout) {
    if (g_received != 0) {
        return g_received;
    }
    DWORD wait = timeout ? static_cast<DWORD>(std::max<long long>(0, timeout->count())) : INFINITE;
    ::WaitForSingleObject(g_wake, wait);
    return g_received;
}

void InterruptWatch::Wake() {
    ::SetEvent(g_wake);
}

int InterruptWatch::Received() const {
    return g_received;
}

// Windows has neither signal: a write to a closed pipe or past a limit
// fails by itself.
void IgnoreFatalWriteSignals() {}

}  // namespace quillon
