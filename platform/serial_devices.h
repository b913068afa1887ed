#pragma once

#include <map>
#include <string>

namespace quillon {

struct SerialDeviceInfo {
    std::string byId;  // a /dev/serial/by-id name, when there is one
    std::string usb;   // vendor:product and names, for USB adapters; on Windows the driver's name
};

// The serial devices present, by device path: those the kernel lists with a
// driver behind them, and those named in /dev/serial/by-id.
std::map<std::string, SerialDeviceInfo> FindSerialDevices();

// The device that port number n names when the settings name none:
// /dev/ttyS<n-1>, on Windows \\.\COMn; empty for a number below 1.
std::string DefaultPortDevice(int port);
// The number whose default device this is, 0 for none.
int DefaultPortNumber(const std::string& device);

}  // namespace quillon
