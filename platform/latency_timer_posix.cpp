#include "platform/latency_timer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace quillon {

namespace {

// A sysfs attribute: a few bytes of text, never more.
std::optional<int> ReadNumber(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[16] = {};
    ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (got <= 0) {
        return std::nullopt;
    }
    return std::atoi(text);
}

bool WriteNumber(const std::string& path, int value) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    std::string text = std::to_string(value) + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

}  // namespace

LatencyTimer::LatencyTimer(std::string sysfs) : m_sysfs(std::move(sysfs)) {}

LatencyTimer::~LatencyTimer() {
    Restore();
}

// /sys/bus/usb-serial/devices/ttyUSB0/latency_timer for /dev/ttyUSB0, or
// for a link to it (/dev/serial/by-id/...).
std::string LatencyTimer::PathFor(const std::string& device) const {
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(device, error);
    std::string name = (error ? std::filesystem::path(device) : real).filename().string();
    return m_sysfs + "/bus/usb-serial/devices/" + name + "/latency_timer";
}

std::optional<int> LatencyTimer::Current(const std::string& device) const {
    std::string path = PathFor(device);
    if (::access(path.c_str(), W_OK) != 0) {
        return std::nullopt;
    }
    return ReadNumber(path);
}

bool LatencyTimer::Lower(const std::string& device) {
    Restore();
    std::optional<int> current = Current(device);
    if (!current || *current <= 1) {
        return false;
    }
    std::string path = PathFor(device);
    if (!WriteNumber(path, 1)) {
        return false;
    }
    m_path = path;
    m_former = *current;
    return true;
}

void LatencyTimer::Restore() {
    if (!m_path.empty()) {
        WriteNumber(m_path, m_former);
        m_path.clear();
    }
}

}  // namespace quillon
