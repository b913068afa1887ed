#include "platform/lock_file.h"

#include <cerrno>

#include "platform/file.h"

#include "platform/support_win32.h"

namespace quillon {

namespace {

using detail::ErrnoFromWin32;

// A holder may remove the file between our open and our lock (then it is
// pending deletion, and our lock would be on a file nobody else will find),
// or while we open it (then the open is refused for a moment).
constexpr int kAttempts = 8;

// Windows locks byte ranges for reading too: the lock sits far past the
// content, so that a newcomer can still read whom the file names.
constexpr DWORD kLockOffsetHigh = 0x40000000;

// A lock file names a process; what lies beyond a line of that is not read.
std::string ReadAll(HANDLE file) {
    char buffer[64];
    DWORD got = 0;
    OVERLAPPED at{};
    if (!::ReadFile(file, buffer, sizeof buffer, &got, &at)) {
        return {};
    }
    return std::string(buffer, got);
}

// What is found at the name must be a lock file and nothing else: a link
// would have us write elsewhere.
int CheckFound(HANDLE file) {
    if (detail::IsNameSurrogate(file)) {
        return ELOOP;
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        return kErrorNotRegular;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(file, &info) && info.nNumberOfLinks > 1) {
        return kErrorHardLink;
    }
    return 0;
}

OVERLAPPED LockRange() {
    OVERLAPPED range{};
    range.OffsetHigh = kLockOffsetHigh;
    return range;
}

bool DeletePending(HANDLE file) {
    FILE_STANDARD_INFO info{};
    return ::GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
           info.DeletePending;
}

}  // namespace

LockFile::~LockFile() {
    Release();
}

LockFile::Take LockFile::TryTake(const std::string& path) {
    Release();
    m_tookOver = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        HANDLE file = ::CreateFileW(
            detail::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = ::GetLastError();
            m_error = ErrnoFromWin32(error);
            if (error == ERROR_ACCESS_DENIED && attempt + 1 < kAttempts) {
                ::Sleep(1);
                continue;
            }
            return Take::Failed;
        }
        // The file is kept whatever it held: one that was there already is
        // taken over, and its name was never free.
        bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
        if (int refused = CheckFound(file); refused != 0) {
            ::CloseHandle(file);
            m_error = refused;
            return Take::Failed;
        }
        OVERLAPPED range = LockRange();
        if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                          &range)) {
            DWORD error = ::GetLastError();
            m_found = ReadAll(file);
            ::CloseHandle(file);
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
                m_error = EWOULDBLOCK;
                return Take::HeldByOther;
            }
            m_error = ErrnoFromWin32(error);
            return Take::Failed;
        }
        if (DeletePending(file)) {
            ::CloseHandle(file);
            continue;
        }
        m_fd = detail::OwnHandle(file);
        m_path = path;
        m_found = ReadAll(file);
        m_tookOver = existed;
        m_error = 0;
        return Take::Taken;
    }
    m_error = EAGAIN;
    return Take::Failed;
}

bool LockFile::SetContent(const std::string& content) {
    HANDLE file = m_fd;
    LARGE_INTEGER start{};
    if (m_fd == kNoHandle || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(file)) {
        return false;
    }
    DWORD put = 0;
    return ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &put, nullptr) &&
           put == content.size();
}

// Marked for removal while still locked, so that no one can take the old
// file and hold a lock that a newcomer's new file would not see.
void LockFile::Release() {
    if (m_fd == kNoHandle) {
        return;
    }
    HANDLE file = m_fd;
    DWORD removal = detail::RemoveOpenFile(file);
    ::CloseHandle(file);
    if (removal != 0) {
        detail::RemoveFileNamed(m_path);
    }
    m_fd = kNoHandle;
}

}  // namespace quillon
