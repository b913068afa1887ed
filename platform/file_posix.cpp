#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/folder.h"

namespace quillon {

namespace {

// Checks what an open gave: a regular file, and for what we write, one
// that has no other name through which we would write into another file.
int CheckOpened(int fd, File::Mode mode, struct stat& info) {
    if (::fstat(fd, &info) != 0) {
        return errno;
    }
    if (!S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? EISDIR : kErrorNotRegular;
    }
    if (mode != File::Mode::ReadExisting && info.st_nlink > 1) {
        return kErrorHardLink;
    }
    return 0;
}

// Whatever has the name goes (a link itself, never what it points to), so
// that a file planted there beforehand is never what we write.
int OpenFresh(const std::string& path, mode_t permissions) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return -errno;
        }
        int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
        if (fd >= 0 || errno != EEXIST) {
            return fd >= 0 ? fd : -errno;
        }
    }
    return -EEXIST;  // someone keeps putting a file there
}

// The file of that name, or a new one; a link is never followed.
int OpenOwnOrNew(const std::string& path, File::Mode mode) {
    int write = O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                (mode == File::Mode::Append ? O_APPEND : 0);
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::open(path.c_str(), write | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd >= 0 ? fd : -errno;
        }
        fd = ::open(path.c_str(), write);
        if (fd >= 0) {
            return fd;
        }
        // A FIFO with no reader: refused rather than waited for.
        if (errno == ENXIO) {
            return -kErrorNotRegular;
        }
        if (errno != ENOENT) {
            return -errno;
        }
    }
    return -ENOENT;
}

int OpenByMode(const std::string& path, File::Mode mode) {
    switch (mode) {
        case File::Mode::ReadExisting: {
            // A FIFO would wait for a writer: non-blocking, and refused below.
            int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            return fd >= 0 ? fd : -errno;
        }
        case File::Mode::CreateFresh:
            return OpenFresh(path, 0600);
        case File::Mode::CreateFreshShared:
            return OpenFresh(path, 0666);
        case File::Mode::Overwrite:
        case File::Mode::Append:
            return OpenOwnOrNew(path, mode);
    }
    return -EINVAL;
}

// The flag for not waiting stays: reads and writes of a regular file ignore
// it, and clearing it would cost two more system calls per file of a series
// that has thousands.
int OpenRegular(const std::string& path, File::Mode mode, struct stat& info) {
    int fd = OpenByMode(path, mode);
    if (fd < 0) {
        return fd;
    }
    if (int error = CheckOpened(fd, mode, info); error != 0) {
        ::close(fd);
        return -error;
    }
    if (mode == File::Mode::Overwrite && ::ftruncate(fd, 0) != 0) {
        int error = errno;
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

bool File::CreateIn(const Folder& folder, const std::string& name) {
    Close();
    if (!IsPlainName(name)) {
        m_openError = EINVAL;
        return false;
    }
    int fd = ::openat(folder.m_handle, name.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        m_openError = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    m_fd = fd;
    m_volume = static_cast<std::uint64_t>(info.st_dev);
    m_index = static_cast<std::uint64_t>(info.st_ino);
    m_openError = 0;
    m_path = folder.PathOf(name);
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

int File::AppendWhole(const void* buffer, std::size_t count) {
    ::flock(m_fd, LOCK_EX);
    struct stat before {};
    int error = ::fstat(m_fd, &before) == 0 ? 0 : errno;
    const auto* bytes = static_cast<const char*>(buffer);
    for (std::size_t done = 0; error == 0 && done < count;) {
        ssize_t put = ::write(m_fd, bytes + done, count - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno != EINTR) {
            error = errno;
        } else if (put == 0) {
            error = EIO;
        }
    }
    if (error != 0 && before.st_size >= 0) {
        [[maybe_unused]] int cut = ::ftruncate(m_fd, before.st_size);
    }
    ::flock(m_fd, LOCK_UN);
    return error;
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

int File::FreshNameError(const std::string& path) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    if (S_ISDIR(named.st_mode)) {
        return EISDIR;
    }
    std::size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (int error = FolderWriteError(folder); error != 0) {
        return error;
    }
    // In a folder with the sticky bit (/tmp), only the owners of the file or
    // of the folder may remove it; root may remove anything.
    struct stat parent {};
    uid_t self = ::geteuid();
    if (::stat(folder.c_str(), &parent) == 0 && (parent.st_mode & S_ISVTX) && self != 0 &&
        named.st_uid != self && parent.st_uid != self) {
        return EPERM;
    }
    return 0;
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

// A name under something that is no folder ("file/sub") is no name at all,
// as std::filesystem has it.
int FolderError(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOTDIR ? ENOENT : errno;
    }
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

int PlaceLink(const std::string& target, const std::string& link) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        ::unlink(link.c_str());
    }
    return ::symlink(target.c_str(), link.c_str()) == 0 ? 0 : errno;
}

void RemoveLink(const std::string& link) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        ::unlink(link.c_str());
    }
}

bool NameTaken(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::uint64_t> FileSizeAt(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

std::vector<std::string> RegularFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->symlink_status(error).type() == std::filesystem::file_type::regular) {
            names.push_back(entry->path().filename().string());
        }
    }
    return names;
}

int MakeFolderFor(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
    }
    return error.value();
}

}  // namespace quillon
