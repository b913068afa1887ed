#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <regex>
#include <string>

namespace quillon::testing {

// Whether a folder still holds packet files (names of four or more digits):
// every end of an update, failures and cancellations included, removes them.
inline bool PacketFilesIn(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (std::regex_match(entry.path().filename().string(), std::regex("[0-9]{4,}"))) {
            return true;
        }
    }
    return false;
}

#ifndef _WIN32
// Whether nobody holds a serial device any more: an exclusive lock can be had.
inline bool PortReleased(const std::string& device) {
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return free;
}
#endif

}  // namespace quillon::testing
