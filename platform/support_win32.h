#pragma once

// What the Win32 bodies share: handles kept in the portable classes' int
// members, the system's errors in the terms the POSIX bodies use, and our
// UTF-8 text in the system's UTF-16.

#include <windows.h>

#include <cstddef>
#include <map>
#include <string>

#include "platform/fault.h"
#include "platform/native_handle.h"

namespace quillon::detail {

// A handle as a member keeps it: the calls that make one fail with
// INVALID_HANDLE_VALUE or with none, and either is kNoHandle here.
inline NativeHandle OwnHandle(HANDLE handle) {
    return handle == nullptr ? kNoHandle : handle;
}

// Our text is UTF-8 on every system; the W calls take UTF-16. What is not
// UTF-8 becomes U+FFFD, so a name that is not UTF-8 names nothing.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const wchar_t* wide, std::size_t length);
inline std::string Utf8(const std::wstring& wide) {
    return Utf8(wide.data(), wide.size());
}

// A path for the W calls. One too long for the plain form is made whole
// and given the \\?\ prefix, which every Windows takes, whatever the
// long-path setting of the machine.
std::wstring WidePath(const std::string& utf8);

// The errno value that the POSIX body reports for the same failure, so
// that a message reads the same on both systems.
int ErrnoFromWin32(DWORD error);

// The system's own words for an error, in UTF-8, without the closing period.
std::string Win32Message(DWORD error);
// The same with its code, for a caller that decides on the code.
inline Fault Win32Fault(DWORD error) {
    return {Win32Message(error), static_cast<int>(error)};
}

// Whether the path names a symbolic link or a junction, which a file we
// create is never written through.
bool IsNameSurrogate(HANDLE file);

// Removes the file that handle (opened with DELETE access) has open, its
// name freed at once where the system can (POSIX semantics, Windows 10
// 1709 and later). A file an antivirus scanner has mapped cannot be
// removed for a moment: that is tried again for about a second. 0 or the
// system's error.
DWORD RemoveOpenFile(HANDLE file);
// The same by name; a link itself is removed, never its target.
DWORD RemoveFileNamed(const std::string& path);

// The line state a port is opened with: the state the driver has, with
// what the protocol needs put over it (the rate, 8N1, binary, DTR and RTS
// on, no flow control of any kind, no abort on errors, distinct XON and
// XOFF characters, which drivers require even unused).
DCB LineState(const DCB& current, DWORD baud);

// The name a port is opened by: \\.\ and its name, as Qt and libserialport
// open every port; a bare name (COM3, CNCA0) would be taken for a file in
// the current folder. A name with a device prefix stays as it is.
std::string PortDevicePath(const std::string& name);

// The serial ports that drivers have made, by the device name we open
// (\\.\COM5), with the driver's name for each (\Device\VCP0).
std::map<std::string, std::string> SerialCommPorts();

}  // namespace quillon::detail
