#include "platform/port_hint.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/device_users.h"
#include "platform/serial_devices.h"

namespace quillon {

namespace {

bool InGroup(gid_t group) {
    if (::getegid() == group) {
        return true;
    }
    int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    count = ::getgroups(count, groups.data());
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// From the device's mode and group: joining root's group is never the way,
// and a group without read and write access lets no member in.
std::string PermissionHint(const std::string& device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) {
        return {};
    }
    const struct group* owner = ::getgrgid(info.st_gid);
    std::string group = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    std::string facts = device + " (mode " + ModeText(info.st_mode) + ", group " + group + ")";
    bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (info.st_gid == 0 || !groupMayUse) {
        return "hint: only root can open " + facts +
               "; run as root, or have an administrator give the device a group such as "
               "dialout with read and write access (a udev rule)";
    }
    if (InGroup(info.st_gid)) {
        return "hint: you are in the group of " + facts +
               "; if you joined it only now, log in again";
    }
    return "hint: " + facts + " is open to its group, and you are not in it: sudo usermod -aG " +
           group + " $USER, then log in again";
}

// Whoever keeps the port from us: processes that have it open, or the live
// process that its lock file names.
std::string BusyHint(const std::string& device) {
    std::string holders;
    for (const DeviceUser& user : OtherProcessesUsing(device)) {
        holders +=
            (holders.empty() ? "" : ", ") + std::to_string(user.pid) + " (" + user.name + ")";
    }
    if (!holders.empty()) {
        return "hint: " + device + " is held by process " + holders;
    }
    auto locker = UucpLockHolder(device);
    if (locker && locker->pid == 0) {
        return "hint: " + UucpLockPath(device) +
               " is no lock file (a link, a FIFO or a folder), and it keeps " + device +
               " from every program; remove it";
    }
    if (locker) {
        return "hint: " + UucpLockPath(device) + " says that process " +
               std::to_string(locker->pid) + " (" + locker->name + ") uses " + device;
    }
    return "hint: another program holds " + device + "; close it and try again";
}

std::string MissingHint(const std::string& device) {
    std::string found;
    for (const auto& [path, info] : FindSerialDevices()) {
        found += "\n  " + path + (info.usb.empty() ? "" : "  " + info.usb);
    }
    if (found.empty()) {
        return "hint: " + device + " does not exist, and no serial port is present";
    }
    return "hint: " + device + " does not exist; serial ports present:" + found;
}

}  // namespace

std::string DiagnoseOpenFailure(const std::string& device, int systemError) {
    if (device.empty()) {
        return "hint: the port number must be 1 or more";
    }
    switch (systemError) {
        case EACCES:
        case EPERM:
            return PermissionHint(device);
        case EBUSY:
            return BusyHint(device);
        case ENOENT:
            return MissingHint(device);
        default:
            return {};
    }
}

}  // namespace quillon
