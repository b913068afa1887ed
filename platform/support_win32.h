#pragma once

// What the Win32 bodies share: handles kept in the portable classes' int
// members, and the system's errors in the terms the POSIX bodies use.

#include <windows.h>

#include <string>

namespace quillon::detail {

// Kernel handles have 32 significant bits, so that 32- and 64-bit
// processes can share them; an int member holds one, -1 for none.
inline int HandleToInt(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE || handle == nullptr
               ? -1
               : static_cast<int>(HandleToLong(handle));
}
inline HANDLE IntToHandle(int value) {
    return value < 0 ? INVALID_HANDLE_VALUE : LongToHandle(value);
}

// The errno value that the POSIX body reports for the same failure, so
// that a message reads the same on both systems.
int ErrnoFromWin32(DWORD error);

// The system's own words for an error, without the closing period.
std::string Win32Message(DWORD error);

// Whether the path names a symbolic link or a junction, which a file we
// create is never written through.
bool IsNameSurrogate(HANDLE file);

}  // namespace quillon::detail
