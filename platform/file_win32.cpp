#include "platform/file.h"

#include <algorithm>
#include <cerrno>

#include "platform/folder.h"
#include "platform/support_win32.h"

namespace quillon {

namespace {

using detail::ErrnoFromWin32;
using detail::WidePath;

// Others may read, replace or remove a file we have open, as on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// ReadFile and WriteFile take a 32-bit count.
constexpr std::size_t kLargestTransfer = 1u << 30;

bool IsDirectory(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Windows refuses to open a folder as a file with "access denied".
int OpenErrorOf(DWORD error, const std::string& path) {
    if (error == ERROR_ACCESS_DENIED && IsDirectory(path)) {
        return EISDIR;
    }
    return ErrnoFromWin32(error);
}

HANDLE CreateOrOpen(const std::string& path, DWORD access, DWORD disposition) {
    return ::CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whatever has the name goes first (a link itself, never its target).
HANDLE OpenFresh(const std::string& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD removal = detail::RemoveFileNamed(path);
        if (removal != 0 && removal != ERROR_FILE_NOT_FOUND) {
            ::SetLastError(removal);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE handle = CreateOrOpen(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
}

HANDLE OpenByMode(const std::string& path, File::Mode mode) {
    switch (mode) {
        case File::Mode::ReadExisting:
            return ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        case File::Mode::CreateFresh:
        case File::Mode::CreateFreshShared:
            return OpenFresh(path);
        case File::Mode::Overwrite:
        case File::Mode::Append:
            return CreateOrOpen(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    }
    return INVALID_HANDLE_VALUE;
}

int LinkCount(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(handle, &info) ? static_cast<int>(info.nNumberOfLinks) : 1;
}

// Binary always: the handle carries bytes unchanged. Anything but a file on
// a disk (a port, a pipe, a console) is refused, as a FIFO or a device is on
// POSIX. What we write is opened without following a link that has its
// name, and emptied only once it is known to be no link.
HANDLE OpenRegular(const std::string& path, File::Mode mode, int& error) {
    HANDLE handle = OpenByMode(path, mode);
    if (handle == INVALID_HANDLE_VALUE) {
        error = OpenErrorOf(::GetLastError(), path);
        return handle;
    }
    bool writes = mode != File::Mode::ReadExisting;
    error = 0;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        error = kErrorNotRegular;
    } else if (writes && detail::IsNameSurrogate(handle)) {
        error = ELOOP;
    } else if (writes && LinkCount(handle) > 1) {
        error = kErrorHardLink;
    } else if (mode == File::Mode::Overwrite && !::SetEndOfFile(handle)) {
        error = ErrnoFromWin32(::GetLastError());
    }
    if (error != 0) {
        ::CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

bool Identify(HANDLE handle, std::uint64_t& volume, std::uint64_t& index) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    volume = info.dwVolumeSerialNumber;
    index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

// What the name itself has, a link's own when it is one: a folder link
// (a junction, a symbolic link to a folder) counts as a folder.
DWORD AttributesOf(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return ::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)
               ? 0
               : ::GetLastError();
}

// The folder and those above it that are missing, its path as WidePath
// made it (a \\?\ path's parents keep the prefix).
DWORD MakeFolders(const std::wstring& folder) {
    if (::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    DWORD error = ::GetLastError();
    std::size_t separator = folder.find_last_of(L"\\/");
    if (error != ERROR_PATH_NOT_FOUND || separator == std::wstring::npos || separator == 0) {
        return error;
    }
    if (DWORD above = MakeFolders(folder.substr(0, separator)); above != 0) {
        return above;
    }
    return ::CreateDirectoryW(folder.c_str(), nullptr) ? 0 : ::GetLastError();
}

}  // namespace

bool File::Open(const std::string& path, Mode mode) {
    Close();
    int error = 0;
    HANDLE handle = OpenRegular(path, mode, error);
    if (handle == INVALID_HANDLE_VALUE) {
        m_openError = error;
        return false;
    }
    m_fd = detail::OwnHandle(handle);
    if (!Identify(handle, m_volume, m_index)) {
        m_volume = m_index = 0;
    }
    m_openError = 0;
    m_path = path;
    return true;
}

// Made under the folder's resolved path, which holding the folder keeps
// from changing.
bool File::CreateIn(const Folder& folder, const std::string& name) {
    Close();
    if (!IsPlainName(name)) {
        m_openError = EINVAL;
        return false;
    }
    HANDLE handle =
        CreateOrOpen(folder.m_within + "\\" + name, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) {
        m_openError = ErrnoFromWin32(::GetLastError());
        return false;
    }
    m_fd = detail::OwnHandle(handle);
    if (!Identify(handle, m_volume, m_index)) {
        m_volume = m_index = 0;
    }
    m_openError = 0;
    m_path = folder.PathOf(name);
    return true;
}

void File::Fail(const std::string& action) const {
    throw FileError(m_path, ErrnoFromWin32(::GetLastError()), action);
}

std::uint64_t File::Seek(std::int64_t offset, From from) {
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER result{};
    if (!::SetFilePointerEx(m_fd, distance, &result, from == From::Start ? FILE_BEGIN : FILE_END)) {
        Fail("cannot seek in");
    }
    return static_cast<std::uint64_t>(result.QuadPart);
}

std::uint64_t File::GetLength() {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_fd, &size)) {
        Fail("cannot read the length of");
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::Read(void* buffer, std::size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        DWORD got = 0;
        DWORD ask = static_cast<DWORD>(std::min(count - total, kLargestTransfer));
        if (!::ReadFile(m_fd, bytes + total, ask, &got, nullptr)) {
            Fail("cannot read");
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

// A positioned read on a handle opened for plain I/O moves its position as
// well: it is put back.
std::size_t File::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    HANDLE handle = m_fd;
    LARGE_INTEGER none{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle, none, &position, FILE_CURRENT)) {
        Fail("cannot read");
    }
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        OVERLAPPED at{};
        std::uint64_t from = offset + total;
        at.Offset = static_cast<DWORD>(from);
        at.OffsetHigh = static_cast<DWORD>(from >> 32);
        DWORD got = 0;
        DWORD ask = static_cast<DWORD>(std::min(count - total, kLargestTransfer));
        if (!::ReadFile(handle, bytes + total, ask, &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            Fail("cannot read");
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN)) {
        Fail("cannot read");
    }
    return total;
}

bool File::IsStillAt(const std::string& path) const {
    if (m_fd == kNoHandle) {
        return false;
    }
    HANDLE named = ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool same = Identify(named, volume, index) && volume == m_volume && index == m_index;
    ::CloseHandle(named);
    return same;
}

void File::Write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        DWORD put = 0;
        DWORD give = static_cast<DWORD>(std::min(count - total, kLargestTransfer));
        if (!::WriteFile(m_fd, bytes + total, give, &put, nullptr)) {
            Fail("cannot write");
        }
        total += put;
    }
}

// The lock sits far past any content, so that readers are not held up.
int File::AppendWhole(const void* buffer, std::size_t count) {
    HANDLE handle = m_fd;
    OVERLAPPED range{};
    range.OffsetHigh = 0x40000000;
    ::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range);
    LARGE_INTEGER before{};
    LARGE_INTEGER none{};
    int error = 0;
    if (!::GetFileSizeEx(handle, &before) || !::SetFilePointerEx(handle, none, nullptr, FILE_END)) {
        error = ErrnoFromWin32(::GetLastError());
    }
    const auto* bytes = static_cast<const char*>(buffer);
    for (std::size_t done = 0; error == 0 && done < count;) {
        DWORD put = 0;
        DWORD give = static_cast<DWORD>(std::min(count - done, kLargestTransfer));
        if (!::WriteFile(handle, bytes + done, give, &put, nullptr) || put == 0) {
            error = put == 0 && ::GetLastError() == 0 ? EIO : ErrnoFromWin32(::GetLastError());
        }
        done += put;
    }
    if (error != 0 && ::SetFilePointerEx(handle, before, nullptr, FILE_BEGIN)) {
        ::SetEndOfFile(handle);
    }
    ::UnlockFileEx(handle, 0, 1, 0, &range);
    return error;
}

void File::Close() {
    if (m_fd != kNoHandle) {
        ::CloseHandle(m_fd);
        m_fd = kNoHandle;
    }
}

// Windows keeps no write permission on folders that a check could read: a
// file is created there, and gone again when its handle closes.
int File::FolderWriteError(const std::string& folder) {
    std::string probe = folder;
    if (!probe.empty() && probe.back() != '\\' && probe.back() != '/') {
        probe += '\\';
    }
    probe += ".quillon-probe-" + std::to_string(::GetCurrentProcessId());
    HANDLE handle =
        ::CreateFileW(WidePath(probe).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS ? 0 : ErrnoFromWin32(error);
    }
    ::CloseHandle(handle);
    return 0;
}

int File::FreshNameError(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return 0;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)
               ? EISDIR
               : 0;
}

// rename() of the C library refuses to replace an existing file here.
void File::Replace(const std::string& from, const std::string& to) {
    if (!::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw FileError(to, ErrnoFromWin32(::GetLastError()), "cannot replace");
    }
}

void File::Remove(const std::string& path) {
    if (DWORD error = detail::RemoveFileNamed(path); error != 0) {
        throw FileError(
            path,
            error == ERROR_ACCESS_DENIED && IsDirectory(path) ? EISDIR : ErrnoFromWin32(error),
            "cannot remove");
    }
}

int FolderError(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (DWORD error = AttributesOf(path, data); error != 0) {
        return ErrnoFromWin32(error);
    }
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : ENOTDIR;
}

bool PathExists(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return AttributesOf(path, data) == 0;
}

// Links to pseudo-terminals are for the Linux emulator alone.
int PlaceLink(const std::string&, const std::string&) {
    return ENOSYS;
}

void RemoveLink(const std::string&) {}

// The attributes are the name's own: a link is not followed.
bool NameTaken(const std::string& path) {
    return PathExists(path);
}

std::optional<std::uint64_t> FileSizeAt(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (AttributesOf(path, data) != 0 || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::string> RegularFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((WidePath(folder) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        // A link or a junction is a reparse point: not followed, not listed.
        const DWORD skipped =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        if ((found.dwFileAttributes & skipped) == 0) {
            names.push_back(detail::Utf8(found.cFileName));
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

int MakeFolderFor(const std::string& path) {
    std::wstring wide = WidePath(path);
    std::size_t separator = wide.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator == 0) {
        return 0;
    }
    return ErrnoFromWin32(MakeFolders(wide.substr(0, separator)));
}

}  // namespace quillon
