#include "platform/console.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "platform/support_win32.h"

namespace quillon {

namespace {

constexpr std::size_t kConsolePart = 8192;  // UTF-16 units, 16 KiB

HANDLE HandleOf(ConsoleStream stream) {
    return ::GetStdHandle(stream == ConsoleStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle, DWORD& mode) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

bool WriteBytes(HANDLE handle, const char* text, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        DWORD put = 0;
        DWORD give = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        if (!::WriteFile(handle, text + done, give, &put, nullptr)) {
            return false;
        }
        done += put;
    }
    return true;
}

// A console shows text in its own code page; our text is UTF-8, so it goes
// as UTF-16, and what is not UTF-8 shows as U+FFFD. The status line's
// "\r\033[K" needs the console to take escape sequences, which consoles
// since Windows 10 do once asked. Consoles before Windows 8 refuse a write
// of more than 64 KiB, so it goes in parts, a surrogate pair never split.
bool WriteConsoleText(HANDLE handle, DWORD mode, const char* text, std::size_t size) {
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    std::wstring wide = detail::Wide(std::string(text, size));
    std::size_t done = 0;
    while (done < wide.size()) {
        std::size_t part = std::min<std::size_t>(wide.size() - done, kConsolePart);
        if (part > 1 && IS_HIGH_SURROGATE(wide[done + part - 1])) {
            --part;
        }
        DWORD put = 0;
        if (!::WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(part), &put, nullptr) ||
            put == 0) {
            return false;
        }
        done += put;
    }
    return true;
}

}  // namespace

bool ConsoleWrite(ConsoleStream stream, const char* text, std::size_t size) {
    HANDLE handle = HandleOf(stream);
    DWORD mode = 0;
    if (size == 0) {
        return true;
    }
    if (IsConsole(handle, mode)) {
        return WriteConsoleText(handle, mode, text, size);
    }
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && WriteBytes(handle, text, size);
}

bool ConsoleIsTerminal(ConsoleStream stream) {
    DWORD mode = 0;
    return IsConsole(HandleOf(stream), mode);
}

int ConsoleColumns(ConsoleStream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(HandleOf(stream), &info)) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace quillon
