#include "platform/device_users.h"

namespace quillon {

// Windows itself keeps a port to the one program that opened it, and it has
// no lock files of the UUCP convention: there is nothing to find or keep.
std::vector<DeviceUser> OtherProcessesUsing(const std::string&) {
    return {};
}

std::string UucpLockPath(const std::string&) {
    return {};
}

std::optional<DeviceUser> UucpLockHolder(const std::string&) {
    return std::nullopt;
}

bool UucpLock::Take(const std::string&) {
    return true;
}

void UucpLock::Release() {
    m_path.clear();
}

}  // namespace quillon
