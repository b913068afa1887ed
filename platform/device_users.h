#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon {

struct DeviceUser {
    int pid = 0;
    std::string name;  // the program's name, as the system shows it
};

// Other processes that have the device open, as far as this user may see.
std::vector<DeviceUser> OtherProcessesUsing(const std::string& device);

// The lock file of the UUCP convention that terminal programs (minicom,
// picocom) keep beside a port they use: /var/lock/LCK..<device name>.
std::string UucpLockPath(const std::string& device);
// The live process, other than this one, that the device's lock file names;
// pid 0 when what has the lock file's name is no lock file (a link, a FIFO, a
// folder), which keeps the port from everyone as a live lock would.
std::optional<DeviceUser> UucpLockHolder(const std::string& device);

// Our own lock file of that convention, held while a port is open. Where
// the lock folder is not ours to write, the port goes without one.
class UucpLock {
public:
    UucpLock() = default;
    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;
    ~UucpLock() { Release(); }

    // false only when a live process other than this one holds the lock.
    bool Take(const std::string& device);
    void Release();

private:
    bool TakeWith(const std::string& path, const std::string& own);

    std::string m_path;  // set while the file is ours
};

}  // namespace quillon
