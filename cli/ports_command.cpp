#include <chrono>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/interrupts.h"
#include "platform/program_path.h"
#include "platform/serial_devices.h"
#include "settings/app_settings.h"
#include "settings/port_numbers.h"
#include "station/printable_text.h"

namespace quillon::cli {

namespace {

using namespace std::chrono_literals;

// Where no udev tells of devices, polling their folders is enough for a
// person plugging adapters in one at a time.
constexpr auto kWatchPoll = 500ms;

// The device, its USB facts, and both of its stable names. An adapter names
// itself: what it says is escaped, never sent to the terminal as controls.
std::string Describe(const std::string& device, const SerialDeviceInfo& info) {
    std::string line = Printable(device);
    for (const std::string* part : {&info.usb, &info.byId, &info.byPath}) {
        if (!part->empty()) {
            line += "  " + Printable(*part);
        }
    }
    return line;
}

// Says each adapter as it comes and goes, so that a person can tell which
// socket is which by plugging; until Ctrl+C.
int WatchPorts() {
    InterruptWatch interrupts;
    std::map<std::string, SerialDeviceInfo> known = FindSerialDevices();
    for (const auto& [device, info] : known) {
        std::cout << "present  " << Describe(device, info) << '\n';
    }
    std::cout.flush();
    while (interrupts.Wait(std::chrono::milliseconds(kWatchPoll)) == 0) {
        std::map<std::string, SerialDeviceInfo> now = FindSerialDevices();
        for (const auto& [device, info] : now) {
            if (known.count(device) == 0) {
                std::cout << "added    " << Describe(device, info) << '\n';
            }
        }
        for (const auto& [device, info] : known) {
            if (now.count(device) == 0) {
                std::cout << "removed  " << Describe(device, info) << '\n';
            }
        }
        std::cout.flush();
        known = std::move(now);
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
        std::cout << "no serial devices found\n";
        return 0;
    }
    std::map<int, bool> taken;
    std::vector<std::string> unnumbered;
    for (const auto& [device, info] : found) {
        int number = PortNumberOf(device, info, ports);
        std::string com = number > 0 ? "COM" + std::to_string(number) : "-";
        std::cout << std::left << std::setw(6) << com << ' ' << std::setw(16) << Printable(device)
                  << ' ' << Printable(info.usb) << (info.byId.empty() ? "" : "  ")
                  << Printable(info.byId) << (info.byPath.empty() ? "" : "  ")
                  << Printable(info.byPath) << '\n';
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
        std::cout << "hint: to use " << Printable(device) << " as COM" << number
                  << " in the window, add under [PORTS] in " << Printable(settings.SettingsPath())
                  << ":\n  COM" << number << "=" << Printable(byId.empty() ? device : byId) << '\n';
    }
    return 0;
}

}  // namespace

void AddPortsCommand(CLI::App& app, int& exitCode) {
    auto settings = std::make_shared<std::string>();
    auto watch = std::make_shared<bool>(false);
    auto* command = app.add_subcommand(
        "ports", "List the serial devices present and the COM number each one has");
    command->add_option("--settings", *settings,
                        "Settings file whose [PORTS] COMn keys map numbers (default: quillon.INI "
                        "beside the program, else in ~/.config/quillon/)");
    command->add_flag("--watch", *watch,
                      "Say each adapter as it is plugged in and pulled out, with its USB ids and "
                      "its by-id and by-path names, until Ctrl+C");
    command->callback(
        [settings, watch, &exitCode] { exitCode = *watch ? WatchPorts() : ListPorts(*settings); });
}

}  // namespace quillon::cli
