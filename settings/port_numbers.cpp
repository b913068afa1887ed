#include "settings/port_numbers.h"

#include <sstream>

#include "platform/serial_devices.h"

namespace quillon {

namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 999;

bool ParseNumber(const std::string& text, int& number) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    number = std::stoi(text);
    return number >= kLowestPort && number <= kHighestPort;
}

}  // namespace

bool ParsePortList(const std::string& text, std::vector<int>& numbers) {
    std::istringstream items(text);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        std::size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        if (dash == std::string::npos
                ? !ParseNumber(item, first)
                : !ParseNumber(item.substr(0, dash), first) ||
                      !ParseNumber(item.substr(dash + 1), last) || last < first) {
            return false;
        }
        if (dash == std::string::npos) {
            last = first;
        }
        for (int number = first; number <= last; ++number) {
            numbers.push_back(number);
        }
        any = true;
    }
    return any && text.back() != ',';
}

std::string DeviceForPort(int port, const PortMap& ports) {
    if (port < 1) {
        return {};
    }
    auto found = ports.find(port);
    if (found != ports.end()) {
        return found->second;
    }
    return DefaultPortDevice(port);
}

int PortNumberOf(const std::string& device, const SerialDeviceInfo& info, const PortMap& ports) {
    for (const auto& [number, path] : ports) {
        if (path == device || path == info.byId ||
            (!device.empty() && DeviceBehind(path) == device)) {
            return number;
        }
    }
    int number = DefaultPortNumber(device);
    return number > 0 && ports.count(number) == 0 ? number : 0;
}

int FreeWindowPort(const std::map<std::string, SerialDeviceInfo>& found, const PortMap& ports,
                   const std::map<int, bool>& taken) {
    for (int number = 1; number <= kWindowPorts; ++number) {
        bool legacyPresent = ports.count(number) == 0 && found.count(DefaultPortDevice(number)) > 0;
        if (!taken.count(number) && !legacyPresent) {
            return number;
        }
    }
    return 0;
}

}  // namespace quillon
