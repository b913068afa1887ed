#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace quillon {

namespace {

// A holder may remove the file between our open and our lock; then the
// lock is on a file nobody else will find, and the open is tried again.
constexpr int kAttempts = 8;
// A lock file names a process; what lies beyond a line of that is not read,
// whatever size the file claims.
constexpr std::size_t kMostContent = 64;

std::string ReadStart(int fd) {
    char buffer[kMostContent];
    ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// What is found at the name must be a lock file and nothing else: a link
// would have us write elsewhere, and a FIFO would hold the open.
int CheckExisting(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return kErrorNotRegular;
    }
    return info.st_nlink > 1 ? kErrorHardLink : 0;
}

// The lock file of that name; a new one (fresh: true) when there was none.
int OpenLockFile(const std::string& path, bool& fresh) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    fresh = fd >= 0;
    if (fresh || errno != EEXIST) {
        return fd >= 0 ? fd : -errno;
    }
    // flock needs no write access: a file another user made can still be
    // told held or free.
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    if (int error = CheckExisting(fd); error != 0) {
        ::close(fd);
        return -error;
    }
    return fd;
}

// A new lock file of ours, locked, put in the place of the one at path in
// one step: the name is never free, so no newcomer can start afresh
// without learning that a holder died. Only the holder of the lock at path
// makes the name beside it: one found there is a dead holder's, or planted.
int ReplaceWithOwn(const std::string& path) {
    const std::string aside = path + ".new";
    if (::unlink(aside.c_str()) != 0 && errno != ENOENT) {
        return -errno;
    }
    int fd = ::open(aside.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -errno;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::rename(aside.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(aside.c_str());
        ::close(fd);
        return -error;
    }
    return fd;
}

}  // namespace

LockFile::~LockFile() {
    Release();
}

LockFile::Take LockFile::TryTake(const std::string& path) {
    Release();
    m_found.clear();
    m_tookOver = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        bool fresh = false;
        int fd = OpenLockFile(path, fresh);
        if (fd == -ENOENT && attempt > 0) {
            continue;  // removed meanwhile by its holder
        }
        if (fd < 0) {
            m_error = -fd;
            return Take::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            m_error = errno;
            m_found = ReadStart(fd);
            ::close(fd);
            return m_error == EWOULDBLOCK ? Take::HeldByOther : Take::Failed;
        }
        if (!SameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        if (!fresh) {
            // A free file that we did not make (a dead holder's, or one put
            // there by someone else): what it says is kept, and the file we
            // hold is a new one of our own.
            m_found = ReadStart(fd);
            int own = ReplaceWithOwn(path);
            ::close(fd);
            if (own < 0) {
                m_error = -own;
                return Take::Failed;
            }
            fd = own;
            m_tookOver = true;
        }
        m_fd = fd;
        m_path = path;
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
