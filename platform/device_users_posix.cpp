#include "platform/device_users.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

namespace quillon {

namespace {

namespace fs = std::filesystem;

const char* const kLockFolder = "/var/lock/";

std::string ProcessName(int pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool IsAlive(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// A lock file names one process in a line; more is never read, whatever
// size the file claims.
constexpr std::size_t kMostLockBytes = 64;

// Text (ten characters and a line end, as most programs write it, or any
// other length), or the old binary form: four bytes that hold the int
// itself and no text digit. 0 when it names no process.
int ParseLockPid(const std::string& text) {
    if (text.size() == sizeof(int) && text.find_first_of("0123456789") == std::string::npos) {
        int pid = 0;
        text.copy(reinterpret_cast<char*>(&pid), sizeof pid);
        return pid;
    }
    std::size_t first = text.find_first_not_of(" \t");
    long pid = 0;
    for (std::size_t i = first;
         i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        pid = pid * 10 + (text[i] - '0');
        if (pid > std::numeric_limits<int>::max()) {
            return 0;
        }
    }
    return static_cast<int>(pid);
}

// What the lock file at path is: its identity, and whom it names (0: no
// one it can tell, a file that is no lock file). false when there is none.
struct FoundLock {
    dev_t device = 0;
    ino_t inode = 0;
    bool regular = false;
    int pid = 0;
};

bool ReadLock(const std::string& path, FoundLock& found) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0) {
        return false;
    }
    found = FoundLock{named.st_dev, named.st_ino, S_ISREG(named.st_mode), 0};
    if (!found.regular) {
        return true;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    char buffer[kMostLockBytes];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    found.pid = got > 0 ? ParseLockPid(std::string(buffer, static_cast<std::size_t>(got))) : 0;
    return true;
}

// Our own lock, written whole under a private name first, so that the name
// every program looks at only ever holds a complete lock.
bool WriteOwnLock(const std::string& path) {
    ::unlink(path.c_str());  // a leftover of an earlier process with our number
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    char text[16];
    int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
    }
    return written;
}

bool NamesUs(const std::string& path) {
    FoundLock found;
    return ReadLock(path, found) && found.regular && found.pid == ::getpid();
}

}  // namespace

std::vector<DeviceUser> OtherProcessesUsing(const std::string& device) {
    std::error_code error;
    fs::path target = fs::canonical(device, error);
    std::vector<DeviceUser> users;
    if (error) {
        return users;
    }
    const std::string self = std::to_string(::getpid());
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) {
            continue;
        }
        std::error_code ignored;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", ignored)) {
            if (fs::read_symlink(fd.path(), ignored) == target) {
                users.push_back({std::stoi(pid), ProcessName(std::stoi(pid))});
                break;
            }
        }
    }
    return users;
}

// Named after the device itself, so that a link to it (/dev/serial/by-id)
// finds the lock that a program opening the device by its own name keeps.
std::string UucpLockPath(const std::string& device) {
    std::error_code error;
    fs::path real = fs::canonical(device, error);
    return kLockFolder + std::string("LCK..") +
           (error ? fs::path(device) : real).filename().string();
}

std::optional<DeviceUser> UucpLockHolder(const std::string& device) {
    FoundLock found;
    if (!ReadLock(UucpLockPath(device), found)) {
        return std::nullopt;
    }
    if (!found.regular) {
        return DeviceUser{0, "not a lock file"};
    }
    if (found.pid == ::getpid() || !IsAlive(found.pid)) {
        return std::nullopt;
    }
    return DeviceUser{found.pid, ProcessName(found.pid)};
}

bool UucpLock::Take(const std::string& device) {
    Release();
    std::string path = UucpLockPath(device);
    std::string own = kLockFolder + std::string(".quillon-") + std::to_string(::getpid()) + "-" +
                      fs::path(path).filename().string();
    if (!WriteOwnLock(own)) {
        return true;  // no lock folder we may write to
    }
    bool taken = TakeWith(path, own);
    ::unlink(own.c_str());
    return taken;
}

// A link is made only where no lock is, so a lock that another program has
// just taken is never replaced. A stale one is first moved aside, and put
// back if what was moved is not the lock found dead a moment before.
bool UucpLock::TakeWith(const std::string& path, const std::string& own) {
    const std::string aside = own + ".stale";
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (::link(own.c_str(), path.c_str()) == 0) {
            m_path = path;
            return NamesUs(path);
        }
        if (errno != EEXIST) {
            return true;  // no lock folder we may write to
        }
        FoundLock found;
        if (!ReadLock(path, found)) {
            continue;  // gone meanwhile
        }
        if (!found.regular || (found.pid != ::getpid() && IsAlive(found.pid))) {
            return false;
        }
        if (::rename(path.c_str(), aside.c_str()) != 0) {
            continue;
        }
        struct stat moved {};
        bool same = ::lstat(aside.c_str(), &moved) == 0 && moved.st_dev == found.device &&
                    moved.st_ino == found.inode;
        if (!same) {
            // Taken by another between our look and the move: theirs goes
            // back, unless a third has taken the name meanwhile.
            [[maybe_unused]] int back = ::link(aside.c_str(), path.c_str());
            ::unlink(aside.c_str());
            return false;
        }
        ::unlink(aside.c_str());
    }
    return false;
}

void UucpLock::Release() {
    if (!m_path.empty()) {
        if (NamesUs(m_path)) {
            ::unlink(m_path.c_str());
        }
        m_path.clear();
    }
}

}  // namespace quillon
