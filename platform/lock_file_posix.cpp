#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillon {

namespace {

// A holder may remove the file between our open and our lock; then the
// lock is on a file nobody else will find, and the open is tried again.
constexpr int kAttempts = 8;

std::string ReadAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t got = 0;
    off_t at = 0;
    while ((got = ::pread(fd, buffer, sizeof buffer, at)) > 0 && text.size() < 4096) {
        text.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    return text;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

LockFile::~LockFile() {
    Release();
}

LockFile::Take LockFile::TryTake(const std::string& path) {
    Release();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0) {
            m_error = errno;
            return Take::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            m_error = errno;
            m_found = ReadAll(fd);
            ::close(fd);
            return m_error == EWOULDBLOCK ? Take::HeldByOther : Take::Failed;
        }
        if (!SameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_path = path;
        m_found = ReadAll(fd);
        m_error = 0;
        return Take::Taken;
    }
    m_error = EAGAIN;
    return Take::Failed;
}

bool LockFile::SetContent(const std::string& content) {
    if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0) {
        return false;
    }
    return ::pwrite(m_fd, content.data(), content.size(), 0) ==
           static_cast<ssize_t>(content.size());
}

// Removed while still locked, so that no one can take the old file and
// hold a lock that a newcomer's new file would not see.
void LockFile::Release() {
    if (m_fd < 0) {
        return;
    }
    ::unlink(m_path.c_str());
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace quillon
