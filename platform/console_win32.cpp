#include "platform/console.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace quillon {

namespace {

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
// as UTF-16. The status line's "\r\033[K" needs the console to take escape
// sequences, which consoles since Windows 10 do once asked.
bool WriteConsoleText(HANDLE handle, DWORD mode, const char* text, std::size_t size) {
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        ::SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, static_cast<int>(size),
                                       nullptr, 0);
    if (length <= 0) {
        return WriteBytes(handle, text, size);  // not UTF-8: as it is
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide.data(), length);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD put = 0;
        if (!::WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                             &put, nullptr) ||
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
