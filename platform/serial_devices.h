#pragma once

#include <map>
#include <string>

namespace quillon {

struct SerialDeviceInfo {
    std::string byId;  // a /dev/serial/by-id name, when there is one
    std::string usb;   // vendor:product and names, for USB adapters
};

// The serial devices present, by device path: those the kernel lists with a
// driver behind them, and those named in /dev/serial/by-id.
std::map<std::string, SerialDeviceInfo> FindSerialDevices();

}  // namespace quillon
