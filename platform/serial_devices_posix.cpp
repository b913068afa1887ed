#include "platform/serial_devices.h"

#include <filesystem>
#include <fstream>

namespace quillon {

namespace {

namespace fs = std::filesystem;

const char* const kLegacyPrefix = "/dev/ttyS";

std::string ReadLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device above the tty in sysfs holds the ids and names.
std::string UsbDescription(const fs::path& ttyDevice) {
    std::error_code code;
    for (fs::path dir = fs::canonical(ttyDevice, code); !code && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", code)) {
            std::string text = ReadLine(dir / "idVendor") + ":" + ReadLine(dir / "idProduct");
            for (const char* name : {"manufacturer", "product"}) {
                std::string value = ReadLine(dir / name);
                if (!value.empty()) {
                    text += " " + value;
                }
            }
            return text;
        }
    }
    return {};
}

// Ports the kernel knows with a driver behind them; the legacy 8250
// placeholders that every PC lists sit on the platform bus and are left out.
void AddSysfsPorts(std::map<std::string, SerialDeviceInfo>& found) {
    std::error_code code;
    for (const auto& entry : fs::directory_iterator("/sys/class/tty", code)) {
        fs::path device = entry.path() / "device";
        if (!fs::exists(device / "driver", code)) {
            continue;
        }
        std::string subsystem = fs::read_symlink(device / "subsystem", code).filename().string();
        if (subsystem == "platform") {
            continue;
        }
        found["/dev/" + entry.path().filename().string()].usb = UsbDescription(device);
    }
}

void AddByIdPorts(std::map<std::string, SerialDeviceInfo>& found) {
    std::error_code code;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", code)) {
        fs::path target = fs::canonical(entry.path(), code);
        if (!code) {
            found[target.string()].byId = entry.path().string();
        }
    }
}

}  // namespace

std::string DefaultPortDevice(int port) {
    return port < 1 ? std::string() : kLegacyPrefix + std::to_string(port - 1);
}

int DefaultPortNumber(const std::string& device) {
    const std::string prefix = kLegacyPrefix;
    if (device.size() <= prefix.size() || device.compare(0, prefix.size(), prefix) != 0 ||
        device.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
        return 0;
    }
    try {
        return std::stoi(device.substr(prefix.size())) + 1;
    } catch (const std::exception&) {
        return 0;
    }
}

std::map<std::string, SerialDeviceInfo> FindSerialDevices() {
    std::map<std::string, SerialDeviceInfo> found;
    AddSysfsPorts(found);
    AddByIdPorts(found);
    return found;
}

}  // namespace quillon
