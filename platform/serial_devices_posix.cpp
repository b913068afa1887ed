#include "platform/serial_devices.h"

#include <filesystem>
#include <fstream>

namespace quillon {

namespace {

namespace fs = std::filesystem;

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

std::map<std::string, SerialDeviceInfo> FindSerialDevices() {
    std::map<std::string, SerialDeviceInfo> found;
    AddSysfsPorts(found);
    AddByIdPorts(found);
    return found;
}

}  // namespace quillon
