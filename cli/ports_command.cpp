#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/app_settings.h"
#include "cli/commands.h"
#include "engine/serial_port.h"
#include "platform/program_path.h"
#include "platform/serial_devices.h"

namespace quillon::cli {

namespace {

namespace fs = std::filesystem;

// The port number whose device is this one, 0 when none names it.
int PortNumberOf(const std::string& device, const SerialDeviceInfo& info, const PortMap& ports) {
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
    AppSettings settings =
        settingsFile.empty() ? AppSettings() : AppSettings(settingsFile, ProgramFolder());
    settings.Load();
    const PortMap& ports = settings.m_ports;
    std::map<std::string, SerialDeviceInfo> found = FindSerialDevices();
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
