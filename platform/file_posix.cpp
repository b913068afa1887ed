#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quillon {

namespace {

// Opening a FIFO read-only would wait for a writer, so every open is
// non-blocking and anything but a regular file is refused. The flag stays:
// reads and writes of a regular file ignore it, and clearing it would cost
// two more system calls per file of a series that has thousands.
int OpenRegular(const std::string& path, File::Mode mode, struct stat& info) {
    int flags = O_CLOEXEC | O_NONBLOCK;
    if (mode == File::Mode::ReadExisting) {
        flags |= O_RDONLY;
    } else {
        flags |= O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        return -errno;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -error;
    }
    return fd;
}

// Reads until count bytes are in or the file ends; -1 on a failure, with
// errno set. read(at, size, done) reads the next part.
template <typename ReadPart>
ssize_t ReadFully(char* bytes, std::size_t count, ReadPart read) {
    std::size_t total = 0;
    while (total < count) {
        ssize_t got = read(bytes + total, count - total, total);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

}  // namespace

bool File::Open(const std::string& path, Mode mode) {
    Close();
    struct stat info {};
    int fd = OpenRegular(path, mode, info);
    if (fd < 0) {
        m_openError = -fd;
        return false;
    }
    m_fd = fd;
    m_volume = static_cast<std::uint64_t>(info.st_dev);
    m_index = static_cast<std::uint64_t>(info.st_ino);
    m_openError = 0;
    m_path = path;
    return true;
}

void File::Fail(const std::string& action) const {
    throw FileError(m_path, errno, action);
}

std::uint64_t File::Seek(std::int64_t offset, From from) {
    off_t result = ::lseek(m_fd, offset, from == From::Start ? SEEK_SET : SEEK_END);
    if (result < 0) {
        Fail("cannot seek in");
    }
    return static_cast<std::uint64_t>(result);
}

std::uint64_t File::GetLength() {
    struct stat info {};
    if (::fstat(m_fd, &info) != 0) {
        Fail("cannot read the length of");
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::size_t File::Read(void* buffer, std::size_t count) {
    ssize_t total = ReadFully(
        static_cast<char*>(buffer), count,
        [this](char* at, std::size_t size, std::size_t) { return ::read(m_fd, at, size); });
    if (total < 0) {
        Fail("cannot read");
    }
    return static_cast<std::size_t>(total);
}

std::size_t File::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    ssize_t total = ReadFully(static_cast<char*>(buffer), count,
                              [this, offset](char* at, std::size_t size, std::size_t done) {
                                  return ::pread(m_fd, at, size, static_cast<off_t>(offset + done));
                              });
    if (total < 0) {
        Fail("cannot read");
    }
    return static_cast<std::size_t>(total);
}

bool File::IsStillAt(const std::string& path) const {
    struct stat info {};
    return m_fd >= 0 && ::stat(path.c_str(), &info) == 0 &&
           static_cast<std::uint64_t>(info.st_dev) == m_volume &&
           static_cast<std::uint64_t>(info.st_ino) == m_index;
}

void File::Write(const void* buffer, std::size_t count) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < count) {
        ssize_t put = ::write(m_fd, bytes + total, count - total);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            Fail("cannot write");
        }
        total += static_cast<std::size_t>(put);
    }
}

void File::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int File::FolderWriteError(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

void File::Replace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw FileError(to, errno, "cannot replace");
    }
}

void File::Remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        throw FileError(path, errno, "cannot remove");
    }
}

}  // namespace quillon
