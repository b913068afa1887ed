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
void AddUsbFacts(const fs::path& ttyDevice, SerialDeviceInfo& info) {
    std::error_code code;
    for (fs::path dir = fs::canonical(ttyDevice, code); !code && dir.has_relative_path();
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", code)) {
            info.vendorId = ReadLine(dir / "idVendor");
            info.productId = ReadLine(dir / "idProduct");
            info.maker = ReadLine(dir / "manufacturer");
            info.product = ReadLine(dir / "product");
            info.serial = ReadLine(dir / "serial");
            info.usb = info.vendorId + ":" + info.productId;
            for (const std::string* name : {&info.maker, &info.product}) {
                if (!name->empty()) {
                    info.usb += " " + *name;
                }
            }
            return;
        }
    }
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
        AddUsbFacts(device, found["/dev/" + entry.path().filename().string()]);
    }
}

// The stable names udev gives: by the adapter, and by the socket.
void AddLinkedPorts(std::map<std::string, SerialDeviceInfo>& found) {
    for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        std::error_code code;
        bool byId = std::string(folder).find("by-id") != std::string::npos;
        for (const auto& entry : fs::directory_iterator(folder, code)) {
            std::error_code broken;
            fs::path target = fs::canonical(entry.path(), broken);
            if (!broken) {
                SerialDeviceInfo& info = found[target.string()];
                (byId ? info.byId : info.byPath) = entry.path().string();
            }
        }
    }
}

}  // namespace

bool SerialDevicePresent(const std::string& device) {
    std::error_code error;
    return std::filesystem::exists(device, error);
}

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
    AddLinkedPorts(found);
    return found;
}

std::string DeviceBehind(const std::string& path) {
    std::error_code code;
    fs::path real = fs::canonical(path, code);
    return code ? std::string() : real.string();
}

SerialDeviceInfo DescribeSerialDevice(const std::string& device) {
    std::error_code code;
    fs::path real = fs::canonical(device, code);
    if (code) {
        return {};
    }
    SerialDeviceInfo info;
    AddUsbFacts(fs::path("/sys/class/tty") / real.filename() / "device", info);
    std::map<std::string, SerialDeviceInfo> linked;
    AddLinkedPorts(linked);
    auto found = linked.find(real.string());
    if (found != linked.end()) {
        info.byId = found->second.byId;
        info.byPath = found->second.byPath;
    }
    return info;
}

}  // namespace quillon
