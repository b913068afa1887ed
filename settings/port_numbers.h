#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/serial_devices.h"

namespace quillon {

// Port number to device path, from the settings' [PORTS] COMn keys.
using PortMap = std::map<int, std::string>;

// The device that port number n names: the map's entry, else the system's
// default (/dev/ttyS<n-1>, on Windows \\.\COMn); empty for a number below 1.
std::string DeviceForPort(int port, const PortMap& ports);

// "3", "1-8,12": port numbers from 1 to 999, in the order given; false for
// anything else.
bool ParsePortList(const std::string& text, std::vector<int>& numbers);

// The port number whose device this is (by its path, its by-id name, or
// what a mapped path leads to), 0 when none names it.
int PortNumberOf(const std::string& device, const SerialDeviceInfo& info, const PortMap& ports);

// The window offers COM1 to COM8.
constexpr int kWindowPorts = 8;

// A number the window can offer for a device that has none yet: the lowest
// that neither the settings nor a device present (by default) hold, nor
// one already taken; 0 for none.
int FreeWindowPort(const std::map<std::string, SerialDeviceInfo>& found, const PortMap& ports,
                   const std::map<int, bool>& taken);

}  // namespace quillon
