#include "platform/folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

Folder::~Folder() {
    Close();
}

// The path may lead through links that its owner set up; once open, the
// folder is held by its descriptor and never looked up by path again.
bool Folder::Open(const std::string& path) {
    Close();
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_openError = errno;
        return false;
    }
    m_handle = fd;
    m_openError = 0;
    m_path = path;
    m_within = path;
    return true;
}

int Folder::WriteError() const {
    return ::faccessat(m_handle, ".", W_OK | X_OK, 0) == 0 ? 0 : errno;
}

int Folder::Remove(const std::string& name) const {
    if (!IsPlainName(name)) {
        return EINVAL;
    }
    return ::unlinkat(m_handle, name.c_str(), 0) == 0 ? 0 : errno;
}

void Folder::Close() {
    if (m_handle >= 0) {
        ::close(m_handle);
        m_handle = -1;
    }
}

}  // namespace quillon
