#include "platform/folder.h"

#include <cerrno>

#include "platform/support_win32.h"

namespace quillon {

namespace {

using detail::ErrnoFromWin32;

// The folder's path with every link resolved, as the system has it open.
std::string FinalPath(HANDLE folder) {
    DWORD size = ::GetFinalPathNameByHandleW(folder, nullptr, 0, FILE_NAME_NORMALIZED);
    if (size == 0) {
        return {};
    }
    std::wstring path(size, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(folder, path.data(), size, FILE_NAME_NORMALIZED);
    return length == 0 || length >= size ? std::string() : detail::Utf8(path.data(), length);
}

}  // namespace

Folder::~Folder() {
    Close();
}

// Windows keeps a folder that a handle without FILE_SHARE_DELETE holds
// from being renamed or removed, and its parents with it: names made under
// its resolved path stay in it while the handle is held.
bool Folder::Open(const std::string& path) {
    Close();
    HANDLE folder = ::CreateFileW(detail::WidePath(path).c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        m_openError = ErrnoFromWin32(::GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::CloseHandle(folder);
        m_openError = ENOTDIR;
        return false;
    }
    // A system that cannot say (Wine, for a path past MAX_PATH) keeps the
    // path as given: the folder itself is still held in place.
    std::string within = FinalPath(folder);
    m_handle = detail::OwnHandle(folder);
    m_openError = 0;
    m_path = path;
    m_within = within.empty() ? path : within;
    return true;
}

// Windows keeps no write permission on folders that a check could read: a
// file is made there, and gone again when its handle closes.
int Folder::WriteError() const {
    std::string probe = m_within + "\\.quillon-probe-" + std::to_string(::GetCurrentProcessId());
    HANDLE handle =
        ::CreateFileW(detail::WidePath(probe).c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS ? 0 : ErrnoFromWin32(error);
    }
    ::CloseHandle(handle);
    return 0;
}

int Folder::Remove(const std::string& name) const {
    if (!IsPlainName(name)) {
        return EINVAL;
    }
    return ErrnoFromWin32(detail::RemoveFileNamed(m_within + "\\" + name));
}

void Folder::Close() {
    if (m_handle != kNoHandle) {
        ::CloseHandle(m_handle);
        m_handle = kNoHandle;
    }
}

}  // namespace quillon
