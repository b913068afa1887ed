#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/program_path.h"
#include "platform/serial_devices.h"
#include "settings/app_settings.h"
#include "settings/port_numbers.h"

namespace quillon::cli {

namespace {

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
    std::map<int, bool> taken;
    std::vector<std::string> unnumbered;
    for (const auto& [device, info] : found) {
        int number = PortNumberOf(device, info, ports);
        std::string com = number > 0 ? "COM" + std::to_string(number) : "-";
        std::printf("%-6s %-16s %s%s%s\n", com.c_str(), device.c_str(), info.usb.c_str(),
                    info.byId.empty() ? "" : "  ", info.byId.c_str());
        if (number > 0) {
            taken[number] = true;
        } else {
            unnumbered.push_back(device);
        }
    }
    // The window chooses ports by number: say how to give one to a device.
    for (const std::string& device : unnumbered) {
        int number = FreeWindowPort(found, ports, taken);
        if (number == 0) {
            break;
        }
        taken[number] = true;
        const std::string& byId = found.at(device).byId;
        std::printf(
            "hint: to use %s as COM%d in the window, add under [PORTS] in %s:\n  COM%d=%s\n",
            device.c_str(), number, settings.SettingsPath().c_str(), number,
            (byId.empty() ? device : byId).c_str());
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
                        "beside the program, else in ~/.config/quillon/)");
    command->callback([settings, &exitCode] { exitCode = ListPorts(*settings); });
}

}  // namespace quillon::cli
