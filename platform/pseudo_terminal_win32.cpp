#include "platform/pseudo_terminal.h"

#include <windows.h>

#include <mutex>

namespace quillon {

// Windows has no pseudo-terminals that a serial line could be opened on:
// the emulated box serves a real port there, or runs on another system.
std::unique_ptr<PseudoTerminal> PseudoTerminal::Open(Fault& fault) {
    fault = Fault::Said(
        "pseudo-terminals do not exist on Windows; serve a serial port with --device COMn, or "
        "run the box on Linux");
    return nullptr;
}

PseudoTerminal::PseudoTerminal(NativeHandle master, std::string path)
    : m_master(master), m_path(std::move(path)) {}

PseudoTerminal::~PseudoTerminal() = default;

std::size_t PseudoTerminal::Available() const {
    return 0;
}

PseudoTerminal::Wait PseudoTerminal::WaitInput(std::chrono::milliseconds) {
    return Wait::Closed;
}

long PseudoTerminal::Read(void*, std::size_t) {
    return -1;
}

long PseudoTerminal::Write(const void*, std::size_t) {
    return -1;
}

void PseudoTerminal::WaitWritable(std::chrono::milliseconds) {}

// The timer resolution is the process's, not the thread's: about 15.6 ms
// unless asked for 1 ms, which lasts until the process ends. winmm is
// loaded only here, for the box emulator: it brings user32 along, after
// which a console program no longer hears of logging off or shutting down.
void UsePreciseTimersOnThisThread() {
    static std::once_flag asked;
    std::call_once(asked, [] {
        HMODULE winmm = ::LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (winmm == nullptr) {
            return;
        }
        auto begin = reinterpret_cast<UINT(WINAPI*)(UINT)>(
            reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeBeginPeriod")));
        if (begin != nullptr) {
            begin(1);
        }
    });
}

}  // namespace quillon
