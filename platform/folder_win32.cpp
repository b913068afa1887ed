#include "platform/folder.h"

#include <cerrno>

#include "platform/file.h"
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

// Probed by the folder's own resolved path, which cannot change while the
// handle is held.
int Folder::WriteError() const {
    return File::FolderWriteError(m_within);
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
