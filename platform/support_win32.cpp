#include "platform/support_win32.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <string_view>

namespace quillon::detail {

namespace {

// The plain form of a path ends at MAX_PATH; a folder's at 12 less, room
// for a file name of 8.3 letters.
constexpr std::size_t kLongestPlainPath = MAX_PATH - 12;
// About a second in all, for a scanner to let go of a file it has mapped.
constexpr int kRemoveAttempts = 50;
constexpr DWORD kRemovePauseMs = 20;

// FileDispositionInfoEx and its flags: mingw-w64's headers hide them
// behind a version test that no version passes.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionEx {
    DWORD flags;
};

template <typename Attempt>
DWORD Retried(Attempt attempt) {
    DWORD error = attempt();
    for (int done = 1; done < kRemoveAttempts &&
                       (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION);
         ++done) {
        ::Sleep(kRemovePauseMs);
        error = attempt();
    }
    return error;
}

DWORD MarkWith(HANDLE file, DWORD flags) {
    DispositionEx disposition{flags};
    return ::SetFileInformationByHandle(file, kDispositionInfoEx, &disposition, sizeof disposition)
               ? 0
               : ::GetLastError();
}

// POSIX semantics free the name when the handle closes, however long others
// keep the file open; file systems without them (FAT, some shares) and
// Windows before 10 1709 take the classic mark, and free the name only
// once the last handle has closed.
DWORD MarkEitherWay(HANDLE file) {
    if (MarkWith(file, kDispositionDelete | kDispositionPosixSemantics) == 0) {
        return 0;
    }
    FILE_DISPOSITION_INFO classic{TRUE};
    if (::SetFileInformationByHandle(file, FileDispositionInfo, &classic, sizeof classic)) {
        return 0;
    }
    return ::GetLastError();
}

// Puts the attributes in place; times of 0 are left as they are.
bool SetAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

// A read-only file goes as on POSIX, where the folder alone decides.
// Windows 10 1809 and later take a flag for it; earlier ones and Wine
// refuse that flag (Wine with "invalid parameter") and the removal of a
// read-only file ("access denied"): the attribute is cleared first, and
// put back when the file still cannot go.
DWORD MarkForRemoval(HANDLE file) {
    if (MarkWith(file, kDispositionDelete | kDispositionPosixSemantics |
                           kDispositionIgnoreReadOnly) == 0) {
        return 0;
    }
    DWORD error = MarkEitherWay(file);
    FILE_BASIC_INFO basic{};
    if (error != ERROR_ACCESS_DENIED ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY) ||
        !SetAttributes(file, basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY)) {
        return error;
    }
    error = MarkEitherWay(file);
    if (error != 0) {
        SetAttributes(file, basic.FileAttributes);
    }
    return error;
}

HANDLE OpenForRemoval(const std::wstring& path, DWORD access) {
    return ::CreateFileW(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool StartsWith(const std::wstring& text, const wchar_t* start) {
    return text.rfind(start, 0) == 0;
}

// The path made whole: the current folder before a relative one, / turned
// into a backslash, . and .. taken out. Empty when the system cannot.
std::wstring FullPath(const std::wstring& path) {
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return {};
    }
    std::wstring full(size, L'\0');
    DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return {};
    }
    full.resize(length);
    return full;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) {
        return {};
    }
    int size = static_cast<int>(utf8.size());
    int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* wide, std::size_t length) {
    if (length == 0 || length > INT_MAX) {
        return {};
    }
    int size = static_cast<int>(length);
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

// Decided by the whole path, not by the text given: a short relative path
// in a deep folder is as long as its folder. The prefix lets the system do
// none of FullPath's work, so the path goes whole.
std::wstring WidePath(const std::string& utf8) {
    std::wstring wide = Wide(utf8);
    if (wide.empty() || StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\")) {
        return wide;
    }
    std::wstring full = FullPath(wide);
    if (full.size() < kLongestPlainPath || StartsWith(full, L"\\\\?\\") ||
        StartsWith(full, L"\\\\.\\")) {
        return wide;
    }
    if (StartsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);  // a share: \\server\share
    }
    return L"\\\\?\\" + full;
}

int ErrnoFromWin32(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
            return EACCES;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_TOO_LARGE:
            return EFBIG;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_NOT_READY:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
            return ENXIO;
        case ERROR_CRC:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
            return EIO;
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_CALL_NOT_IMPLEMENTED:
            return ENOSYS;
        default:
            return EINVAL;
    }
}

// In the user's language, as the system gives it: Wide keeps it whole.
std::string Win32Message(DWORD error) {
    wchar_t* text = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
    ::LocalFree(text);
    // U+3002 is the full stop of Chinese and Japanese.
    while (!message.empty() &&
           std::wstring_view(L"\r\n .\u3002").find(message.back()) != std::wstring_view::npos) {
        message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(error) : Utf8(message);
}

bool IsNameSurrogate(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

DWORD RemoveOpenFile(HANDLE file) {
    return Retried([file] { return MarkForRemoval(file); });
}

// A folder is refused at once, as the POSIX body refuses it.
DWORD RemoveFileNamed(const std::string& path) {
    std::wstring wide = WidePath(path);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return ERROR_ACCESS_DENIED;
    }
    return Retried([&wide] {
        // The attributes too, for a read-only file; where they may not be
        // written, the file may still be removed.
        HANDLE file = OpenForRemoval(wide, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
            file = OpenForRemoval(wide, DELETE);
        }
        if (file == INVALID_HANDLE_VALUE) {
            return ::GetLastError();
        }
        DWORD error = MarkForRemoval(file);
        ::CloseHandle(file);
        return error;
    });
}

// XON and XOFF are the usual DC1 and DC3: the driver checks them even with
// software flow control off, and some refuse the whole state when the two
// are equal. The limits for flow control stay the driver's own.
DCB LineState(const DCB& current, DWORD baud) {
    DCB state = current;
    state.DCBlength = sizeof(DCB);
    state.BaudRate = baud;
    state.fBinary = 1;
    state.fParity = 0;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fDsrSensitivity = 0;
    state.fTXContinueOnXoff = 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fErrorChar = 0;
    state.fNull = 0;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fAbortOnError = 0;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    return state;
}

std::string PortDevicePath(const std::string& name) {
    for (const char* prefix : {"\\\\.\\", "\\\\?\\", "//./", "//?/"}) {
        if (name.rfind(prefix, 0) == 0) {
            return name;
        }
    }
    return "\\\\.\\" + name;
}

std::map<std::string, std::string> SerialCommPorts() {
    std::map<std::string, std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return ports;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        wchar_t data[256];
        DWORD nameSize = ARRAYSIZE(name);
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        LONG result = ::RegEnumValueW(key, index, name, &nameSize, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        std::wstring port(data, dataSize / sizeof(wchar_t));
        port.resize(std::wcslen(port.c_str()));  // the stored end, if any
        if (!port.empty()) {
            ports["\\\\.\\" + Utf8(port)] = Utf8(name, nameSize);
        }
    }
    ::RegCloseKey(key);
    return ports;
}

}  // namespace quillon::detail
