#include "platform/port_hint.h"

#include "platform/support_win32.h"

namespace quillon {

namespace {

// COM5 rather than \\.\COM5: the name a user knows the port by.
std::string PortName(const std::string& device) {
    return device.compare(0, 4, "\\\\.\\") == 0 ? device.substr(4) : device;
}

// From the device map alone, with the drivers' names: Device Manager's
// would load SetupAPI, and with it user32, into a station that goes on.
std::string MissingHint(const std::string& device) {
    std::string found;
    for (const auto& [path, driver] : detail::SerialCommPorts()) {
        found += "\n  " + PortName(path) + "  " + driver;
    }
    if (found.empty()) {
        return "hint: " + PortName(device) + " does not exist, and no serial port is present";
    }
    return "hint: " + PortName(device) + " does not exist; serial ports present:" + found;
}

}  // namespace

// Windows gives a port to one program at a time and answers any other with
// "access denied", so that is nearly always a port in use.
std::string DiagnoseOpenFailure(const std::string& device, int systemError) {
    auto is = [systemError](DWORD error) { return static_cast<DWORD>(systemError) == error; };
    if (device.empty()) {
        return "hint: the port number must be 1 or more";
    }
    const std::string port = PortName(device);
    if (is(ERROR_ACCESS_DENIED)) {
        return "hint: Windows refuses a port that another program has open: close the program "
               "that uses " +
               port +
               " (a terminal program, another update) and try again; if none does, "
               "this account may not use the port";
    }
    if (is(ERROR_SHARING_VIOLATION) || is(ERROR_BUSY)) {
        return "hint: another program holds " + port + "; close it and try again";
    }
    if (is(ERROR_FILE_NOT_FOUND) || is(ERROR_PATH_NOT_FOUND)) {
        return MissingHint(device);
    }
    return {};
}

}  // namespace quillon
