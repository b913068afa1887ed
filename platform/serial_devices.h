#pragma once

#include <map>
#include <string>

namespace quillon {

struct SerialDeviceInfo {
    std::string byId;    // a /dev/serial/by-id name: the adapter, wherever it is plugged
    std::string byPath;  // a /dev/serial/by-path name: the socket it is plugged into
    std::string usb;     // vendor:product and names, for USB adapters; on Windows the driver's name
    // A USB adapter's own facts, as its device reports them; empty for others.
    std::string vendorId;
    std::string productId;
    std::string maker;
    std::string product;
    std::string serial;
};

// The serial devices present, by device path: those the kernel lists with a
// driver behind them, and those named in /dev/serial/by-id or by-path.
std::map<std::string, SerialDeviceInfo> FindSerialDevices();

// One device's facts, by any of its names (a by-id link finds its device);
// all empty for a device that is no USB adapter or is not there.
SerialDeviceInfo DescribeSerialDevice(const std::string& device);

// Whether a device is there now, by any of its names: an adapter that is
// unplugged is not, nor its by-id name.
bool SerialDevicePresent(const std::string& device);

// The device a path leads to, as Open names it: links followed (a by-id
// name leads to /dev/ttyUSB0); on Windows, which has no links to ports,
// the name with its device prefix (COM5 leads to \\.\COM5). Empty when it
// leads nowhere.
std::string DeviceBehind(const std::string& path);

// The device that port number n names when the settings name none:
// /dev/ttyS<n-1>, on Windows \\.\COMn; empty for a number below 1.
std::string DefaultPortDevice(int port);
// The number whose default device this is, 0 for none.
int DefaultPortNumber(const std::string& device);

}  // namespace quillon
