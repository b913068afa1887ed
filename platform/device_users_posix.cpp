#include "platform/device_users.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

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

// Ten characters and a line end, or (the old binary form) the int itself.
int ReadLockPid(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.size() == sizeof(int)) {
        int pid = 0;
        text.copy(reinterpret_cast<char*>(&pid), sizeof pid);
        return pid;
    }
    try {
        return std::stoi(text);
    } catch (const std::exception&) {
        return 0;
    }
}

bool CreateLock(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
    int pid = ReadLockPid(UucpLockPath(device));
    if (pid == ::getpid() || !IsAlive(pid)) {
        return std::nullopt;
    }
    return DeviceUser{pid, ProcessName(pid)};
}

bool UucpLock::Take(const std::string& device) {
    Release();
    std::string path = UucpLockPath(device);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateLock(path)) {
            m_path = path;
            return true;
        }
        if (errno != EEXIST) {
            return true;  // no lock folder we may write to
        }
        if (UucpLockHolder(device)) {
            return false;
        }
        ::unlink(path.c_str());  // left by a process that is gone
    }
    return true;
}

void UucpLock::Release() {
    if (!m_path.empty()) {
        if (ReadLockPid(m_path) == ::getpid()) {
            ::unlink(m_path.c_str());
        }
        m_path.clear();
    }
}

}  // namespace quillon
