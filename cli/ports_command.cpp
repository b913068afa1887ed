#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "engine/serial_port.h"
#include "platform/ini_file.h"
#include "platform/program_path.h"

namespace quillon::cli {

namespace {

namespace fs = std::filesystem;

struct PortInfo {
    std::string byId;  // a /dev/serial/by-id name, when there is one
    std::string usb;   // vendor:product and names, for USB adapters
};

PortMap ReadPortMap(const std::string& settingsFile) {
    PortMap ports;
    for (const auto& [key, value] : IniGetSection(settingsFile, "PORTS")) {
        if (key.size() > 3 && (key.compare(0, 3, "COM") == 0 || key.compare(0, 3, "com") == 0)) {
            try {
                ports.emplace(std::stoi(key.substr(3)), value);
            } catch (const std::exception&) {
            }
        }
    }
    return ports;
}

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
void AddSysfsPorts(std::map<std::string, PortInfo>& found) {
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

void AddByIdPorts(std::map<std::string, PortInfo>& found) {
    std::error_code code;
    for (const auto& entry : fs::directory_iterator("/dev/serial/by-id", code)) {
        fs::path target = fs::canonical(entry.path(), code);
        if (!code) {
            found[target.string()].byId = entry.path().string();
        }
    }
}

// The port number whose device is this one, 0 when none names it.
int PortNumberOf(const std::string& device, const PortInfo& info, const PortMap& ports) {
    for (const auto& [number, path] : ports) {
        std::error_code code;
        if (path == device || path == info.byId || fs::canonical(path, code).string() == device) {
            return number;
        }
    }
    const std::string legacy = "/dev/ttyS";
    if (device.compare(0, legacy.size(), legacy) == 0) {
        try {
            int number = std::stoi(device.substr(legacy.size())) + 1;
            return ports.count(number) ? 0 : number;
        } catch (const std::exception&) {
        }
    }
    return 0;
}

int ListPorts(const std::string& settingsFile) {
    PortMap ports =
        ReadPortMap(settingsFile.empty() ? ProgramFolder() + "quillon.INI" : settingsFile);
    std::map<std::string, PortInfo> found;
    AddSysfsPorts(found);
    AddByIdPorts(found);
    if (found.empty()) {
        std::printf("no serial devices found\n");
        return 0;
    }
    for (const auto& [device, info] : found) {
        int number = PortNumberOf(device, info, ports);
        std::string com = number > 0 ? "COM" + std::to_string(number) : "-";
        std::printf("%-6s %-16s %s%s%s\n", com.c_str(), device.c_str(), info.usb.c_str(),
                    info.byId.empty() ? "" : "  ", info.byId.c_str());
    }
    return 0;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& exitCode) {
    auto settings = std::make_shared<std::string>();
    auto* command = app.add_subcommand(
        "ports", "List the serial devices present and the COM number each one has");
    command->add_option("--settings", *settings,
                        "Settings file whose [PORTS] COMn keys map numbers (default: quillon.INI "
                        "beside the program)");
    command->callback([settings, &exitCode] { exitCode = ListPorts(*settings); });
}

}  // namespace quillon::cli
