#include "platform/serial_devices.h"

#include <windows.h>

#include <cctype>

namespace quillon {

namespace {

const char* const kDevicePrefix = "\\\\.\\COM";

}  // namespace

// Every port that a driver has made, the name it goes by and the driver's
// own name for it, as the system's device map lists them.
std::map<std::string, SerialDeviceInfo> FindSerialDevices() {
    std::map<std::string, SerialDeviceInfo> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return found;
    }
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name;
        DWORD dataSize = sizeof data - 1;
        DWORD type = 0;
        LONG result = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        data[dataSize] = 0;
        std::string port(reinterpret_cast<const char*>(data));
        while (!port.empty() && port.back() == '\0') {
            port.pop_back();
        }
        if (!port.empty()) {
            found["\\\\.\\" + port].usb = std::string(name, nameSize);
        }
    }
    ::RegCloseKey(key);
    return found;
}

SerialDeviceInfo DescribeSerialDevice(const std::string& device) {
    std::map<std::string, SerialDeviceInfo> found = FindSerialDevices();
    auto named = found.find(device);
    return named == found.end() ? SerialDeviceInfo{} : named->second;
}

// COM10 and above open only by their device name, so every port goes by it.
std::string DefaultPortDevice(int port) {
    return port < 1 ? std::string() : kDevicePrefix + std::to_string(port);
}

int DefaultPortNumber(const std::string& device) {
    std::string name = device;
    if (name.compare(0, 4, "\\\\.\\") == 0) {
        name.erase(0, 4);
    }
    if (name.size() < 4 || name.size() > 6 ||
        std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' ||
        name.find_first_not_of("0123456789", 3) != std::string::npos) {
        return 0;
    }
    return std::stoi(name.substr(3));
}

}  // namespace quillon
